// The transfer syntaxes of real archives: the same images written by real encoders in every
// syntax the reader reads give the source's pixels; frames are cut from encapsulated data by
// every table and marker; deflated data sets inflate within their limit; lossy images are marked.

#include "dicom/Dicoms.h"
#include "dicom/EncapsulatedFrames.h"
#include "dicom/Inflate.h"
#include "support/TestSupport.h"
#include "util/Errors.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <sstream>
#include <zlib.h>

namespace tarvicon {
namespace {

std::string_view PixelsOf(const TDicomFile& file) {
    return {reinterpret_cast<const char*>(file.PixelData()), file.PixelDataSize()};
}

// Each syntax variant of a source image, as variants.tsv lists them: same size and frames, and
// samples within the tolerance of the source's (exact for the lossless ones).
TEST(TransferSyntaxes, EveryVariantGivesTheSourcePixels) {
    const auto folder = test::Fixtures() / "variants";
    std::istringstream list(test::ReadFile(folder / "variants.tsv"));
    int checked = 0;
    for (std::string line; std::getline(list, line);) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        std::string name, sourceName, tolerance;
        std::getline(fields, name, '\t');
        std::getline(fields, sourceName, '\t');
        std::getline(fields, tolerance, '\t');
        SCOPED_TRACE(name);
        TDicomFile source, variant;
        source.LoadFromFile(folder / sourceName);
        ASSERT_NO_THROW(variant.LoadFromFile(folder / name));
        EXPECT_EQ(variant.Width(), source.Width());
        EXPECT_EQ(variant.Height(), source.Height());
        // A stored source of 8-bit samples (OB with a length) keeps its frames in one run of bytes.
        if (source.Value("Bits allocated") != "8") {
            EXPECT_EQ(variant.FrameCount(), source.FrameCount());
        }
        EXPECT_EQ(variant.PixelFormat(), source.PixelFormat());
        // The stored source may carry a padding byte after its last pixel.
        const std::size_t image = std::size_t(variant.Width()) * variant.Height() * variant.FrameCount() *
                                  std::size_t(variant.BytesPerPixel());
        ASSERT_GE(PixelsOf(variant).size(), image);
        ASSERT_GE(PixelsOf(source).size(), image);
        const std::string_view ours = PixelsOf(variant).substr(0, image),
                               theirs = PixelsOf(source).substr(0, image);
        const int limit = std::stoi(tolerance);
        if (limit == 0) {
            EXPECT_TRUE(ours == theirs) << "pixels differ from the source";
        } else {
            const int bytes = source.PixelFormat() == TPixelFormat::pf16bit ? 2 : 1;
            int worst = 0;
            for (std::size_t i = 0; i + bytes <= ours.size(); i += bytes) {
                int a = static_cast<unsigned char>(ours[i]), b = static_cast<unsigned char>(theirs[i]);
                if (bytes == 2) {
                    a |= static_cast<unsigned char>(ours[i + 1]) << 8;
                    b |= static_cast<unsigned char>(theirs[i + 1]) << 8;
                }
                worst = std::max(worst, std::abs(a - b));
            }
            EXPECT_LE(worst, limit);
        }
        // Lossy syntaxes say so; lossless ones do not.
        const bool lossy =
            name.find("lossy") != std::string::npos || name.find("near") != std::string::npos ||
            name.find("baseline") != std::string::npos || name.find("extended") != std::string::npos;
        EXPECT_EQ(variant.LossyCompression().Lossy, lossy);
        ++checked;
    }
    EXPECT_GT(checked, 50);
}

// The LOSSY mark: by the syntax, or by Lossy Image Compression where the syntax carries both kinds.
TEST(TransferSyntaxes, LossyMark) {
    const struct {
        std::vector<std::string> Elements;
        const char* Mark;
    } cases[] = {
        {{"Transfer syntax uid=1.2.840.10008.1.2.4.50"}, "LOSSY ISO_10918_1"},
        {{"Transfer syntax uid=1.2.840.10008.1.2.4.50", "0028.2112=10.5",
          "0028.2114=ISO_10918_1\\ISO_15444_1"},
         "LOSSY 10.5:1 ISO_10918_1"},
        {{"Transfer syntax uid=1.2.840.10008.1.2.4.91", "0028.2112=2.89048648171834"},
         "LOSSY 2.9:1 ISO_15444_1"},
        {{"Transfer syntax uid=1.2.840.10008.1.2.4.91", "0028.2112=12.0"}, "LOSSY 12:1 ISO_15444_1"},
        {{"Transfer syntax uid=1.2.840.10008.1.2.4.91"}, "LOSSY ISO_15444_1"},
        {{"Transfer syntax uid=1.2.840.10008.1.2.4.91", "0028.2110=00"}, ""},
        {{"Transfer syntax uid=1.2.840.10008.1.2.4.90"}, ""},
        {{"Transfer syntax uid=1.2.840.10008.1.2.1", "0028.2110=01", "0028.2112=8"}, "LOSSY 8:1"},
        {{"Transfer syntax uid=1.2.840.10008.1.2.1"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Elements.front());
        EXPECT_EQ(LossyMarkText(LossyCompressionOf(c.Elements)), c.Mark);
    }
}

// Encapsulated items: the offset table first, then fragments.
struct TCutCase {
    const char* Name;
    std::vector<std::string> Items;
    std::string ExtendedOffsets;
    std::size_t Frames;
    std::vector<std::string> Expected; // empty: the cut fails
};

std::string Le32(std::initializer_list<std::uint32_t> values) {
    std::string bytes;
    for (const std::uint32_t v : values) bytes.append(reinterpret_cast<const char*>(&v), 4);
    return bytes;
}

std::string Le64(std::initializer_list<std::uint64_t> values) {
    std::string bytes;
    for (const std::uint64_t v : values) bytes.append(reinterpret_cast<const char*>(&v), 8);
    return bytes;
}

TEST(EncapsulatedFrames, EveryWayOfCuttingFrames) {
    const std::string a = "\xFF\xD8 a1", b = "a2\xFF\xD9", c = "\xFF\xD8 c\xFF\xD9";
    const std::string d("\xFF\xD8 d\xFF\xD9\0", 7); // padded to an even length
    // Fragment starts from the first fragment's item tag: 0, 8 + 5, 8 + 5 + 8 + 4, …
    const TCutCase cases[] = {
        {"one frame from all fragments", {"", a, b}, "", 1, {a + b}},
        {"basic offset table", {Le32({0, 25}), a, b, c}, "", 2, {a + b, c}},
        {"extended offset table before a wrong basic one",
         {Le32({0, 13}), a, b, c},
         Le64({0, 25}),
         2,
         {a + b, c}},
        {"one fragment per frame", {"", a, b, c}, "", 3, {a, b, c}},
        {"end markers, one padded", {"", a, b, d, c}, "", 3, {a + b, d, c}},
        {"a basic table off the fragment starts is passed over", {Le32({0, 7}), a, b, c}, "", 2, {a + b, c}},
        {"a table out of order is passed over", {Le32({25, 0}), a, b, c}, "", 2, {a + b, c}},
        {"too few frames for the image", {"", a, b}, "", 3, {}},
        {"no fragments", {""}, "", 1, {}},
    };
    for (const TCutCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TEncapsulatedPixels pixels;
        for (const std::string& item : c.Items) pixels.Items.push_back(item);
        pixels.ExtendedOffsets = c.ExtendedOffsets;
        std::deque<std::string> joined;
        if (c.Expected.empty()) {
            try {
                CutEncapsulatedFrames(pixels, c.Frames, joined);
                ADD_FAILURE() << "no error";
            } catch (const WException& error) {
                EXPECT_EQ(std::string(error.what()).rfind("Encapsulated pixel data holds ", 0), 0u)
                    << error.what();
            }
            continue;
        }
        const auto frames = CutEncapsulatedFrames(pixels, c.Frames, joined);
        ASSERT_EQ(frames.size(), c.Expected.size());
        for (std::size_t f = 0; f < frames.size(); ++f) EXPECT_EQ(frames[f], c.Expected[f]) << "frame " << f;
    }
}

std::string Deflate(const std::string& text) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, text.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

TEST(Inflate, WholeCutDamagedAndTooLarge) {
    const std::string text(100000, 'x');
    const std::string deflated = Deflate(text + "end");
    EXPECT_EQ(InflateRaw(deflated, 1 << 20), text + "end");
    const auto fails = [](const std::string& bytes, std::size_t limit, const std::string& message) {
        try {
            InflateRaw(bytes, limit);
            ADD_FAILURE() << "no error for " << message;
        } catch (const WException& error) {
            EXPECT_EQ(std::string(error.what()).substr(0, message.size()), message);
        }
    };
    fails(deflated.substr(0, deflated.size() / 2), 1 << 20, "Deflated data set is cut short");
    fails(std::string("\xFF\xFF\xFF\xFF garbage", 12), 1 << 20, "Deflated data set is damaged: ");
    fails(deflated, 50000, "Deflated data set inflates to more than 0 MiB");
}

// A deflated file cut in its data set, and a big endian file whose pixels are cut, end as errors
// of the image that name what is wrong; nothing is read past the file.
TEST(TransferSyntaxes, CutFilesEndWithTheirReason) {
    const auto folder = test::Fixtures() / "variants";
    const std::string deflated = test::ReadFile(folder / "v_gray16_deflated.dcm");
    TDicomFile file;
    try {
        file.LoadFromString(std::string_view(deflated).substr(0, deflated.size() - 200));
        ADD_FAILURE() << "no error";
    } catch (const WException& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Deflated data set is cut short", 0), 0u) << error.what();
    }
    const std::string j2k = test::ReadFile(folder / "v_gray16x3_j2k.dcm");
    EXPECT_THROW(file.LoadFromString(std::string_view(j2k).substr(0, j2k.size() - 300)), WException);
}

} // namespace
} // namespace tarvicon
