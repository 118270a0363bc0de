#include "character_locale.hpp"

#include <clocale>

#ifndef _WIN32
#include <langinfo.h>

#include <string_view>
#endif

namespace ktnet {

bool configure_character_locale() {
    const bool from_environment = std::setlocale(LC_CTYPE, "") != nullptr;
#ifdef _WIN32
    return from_environment;
#else
    if (from_environment && std::string_view(nl_langinfo(CODESET)) == "UTF-8") return true;
    return std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
#endif
}

}  // namespace ktnet
