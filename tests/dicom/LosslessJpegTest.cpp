#include "dicom/LosslessJpeg.h"

#include "dicom/Dicoms.h"
#include "support/LosslessJpegWriter.h"
#include "support/TestSupport.h"
#include "util/Host.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <random>

namespace tarvicon {
namespace {

using test::ErrorOf;
using test::TJpegOptions;

std::span<const std::uint8_t> AsBytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

class TRecordingHost : public THeadlessHost {
public:
    void Notice(const std::string& text) override { notices.push_back(text); }
    std::vector<std::string> notices;
};

std::vector<std::uint16_t> RandomImage(std::size_t count, int precision, unsigned seed, int spread) {
    std::mt19937 random(seed);
    std::vector<std::uint16_t> samples(count);
    const int top = (1 << precision) - 1;
    int value = top / 2;
    for (auto& s : samples) {
        value = std::clamp(value + static_cast<int>(random() % (2 * spread + 1)) - spread, 0, top);
        s = static_cast<std::uint16_t>(value);
    }
    return samples;
}

std::string Expected(const std::vector<std::uint16_t>& samples, int precision) {
    if (precision != 8) return test::SampleBytes(samples);
    return std::string(samples.begin(), samples.end());
}

TEST(LosslessJpeg, DecodesWhatDcmtkWroteIdenticallyToTheSource) {
    for (const char* name : {"gray8", "gray12", "gray16", "rgb8", "gray8x4", "gray16x3", "rgb8x2"}) {
        TDicomFile source;
        source.LoadFromFile(test::Fixtures() / ("src_" + std::string(name) + ".dcm"));
        for (const char* kind : {"jpeg_", "jpegnobot_", "jls_"}) {
            SCOPED_TRACE(std::string(kind) + name);
            TDicomFile compressed;
            compressed.LoadFromFile(test::Fixtures() / (kind + std::string(name) + ".dcm"));
            EXPECT_EQ(compressed.Width(), source.Width());
            // The source keeps 8-bit samples as OB with a defined length, which does not set the
            // frame count, and may carry a pad byte to even length: compare the image's bytes.
            const std::size_t image = std::size_t(source.Width()) * source.Height() *
                                      compressed.FrameCount() * std::size_t(source.BytesPerPixel());
            ASSERT_GE(source.PixelDataSize(), image);
            ASSERT_EQ(compressed.PixelDataSize(), image);
            EXPECT_EQ(0, std::memcmp(compressed.PixelData(), source.PixelData(), image));
        }
    }
}

TEST(LosslessJpeg, RoundTripsOfTheTestEncoder) {
    struct Case {
        const char* name;
        int precision, components, predictor, restart, width, height, spread;
        std::vector<test::THuffmanTableDef> tables;
        bool separateSegments;
    };
    const auto wide = test::WideHuffmanTable();
    const auto swapped = test::SwappedHuffmanTable();
    const std::vector<Case> cases = {
        {"grey8 p1", 8, 1, 1, 0, 37, 23, 20, {wide}, false},
        {"grey8 p2", 8, 1, 2, 0, 37, 23, 20, {wide}, false},
        {"grey8 p3", 8, 1, 3, 0, 37, 23, 20, {wide}, false},
        {"grey8 p4", 8, 1, 4, 0, 37, 23, 20, {wide}, false},
        {"grey8 p5", 8, 1, 5, 0, 37, 23, 20, {wide}, false},
        {"grey8 p6", 8, 1, 6, 0, 37, 23, 20, {wide}, false},
        {"grey8 p7", 8, 1, 7, 0, 37, 23, 20, {wide}, false},
        {"grey12 p6", 12, 1, 6, 0, 50, 17, 300, {wide}, false},
        {"grey16 p7 wide", 16, 1, 7, 0, 31, 19, 30000, {wide}, false},
        {"rgb8 three tables", 8, 3, 4, 0, 21, 13, 40, {wide, swapped, wide}, false},
        {"rgb8 one table", 8, 3, 1, 0, 21, 13, 40, {swapped}, false},
        {"two C4 segments: the last one counts", 8, 1, 1, 0, 16, 16, 10, {swapped, wide}, true},
        {"grey8 restart per row p7", 8, 1, 7, 37, 37, 23, 20, {wide}, false},
        {"grey8 restart across rows p4", 8, 1, 4, 50, 37, 23, 20, {wide}, false},
        {"grey8 restart at second sample", 8, 1, 2, 38, 37, 23, 20, {wide}, false},
        {"grey16 restart p3", 16, 1, 3, 31, 31, 19, 3000, {wide}, false},
        {"grey12 restart not dividing the row", 12, 1, 1, 45, 30, 19, 300, {wide}, false},
        {"rgb8 restart", 8, 3, 1, 63, 21, 13, 40, {wide, swapped, wide}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto samples =
            RandomImage(std::size_t(c.width) * c.height * c.components, c.precision, 7, c.spread);
        TJpegOptions options;
        options.Precision = c.precision;
        options.Components = c.components;
        options.Predictor = c.predictor;
        options.RestartInterval = c.restart;
        options.Tables = c.tables;
        options.TablesInSeparateSegments = c.separateSegments;
        const std::string stream = test::EncodeLosslessJpeg(samples, c.width, c.height, options);
        const int bytesPerPixel = c.precision == 8 ? c.components : 2;
        const TByteBuffer image = DecodeLosslessJpeg(AsBytes(stream), bytesPerPixel, c.width, c.height, 1);
        const std::string expected = Expected(samples, c.precision);
        ASSERT_EQ(image.size(), expected.size());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data()), image.size()), expected);
    }
}

TEST(LosslessJpeg, SizesOfTheOutput) {
    // 12-bit 512 x 512 gives 16-bit samples.
    const auto samples = RandomImage(512 * 512, 12, 3, 50);
    TJpegOptions options;
    options.Precision = 12;
    const std::string stream = test::EncodeLosslessJpeg(samples, 512, 512, options);
    EXPECT_EQ(DecodeLosslessJpeg(AsBytes(stream), 2, 512, 512, 1).size(), 524288u);

    // A header announcing fewer pixels than the stream holds: the rest is dropped.
    const TByteBuffer small = DecodeLosslessJpeg(AsBytes(stream), 2, 100, 3, 1);
    ASSERT_EQ(small.size(), 600u);
    EXPECT_EQ(std::memcmp(small.data(), test::SampleBytes(samples).data(), 600), 0);

    // Frames after the first stay zero.
    const TByteBuffer frames = DecodeLosslessJpeg(AsBytes(stream), 2, 512, 512, 2);
    ASSERT_EQ(frames.size(), 2u * 524288u);
    EXPECT_TRUE(
        std::all_of(frames.data() + 524288, frames.data() + frames.size(), [](auto b) { return b == 0; }));

    EXPECT_EQ(DecodeLosslessJpeg({}, 2, 512, 512, 1).size(), 0u);
}

TEST(LosslessJpeg, CategorySixteenAddsHalfTheRange) {
    // Samples that differ by 32768 from their prediction.
    std::vector<std::uint16_t> samples = {32768, 0, 32768, 0, 65535, 32767};
    TJpegOptions options;
    options.Precision = 16;
    const std::string stream = test::EncodeLosslessJpeg(samples, 6, 1, options);
    const TByteBuffer image = DecodeLosslessJpeg(AsBytes(stream), 2, 6, 1, 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data()), image.size()),
              test::SampleBytes(samples));
}

TEST(LosslessJpeg, Errors) {
    const auto samples = RandomImage(64, 8, 1, 5);
    const std::string good = test::EncodeLosslessJpeg(samples, 8, 8, {});
    const std::size_t dht = good.find("\xFF\xC4");
    const std::size_t sos = good.find("\xFF\xDA");

    std::string corruptCounts = good;
    corruptCounts[dht + 5 + 2] = 10; // 10 codes of length 3 on top of the rest
    std::string corruptSymbol = good;
    corruptSymbol[dht + 5 + 16 + 3] = 17;
    std::string noTables = good;
    noTables.erase(dht, sos - dht);
    std::string noScan = good.substr(0, sos) + std::string(40, '\0');

    TJpegOptions restart16;
    restart16.Precision = 16;
    restart16.Predictor = 4;
    restart16.RestartInterval = 8;
    const std::string unusual = test::EncodeLosslessJpeg(std::vector<std::uint16_t>(64, 5), 8, 8, restart16);

    const struct {
        std::string stream;
        int bytesPerPixel;
        const char* message;
    } cases[] = {
        {good.substr(0, 31), 1, "Unable to read this file - is this really a JPEG image?"},
        {noScan, 1, "Unable to read this file - is this really a JPEG image?"},
        {corruptCounts, 1, "Huffman table corrupted."},
        {corruptSymbol, 1, "Huffman size array corrupted."},
        {noTables, 1, "Lossless JPEG decoding error: no Huffman tables."},
        {unusual, 2, "Unusual 16-bit lossless JPEG with restart segments. Please contact the author:4"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorOf([&] { DecodeLosslessJpeg(AsBytes(c.stream), c.bytesPerPixel, 8, 8, 1); }),
                  c.message);
}

std::string BaselineJpeg() {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = 16;
    info.image_height = 16;
    info.input_components = 1;
    info.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(16, 100);
    for (int y = 0; y < 16; ++y) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string stream(reinterpret_cast<char*>(buffer), size);
    std::free(buffer);
    return stream;
}

TEST(LosslessJpeg, BaselineStreamShowsTheNoticeAndGivesZeros) {
    TRecordingHost host;
    const TScopedHost scoped(host);
    const std::string stream = BaselineJpeg();
    const TByteBuffer image = DecodeLosslessJpeg(AsBytes(stream), 1, 16, 16, 1);
    ASSERT_EQ(image.size(), 256u);
    EXPECT_TRUE(std::all_of(image.data(), image.data() + 256, [](auto b) { return b == 0; }));
    EXPECT_EQ(host.notices, std::vector<std::string>{"Unable to extract this file format."});
}

} // namespace
} // namespace tarvicon
