#include "update/digest.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/bounded_read.h"

namespace tavrik {

namespace {

// Downloaded firmware files are at most 144 KiB; a digest is never asked of more.
constexpr size_t kDigestFileMax = 16u << 20;

// MD5 (RFC 1321) in a few lines rather than a crypto library that the window would load
// only for this.
class Md5 {
public:
    void Add(const void* data, size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        total_ += size;
        while (size > 0) {
            const size_t n = std::min(size, block_.size() - used_);
            std::memcpy(block_.data() + used_, p, n);
            used_ += n;
            p += n;
            size -= n;
            if (used_ == block_.size()) {
                Transform();
                used_ = 0;
            }
        }
    }
    std::optional<std::string> Hex() {
        const uint64_t bits = total_ * 8;
        static constexpr unsigned char kPad[64] = {0x80};
        Add(kPad, used_ < 56 ? 56 - used_ : 120 - used_);
        unsigned char length[8];
        for (int i = 0; i < 8; ++i) {
            length[i] = static_cast<unsigned char>(bits >> (8 * i));
        }
        Add(length, sizeof length);
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string hex;
        for (uint32_t word : state_) {
            for (int i = 0; i < 4; ++i) {
                const auto byte = static_cast<unsigned>((word >> (8 * i)) & 0xFF);
                hex += kDigits[byte >> 4];
                hex += kDigits[byte & 0xF];
            }
        }
        return hex;
    }

private:
    static uint32_t Rotate(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

    // The integer parts of 2^32 * |sin(i + 1)|.
    static inline const std::array<uint32_t, 64> kSine = [] {
        std::array<uint32_t, 64> k{};
        for (size_t i = 0; i < k.size(); ++i) {
            k[i] = static_cast<uint32_t>(std::fabs(std::sin(static_cast<double>(i) + 1.0)) *
                                         4294967296.0);
        }
        return k;
    }();

    void Transform() {
        static constexpr int kShift[64] = {
            7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
            14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
            4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};
        uint32_t m[16];
        for (int i = 0; i < 16; ++i) {
            m[i] = static_cast<uint32_t>(block_[4 * i]) |
                   static_cast<uint32_t>(block_[4 * i + 1]) << 8 |
                   static_cast<uint32_t>(block_[4 * i + 2]) << 16 |
                   static_cast<uint32_t>(block_[4 * i + 3]) << 24;
        }
        uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
        for (int i = 0; i < 64; ++i) {
            uint32_t f;
            int g;
            if (i < 16) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (i < 32) {
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
            } else if (i < 48) {
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
            }
            const uint32_t next = b + Rotate(a + f + kSine[i] + m[g], kShift[i]);
            a = d;
            d = c;
            c = b;
            b = next;
        }
        state_[0] += a;
        state_[1] += b;
        state_[2] += c;
        state_[3] += d;
    }

    std::array<unsigned char, 64> block_{};
    size_t used_ = 0;
    uint64_t total_ = 0;
    std::array<uint32_t, 4> state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::optional<std::string> Md5Hex(std::string_view data) {
    Md5 md5;
    md5.Add(data.data(), data.size());
    return md5.Hex();
}

std::optional<std::string> Md5HexOfFile(const std::filesystem::path& file) {
    const BoundedRead read = ReadBoundedFile(file, kDigestFileMax);
    if (!read.Ok()) {
        return std::nullopt;
    }
    return Md5Hex(read.bytes);
}

bool SameDigest(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace tavrik
