// The password of the shop's page, kept as a salted hash and never as itself: one line
// "pbkdf2-sha256$ITERATIONS$SALT$HASH" (salt and hash in hex), written by
// `ktnet serve --set-password FILE`.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"
#include "serve/sha256.hpp"

namespace ktnet {

inline constexpr std::uint32_t password_iterations = 100'000;

struct PasswordHash {
    std::uint32_t iterations = password_iterations;
    std::vector<std::uint8_t> salt;
    Sha256Digest hash{};
};

// The hash of a password with a new random salt.
PasswordHash hash_password(std::string_view password);
PasswordHash hash_password(std::string_view password, std::vector<std::uint8_t> salt,
                           std::uint32_t iterations);

// The file's one line, with its LF.
std::string password_file_text(const PasswordHash& hash);
// The reason says what is wrong with the text.
[[nodiscard]] Result<PasswordHash, std::string> parse_password_file(std::string_view text);
[[nodiscard]] Result<PasswordHash, std::string> read_password_file(
    const std::filesystem::path& path);

// In a time that does not depend on where the password differs.
bool password_matches(const PasswordHash& hash, std::string_view password);

// Random bytes as hex, for salts, session ids and tokens.
std::string random_hex(std::size_t bytes);

}  // namespace ktnet
