#include "password_file.hpp"

#include <fmt/format.h>

#include <charconv>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

namespace ktnet {

namespace {

constexpr std::string_view scheme = "pbkdf2-sha256";

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string hex_of(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t b : bytes) text += fmt::format("{:02x}", b);
    return text;
}

std::optional<std::vector<std::uint8_t>> bytes_of_hex(std::string_view hex) {
    if (hex.empty() || hex.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        std::uint8_t b = 0;
        const auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, b, 16);
        if (ec != std::errc() || end != hex.data() + i + 2) return std::nullopt;
        bytes.push_back(b);
    }
    return bytes;
}

std::vector<std::uint8_t> random_bytes(std::size_t count) {
    std::random_device device;  // the platform's entropy source
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(device());
    return bytes;
}

}  // namespace

PasswordHash hash_password(std::string_view password, std::vector<std::uint8_t> salt,
                           std::uint32_t iterations) {
    PasswordHash h{iterations, std::move(salt), {}};
    h.hash = pbkdf2_sha256(bytes_of(password), h.salt, iterations);
    return h;
}

PasswordHash hash_password(std::string_view password) {
    return hash_password(password, random_bytes(16), password_iterations);
}

std::string password_file_text(const PasswordHash& hash) {
    return fmt::format("{}${}${}${}\n", scheme, hash.iterations, hex_of(hash.salt),
                       hex_of(hash.hash));
}

Result<PasswordHash, std::string> parse_password_file(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('$', start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    const std::string expected = fmt::format(
        "not a password file: expected one line {}$ITERATIONS$SALT$HASH, as "
        "ktnet serve --set-password writes it",
        scheme);
    if (parts.size() != 4 || parts[0] != scheme) return unexpected(expected);
    PasswordHash h;
    const auto [end, ec] =
        std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), h.iterations);
    if (ec != std::errc() || end != parts[1].data() + parts[1].size() || h.iterations == 0)
        return unexpected(expected);
    const auto salt = bytes_of_hex(parts[2]);
    const auto hash = bytes_of_hex(parts[3]);
    if (!salt || !hash || hash->size() != h.hash.size()) return unexpected(expected);
    h.salt = *salt;
    std::copy(hash->begin(), hash->end(), h.hash.begin());
    return h;
}

Result<PasswordHash, std::string> read_password_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return unexpected(fmt::format("{}: cannot be read", path.string()));
    std::ostringstream text;
    text << in.rdbuf();
    if (text.str().size() > 1024)
        return unexpected(fmt::format("{}: not a password file", path.string()));
    auto parsed = parse_password_file(text.str());
    if (!parsed) return unexpected(fmt::format("{}: {}", path.string(), parsed.error()));
    return parsed;
}

bool password_matches(const PasswordHash& hash, std::string_view password) {
    const Sha256Digest given = pbkdf2_sha256(bytes_of(password), hash.salt, hash.iterations);
    std::uint8_t differ = 0;
    for (std::size_t i = 0; i < given.size(); ++i)
        differ = static_cast<std::uint8_t>(differ | (given[i] ^ hash.hash[i]));
    return differ == 0;
}

std::string random_hex(std::size_t bytes) {
    return hex_of(random_bytes(bytes));
}

}  // namespace ktnet
