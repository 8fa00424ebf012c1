// SPDX-License-Identifier: MIT
#include "records/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace kx {
namespace {

// The standard test vectors (FIPS 180-2 examples and the NIST set).
TEST(Sha256, StandardVectors) {
    struct Case {
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
         "m"
         "nopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1'000'000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.substr(0, 20));
        EXPECT_EQ(Sha256Hex(c.input), c.digest);
    }
}

// Fed in pieces of every size around the block's edges, the digest is that
// of the whole.
TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
    std::string text;
    for (int i = 0; i < 300; ++i) {
        text.push_back(static_cast<char>(i * 7 + 3));
    }
    for (std::size_t length : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
        const std::string whole = text.substr(0, length);
        const std::string expected = Sha256Hex(whole);
        for (std::size_t piece : {1u, 3u, 63u, 64u, 65u}) {
            Sha256 hash;
            for (std::size_t at = 0; at < whole.size(); at += piece) {
                hash.Update(std::string_view(whole).substr(at, piece));
            }
            EXPECT_EQ(hash.FinalHex(), expected) << length << " in pieces of " << piece;
            hash.Reset();
            hash.Update(whole);
            EXPECT_EQ(hash.FinalHex(), expected) << "after Reset";
        }
    }
}

}  // namespace
}  // namespace kx
