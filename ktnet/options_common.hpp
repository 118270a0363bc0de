// The options export and import share, checked the same way.
#pragma once

#include <optional>
#include <string>

#include "formats/code_page.hpp"
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

}  // namespace ktnet
