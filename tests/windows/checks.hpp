// A small check collector for the tests that run on Windows (or under Wine), where
// GoogleTest is not built: each failed check is printed with its place, and the run ends
// with one "N passed, N failed" line.
#pragma once

#include <cstdio>
#include <source_location>
#include <string>
#include <string_view>

namespace ktnet::wintest {

class Checks {
public:
    // Records one check of the named case.
    void expect(bool ok, std::string_view what, std::string_view case_name = {},
                std::source_location where = std::source_location::current()) {
        if (ok) {
            ++passed_;
            return;
        }
        ++failed_;
        std::printf("FAILED %s:%u: %.*s%s%.*s\n", where.file_name(),
                    static_cast<unsigned>(where.line()), static_cast<int>(what.size()), what.data(),
                    case_name.empty() ? "" : " -- ", static_cast<int>(case_name.size()),
                    case_name.data());
    }

    // Prints the closing line; the process exit status.
    int finish() const {
        std::printf("%d passed, %d failed\n", passed_, failed_);
        return failed_ == 0 && passed_ > 0 ? 0 : 1;
    }

private:
    int passed_ = 0;
    int failed_ = 0;
};

void windows_port_tests(Checks& checks);
void locked_file_tests(Checks& checks);

}  // namespace ktnet::wintest
