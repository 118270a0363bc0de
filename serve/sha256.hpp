// SHA-256 and PBKDF2-HMAC-SHA256, for the password file of the shop's page: the Windows build
// has no crypto library to take them from, and they are small and fixed by their standards
// (FIPS 180-4, RFC 2104, RFC 8018), checked against their published test vectors.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace ktnet {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest sha256(std::span<const std::uint8_t> data);
Sha256Digest hmac_sha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data);
// The first derived block only: 32 bytes are all a password check needs.
Sha256Digest pbkdf2_sha256(std::span<const std::uint8_t> password,
                           std::span<const std::uint8_t> salt, std::uint32_t iterations);

}  // namespace ktnet
