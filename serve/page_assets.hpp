// The page's files, built into the program from serve/page/: the server reads nothing from the
// disk to show the page, and fetches nothing from anywhere.
#pragma once

#include <string_view>

namespace ktnet {

extern const std::string_view page_index_html;
extern const std::string_view page_app_js;
extern const std::string_view page_app_css;

}  // namespace ktnet
