#include "protocol/cipher.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace tavrik {
namespace {

using cipher_detail::CipherDifferences;
using Block = std::array<uint8_t, 8>;

Block Hex(std::string_view text) {
    Block b{};
    for (size_t i = 0; i < b.size(); ++i) {
        b[i] = static_cast<uint8_t>(std::stoi(std::string(text.substr(2 * i, 2)), nullptr, 16));
    }
    return b;
}

Block Encipher(const CipherDifferences& d, const Block& key, const Block& in) {
    Block out{};
    cipher_detail::EncipherBlockWith(d, key.data(), in.data(), out.data());
    return out;
}

Block Decipher(const CipherDifferences& d, const Block& key, const Block& in) {
    Block out{};
    cipher_detail::DecipherBlockWith(d, key.data(), in.data(), out.data());
    return out;
}

struct Vector {
    std::string_view key, plain, cipher;
};

TEST(CipherTest, StandardSettingMatchesPublishedVectors) {
    const Vector vectors[] = {
        {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
        {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
        // Variable-plaintext and variable-key vectors of the standards body.
        {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
        {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
        {"0101010101010101", "2000000000000000", "2E8653104F3834EA"},
        {"0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
        {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.plain);
        EXPECT_EQ(Encipher(cipher_detail::kStandard, Hex(v.key), Hex(v.plain)), Hex(v.cipher));
        EXPECT_EQ(Decipher(cipher_detail::kStandard, Hex(v.key), Hex(v.cipher)), Hex(v.plain));
    }
}

// Expected blocks below were computed by an independent bit-list model of the cipher,
// written separately from this implementation.
TEST(CipherTest, ControllerCipherMatchesIndependentModel) {
    const Vector vectors[] = {
        {"133457799BBCDFF1", "0123456789ABCDEF", "E40077CE7A7D2678"},
        {"0000000000000000", "0000000000000000", "ACEC93D9A7C03C98"},
        {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "53136C26583FC367"},
        {"0123456789ABCDEF", "6B20DEADBEEF0042", "BB4DC6D5BEEA610D"},
        {"0E329232EA6D0D73", "8787878787878787", "45701DAA755DC1BF"},
        // These two reach the changed substitution entries.
        {"F240BC51DB57CD29", "BCF1A2793AF303BE", "690E86039923AAC7"},
        {"BF0F98FF93D69B07", "CC1C20052827B824", "101F86D37D113DB5"},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.plain);
        const Block key = Hex(v.key);
        Block out{};
        EncipherBlock(key.data(), Hex(v.plain).data(), out.data());
        EXPECT_EQ(out, Hex(v.cipher));
        DecipherBlock(key.data(), Hex(v.cipher).data(), out.data());
        EXPECT_EQ(out, Hex(v.plain));
    }
}

// One vector per difference, switched on alone, from the same independent model; each
// is chosen so that the standard cipher gives a different block.
TEST(CipherTest, EachDifferenceAloneMatchesIndependentModel) {
    struct Case {
        bool CipherDifferences::*flag;
        Vector v;
    };
    const Case cases[] = {
        {&CipherDifferences::lsbBitOrder,
         {"5BD3A140E5704BB3", "79BB9BF1D28B7444", "118E474975A1F9CA"}},
        {&CipherDifferences::sboxLsbFirst,
         {"9878A39867D41F2F", "43167D01776DF611", "6F7D52059441BC14"}},
        {&CipherDifferences::noFinalSwap,
         {"418E39530C3D8342", "A74E0077B5A82656", "8F9190C09E81FC79"}},
        {&CipherDifferences::pc2Pos34,
         {"D73227EBA767B3F1", "D1648EA5E19CBDCA", "02EA3308557CF199"}},
        {&CipherDifferences::sboxPatch,
         {"F79215C7DCE909E7", "53168A916700D4AC", "23A4E6A253B473A1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.v.key);
        CipherDifferences d;
        d.*c.flag = true;
        const Block key = Hex(c.v.key);
        EXPECT_EQ(Encipher(d, key, Hex(c.v.plain)), Hex(c.v.cipher));
        EXPECT_NE(Encipher(cipher_detail::kStandard, key, Hex(c.v.plain)), Hex(c.v.cipher));
        EXPECT_EQ(Decipher(d, key, Hex(c.v.cipher)), Hex(c.v.plain));
    }
}

TEST(CipherTest, DecipherInvertsEncipherInEverySetting) {
    std::mt19937 rng(1234);
    const auto randomBlock = [&rng] {
        Block b{};
        for (auto& x : b) {
            x = static_cast<uint8_t>(rng());
        }
        return b;
    };
    for (unsigned mask = 0; mask < 32; ++mask) {
        const CipherDifferences d{(mask & 1) != 0, (mask & 2) != 0, (mask & 4) != 0,
                                  (mask & 8) != 0, (mask & 16) != 0};
        SCOPED_TRACE(mask);
        for (int i = 0; i < 64; ++i) {
            const Block key = randomBlock();
            const Block plain = randomBlock();
            const Block cipher = Encipher(d, key, plain);
            ASSERT_EQ(Decipher(d, key, cipher), plain);

            // Output may overwrite the input in place.
            Block inPlace = plain;
            cipher_detail::EncipherBlockWith(d, key.data(), inPlace.data(), inPlace.data());
            ASSERT_EQ(inPlace, cipher);
        }
    }
}

}  // namespace
}  // namespace tavrik
