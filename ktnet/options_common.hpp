// The options export and import share, checked the same way.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "code_page.hpp"

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

// The code page and the separator, or nothing after a message on err.
[[nodiscard]] std::optional<TextSettings> text_settings(const std::string& command,
                                                        const std::string& code_page,
                                                        const std::string& separator,
                                                        std::ostream& err);

}  // namespace ktnet
