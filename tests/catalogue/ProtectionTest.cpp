// MD5 (RFC 1321), the keyed chain, the key digest and the hashed names of protected files.

#include "catalogue/Protection.h"

#include "catalogue/Md5.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <random>

namespace tarvicon {
namespace {

std::string Hex(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (const char c : bytes) {
        text += kHex[static_cast<unsigned char>(c) >> 4];
        text += kHex[static_cast<unsigned char>(c) & 15];
    }
    return text;
}

std::string RandomBytes(std::mt19937& random, std::size_t count) {
    std::string bytes(count, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

using test::TScopedEnv;

TEST(Md5, Rfc1321TestSuite) {
    const std::pair<std::string, std::string> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, hex] : suite) {
        md5 digest;
        digest.Update(text);
        EXPECT_EQ(digest.HexDigest(), hex) << '"' << text << '"';
        EXPECT_EQ(md5::HexOf(text), hex);
        EXPECT_EQ(Hex(std::string_view(reinterpret_cast<const char*>(md5::Of(text).data()), 16)), hex);
    }
}

TEST(Md5, PaddingBoundariesAndLongInput) {
    // Lengths around the 56-byte padding limit and the 64-byte block (values from Python's hashlib).
    EXPECT_EQ(md5::HexOf(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(md5::HexOf(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(md5::HexOf(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
    EXPECT_EQ(md5::HexOf(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(md5::HexOf(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
    // One million "a" (the classic long vector), beyond 65535 bytes in one update.
    EXPECT_EQ(md5::HexOf(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, UpdatesInPiecesEqualOneUpdate) {
    std::mt19937 random(7);
    const std::string data = RandomBytes(random, 5000);
    const std::string whole = md5::HexOf(data);
    for (const std::size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 1000u}) {
        md5 digest;
        for (std::size_t at = 0; at < data.size(); at += piece)
            digest.Update(data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(digest.HexDigest(), whole) << piece;
    }
}

TEST(Md5, FinalIsFinalUntilInit) {
    md5 digest;
    digest.Update("abc");
    digest.Final();
    digest.Update("more"); // ignored once final
    digest.Final();        // nothing the second time
    EXPECT_EQ(digest.HexDigest(), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(digest.HexDigest(), "900150983cd24fb0d6963f7d28e17f72");
    digest.Init();
    EXPECT_EQ(digest.HexDigest(), "d41d8cd98f00b204e9800998ecf8427e");
    digest.Init();
    digest.Update("a");
    EXPECT_EQ(digest.HexDigest(), "0cc175b9c0f1b6a831c399e269772661");
}

TEST(Chain, ScrambleByTheDefinition) {
    // "ABCDE" with "xy": C3 = D ^ x, C4 = E ^ y; C2 = C ^ C4, C1 = B ^ C3, C0 = A ^ C2.
    EXPECT_EQ(ChainScramble("ABCDE", "xy"), std::string("\x3E\x7E\x7F\x3C\x3C"));
    EXPECT_EQ(ChainUnscramble(std::string("\x3E\x7E\x7F\x3C\x3C"), "xy"), "ABCDE");
    // Shorter data than key: only the key's last bytes are used.
    EXPECT_EQ(ChainScramble("ab", "wxyz"), std::string({char('a' ^ 'y'), char('b' ^ 'z')}));
    EXPECT_EQ(ChainScramble("a", "wxyz"), std::string(1, char('a' ^ 'z')));
    // Data as long as the key: every byte takes its key byte.
    EXPECT_EQ(ChainScramble("abc", "xyz"), std::string({char('a' ^ 'x'), char('b' ^ 'y'), char('c' ^ 'z')}));
    // Empty data.
    EXPECT_EQ(ChainScramble("", "key"), "");
    EXPECT_EQ(ChainUnscramble("", "key"), "");
}

TEST(Chain, AgreesWithTheFormulaOnRandomData) {
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        const std::string data = RandomBytes(random, random() % 70);
        const std::string key = RandomBytes(random, 1 + random() % 20);
        const std::string c = ChainScramble(data, key);
        ASSERT_EQ(c.size(), data.size());
        const std::size_t n = data.size(), m = key.size();
        for (std::size_t j = 0; j < n; ++j) {
            const char expected = j + m >= n ? char(data[j] ^ key[j + m - n]) : char(data[j] ^ c[j + m]);
            ASSERT_EQ(c[j], expected) << "n=" << n << " m=" << m << " j=" << j;
        }
        const std::string d = ChainUnscramble(c, key);
        for (std::size_t j = 0; j + m < n; ++j) ASSERT_EQ(d[j], char(c[j] ^ c[j + m]));
        ASSERT_EQ(d, data);
    }
}

TEST(Chain, RoundTripsForAnyDataAndKey) {
    std::mt19937 random(3);
    for (std::size_t n = 0; n <= 40; ++n)
        for (std::size_t m = 1; m <= 20; ++m) {
            const std::string data = RandomBytes(random, n);
            const std::string key = RandomBytes(random, m);
            ASSERT_EQ(ChainUnscramble(ChainScramble(data, key), key), data) << n << " " << m;
        }
    // The 16-byte key digest as chain key, over a larger buffer with zero bytes inside.
    const std::string data = RandomBytes(random, 100000) + std::string(100, '\0');
    const std::string key = DigestKey("secret");
    const std::string scrambled = ChainScramble(data, key);
    EXPECT_NE(scrambled, data);
    EXPECT_EQ(ChainUnscramble(scrambled, key), data);
    // A wrong key does not give the data back.
    EXPECT_NE(ChainUnscramble(scrambled, DigestKey("Secret")), data);
}

TEST(Chain, EmptyKeyLeavesTheDataAlone) {
    const std::string data("DICM\0\x01\x02 text", 13);
    EXPECT_EQ(ChainScramble(data, ""), data);
    EXPECT_EQ(ChainUnscramble(data, ""), data);
}

TEST(Names, DigestKeyIsTheRawMd5) {
    EXPECT_EQ(DigestKey("abc").size(), 16u);
    EXPECT_EQ(Hex(DigestKey("abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Hex(DigestKey("")), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Names, HashedNameIsTheMd5OfTheScrambledReference) {
    EXPECT_EQ(HashedName("abc", ""), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(HashedName("1.2.3.4/5", "key"), md5::HexOf(ChainScramble("1.2.3.4/5", "key")));
    EXPECT_NE(HashedName("1.2.3.4/5", "key"), HashedName("1.2.3.4/5", "kez"));
    EXPECT_NE(HashedName("1.2.3.4/5", "key"), HashedName("1.2.3.4/6", "key"));
    std::mt19937 random(5);
    for (int round = 0; round < 100; ++round) {
        const std::string name =
            HashedName(RandomBytes(random, random() % 50), RandomBytes(random, random() % 10));
        ASSERT_EQ(name.size(), 32u);
        ASSERT_EQ(name.find_first_not_of("0123456789abcdef"), std::string::npos) << name;
    }
}

TEST(Names, ProtectedFilesLiveInTheDocumentsFolder) {
    const test::TTempDir documents;
    const TScopedEnv env("XDG_DOCUMENTS_DIR", documents.Path().string());
    const std::string folder = documents.Path().string() + "/Melvor2/DICOM/tmp/";
    EXPECT_EQ(ProtectedFolder(), folder);
    EXPECT_EQ(ProtectedFileName("series/1.dcm", "pw"),
              folder + "zorvix." + HashedName("series/1.dcm", "pw") + ".zorvix");

    // The writer side: the scrambled bytes under the hashed name, which read back with the key.
    const std::string bytes("DICM\0\0payload", 13);
    const std::string path = WriteProtectedFile("series/1.dcm", "pw", bytes);
    EXPECT_EQ(path, ProtectedFileName("series/1.dcm", "pw"));
    const std::string stored = test::ReadFile(path);
    EXPECT_EQ(stored, ChainScramble(bytes, DigestKey("pw")));
    EXPECT_EQ(stored, ProtectBytes(bytes, "pw"));
    EXPECT_EQ(ChainUnscramble(stored, DigestKey("pw")), bytes);
}

} // namespace
} // namespace tarvicon
