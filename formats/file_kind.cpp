#include "formats/file_kind.hpp"

#include "base/text.hpp"

namespace ktnet {

std::optional<std::string> what_it_looks_like(std::string_view first) {
    std::string lower = ascii_lower(first.substr(0, 200));
    if (lower.starts_with("\xef\xbb\xbf")) lower.erase(0, 3);
    if (lower.starts_with("{")) {
        return "this is a load's log (JSON lines), not a PLU file: to go on with that load, give "
               "it to ktnet load as --resume LOG";
    }
    if ((lower.starts_with("ok ") || lower.starts_with("er ")) && lower.size() >= 29 &&
        lower.substr(27, 2) == " *") {
        return "this is ldk's result file (wynik.txt), not a PLU file: it names what was sent, "
               "without the records";
    }
    const bool separated = lower.find_first_of(";,\t") != std::string::npos;
    if (separated && lower.starts_with("plu")) {
        return "this is a CSV file, not a PLU file: ktnet load sends it as a price list, and "
               "ktnet import FILE -o OUT.txt turns it into a PLU file";
    }
    return std::nullopt;
}

}  // namespace ktnet
