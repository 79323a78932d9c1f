#include "update/digest.h"

#include <openssl/evp.h>

#include <memory>

#include "platform/bounded_read.h"

namespace tavrik {

namespace {

// Downloaded firmware files are at most 144 KiB; a digest is never asked of more.
constexpr size_t kDigestFileMax = 16u << 20;

struct CtxDeleter {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

class Md5 {
public:
    Md5() : ctx_(EVP_MD_CTX_new()) {
        ok_ = ctx_ && EVP_DigestInit_ex(ctx_.get(), EVP_md5(), nullptr) == 1;
    }
    void Add(const void* data, size_t size) {
        ok_ = ok_ && EVP_DigestUpdate(ctx_.get(), data, size) == 1;
    }
    std::optional<std::string> Hex() {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int len = 0;
        if (!ok_ || EVP_DigestFinal_ex(ctx_.get(), md, &len) != 1 || len != 16) {
            return std::nullopt;
        }
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string hex;
        for (unsigned int i = 0; i < len; ++i) {
            hex += kDigits[md[i] >> 4];
            hex += kDigits[md[i] & 0xF];
        }
        return hex;
    }

private:
    std::unique_ptr<EVP_MD_CTX, CtxDeleter> ctx_;
    bool ok_ = false;
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
