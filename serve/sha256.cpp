#include "sha256.hpp"

#include <algorithm>

namespace ktnet {

namespace {

constexpr std::array<std::uint32_t, 64> round_constants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

class Sha256 {
public:
    void update(std::span<const std::uint8_t> data) {
        for (const std::uint8_t b : data) {
            block_[used_++] = b;
            if (used_ == block_.size()) {
                compress();
                used_ = 0;
            }
        }
        length_ += data.size();
    }

    Sha256Digest finish() {
        const std::uint64_t bits = length_ * 8;
        const std::uint8_t one = 0x80;
        update({&one, 1});
        const std::uint8_t zero = 0;
        while (used_ != 56) update({&zero, 1});
        std::array<std::uint8_t, 8> count{};
        for (int i = 0; i < 8; ++i)
            count[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
        update(count);
        Sha256Digest digest{};
        for (std::size_t i = 0; i < 8; ++i)
            for (std::size_t j = 0; j < 4; ++j)
                digest[i * 4 + j] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * j));
        return digest;
    }

private:
    void compress() {
        std::array<std::uint32_t, 64> w{};
        for (std::size_t i = 0; i < 16; ++i) {
            w[i] = std::uint32_t{block_[i * 4]} << 24 | std::uint32_t{block_[i * 4 + 1]} << 16 |
                   std::uint32_t{block_[i * 4 + 2]} << 8 | std::uint32_t{block_[i * 4 + 3]};
        }
        for (std::size_t i = 16; i < 64; ++i) {
            const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        auto [a, b, c, d, e, f, g, h] = state_;
        for (std::size_t i = 0; i < 64; ++i) {
            const std::uint32_t s1 = rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
            const std::uint32_t ch = (e & f) ^ (~e & g);
            const std::uint32_t t1 = h + s1 + ch + round_constants[i] + w[i];
            const std::uint32_t s0 = rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
            const std::uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
            const std::uint32_t t2 = s0 + maj;
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        const std::array<std::uint32_t, 8> add = {a, b, c, d, e, f, g, h};
        for (std::size_t i = 0; i < 8; ++i) state_[i] += add[i];
    }

    std::array<std::uint32_t, 8> state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                           0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<std::uint8_t, 64> block_{};
    std::size_t used_ = 0;
    std::uint64_t length_ = 0;
};

}  // namespace

Sha256Digest sha256(std::span<const std::uint8_t> data) {
    Sha256 h;
    h.update(data);
    return h.finish();
}

Sha256Digest hmac_sha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data) {
    std::array<std::uint8_t, 64> block{};
    if (key.size() > block.size()) {
        const Sha256Digest k = sha256(key);
        std::copy(k.begin(), k.end(), block.begin());
    } else {
        std::copy(key.begin(), key.end(), block.begin());
    }
    std::array<std::uint8_t, 64> inner_pad{}, outer_pad{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        inner_pad[i] = static_cast<std::uint8_t>(block[i] ^ 0x36);
        outer_pad[i] = static_cast<std::uint8_t>(block[i] ^ 0x5c);
    }
    Sha256 inner;
    inner.update(inner_pad);
    inner.update(data);
    const Sha256Digest inner_digest = inner.finish();
    Sha256 outer;
    outer.update(outer_pad);
    outer.update(inner_digest);
    return outer.finish();
}

Sha256Digest pbkdf2_sha256(std::span<const std::uint8_t> password,
                           std::span<const std::uint8_t> salt, std::uint32_t iterations) {
    std::vector<std::uint8_t> first(salt.begin(), salt.end());
    first.insert(first.end(), {0, 0, 0, 1});  // the index of the block, 1
    Sha256Digest u = hmac_sha256(password, first);
    Sha256Digest t = u;
    for (std::uint32_t i = 1; i < iterations; ++i) {
        u = hmac_sha256(password, u);
        for (std::size_t j = 0; j < t.size(); ++j) t[j] = static_cast<std::uint8_t>(t[j] ^ u[j]);
    }
    return t;
}

}  // namespace ktnet
