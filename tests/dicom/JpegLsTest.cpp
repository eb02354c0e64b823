#include "dicom/JpegLs.h"

#include "dicom/Dicoms.h"
#include "dicom/JpegLsInternals.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/resource.h>

namespace tarvicon {
namespace {

namespace fs = std::filesystem;

TEST(JpegLsBridge, LoadsTheLibraryOnceAndReusesIt) {
    TDicomFile file;
    file.LoadFromFile(test::Fixtures() / "jls_gray16.dcm");
    void* const first = JpegLsLibraryHandle();
    ASSERT_NE(first, nullptr);
    file.LoadFromFile(test::Fixtures() / "jls_rgb8.dcm");
    EXPECT_EQ(JpegLsLibraryHandle(), first);
    EXPECT_EQ(JpegLsLiveDecoders(), 0);
}

TEST(JpegLsBridge, ReadCallbackServesWhatIsLeft) {
    TJpegLsDecoder decoder;
    const std::uint8_t input[5] = {1, 2, 3, 4, 5};
    TJpegLsCallbacks::SetInput(decoder, input);
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(TJpegLsCallbacks::Read(&decoder, buffer, 0), 0u);
    EXPECT_EQ(TJpegLsCallbacks::Read(&decoder, buffer, 3), 3u);
    EXPECT_EQ(TJpegLsCallbacks::Read(&decoder, buffer, 8), 2u);
    EXPECT_EQ(buffer[1], 5);
    EXPECT_EQ(TJpegLsCallbacks::Read(&decoder, buffer, 8), 0u);
}

TEST(JpegLsBridge, UndecodableStreamGivesTheZeroImage) {
    test::TDicomWriter w;
    w.Preamble().Meta("1.2.840.10008.1.2.4.80").US(0x0028, 0x0010, 4).US(0x0028, 0x0011, 5);
    w.US(0x0028, 0x0100, 16).US(0x0028, 0x0101, 16).US(0x0028, 0x0102, 15);
    w.Encapsulated({"\xFF\xD8\xFF\xF7garbage that is no JPEG-LS frame"});
    TDicomFile file;
    file.LoadFromString(w.Bytes());
    ASSERT_EQ(file.PixelDataSize(), 40u);
    EXPECT_TRUE(std::all_of(file.PixelData(), file.PixelData() + 40, [](auto b) { return b == 0; }));
}

TEST(JpegLsBridge, FrameBytesFromTheCodecInformation) {
    const struct {
        const char* Info;
        std::optional<std::uint64_t> Bytes;
    } cases[] = {
        {"width=5\nheight=4\nbits=16\ncomponents=1\ninterleave=0\n", 40},
        {"width=3\nheight=2\nbits=8\ncomponents=3\ninterleave=2\n", 18},
        {"width=4294967295\nheight=4294967295\nbits=16\ncomponents=255\n", UINT64_MAX},
        {"width=5\nheight=4\nbits=8\n", std::nullopt},
        {"width=5\nheight=x4\nbits=8\ncomponents=1\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(JpegLsFrameBytes(c.Info), c.Bytes) << c.Info;
}

// A stream that lost its end-of-image marker still decodes whole; one cut inside the scan of a
// three-component frame (the codec's bit reader once spun for seconds there) ends as broken.
TEST(JpegLsBridge, StreamsCutAtTheirEnd) {
    for (const char* name : {"jls_gray16.dcm", "jls_rgb8.dcm"}) {
        SCOPED_TRACE(name);
        const std::string file = test::ReadFile(test::Fixtures() / name);
        const std::size_t start = file.find("\xFF\xD8"), end = file.rfind("\xFF\xD9");
        ASSERT_NE(start, std::string::npos);
        ASSERT_NE(end, std::string::npos);
        const auto bytes = [&](std::size_t length) {
            return std::span(reinterpret_cast<const std::uint8_t*>(file.data() + start), length);
        };
        TJpegLsDecoder decoder;
        const std::vector<std::uint8_t> whole = decoder.Decode(bytes(end + 2 - start));
        ASSERT_FALSE(whole.empty());
        EXPECT_EQ(decoder.Decode(bytes(end - start)), whole);
    }
    const std::string cut = "\xFF\xD8\xFF\xF7\x00\x11\x08\x00\x06\x00\x09\x03\x01\x11\x00\x02\x11\x00"
                            "\x03\x11\x80\xFF\xDA\x00\x0C\x03\x01\x00";
    TJpegLsDecoder decoder;
    EXPECT_TRUE(
        decoder.Decode(std::span(reinterpret_cast<const std::uint8_t*>(cut.data()), cut.size())).empty());
}

// A 73-byte stream whose frame header asks for 30258 × 60166 samples inside a 4 × 5 image:
// the image stays whole and black, and the codec never sizes its output from the header.
TEST(JpegLsBridge, OversizedFrameHeaderIsNotDecoded) {
    std::string stream =
        test::ReadFile(fs::path(TARVICON_SOURCE) / "tests/fuzz-regressions/jpegls/oom-frame-header-1.8GB");
    ASSERT_EQ(stream.size(), 73u);
    stream.erase(0, 4); // the fuzz target's picture shape
    test::TDicomWriter w;
    w.Preamble().Meta("1.2.840.10008.1.2.4.80").US(0x0028, 0x0010, 4).US(0x0028, 0x0011, 5);
    w.US(0x0028, 0x0100, 16).US(0x0028, 0x0101, 16).US(0x0028, 0x0102, 15);
    w.Encapsulated({stream});
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    TDicomFile file;
    file.LoadFromString(w.Bytes());
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    ASSERT_EQ(file.PixelDataSize(), 40u);
    EXPECT_TRUE(std::all_of(file.PixelData(), file.PixelData() + 40, [](auto b) { return b == 0; }));
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024) << "peak resident size grew, in KiB";
}

// The command-line tool copied alone into a folder, with the given file as its libjpegls.so.
test::TProcessResult DumpWithLibrary(const fs::path& folder, const fs::path* library) {
    fs::copy_file(test::BinDir() / "tarvicon-cli", folder / "tarvicon-cli");
    if (library) fs::copy_file(*library, folder / kJpegLsLibrary);
    return test::RunProcess(
        {(folder / "tarvicon-cli").string(), "dump", (test::Fixtures() / "jls_gray8.dcm").string()},
        {"LD_LIBRARY_PATH="});
}

TEST(JpegLsBridge, MissingLibraryOrEntryPointIsReported) {
    test::TTempDir alone;
    const auto missing = DumpWithLibrary(alone.Path(), nullptr);
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Err.rfind("Cannont load library libjpegls.so(", 0), 0u) << missing.Err;
    EXPECT_NE(missing.Err.find(")\r\nThe JPEG-LS codec is CharLS; its terms of use: https://"),
              std::string::npos);
    EXPECT_NE(missing.Err.find("\r\nTag: Pixel data"), std::string::npos);

    test::TTempDir wrong;
    // Any shared library without the entry points stands in: the C library's math part.
    const fs::path libm = fs::exists("/lib/x86_64-linux-gnu/libm.so.6")
                              ? "/lib/x86_64-linux-gnu/libm.so.6"
                              : "/usr/lib/x86_64-linux-gnu/libm.so.6";
    const auto noEntry = DumpWithLibrary(wrong.Path(), &libm);
    EXPECT_EQ(noEntry.Status, 1);
    EXPECT_EQ(noEntry.Err.rfind("The library libjpegls.so has no entry point JPEGLS_Create", 0), 0u)
        << noEntry.Err;
}

} // namespace
} // namespace tarvicon
