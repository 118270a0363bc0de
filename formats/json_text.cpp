#include "formats/json_text.hpp"

#include <fmt/format.h>

#include <vector>

#include "base/text.hpp"

namespace ktnet {

namespace {

// A JSON string literal of text, each byte outside valid UTF-8 as \udcXX.
std::string escaped_literal(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<std::uint8_t>(text[i]);
        const std::size_t n = utf8_sequence_length(text, i);
        if (n == 0) {
            out += fmt::format("\\udc{:02x}", b);
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(text.substr(i, n));
        } else if (b == '"' || b == '\\') {
            (out += '\\') += static_cast<char>(b);
        } else if (b < 0x20 || b == 0x7F) {
            out += fmt::format("\\u{:04x}", b);
        } else {
            out += static_cast<char>(b);
        }
        i += n;
    }
    return out + "\"";
}

// Replaces every string that is not valid UTF-8 by a placeholder no real text can hold (a NUL
// starts and ends it: file names cannot hold one, and names are shown with \x00 escapes), and
// keeps the original.
void mark_raw(nlohmann::json& node, std::vector<std::string>& raw) {
    if (node.is_string()) {
        const auto& text = node.get_ref<const std::string&>();
        if (valid_utf8(text)) return;
        raw.push_back(text);
        node = fmt::format("{}ktnet-raw-{}{}", '\0', raw.size() - 1, '\0');
    } else if (node.is_structured()) {
        for (auto& child : node) mark_raw(child, raw);
    }
}

}  // namespace

std::string json_document(const nlohmann::json& document, int indent) {
    nlohmann::json copy = document;
    std::vector<std::string> raw;
    mark_raw(copy, raw);
    std::string text = copy.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
    for (std::size_t k = 0; k < raw.size(); ++k) {
        const std::string placeholder = fmt::format("\"\\u0000ktnet-raw-{}\\u0000\"", k);
        const std::size_t at = text.find(placeholder);
        if (at != std::string::npos) text.replace(at, placeholder.size(), escaped_literal(raw[k]));
    }
    return text;
}

}  // namespace ktnet
