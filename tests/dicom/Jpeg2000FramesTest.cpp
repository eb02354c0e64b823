// The JPEG 2000 and HTJ2K frame decoders against frames that real encoders made
// (codec_fixtures_j2k.py), and against frames broken in the ways files break.

#include "dicom/FrameCodecs.h"
#include "support/TestSupport.h"
#include "util/Errors.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
// ojph_arch.h first: the other headers use its definitions without including it.
#include <openjph/ojph_arch.h>
#include <openjph/ojph_codestream.h>
#include <openjph/ojph_file.h>
#include <openjph/ojph_mem.h>
#include <openjph/ojph_params.h>

namespace tarvicon {
namespace {

namespace fs = std::filesystem;

using TDecoder = void (*)(std::span<const std::uint8_t>, const TFrameLayout&, std::span<std::uint8_t>);

std::span<const std::uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::vector<std::uint8_t> Decode(TDecoder decoder, const std::string& stream, const TFrameLayout& layout) {
    std::vector<std::uint8_t> out(layout.FrameBytes());
    decoder(Bytes(stream), layout, out);
    return out;
}

TFrameLayout Layout(int columns, int rows, int samples, int bytesPerSample, int bitsStored, bool isSigned) {
    TFrameLayout layout;
    layout.Columns = columns;
    layout.Rows = rows;
    layout.Samples = samples;
    layout.BytesPerSample = bytesPerSample;
    layout.BitsStored = bitsStored;
    layout.Signed = isSigned;
    layout.Photometric = samples == 3 ? "RGB" : "MONOCHROME2";
    return layout;
}

// One line of the fixtures' manifest.
struct TFixture {
    std::string Name;
    std::string Codec; // "j2k" or "htj2k"
    TFrameLayout Layout;
    std::string Codestream;
    std::string Expected;
    int Tolerance = 0;
};

fs::path FixtureFolder() {
    return test::Fixtures() / "codecs" / "j2k";
}

std::vector<TFixture> ReadFixtures() {
    std::ifstream manifest(FixtureFolder() / "manifest.tsv");
    std::vector<TFixture> fixtures;
    std::string line;
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        TFixture f;
        int isSigned = 0;
        std::string codestream, expected;
        fields >> f.Name >> f.Codec >> f.Layout.Columns >> f.Layout.Rows >> f.Layout.Samples >>
            f.Layout.BytesPerSample >> f.Layout.BitsStored >> isSigned >> f.Layout.Photometric >>
            codestream >> expected >> f.Tolerance;
        f.Layout.Signed = isSigned != 0;
        f.Codestream = test::ReadFile(FixtureFolder() / codestream);
        f.Expected = test::ReadFile(FixtureFolder() / expected);
        fixtures.push_back(std::move(f));
    }
    return fixtures;
}

const TFixture& FixtureNamed(const std::vector<TFixture>& fixtures, std::string_view name) {
    for (const auto& f : fixtures)
        if (f.Name == name) return f;
    throw std::runtime_error("no fixture " + std::string(name));
}

TDecoder DecoderOf(const TFixture& f) {
    return f.Codec == "htj2k" ? DecodeHtj2kFrame : DecodeJpeg2000Frame;
}

int SampleAt(const std::uint8_t* bytes, std::size_t index, int bytesPerSample) {
    if (bytesPerSample == 1) return bytes[index];
    std::uint16_t sample;
    std::memcpy(&sample, bytes + 2 * index, 2);
    return sample;
}

// Samples compared as the data set reads them (Bits Stored, Pixel Representation), each within
// the tolerance; the first one that is not is named.
testing::AssertionResult SamplesNear(const std::vector<std::uint8_t>& actual, const std::string& expected,
                                     const TFrameLayout& layout, int tolerance) {
    if (actual.size() != expected.size())
        return testing::AssertionFailure() << actual.size() << " bytes, expected " << expected.size();
    const auto value = [&](const std::uint8_t* bytes, std::size_t i) {
        const int shift = 32 - layout.BitsStored;
        const auto low = std::uint32_t(SampleAt(bytes, i, layout.BytesPerSample)) << shift;
        return layout.Signed ? std::int32_t(low) >> shift : std::int32_t(low >> shift);
    };
    const auto* wanted = reinterpret_cast<const std::uint8_t*>(expected.data());
    for (std::size_t i = 0; i < actual.size() / layout.BytesPerSample; ++i) {
        const int got = value(actual.data(), i), want = value(wanted, i);
        if (std::abs(got - want) > tolerance)
            return testing::AssertionFailure() << "sample " << i << " (pixel " << i / layout.Samples
                                               << ") is " << got << ", expected " << want;
    }
    return testing::AssertionSuccess();
}

TEST(Jpeg2000Frames, DecodeEveryFixtureAsItsReferenceDecoderDoes) {
    const auto fixtures = ReadFixtures();
    ASSERT_GE(fixtures.size(), 20u) << "fixtures missing in " << FixtureFolder();
    for (const auto& f : fixtures) {
        SCOPED_TRACE(f.Name);
        std::vector<std::uint8_t> out;
        ASSERT_NO_THROW(out = Decode(DecoderOf(f), f.Codestream, f.Layout));
        EXPECT_TRUE(SamplesNear(out, f.Expected, f.Layout, f.Tolerance));
    }
}

// A frame whose syntax says JPEG 2000 part 1 may not use high-throughput code-blocks; an HTJ2K frame
// may use both kinds.
TEST(Jpeg2000Frames, HighThroughputBlocksOnlyUnderTheirSyntax) {
    const auto fixtures = ReadFixtures();
    const TFixture& ht = FixtureNamed(fixtures, "ojph_gray8");
    const TFixture& partOne = FixtureNamed(fixtures, "gdcm_gray8");
    EXPECT_EQ(test::ErrorOf([&] { Decode(DecodeJpeg2000Frame, ht.Codestream, ht.Layout); }),
              "JPEG 2000 frame uses high-throughput code-blocks, which its transfer syntax does not allow");
    EXPECT_TRUE(SamplesNear(Decode(DecodeHtj2kFrame, partOne.Codestream, partOne.Layout), partOne.Expected,
                            partOne.Layout, partOne.Tolerance));
}

// The codestream of pydicom's J2K_pixelrep_mismatch.dcm calls its 13-bit samples unsigned, the
// data set signed: the data set wins, as with GDCM (-2000 … 1896, not 0 … 8191).
TEST(Jpeg2000Frames, DataSetSignednessWinsOverTheCodestreams) {
    const auto fixtures = ReadFixtures();
    const TFixture& f = FixtureNamed(fixtures, "pydicom_J2K_pixelrep_mismatch");
    ASSERT_TRUE(f.Layout.Signed);
    const auto out = Decode(DecodeJpeg2000Frame, f.Codestream, f.Layout);
    int lowest = 0, highest = 0;
    for (std::size_t i = 0; i < out.size() / 2; ++i) {
        const int value = std::int32_t(std::uint32_t(SampleAt(out.data(), i, 2)) << 19) >> 19;
        lowest = std::min(lowest, value), highest = std::max(highest, value);
    }
    EXPECT_EQ(lowest, -2000);
    EXPECT_EQ(highest, 1896);
}

// ojph_compress cannot make frames with negative samples; OpenJPH's encoder itself can.
std::string EncodeSignedHtj2k(const std::vector<std::int32_t>& samples, int columns, int rows, int bits,
                              bool reversible) {
    ojph::codestream codestream;
    ojph::param_siz siz = codestream.access_siz();
    siz.set_image_extent(ojph::point(columns, rows));
    siz.set_tile_size(ojph::size(columns, rows));
    siz.set_num_components(1);
    siz.set_component(0, ojph::point(1, 1), bits, true);
    ojph::param_cod cod = codestream.access_cod();
    cod.set_num_decomposition(3);
    cod.set_color_transform(false);
    cod.set_reversible(reversible);
    if (!reversible) codestream.access_qcd().set_irrev_quant(0.0001f);
    codestream.set_planar(false);
    ojph::mem_outfile file;
    file.open();
    codestream.write_headers(&file);
    ojph::ui32 component = 0;
    ojph::line_buf* line = codestream.exchange(nullptr, component);
    for (int y = 0; y < rows; ++y) {
        std::copy_n(samples.begin() + std::ptrdiff_t(y) * columns, columns, line->i32);
        line = codestream.exchange(line, component);
    }
    codestream.flush();
    std::string bytes(reinterpret_cast<const char*>(file.get_data()), std::size_t(file.tell()));
    codestream.close();
    return bytes;
}

// Signed frames with samples at both ends of their range: exact when reversible; irreversible
// ones clipped to the range, never wrapped round to the other end.
TEST(Htj2kFrames, SignedSamplesKeepTheirValues) {
    const struct {
        int Bits;
        bool Reversible;
        int Tolerance;
    } cases[] = {{16, true, 0}, {12, true, 0}, {16, false, 64}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.Bits) + (c.Reversible ? " bits reversible" : " bits irreversible"));
        constexpr int kColumns = 50, kRows = 40;
        const int lowest = -(1 << (c.Bits - 1)), highest = (1 << (c.Bits - 1)) - 1;
        std::mt19937 random(c.Bits);
        std::vector<std::int32_t> samples(kColumns * kRows);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = i % 7 == 0   ? lowest
                         : i % 5 == 0 ? highest
                                      : std::uniform_int_distribution<std::int32_t>(lowest, highest)(random);
        std::string expected;
        for (const std::int32_t sample : samples) expected += test::SampleBytes({std::uint16_t(sample)});
        const TFrameLayout layout = Layout(kColumns, kRows, 1, 2, c.Bits, true);
        const std::string stream = EncodeSignedHtj2k(samples, kColumns, kRows, c.Bits, c.Reversible);
        EXPECT_TRUE(SamplesNear(Decode(DecodeHtj2kFrame, stream, layout), expected, layout, c.Tolerance));
    }
}

struct TBadCase {
    const char* What;
    std::string Stream;
    TFrameLayout Layout;
    std::string Message; // the whole message, or its beginning when it ends with "…"
};

void ExpectRefused(TDecoder decoder, const std::vector<TBadCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        const std::string message = test::ErrorOf([&] { Decode(decoder, c.Stream, c.Layout); });
        if (c.Message.ends_with("…"))
            EXPECT_EQ(message.substr(0, c.Message.size() - 3), c.Message.substr(0, c.Message.size() - 3));
        else
            EXPECT_EQ(message, c.Message);
    }
}

std::string RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& b : bytes) b = char(random());
    return bytes;
}

// The JP2 file of GDCMJ2K_TextGBR.dcm is tiled: cut just after the marker that starts a
// tile-part, it still decodes in OpenJPEG's strict mode (into wrong pixels).
std::string CutAfterTilePartMarker(const std::string& stream, int index) {
    std::size_t at = 0;
    for (int i = 0; i <= index; ++i) at = stream.find("\xFF\x90", at + 1);
    return stream.substr(0, at + 2);
}

TEST(Jpeg2000Frames, BadFramesAreRefusedWithTheirReason) {
    const auto fixtures = ReadFixtures();
    const TFixture& gray = FixtureNamed(fixtures, "gdcm_gray8");   // 67 × 45, 8 bits
    const TFixture& wide = FixtureNamed(fixtures, "gdcm_gray16s"); // 50 × 61, 16 bits
    const TFixture& jp2 = FixtureNamed(fixtures, "pydicom_GDCMJ2K_TextGBR");
    const TFrameLayout& layout = gray.Layout;
    std::string badLength = gray.Codestream;
    badLength[5] = 0x30; // Lsiz
    std::string badMarker = gray.Codestream;
    badMarker.replace(badMarker.find("\xFF\x52"), 2, "\xFF\x30"); // COD becomes a marker without a segment
    const std::string jp2Header = jp2.Codestream.substr(0, jp2.Codestream.find("jp2c") - 4);
    ExpectRefused(
        DecodeJpeg2000Frame,
        {
            {"empty", "", layout, "JPEG 2000 frame begins with neither a codestream nor a JP2 signature"},
            {"random bytes", RandomBytes(500, 1), layout,
             "JPEG 2000 frame begins with neither a codestream nor a JP2 signature"},
            {"other width", gray.Codestream, Layout(64, 45, 1, 1, 8, false),
             "JPEG 2000 frame is 67 × 45 with 1 sample, the image 64 × 45 with 1"},
            {"other sample count", gray.Codestream, Layout(67, 45, 3, 1, 8, false),
             "JPEG 2000 frame is 67 × 45 with 1 sample, the image 67 × 45 with 3"},
            {"JP2 colour frame as grey", jp2.Codestream, Layout(400, 400, 1, 1, 8, false),
             "JPEG 2000 frame is 400 × 400 with 3 samples, the image 400 × 400 with 1"},
            {"deeper than the image", wide.Codestream, Layout(50, 61, 1, 1, 8, true),
             "JPEG 2000 frame holds 16-bit samples, the image 8-bit ones"},
            {"header cut short", gray.Codestream.substr(0, 30), layout,
             "JPEG 2000 image header is cut short"},
            {"header length wrong", badLength, layout, "JPEG 2000 image header is malformed"},
            {"JP2 without codestream", jp2Header, jp2.Layout, "JPEG 2000 file holds no codestream"},
            {"cut in half", gray.Codestream.substr(0, gray.Codestream.size() / 2), layout,
             "JPEG 2000 frame is cut short: it lacks its end-of-codestream marker"},
            {"JP2 cut between tile-parts", CutAfterTilePartMarker(jp2.Codestream, 40), jp2.Layout,
             "JPEG 2000 frame is cut short: it lacks its end-of-codestream marker"},
            {"broken marker", badMarker, layout, "JPEG 2000 frame cannot be decoded: …"},
        });
}

TEST(Htj2kFrames, BadFramesAreRefusedWithTheirReason) {
    const auto fixtures = ReadFixtures();
    const TFixture& gray = FixtureNamed(fixtures, "ojph_gray8");  // 71 × 39, 8 bits
    const TFixture& deep = FixtureNamed(fixtures, "ojph_gray16"); // 64 × 50, 16 bits
    const TFrameLayout& layout = gray.Layout;
    ExpectRefused(
        DecodeHtj2kFrame,
        {
            {"empty", "", layout, "JPEG 2000 frame begins with neither a codestream nor a JP2 signature"},
            {"random bytes", RandomBytes(500, 2), layout,
             "JPEG 2000 frame begins with neither a codestream nor a JP2 signature"},
            {"other height", gray.Codestream, Layout(71, 40, 1, 1, 8, false),
             "JPEG 2000 frame is 71 × 39 with 1 sample, the image 71 × 40 with 1"},
            {"other sample count", gray.Codestream, Layout(71, 39, 3, 1, 8, false),
             "JPEG 2000 frame is 71 × 39 with 1 sample, the image 71 × 39 with 3"},
            {"deeper than the image", deep.Codestream, Layout(64, 50, 1, 1, 8, false),
             "JPEG 2000 frame holds 16-bit samples, the image 8-bit ones"},
            {"cut in half", gray.Codestream.substr(0, gray.Codestream.size() / 2), layout,
             "JPEG 2000 frame is cut short: it lacks its end-of-codestream marker"},
        });
}

// Every cut of a frame is refused, read within the bytes it has (the sanitizer build watches).
TEST(Jpeg2000Frames, EveryCutOfAFrameIsRefused) {
    const auto fixtures = ReadFixtures();
    for (const char* name : {"gdcm_frames16_0", "pydicom_JPEG2000", "ojph_gray8", "ojph_rgb8"}) {
        const TFixture& f = FixtureNamed(fixtures, name);
        SCOPED_TRACE(name);
        for (std::size_t length = 0; length < f.Codestream.size(); ++length) {
            const std::string cut(f.Codestream, 0, length);
            EXPECT_THROW(Decode(DecoderOf(f), cut, f.Layout), WException) << length << " bytes";
        }
    }
}

// OpenJPEG either decodes a damaged JPEG 2000 frame or says why not. (Not so for damaged HTJ2K
// code-blocks: OpenJPEG's HT block decoder, as Debian builds it, stops on an assertion for some.)
TEST(Jpeg2000Frames, DamagedFramesDecodeOrAreRefused) {
    const auto fixtures = ReadFixtures();
    std::mt19937 random(2000);
    for (const char* name : {"gdcm_rgb8", "gdcm_lossy16s", "pydicom_SC_rgb_gdcm_KY"}) {
        const TFixture& f = FixtureNamed(fixtures, name);
        SCOPED_TRACE(name);
        for (int trial = 0; trial < 150; ++trial) {
            std::string damaged = f.Codestream;
            for (int k = 0; k <= trial % 3; ++k) damaged[random() % damaged.size()] = char(random());
            try {
                Decode(DecodeJpeg2000Frame, damaged, f.Layout);
            } catch (const WException&) {
            }
        }
    }
}

// The libraries' complaints become the message; nothing reaches the terminal.
TEST(Jpeg2000Frames, LibrariesPrintNothing) {
    const auto fixtures = ReadFixtures();
    const TFixture& j2k = FixtureNamed(fixtures, "gdcm_gray8");
    const TFixture& ht = FixtureNamed(fixtures, "ojph_gray8");
    std::string broken = j2k.Codestream;
    broken.replace(broken.find("\xFF\x52"), 2, "\xFF\x30");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_THROW(Decode(DecodeJpeg2000Frame, broken, j2k.Layout), WException);
    EXPECT_THROW(Decode(DecodeJpeg2000Frame, ht.Codestream, ht.Layout), WException);
    Decode(DecodeHtj2kFrame, ht.Codestream, ht.Layout);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// The reader decodes files on several threads: each thread's pixels and messages stay its own.
TEST(Jpeg2000Frames, ThreadsDecodeSideBySide) {
    const auto fixtures = ReadFixtures();
    struct TWork {
        const TFixture& Good;
        std::string Bad;
        std::string Failure;
    };
    const TFixture& gray = FixtureNamed(fixtures, "ojph_gray8");
    std::string badCodLength = gray.Codestream;
    badCodLength[badCodLength.find("\xFF\x52") + 3] = 3;
    std::string badMarker = FixtureNamed(fixtures, "gdcm_lossy16s").Codestream;
    badMarker.replace(badMarker.find("\xFF\x52"), 2, "\xFF\x30");
    std::vector<TWork> works;
    const std::string& rgb = FixtureNamed(fixtures, "gdcm_rgb8").Codestream;
    works.push_back({FixtureNamed(fixtures, "ojph_rgb8"), rgb.substr(0, rgb.size() / 2), ""});
    works.push_back({gray, badCodLength, ""});
    works.push_back({FixtureNamed(fixtures, "gdcm_lossy16s"), badMarker, ""});
    const auto run = [](TWork& work) {
        const TFixture& good = work.Good;
        const std::string wanted = test::ErrorOf([&] { Decode(DecoderOf(good), work.Bad, good.Layout); });
        const auto pixels = Decode(DecoderOf(good), good.Codestream, good.Layout);
        // Mostly broken streams: a message is at risk only between its decoder's start and end.
        for (int round = 0; round < 400 && work.Failure.empty(); ++round) {
            if (round % 10 == 0 && Decode(DecoderOf(good), good.Codestream, good.Layout) != pixels)
                work.Failure = "other pixels";
            try {
                Decode(DecoderOf(good), work.Bad, good.Layout);
                work.Failure = "no error";
            } catch (const WException& e) {
                if (e.what() != wanted) work.Failure = std::string(e.what()) + ", not " + wanted;
            }
        }
    };
    std::vector<std::thread> threads;
    for (auto& work : works) threads.emplace_back(run, std::ref(work));
    for (auto& thread : threads) thread.join();
    for (const auto& work : works) EXPECT_EQ(work.Failure, "") << work.Good.Name;
}

} // namespace
} // namespace tarvicon
