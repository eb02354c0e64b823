#pragma once
// md5: the MD5 message digest of RFC 1321.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvicon {

// One digest computation: Init (done by the constructor), any number of Update calls, then
// Final, Digest or HexDigest. Once final, further updates are ignored until Init.
class md5 {
public:
    md5() { Init(); }

    // State words to RFC 1321's initial values, counts to 0, not final.
    void Init();

    // Adds count bytes unless the digest is final. (The original took at most 65535 bytes per
    // call; any count is accepted here.)
    void Update(const void* data, std::size_t count);

    // Adds the whole text.
    void Update(std::string_view text) { Update(text.data(), text.size()); }

    // Pads (byte 80 hex, zeros, the little-endian 64-bit bit count), processes the last block,
    // stores the digest, marks it final and clears the working state. Nothing when final.
    void Final();

    // The 16 digest bytes; finalises first if needed.
    std::array<std::uint8_t, 16> Digest();

    // The digest as 32 lower-case hexadecimal characters; finalises first if needed.
    std::string HexDigest();

    // The MD5 digest of a text in one call: 16 raw bytes, or 32 lower-case hex characters.
    static std::array<std::uint8_t, 16> Of(std::string_view text);
    static std::string HexOf(std::string_view text);

private:
    void Transform(const std::uint8_t* block);

    std::array<std::uint32_t, 4> state_{};
    std::uint64_t bitCount_ = 0;
    std::array<std::uint8_t, 64> buffer_{};
    std::array<std::uint8_t, 16> digest_{};
    bool final_ = false;
};

} // namespace tarvicon
