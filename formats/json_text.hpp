// Texts from outside (file names, names from the scales, the system's words) as ktnet shows
// them: on a terminal without a byte that could act on it, and in JSON without a byte lost.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "base/text.hpp"

namespace ktnet {

// The document as JSON text, every string exact: valid UTF-8 as it is, and each byte that is
// no part of valid UTF-8 (a file name of another code page) as the lone surrogate U+DC80 plus
// the byte ("\udcff" for 0xFF), which Python's "surrogateescape" turns back into that byte.
// indent < 0 writes one line.
std::string json_document(const nlohmann::json& document, int indent = 2);

}  // namespace ktnet
