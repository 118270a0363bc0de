// Any command line: the input is split at NUL bytes into arguments (a real one holds none).
// Every argument converts as an independent, plainly written conversion says, and a set of
// arguments is accepted exactly when each value is within its range: channel 1..4, letter S
// or T, number 1..9, first and last fitting in 32 bits and meaning the text's value.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/decimal_argument.hpp"
#include "cli/scale_arguments.hpp"

using namespace ktnet;

namespace {

// Leading white space, one optional sign, then the digits up to the first other character;
// no digits is 0. The value is held as sign and magnitude, the magnitude as its digits
// without leading zeros, so nothing can overflow while it is judged.
struct Number {
    bool negative = false;
    std::string digits;  // no leading zeros; empty for 0

    bool magnitude_fits_32_bits() const {
        return digits.size() < 10 || (digits.size() == 10 && digits <= "4294967295");
    }
    std::int64_t value() const {  // only when the magnitude fits
        std::int64_t v = 0;
        for (const char c : digits) v = v * 10 + (c - '0');
        return negative ? -v : v;
    }
};

Number read_number(std::string_view text) {
    std::size_t i = text.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string_view::npos) return {};
    Number n;
    if (text[i] == '+' || text[i] == '-') n.negative = text[i++] == '-';
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (!n.digits.empty() || text[i] != '0') n.digits += text[i];
    }
    return n;
}

bool in_range(std::string_view text, std::int64_t low, std::int64_t high) {
    const Number n = read_number(text);
    return n.magnitude_fits_32_bits() && n.value() >= low && n.value() <= high;
}

// first and last as the programs compare them, 32 bits unsigned: a negative number is the
// very large one of the same 32-bit pattern, so it must fit in 32 bits as a negative number.
std::optional<std::uint32_t> bound(std::string_view text) {
    const Number n = read_number(text);
    if (!n.magnitude_fits_32_bits()) return std::nullopt;
    const std::int64_t v = n.value();
    if (v < -2147483648LL) return std::nullopt;
    return static_cast<std::uint32_t>(v < 0 ? v + 4294967296LL : v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> args;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\0', start);
        args.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }

    for (const std::string_view arg : args) {
        const Number n = read_number(arg);
        const auto converted = parse_decimal(arg);
        if (converted.has_value() != n.magnitude_fits_32_bits()) std::abort();
        if (converted && *converted != n.value()) std::abort();
    }

    const auto parsed = parse_scale_arguments(args);
    const bool six = args.size() == 6;
    const char letter = six && !args[1].empty() ? args[1][0] : '\0';
    const bool acceptable = six && in_range(args[0], 1, 4) && in_range(args[2], 1, 9) &&
                            (letter == 'S' || letter == 's' || letter == 'T' || letter == 't') &&
                            bound(args[3]) && bound(args[4]);
    if (parsed.has_value() != acceptable) std::abort();
    if (!parsed) return 0;
    if (parsed->scale.channel() != read_number(args[0]).value()) {
        std::abort();
    }
    if (parsed->scale.number() != read_number(args[2]).value()) {
        std::abort();
    }
    if (parsed->scale.kind() != (letter == 's' || letter == 'S' ? 'S' : 'T')) std::abort();
    if (parsed->first != *bound(args[3]) || parsed->last != *bound(args[4])) std::abort();
    if (parsed->file_name.data() != args[5].data() || parsed->file_name != args[5]) std::abort();
    return 0;
}
