// The options export and import share, checked the same way.
#pragma once

#include <optional>
#include <string>

#include "formats/code_page.hpp"
#include "formats/csv_file.hpp"
#include "run_output.hpp"

namespace CLI {
class App;
}

namespace ktnet {

// The code page and separator options, added to a subcommand.
void add_code_page_options(CLI::App& sub, std::string& code_page, std::string& separator);

struct TextSettings {
    CodePage code_page;
    char separator;
};

// The code page and the separator, or nothing after an error said on output.
[[nodiscard]] std::optional<TextSettings> text_settings(const std::string& code_page,
                                                        const std::string& separator,
                                                        RunOutput& output);

// How a CSV to read is encoded and separated: given, or found (csv_file.hpp).
struct CsvInputOptions {
    std::string code_page = "1250";  // the scales' code page of names
    std::string csv_code_page{};     // empty: UTF-8 when the file is, else the scales'
    std::string separator{};         // empty: found in the header
};

void add_csv_input_options(CLI::App& sub, CsvInputOptions& options);

struct CsvInput {
    CodePage names;
    std::optional<CodePage> csv;  // a code page given for the CSV's text
    bool utf8 = false;            // UTF-8 given
    std::optional<char> separator;
    CsvFileChoice choice() const;
};

[[nodiscard]] std::optional<CsvInput> csv_input(const CsvInputOptions& options, RunOutput& output);

}  // namespace ktnet
