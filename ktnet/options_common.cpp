#include "options_common.hpp"

#include <CLI/CLI.hpp>

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

}  // namespace ktnet
