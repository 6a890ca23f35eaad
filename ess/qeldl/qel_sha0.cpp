/* SHA-0 digest of the signature check (FIPS 180, before its 1995 revision added the rotation to
 * the message schedule). Also built into the signing tool. */
#include <algorithm>
#include <cstring>

#include "qel_module_internal.h"

namespace qel_module {

namespace {

std::uint32_t rol(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

std::uint32_t be32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

Sha0::Sha0() : h_{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u}, buffer_{} {}

void Sha0::block(const unsigned char* p) {
    std::uint32_t w[80];
    for (int i = 0; i < 16; ++i) w[i] = be32(p + 4 * i);
    for (int i = 16; i < 80; ++i) w[i] = w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16];
    std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
    for (int i = 0; i < 80; ++i) {
        std::uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        const std::uint32_t t = rol(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = rol(b, 30);
        b = a;
        a = t;
    }
    h_[0] += a;
    h_[1] += b;
    h_[2] += c;
    h_[3] += d;
    h_[4] += e;
}

void Sha0::update(const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    length_ += size;
    while (size > 0) {
        const std::size_t n = std::min(size, sizeof buffer_ - buffered_);
        std::memcpy(buffer_ + buffered_, p, n);
        buffered_ += n;
        p += n;
        size -= n;
        if (buffered_ == sizeof buffer_) {
            block(buffer_);
            buffered_ = 0;
        }
    }
}

void Sha0::final(unsigned char digest[kDigestSize]) {
    const std::uint64_t bits = length_ * 8;
    const unsigned char pad = 0x80;
    update(&pad, 1);
    const unsigned char zero = 0;
    while (buffered_ != 56) update(&zero, 1);
    unsigned char len[8];
    for (int i = 0; i < 8; ++i) len[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    update(len, 8);
    for (int i = 0; i < 5; ++i) {
        digest[4 * i] = static_cast<unsigned char>(h_[i] >> 24);
        digest[4 * i + 1] = static_cast<unsigned char>(h_[i] >> 16);
        digest[4 * i + 2] = static_cast<unsigned char>(h_[i] >> 8);
        digest[4 * i + 3] = static_cast<unsigned char>(h_[i]);
    }
}

}  // namespace qel_module
