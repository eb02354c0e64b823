#include "dicom/FrameCodecs.h"
#include "support/TestSupport.h"
#include "util/Errors.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sstream>

namespace tarvicon {
namespace {

using test::ErrorOf;

std::filesystem::path Folder() {
    return test::Fixtures() / "codecs" / "jpeg";
}

// One line of manifest.tsv (codec_fixtures_jpeg.py): a frame's codestream and what it decodes to.
struct TFrameCase {
    std::string Name;
    TFrameLayout Layout;
    std::string Stream;
    std::string Expected;
    int Tolerance = 0;
    std::string Source; // the pixels before compression, or empty
};

std::vector<TFrameCase> ReadManifest() {
    std::ifstream manifest(Folder() / "manifest.tsv");
    std::vector<TFrameCase> cases;
    std::string line;
    std::getline(manifest, line); // the column names
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        TFrameCase c;
        int isSigned = 0;
        std::string stream, expected, source;
        fields >> c.Name >> c.Layout.Columns >> c.Layout.Rows >> c.Layout.Samples >>
            c.Layout.BytesPerSample >> c.Layout.BitsStored >> isSigned >> c.Layout.Photometric >> stream >>
            expected >> c.Tolerance >> source;
        c.Layout.Signed = isSigned != 0;
        c.Stream = test::ReadFile(Folder() / stream);
        c.Expected = test::ReadFile(Folder() / expected);
        if (source != "-") c.Source = test::ReadFile(Folder() / source);
        cases.push_back(std::move(c));
    }
    return cases;
}

const TFrameCase& Case(const std::vector<TFrameCase>& cases, const std::string& name) {
    const auto found =
        std::find_if(cases.begin(), cases.end(), [&](const TFrameCase& c) { return c.Name == name; });
    if (found == cases.end()) throw std::runtime_error("no fixture " + name);
    return *found;
}

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string Decode(const std::string& stream, const TFrameLayout& layout) {
    std::string out(layout.FrameBytes(), '\0');
    DecodeJpegFrame(Bytes(stream), layout, {reinterpret_cast<std::uint8_t*>(out.data()), out.size()});
    return out;
}

std::vector<int> Samples(const std::string& bytes, int bytesPerSample) {
    std::vector<int> samples(bytes.size() / std::size_t(bytesPerSample));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data()) + i * std::size_t(bytesPerSample);
        samples[i] = bytesPerSample == 1 ? p[0] : p[0] | p[1] << 8;
    }
    return samples;
}

struct TDifference {
    int Largest = 0;
    double Mean = 0;
};

TDifference Compare(const std::string& a, const std::string& b, int bytesPerSample) {
    const std::vector<int> x = Samples(a, bytesPerSample), y = Samples(b, bytesPerSample);
    TDifference d;
    double sum = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const int difference = std::abs(x[i] - y[i]);
        d.Largest = std::max(d.Largest, difference);
        sum += difference;
    }
    d.Mean = x.empty() ? 0 : sum / double(x.size());
    return d;
}

// Every fixture frame decodes to what dcmdjpeg made of it, within the manifest's tolerance, and
// the decoders print nothing on the way (pydicom's JPEG-lossy.dcm makes the 12-bit library warn).
TEST(JpegFrames, DecodesEveryFixtureAsTheReferenceDecoderDoes) {
    const std::vector<TFrameCase> cases = ReadManifest();
    ASSERT_GE(cases.size(), 25u);
    int largest = 0;
    testing::internal::CaptureStderr();
    for (const TFrameCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string decoded = Decode(c.Stream, c.Layout);
        ASSERT_EQ(decoded.size(), c.Expected.size());
        const TDifference d = Compare(decoded, c.Expected, c.Layout.BytesPerSample);
        EXPECT_LE(d.Largest, c.Tolerance);
        largest = std::max(largest, d.Largest);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    RecordProperty("LargestDifference", largest);
}

// The reference could share a fault of ours (taking YCbCr for RGB): where the fixture keeps the
// picture before compression, the decoded colours are close to it. Among them are real files
// labelled RGB whose streams hold subsampled YCbCr (from GDCM).
TEST(JpegFrames, DecodedPicturesAreCloseToTheirSources) {
    int checked = 0;
    for (const TFrameCase& c : ReadManifest()) {
        if (c.Source.empty()) continue;
        SCOPED_TRACE(c.Name);
        const TDifference d = Compare(Decode(c.Stream, c.Layout), c.Source, c.Layout.BytesPerSample);
        EXPECT_LT(d.Mean, 4.0);
        ++checked;
    }
    EXPECT_GE(checked, 7);
}

TEST(JpegFrames, WidensAn8BitStreamInA16BitLayout) {
    const std::vector<TFrameCase> cases = ReadManifest();
    const TFrameCase& c = Case(cases, "gray8_progressive");
    TFrameLayout wide = c.Layout;
    wide.BytesPerSample = 2;
    wide.BitsStored = 12;
    const std::string decoded = Decode(c.Stream, wide);
    EXPECT_EQ(Samples(decoded, 2), Samples(Decode(c.Stream, c.Layout), 1));
}

TEST(JpegFrames, RefusesAStreamThatDisagreesWithTheLayout) {
    const std::vector<TFrameCase> cases = ReadManifest();
    struct TMismatch {
        const char* fixture;
        std::function<void(TFrameLayout&)> change;
        const char* message;
    };
    const std::vector<TMismatch> mismatches = {
        {"gray8_baseline", [](TFrameLayout& l) { ++l.Columns; },
         "is 67 x 45 pixels where the image is 68 x 45"},
        {"gray8_baseline", [](TFrameLayout& l) { --l.Rows; }, "is 67 x 45 pixels where the image is 67 x 44"},
        {"gray12_extended", [](TFrameLayout& l) { l.Rows = 1; },
         "is 61 x 43 pixels where the image is 61 x 1"},
        {"gray8_baseline", [](TFrameLayout& l) { l.Samples = 3; },
         "has 1 component where the image has 3 samples"},
        {"rgb8_baseline422", [](TFrameLayout& l) { l.Samples = 1; },
         "has 3 components where the image has 1 sample"},
        {"gray12_extended",
         [](TFrameLayout& l) {
             l.BytesPerSample = 1;
             l.BitsStored = 8;
         },
         "holds 12-bit samples where the image has 8-bit samples in 1 byte"},
        {"pydicom_JPEG-lossy", [](TFrameLayout& l) { l.BytesPerSample = 1; }, "holds 12-bit samples"},
    };
    for (const TMismatch& m : mismatches) {
        const TFrameCase& c = Case(cases, m.fixture);
        SCOPED_TRACE(std::string(m.fixture) + ": " + m.message);
        TFrameLayout layout = c.Layout;
        m.change(layout);
        EXPECT_NE(ErrorOf([&] { Decode(c.Stream, layout); }).find(m.message), std::string::npos);
    }
    const TFrameCase& c = Case(cases, "gray8_baseline");
    std::string small(c.Layout.FrameBytes() - 1, '\0');
    EXPECT_NE(ErrorOf([&] {
                  DecodeJpegFrame(Bytes(c.Stream), c.Layout,
                                  {reinterpret_cast<std::uint8_t*>(small.data()), small.size()});
              }).find("output has the wrong size"),
              std::string::npos);
}

std::string Cut(const std::string& s, std::size_t keep) {
    return s.substr(0, keep);
}

std::string Replace(std::string s, std::size_t at, std::string_view bytes) {
    s.replace(at, bytes.size(), bytes);
    return s;
}

TEST(JpegFrames, RefusesBrokenStreamsWithAClearMessage) {
    const std::vector<TFrameCase> cases = ReadManifest();
    std::mt19937 random(7);
    std::string noise(3000, '\0');
    for (char& b : noise) b = char(random());
    const std::string& baseline = Case(cases, "gray8_baseline").Stream;
    const std::string& progressive = Case(cases, "rgb8_progressive").Stream;
    const std::string& extended12 = Case(cases, "gray12_extended").Stream;
    const std::size_t frameHeader = baseline.find("\xFF\xC0");
    std::string manyScans = progressive;
    for (int i = 0; i < 1001; ++i) manyScans.insert(manyScans.size() - 2, "\xFF\xDA");
    struct TBroken {
        const char* name;
        const char* fixture;
        std::string stream;
        const char* message;
    };
    const std::vector<TBroken> broken = {
        {"empty", "gray8_baseline", "", "does not start with a start-of-image marker"},
        {"random bytes", "gray8_baseline", noise, "does not start with a start-of-image marker"},
        {"random bytes after the start of image", "gray8_baseline", "\xFF\xD8" + noise, "ends before"},
        {"tables only", "gray8_baseline", Cut(baseline, frameHeader) + "\xFF\xD9", "holds no frame header"},
        {"cut in the frame header", "gray8_baseline", Cut(baseline, frameHeader + 6), "ends before"},
        {"baseline cut in half", "gray8_baseline", Cut(baseline, baseline.size() / 2), "ends before"},
        {"baseline without its end", "gray8_baseline", Cut(baseline, baseline.size() - 2), "ends before"},
        {"progressive cut in half", "rgb8_progressive", Cut(progressive, progressive.size() / 2),
         "ends before"},
        {"12-bit cut in half", "gray12_extended", Cut(extended12, extended12.size() / 2), "ends before"},
        {"12-bit without its end", "gray12_extended", Cut(extended12, extended12.size() - 2), "ends before"},
        {"lossless", "gray8_baseline", Replace(baseline, frameHeader, "\xFF\xC3"), "lossless JPEG stream"},
        {"hierarchical", "gray8_baseline", Replace(baseline, frameHeader, "\xFF\xC5"), "Hierarchical"},
        {"16-bit precision", "gray12_extended", Replace(extended12, extended12.find("\xFF\xC1") + 4, "\x10"),
         "16-bit precision are not supported"},
        {"no components", "gray8_baseline", Replace(baseline, frameHeader + 9, std::string_view("\0", 1)),
         "names no components"},
        {"endless scans", "rgb8_progressive", manyScans, "more than 1000 scans"},
    };
    for (const TBroken& b : broken) {
        SCOPED_TRACE(b.name);
        const std::string message = ErrorOf([&] { Decode(b.stream, Case(cases, b.fixture).Layout); });
        EXPECT_NE(message.find(b.message), std::string::npos) << message;
    }
}

// Damage that loses no data is at most a warning of the library: stray bytes before a marker, and
// the pad byte that makes a fragment's length even after the end of the image. The frame decodes
// as before, and nothing is printed.
TEST(JpegFrames, ToleratesBytesThatLoseNoData) {
    const std::vector<TFrameCase> cases = ReadManifest();
    const auto strayBytes = [](std::string s) { return s.insert(s.find("\xFF\xC0"), "\x12\x34"); };
    const auto padByte = [](std::string s) { return s + '\0'; };
    const std::vector<std::pair<const char*, std::function<std::string(std::string)>>> damages = {
        {"gray8_baseline", strayBytes}, {"gray8_baseline", padByte}, {"gray12_extended", padByte}};
    testing::internal::CaptureStderr();
    for (const auto& [name, damage] : damages) {
        SCOPED_TRACE(name);
        const TFrameCase& c = Case(cases, name);
        EXPECT_LE(Compare(Decode(damage(c.Stream), c.Layout), c.Expected, c.Layout.BytesPerSample).Largest,
                  c.Tolerance);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Randomly damaged streams of every kind either decode or raise WException; under the sanitizers
// this also shows that no damage makes a decoder read or write outside its buffers.
TEST(JpegFrames, SurvivesRandomDamage) {
    const std::vector<TFrameCase> cases = ReadManifest();
    std::mt19937 random(11);
    for (const char* name :
         {"gray8_baseline", "rgb8_progressive", "rgb8_gdcm", "gray12_extended", "gray12_progressive"}) {
        const TFrameCase& c = Case(cases, name);
        for (int round = 0; round < 150; ++round) {
            std::string stream = c.Stream;
            const int changes = 1 + int(random() % 4);
            for (int k = 0; k < changes; ++k) stream[random() % stream.size()] = char(random());
            try {
                Decode(stream, c.Layout);
            } catch (const WException&) {
            }
        }
    }
}

} // namespace
} // namespace tarvicon
