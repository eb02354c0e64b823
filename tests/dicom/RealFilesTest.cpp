// Every one of pydicom's own test files, read as the viewer reads it, against the outcome, shape
// and pixel bytes of reference decoders (pydicom, DCMTK) that make_fixtures.py recorded; and files
// pydicom wrote with elements the walk must step over whole.

#include "dicom/Dicoms.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string_view>

namespace tarvicon {
namespace {

// Messages the reader may end with on a file it refuses.
const char* const kReaderMessages[] = {
    "Invalid DICOM file format 1", "Input stream overflow 2", "Input stream overflow 4",
    "Input stream overflow 4a",    "Invalid item size",       "Item size out of mind",
    "Invalid image size 1",        "Illegal pixel size 1",    "Invalid pixel size",
    "Unsuported transfer syntax ", "Range check error",
};

// Files the reader's own rules read otherwise than pydicom does, with what the reader gives.
struct TDeparture {
    const char* Path;
    const char* Message; // empty: accepted, but its pixel bytes are not the reference's
    const char* Why;
};
const TDeparture kDepartures[] = {
    {"waveform_ecg.dcm", "Invalid image size 1",
     "every OW is pixel data to the reader, also one without an image"},
    {"rtplan.dump", "Item size out of mind",
     "a text dump that holds \"DICM\": its text read as elements gives a length of 16 MiB or more"},
    {"SC_rgb_jpeg.dcm", "The JPEG frame has 3 components where the image has 1 sample per pixel",
     "an implicit data set under an explicit syntax: Samples per pixel, no US of the reader's table, reads "
     "as no "
     "number"},
    {"SC_rgb_jpeg_lossy_gdcm.dcm", "",
     "RGB by its data set, but its stream says YCbCr (JFIF): the reader shows red where DCMTK keeps YCbCr"},
    {"JPEG2000-embedded-sequence-delimiter.dcm",
     "JPEG 2000 frame is 3722445056 \xC3\x97 1024 with 1 sample, the image 256 \xC3\x97 1024 with 1",
     "its codestream's size field holds the delimiter's bytes; no decoder reads it"},
};

struct TManifestLine {
    std::string Path, Outcome, Detail, Raw;
    int Tolerance = 0; // the largest difference of a sample from the reference decoder's
};

// The first sample (of bytesPerSample little-endian bytes) that differs from the reference by
// more than tolerance, or npos.
std::size_t FirstDifference(std::string_view pixels, std::string_view reference, int bytesPerSample,
                            int tolerance) {
    const std::size_t size = std::min(pixels.size(), reference.size());
    for (std::size_t i = 0; i + bytesPerSample <= size; i += bytesPerSample) {
        int ours = 0, theirs = 0;
        for (int b = bytesPerSample - 1; b >= 0; --b) {
            ours = ours << 8 | static_cast<unsigned char>(pixels[i + b]);
            theirs = theirs << 8 | static_cast<unsigned char>(reference[i + b]);
        }
        if (std::abs(ours - theirs) > tolerance) return i;
    }
    return std::string_view::npos;
}

// Columns, rows and number of frames as pydicom reads them: empty when absent, "?" when the value
// is no whole number.
struct TShape {
    std::string Columns, Rows, Frames;
};

std::map<std::string, TShape> Shapes() {
    std::map<std::string, TShape> shapes;
    std::istringstream in(test::ReadFile(test::Fixtures() / "reader" / "pydicom_shapes.tsv"));
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string path;
        TShape shape;
        std::getline(fields, path, '\t');
        std::getline(fields, shape.Columns, '\t');
        std::getline(fields, shape.Rows, '\t');
        std::getline(fields, shape.Frames, '\t');
        shapes[path] = shape;
    }
    return shapes;
}

int NumberOr(const std::string& text, int fallback) {
    return text.empty() || text == "?" ? fallback : std::stoi(text);
}

std::vector<TManifestLine> Manifest() {
    std::vector<TManifestLine> lines;
    std::istringstream in(test::ReadFile(test::Fixtures() / "pydicom" / "manifest.tsv"));
    for (std::string line; std::getline(in, line);) {
        TManifestLine entry;
        std::istringstream fields(line);
        std::getline(fields, entry.Path, '\t');
        std::getline(fields, entry.Outcome, '\t');
        std::getline(fields, entry.Detail, '\t');
        std::getline(fields, entry.Raw, '\t');
        std::string tolerance;
        std::getline(fields, tolerance, '\t');
        entry.Tolerance = NumberOr(tolerance, 0);
        if (!entry.Path.empty()) lines.push_back(entry);
    }
    return lines;
}

TEST(RealFiles, EveryPydicomTestFileEndsAsTheReaderPrescribes) {
    const auto manifest = Manifest();
    const auto shapes = Shapes();
    ASSERT_GT(manifest.size(), 150u);
    int accepted = 0, refused = 0;
    for (const TManifestLine& entry : manifest) {
        SCOPED_TRACE(entry.Path);
        TDicomFile file;
        std::string message;
        try {
            file.LoadFromFile(test::PydicomTestFiles() / entry.Path);
        } catch (const std::exception& error) {
            message = error.what();
        }
        const auto departure = std::find_if(std::begin(kDepartures), std::end(kDepartures),
                                            [&](const TDeparture& d) { return entry.Path == d.Path; });
        if (departure != std::end(kDepartures)) {
            EXPECT_EQ(message.substr(0, message.find("\r\n")), departure->Message) << departure->Why;
            continue;
        }
        if (entry.Outcome == "ok") {
            EXPECT_EQ(message, "");
            if (!message.empty()) continue;
            ++accepted;
            const auto shape = shapes.find(entry.Path);
            ASSERT_NE(shape, shapes.end());
            EXPECT_EQ(file.Width(), NumberOr(shape->second.Columns, 0));
            EXPECT_EQ(file.Height(), NumberOr(shape->second.Rows, 0));
            // Implicit pixel data runs to the end of the file whatever the frame count says; a
            // frame count that is no number or 0 counts as 1.
            const bool implicit = entry.Detail == "1.2.840.10008.1.2";
            EXPECT_EQ(file.FrameCount(),
                      implicit || entry.Raw.empty() ? 1 : std::max(1, NumberOr(shape->second.Frames, 1)));
            if (entry.Raw.empty()) continue;
            const std::string reference = test::ReadFile(test::Fixtures() / "pydicom" / entry.Raw);
            // The reader's buffer is the stored bytes, padded with zeros to the full image size
            // (implicit pixel data runs to the end of the file).
            const std::uint64_t image = std::uint64_t(file.Width()) * file.Height() * file.FrameCount() *
                                        std::uint64_t(file.BytesPerPixel());
            EXPECT_EQ(file.PixelDataSize(), std::max<std::uint64_t>(reference.size(), image));
            const std::string_view pixels(reinterpret_cast<const char*>(file.PixelData()),
                                          file.PixelDataSize());
            if (entry.Tolerance == 0) {
                EXPECT_EQ(pixels.substr(0, reference.size()), reference);
            } else {
                const int bytesPerSample = file.Value("Bits allocated") == "16" ? 2 : 1;
                EXPECT_EQ(FirstDifference(pixels, reference, bytesPerSample, entry.Tolerance),
                          std::string_view::npos)
                    << "beyond the tolerance of " << entry.Tolerance;
            }
            EXPECT_EQ(pixels.find_first_not_of('\0', reference.size()), std::string_view::npos);
            continue;
        }
        ++refused;
        EXPECT_NE(message.find("\r\nTag: "), std::string::npos) << "expected " << entry.Detail;
        const std::string first = message.substr(0, message.find("\r\n"));
        if (entry.Outcome == "error") {
            EXPECT_EQ(first, entry.Detail);
            continue;
        }
        // Files pydicom cannot read either end with one of the reader's messages.
        bool known = false;
        for (const char* m : kReaderMessages) known |= first.rfind(m, 0) == 0;
        EXPECT_TRUE(known) << first;
    }
    EXPECT_GT(accepted, 140);
    EXPECT_GT(refused, 10);
}

// Elements before the pixels that the walk must take whole: sequences of undefined length (implicit,
// or explicit UN), an implicit element longer than 65535 bytes, the explicit VRs with the long
// length field. Each file gives pydicom's pixels and keeps the element as one line.
TEST(RealFiles, ElementsBeforeThePixelsAreTakenWhole) {
    const auto written = test::Fixtures() / "reader";
    const struct {
        std::filesystem::path File;
        const char* Line;
        std::filesystem::path Pixels; // pydicom's pixel bytes; none: no pixel data
        int Width, Height;
    } cases[] = {
        {written / "implicit_sequence.dcm", "0008.1115=", written / "implicit_sequence.raw", 13, 7},
        {written / "implicit_nested_sequence.dcm", "0008.1115=", written / "implicit_nested_sequence.raw", 13,
         7},
        {written / "implicit_long_private.dcm", "0029.1001=<70000bytes>",
         written / "implicit_long_private.raw", 13, 7},
        {written / "explicit_ut.dcm", "0029.1001=a UT value of some length", written / "explicit_ut.raw", 13,
         7},
        {written / "explicit_uc.dcm", "0029.1001=a UC value", written / "explicit_uc.raw", 13, 7},
        {written / "explicit_other_vrs.dcm", "0029.1006=http://example.org/x",
         written / "explicit_other_vrs.raw", 13, 7},
        {test::PydicomTestFiles() / "nested_priv_SQ.dcm", "0001.0002=Nested SQ",
         test::Fixtures() / "pydicom" / "nested_priv_SQ.dcm.raw", 0, 0},
        // Its last element, inside the UN sequence: the walk reaches the end of the file.
        {test::PydicomTestFiles() / "UN_sequence.dcm",
         "Study Instance UID=1.2.840.113619.2.327.3.185221411.476.1398588725.795",
         {},
         0,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File.filename());
        TDicomFile file;
        file.LoadFromFile(c.File);
        EXPECT_NE(std::find(file.Elements().begin(), file.Elements().end(), c.Line), file.Elements().end());
        EXPECT_EQ(file.Width(), c.Width);
        EXPECT_EQ(file.Height(), c.Height);
        const std::string reference = c.Pixels.empty() ? std::string() : test::ReadFile(c.Pixels);
        ASSERT_TRUE(c.Pixels.empty() || !reference.empty());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.PixelData()), file.PixelDataSize()),
                  reference);
    }
}

} // namespace
} // namespace tarvicon
