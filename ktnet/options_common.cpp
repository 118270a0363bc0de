#include "options_common.hpp"

#include <CLI/CLI.hpp>

#include "base/text.hpp"
#include "formats/csv.hpp"

namespace ktnet {

void add_code_page_options(CLI::App& sub, std::string& code_page, std::string& separator) {
    sub.add_option("--codepage", code_page,
                   "the scales' single-byte code page of names, e.g. 1250 or cp852")
        ->capture_default_str();
    sub.add_option("--sep", separator, "the CSV separator: one character, or \"tab\"")
        ->capture_default_str();
}

std::optional<TextSettings> text_settings(const std::string& code_page,
                                          const std::string& separator, RunOutput& output) {
    const auto sep = parse_separator(separator);
    if (!sep) {
        output.error("--sep '" + separator +
                     "' is not one character other than a quote or a line break");
        return std::nullopt;
    }
    auto page = CodePage::open(code_page);
    if (!page) {
        output.error("--codepage: " + page.error());
        return std::nullopt;
    }
    return TextSettings{std::move(*page), *sep};
}

void add_csv_input_options(CLI::App& sub, CsvInputOptions& options) {
    sub.add_option("--codepage", options.code_page,
                   "the scales' single-byte code page of names, e.g. 1250 or cp852")
        ->capture_default_str();
    sub.add_option("--csv-codepage", options.csv_code_page,
                   "how the CSV's text is encoded: utf-8, or a code page such as 1250 (default: "
                   "UTF-8 when every byte reads as UTF-8, else the scales' code page)");
    sub.add_option("--sep", options.separator,
                   "the CSV separator: one character, or \"tab\" (default: the one of ';', tab "
                   "and ',' that the header holds)");
}

CsvFileChoice CsvInput::choice() const {
    CsvFileChoice c;
    c.separator = separator;
    if (csv) {
        c.encoding = CsvFileChoice::Encoding::code_page;
        c.code_page = &*csv;
    } else if (utf8) {
        c.encoding = CsvFileChoice::Encoding::utf8;
    }
    return c;
}

std::optional<CsvInput> csv_input(const CsvInputOptions& options, RunOutput& output) {
    auto names = CodePage::open(options.code_page);
    if (!names) {
        output.error("--codepage: " + names.error());
        return std::nullopt;
    }
    CsvInput input{std::move(*names), std::nullopt, false, std::nullopt};
    if (!options.separator.empty()) {
        input.separator = parse_separator(options.separator);
        if (!input.separator) {
            output.error("--sep '" + options.separator +
                         "' is not one character other than a quote or a line break");
            return std::nullopt;
        }
    }
    const std::string lower = ascii_lower(options.csv_code_page);
    if (lower == "utf-8" || lower == "utf8") {
        input.utf8 = true;
    } else if (!lower.empty()) {
        auto page = CodePage::open(options.csv_code_page);
        if (!page) {
            output.error("--csv-codepage: " + page.error() + " (or utf-8)");
            return std::nullopt;
        }
        input.csv.emplace(std::move(*page));
    }
    return input;
}

}  // namespace ktnet
