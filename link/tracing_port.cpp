#include "tracing_port.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <sstream>

namespace ktnet {

namespace {

// "2026-12-09T10:15:02.123456Z"
std::string timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() %
        1000000;
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%06dZ", static_cast<int>(micros));
    return text;
}

void report_line(std::ostream& trace, const char* what, std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string line = timestamp() + ' ' + what;
    for (const std::uint8_t b : bytes) {
        line += ' ';
        line += digits[b >> 4];
        line += digits[b & 0xF];
    }
    trace << line << '\n' << std::flush;  // a trace must survive the program's end, however it ends
}

void note(std::ostream& trace, const std::string& text) {
    trace << timestamp() << " # " << text << '\n' << std::flush;
}

std::string why(const PortError& e) {
    return e.message.empty() ? "no reason given" : e.message;
}

class TracingDevice final : public HidDevice {
public:
    TracingDevice(std::unique_ptr<HidDevice> inner, std::ostream& trace, std::string path)
        : inner_(std::move(inner)), trace_(trace), path_(std::move(path)) {}

    std::optional<std::wstring> product_string() override { return inner_->product_string(); }

    PortStatus claim() override {
        auto done = inner_->claim();
        note(trace_, "claim " + path_ + (done ? ": held for this run" : ": " + why(done.error())));
        return done;
    }

    PortStatus discard_pending() override {
        auto done = inner_->discard_pending();
        if (!done) note(trace_, "discard failed: " + why(done.error()));
        return done;
    }

    PortStatus write_report(std::span<const std::uint8_t, report_size> report) override {
        report_line(trace_, "write", report);
        auto done = inner_->write_report(report);
        if (!done) note(trace_, "write failed: " + why(done.error()));
        return done;
    }

    PortResult<ReadOutcome> read_report(std::span<std::uint8_t, report_size> report,
                                        std::chrono::milliseconds timeout) override {
        auto got = inner_->read_report(report, timeout);
        if (!got) {
            note(trace_, "read failed: " + why(got.error()));
        } else if (*got == ReadOutcome::received) {
            report_line(trace_, "read", report);
        }
        return got;
    }

private:
    std::unique_ptr<HidDevice> inner_;
    std::ostream& trace_;
    std::string path_;
};

class TracingList final : public HidInterfaceList {
public:
    TracingList(std::unique_ptr<HidInterfaceList> inner, std::ostream& trace)
        : inner_(std::move(inner)), trace_(trace) {}

    Lookup lookup(unsigned index) override {
        Lookup found = inner_->lookup(index);
        if (found.kind == Lookup::Kind::present) paths_[index] = found.path;
        if (found.kind == Lookup::Kind::no_system_name) {
            note(trace_, "device " + std::to_string(index) + " has no path: " + why(found.error));
        }
        return found;
    }

    PortResult<std::unique_ptr<HidDevice>> open(unsigned index) override {
        const std::string path = paths_[index];
        auto device = inner_->open(index);
        if (!device) {
            note(trace_, "open " + path + ": " + why(device.error()));
            return device;
        }
        const auto product = (*device)->product_string();
        note(trace_, "open " + path + ": \"" + printable_ascii(product.value_or(L"?")) + "\"");
        return std::unique_ptr<HidDevice>(
            std::make_unique<TracingDevice>(std::move(*device), trace_, path));
    }

private:
    std::unique_ptr<HidInterfaceList> inner_;
    std::ostream& trace_;
    std::map<unsigned, std::string> paths_;
};

}  // namespace

PortResult<std::unique_ptr<HidInterfaceList>> TracingPort::list_interfaces() {
    auto list = inner_.list_interfaces();
    if (!list) {
        note(trace_, "no HID list: " + why(list.error()));
        return list;
    }
    return std::unique_ptr<HidInterfaceList>(
        std::make_unique<TracingList>(std::move(*list), trace_));
}

std::vector<TracedReport> read_trace(std::istream& trace) {
    std::vector<TracedReport> reports;
    std::string line;
    while (std::getline(trace, line)) {
        std::istringstream words(line);
        std::string when, what;
        words >> when >> what;
        if (what != "write" && what != "read") continue;
        TracedReport r{what == "write", {}};
        std::size_t n = 0;
        std::string byte;
        while (n < r.report.size() && words >> byte) {
            r.report[n++] = static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16));
        }
        if (n == r.report.size()) reports.push_back(r);
    }
    return reports;
}

}  // namespace ktnet
