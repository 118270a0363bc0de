#include "formats/field_names.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "base/numbers.hpp"
#include "base/text.hpp"

namespace ktnet {

namespace {

// A name of the shop's: letters of any alphabet, digits, '_' and '-', starting with a letter.
bool valid_name(std::string_view name) {
    if (name.empty()) return false;
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        const bool ascii_letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (ascii_letter || (i > 0 && ((c >= '0' && c <= '9') || c == '_' || c == '-'))) {
            ++i;
            continue;
        }
        const std::size_t length = letter_beyond_ascii(name, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

// How far apart two words are: the fewest letters to change, add or remove.
std::size_t distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] =
                std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// The most decimals a field's value can have: its digits.
unsigned digits_of(const PluField& f) {
    switch (f.encoding) {
        case FieldEncoding::bcd:
            return static_cast<unsigned>(field_width(f));
        case FieldEncoding::digit:
        case FieldEncoding::decimal:
        case FieldEncoding::decimal_out_bcd_in:
            return 3;  // a byte, 0 to 255
        default:
            return 0;
    }
}

}  // namespace

std::string column_name(std::size_t field) {
    const PluField& f = plu_fields.at(field);
    if (f.encoding == FieldEncoding::plu_number) return "plu";
    if (f.encoding == FieldEncoding::raw) return "name";
    const std::size_t last = f.column + field_width(f) - 1;
    return last == f.column ? fmt::format("c{}", f.column) : fmt::format("c{}_{}", f.column, last);
}

Result<FieldNames, std::string> FieldNames::parse(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    FieldNames names;
    std::size_t number = 0;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t lf = text.find('\n', start);
        const std::string_view raw =
            text.substr(start, lf == std::string_view::npos ? text.npos : lf - start);
        start = lf == std::string_view::npos ? text.size() + 1 : lf + 1;
        ++number;
        const std::string_view line = trimmed(raw);
        if (line.empty() || line.front() == '#') continue;
        const auto fail = [&](const std::string& why) {
            return unexpected(fmt::format("line {}: {}", number, why));
        };
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return fail(
                "a line is NAME = COLUMNS, or NAME = COLUMNS, N decimals: price = c41_46, 2 "
                "decimals");
        const std::string name(trimmed(line.substr(0, equals)));
        std::string_view rest = trimmed(line.substr(equals + 1));
        std::string_view how;
        if (const std::size_t comma = rest.find(','); comma != std::string_view::npos) {
            how = trimmed(rest.substr(comma + 1));
            rest = trimmed(rest.substr(0, comma));
        }
        if (!valid_name(name))
            return fail(fmt::format(
                "\"{}\" is not a name: letters, digits, '_' and '-', starting with a letter",
                name));
        std::optional<std::size_t> field;
        for (std::size_t k = 0; k < plu_fields.size(); ++k)
            if (same_word(column_name(k), rest)) field = k;
        if (!field || plu_fields[*field].encoding == FieldEncoding::plu_number ||
            plu_fields[*field].encoding == FieldEncoding::raw) {
            return fail(fmt::format(
                "\"{}\" is not the columns of a setting field (c41_46, c84 ...)", rest));
        }
        for (std::size_t k = 0; k < plu_fields.size(); ++k) {
            if (same_word(column_name(k), name))
                return fail(
                    fmt::format("\"{}\" is the columns of a field: choose another name", name));
            if (names.given_[k] && same_word(names.given_[k]->name, name))
                return fail(fmt::format("the name \"{}\" is given twice", name));
        }
        if (names.given_[*field]) return fail(fmt::format("{} is named twice", rest));
        unsigned decimals = 0;
        if (!how.empty()) {
            const std::size_t space = how.find(' ');
            const auto n = parse_whole_number(how.substr(0, space), 20);
            const std::string_view word =
                space == std::string_view::npos ? "" : trimmed(how.substr(space));
            if (!n || !(same_word(word, "decimals") || same_word(word, "decimal")))
                return fail(fmt::format("\"{}\": write \"N decimals\", as in 2 decimals", how));
            if (*n >= digits_of(plu_fields[*field]))
                return fail(
                    fmt::format("{} has {} digits, fewer than {} decimals and a digit before them",
                                rest, digits_of(plu_fields[*field]), *n));
            decimals = *n;
        }
        names.given_[*field] = Given{name, decimals};
    }
    return names;
}

std::string FieldNames::name(std::size_t field) const {
    return given_.at(field) ? given_[field]->name : column_name(field);
}

std::string FieldNames::shown(std::size_t field) const {
    return given_.at(field) ? fmt::format("{} ({})", given_[field]->name, column_name(field))
                            : column_name(field);
}

unsigned FieldNames::decimals(std::size_t field) const {
    return given_.at(field) ? given_[field]->decimals : 0;
}

std::optional<std::size_t> FieldNames::find(std::string_view word) const {
    const std::string_view w = trimmed(word);
    for (std::size_t k = 0; k < plu_fields.size(); ++k) {
        if (given_[k] && same_word(given_[k]->name, w)) return k;
        if (same_word(column_name(k), w)) return k;
    }
    return std::nullopt;
}

std::vector<std::string> FieldNames::words() const {
    std::vector<std::string> list;
    for (std::size_t k = 0; k < plu_fields.size(); ++k)
        if (given_[k]) list.push_back(given_[k]->name);
    for (std::size_t k = 0; k < plu_fields.size(); ++k) list.push_back(column_name(k));
    return list;
}

std::string FieldNames::closest(std::string_view word) const {
    const std::string w = ascii_lower(trimmed(word));
    std::string best;
    std::size_t best_distance = static_cast<std::size_t>(-1);
    for (const std::string& known : words()) {
        const std::size_t d = distance(w, ascii_lower(known));
        if (d < best_distance) {
            best_distance = d;
            best = known;
        }
    }
    return best;
}

}  // namespace ktnet
