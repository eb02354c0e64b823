#include "dicom/Dicoms.h"

#include "dicom/TagDictionary.h"
#include "support/TestSupport.h"
#include "util/Errors.h"
#include "util/Host.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace tarvicon {
namespace {

using test::ErrorOf;
using test::TDicomWriter;

std::string F32(float value) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

std::string F64(double value) {
    std::string bytes(8, '\0');
    std::memcpy(bytes.data(), &value, 8);
    return bytes;
}

// A 16-bit grey image header in explicit VR little endian.
TDicomWriter Grey16(int columns, int rows) {
    TDicomWriter w;
    w.Preamble().Meta("1.2.840.10008.1.2.1");
    w.US(0x0028, 0x0010, static_cast<std::uint16_t>(rows))
        .US(0x0028, 0x0011, static_cast<std::uint16_t>(columns));
    w.US(0x0028, 0x0100, 16).US(0x0028, 0x0101, 12).US(0x0028, 0x0102, 11);
    return w;
}

TDicomFile Load(const std::string& bytes) {
    TDicomFile file;
    file.LoadFromString(bytes);
    return file;
}

TEST(TagDictionary, HasItsRowsInOrderAndFirstRowWins) {
    const auto rows = TagDictionary();
    ASSERT_EQ(rows.size(), 115u);
    EXPECT_EQ(rows.front().Name, "File meta elements group len");
    EXPECT_EQ(rows.back().Name, "Pixel data");
    EXPECT_EQ(FindTag(0x0028, 0x0100)->Name, "Bits allocated");
    EXPECT_EQ(FindTag(0x0100, 0x0010)->Name, "Bits allocated");
    EXPECT_EQ(FindTag(0x0028, 0x1050), nullptr); // window centre keeps its hexadecimal key
    int rules = 0;
    for (const auto& row : rows) rules += row.Rule != TReadRule::None;
    EXPECT_EQ(rules, 6);
}

TEST(DicomFile, FindsDicmAnywhereAndReadsFromThere) {
    TDicomWriter normal;
    normal.Preamble().Meta("1.2.840.10008.1.2.1").Explicit(0x0010, 0x0010, "PN", "Doe^John");
    EXPECT_EQ(Load(normal.Bytes()).Value("patient NAME"), "Doe^John");

    // "DICM" inside the preamble: the walk starts there and reads the bytes after it as elements.
    std::string early = normal.Bytes();
    TDicomWriter inner;
    inner.Explicit(0x0010, 0x0020, "LO", "ID-7");
    early.replace(10, 4, "DICM");
    early.replace(14, inner.Bytes().size(), inner.Bytes());
    TDicomFile file;
    try {
        file.LoadFromString(early);
    } catch (const std::exception&) {
        // what follows the early element is the rest of the preamble and the real marker
    }
    EXPECT_EQ(file.Elements().front(), "Patient ID=ID-7");

    EXPECT_EQ(ErrorOf([] { Load("no marker here"); }), "Invalid DICOM file format 1\r\nTag: ");
}

TEST(DicomFile, ImplicitVrUsesReadRulesAndTakesPixelsToTheEnd) {
    TDicomWriter w;
    w.Preamble().Meta("1.2.840.10008.1.2");
    w.Implicit(0x0028, 0x0010, std::string("\x02\x00", 2))
        .Implicit(0x0028, 0x0011, std::string("\x03\x00", 2));
    w.Implicit(0x0028, 0x0100, std::string("\x08\x00", 2))
        .Implicit(0x0028, 0x0101, std::string("\x08\x00", 2));
    w.Implicit(0x0028, 0x0102, std::string("\x07\x00", 2));
    w.Implicit(0x0028, 0x0008, "4 ");                               // frames: not consulted for implicit data
    w.Implicit(0x0018, 0x1310, std::string("\x41\x00\x42\x00", 4)); // a numeric element becomes raw text
    w.Implicit(0x7FE0, 0x0010, "abcdef").Raw("tail");
    const TDicomFile file = Load(w.Bytes());
    EXPECT_EQ(file.Value("Rows"), "2");
    EXPECT_EQ(file.Value("Columns"), "3");
    EXPECT_EQ(file.Value("Acquisition Matrix"), std::string("A\0B", 3));
    EXPECT_EQ(file.FrameCount(), 1);
    EXPECT_EQ(file.PixelFormat(), TPixelFormat::pf8bit);
    // The rest of the file: the 4 length bytes seen as the element's "VR" are skipped, then everything.
    ASSERT_EQ(file.PixelDataSize(), 10u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.PixelData()), 10), "abcdeftail");
}

TEST(DicomFile, ImplicitLengthThatSpellsAVrIsReadAsThatVr) {
    // 21333 = bytes "US": the element is read as explicit US with the next two bytes as length.
    TDicomWriter w;
    w.Preamble().Meta("1.2.840.10008.1.2").U16(0x0009).U16(0x0010).Raw("US").U16(2).U16(77);
    EXPECT_EQ(Load(w.Bytes()).Value("0009.0010"), "77");
}

// An implicit element takes its whole 32-bit length; text of 16 MiB or more is refused, as is
// explicit text of undefined length.
TEST(DicomFile, LongAndUndefinedLengths) {
    TDicomWriter implicit;
    implicit.Preamble().Meta("1.2.840.10008.1.2");
    implicit.U16(0x0009).U16(0x1001).U32(0x10000).Raw(std::string(0x10000, 'x'));
    implicit.Implicit(0x0010, 0x0010, "After^Long");
    TDicomFile file = Load(implicit.Bytes());
    EXPECT_EQ(file.Value("0009.1001"), "<65536bytes>");
    EXPECT_EQ(file.Value("Patient name"), "After^Long");

    TDicomWriter huge;
    huge.Preamble().Meta("1.2.840.10008.1.2").U16(0x0009).U16(0x1001).U32(0x1000000).Raw("abc");
    EXPECT_EQ(ErrorOf([&] { Load(huge.Bytes()); }), "Item size out of mind\r\nTag: 0009.1001");

    TDicomWriter undefinedText;
    undefinedText.Preamble().Meta("1.2.840.10008.1.2.1");
    undefinedText.ExplicitWithLength(0x0009, 0x1001, "UT", 0xFFFFFFFF, "");
    EXPECT_EQ(ErrorOf([&] { Load(undefinedText.Bytes()); }), "Item size out of mind\r\nTag: 0009.1001");
}

TEST(DicomFile, NumbersTagsAndTheirTexts) {
    struct Case {
        const char* vr;
        std::string bytes;
        const char* text;
    };
    const Case cases[] = {
        {"US", "\xFF\xFF", "65535"},
        {"SS", "\xFF\xFF", "-1"},
        {"US", std::string("\x01\x00\x02\x00", 4), "1|2"},
        {"UL", "\xFF\xFF\xFF\xFF", "4294967295"},
        {"SL", "\xFE\xFF\xFF\xFF", "-2"},
        {"FL", F32(2.75f), "2"},
        {"FL", F32(-2.75f), "-2"},
        {"FD", F64(4294967297.5), "1"}, // low 32 bits of the 64-bit integer
        {"FD", F64(1e30), "2147483647"},
        {"FD", F64(std::nan("")), "2147483647"},
        {"AT", std::string("\x28\x00\x10\x00", 4), "0028.0010"},
        {"US", "", ""},
    };
    for (const Case& c : cases) {
        TDicomWriter w;
        w.Preamble().Meta("1.2.840.10008.1.2.1").Explicit(0x0009, 0x1001, c.vr, c.bytes);
        EXPECT_EQ(Load(w.Bytes()).Value("0009.1001"), c.text) << c.vr;
    }
    TDicomWriter odd;
    odd.Preamble().Meta("1.2.840.10008.1.2.1").Explicit(0x0009, 0x1001, "UL", "abc");
    EXPECT_EQ(ErrorOf([&] { Load(odd.Bytes()); }), "Invalid item size\r\nTag: 0009.1001");
}

TEST(DicomFile, LongValuesAreCountedAndValuesTrimmed) {
    TDicomWriter w;
    w.Preamble().Meta("1.2.840.10008.1.2.1");
    w.Explicit(0x0009, 0x0001, "LT", std::string(1024, 'a'))
        .Explicit(0x0009, 0x0002, "LT", std::string(1025, 'b'));
    w.Explicit(0x0009, 0x0003, "LO", std::string(" \tpadded\0", 9));
    const TDicomFile file = Load(w.Bytes());
    EXPECT_EQ(file.Value("0009.0001"), std::string(1024, 'a'));
    EXPECT_EQ(file.Value("0009.0002"), "<1025bytes>");
    EXPECT_EQ(file.Value("0009.0003"), "padded");
}

TEST(DicomFile, LookupIgnoresCaseAndTakesTheFirstLine) {
    TDicomWriter w;
    w.Preamble().Meta("1.2.840.10008.1.2.1");
    w.Explicit(0x0008, 0x0060, "CS", "CT").Explicit(0x0008, 0x0060, "CS", "MR");
    const TDicomFile file = Load(w.Bytes());
    EXPECT_EQ(file.Value("modality"), "CT");
    EXPECT_EQ(file.Value("Modality "), "");
    EXPECT_EQ(file.Value("0008.1030"), "");

    // The same lookup on any element list, for the code that keeps lists of its own.
    const std::vector<std::string> lines = {"Rows=2", "Row=3", "Image type=A\\B=C", "Empty="};
    EXPECT_EQ(LookupValue(lines, "ROW"), "3");
    EXPECT_EQ(LookupValue(lines, "rows"), "2");
    EXPECT_EQ(LookupValue(lines, "image TYPE"), "A\\B=C");
    EXPECT_EQ(LookupValue(lines, "Empty"), "");
    EXPECT_EQ(LookupValue(lines, "Ro"), "");
    EXPECT_EQ(LookupValue(lines, ""), "");
}

TEST(DicomFile, Sequences) {
    TDicomWriter w;
    w.Preamble().Meta("1.2.840.10008.1.2.1");
    w.ExplicitWithLength(0x0008, 0x1140, "SQ", 0, "");
    // Undefined length, one defined item and one undefined item, then the delimiter.
    w.ExplicitWithLength(0x0008, 0x1150, "SQ", 0xFFFFFFFF, "");
    w.U16(0xFFFE).U16(0xE000).U32(5).Raw("first");
    w.U16(0xFFFE).U16(0xE000).U32(0xFFFFFFFF).Raw(std::string("sec\0ond", 7));
    w.U16(0xFFFE).U16(0xE0DD).U32(0);
    w.Explicit(0x0010, 0x0010, "PN", "After^Sequence");
    const TDicomFile file = Load(w.Bytes());
    ASSERT_GE(file.Elements().size(), 4u);
    EXPECT_EQ(file.Elements()[1], "0008.1140=");
    EXPECT_EQ(file.Value("0008.1150"), "first\r\nsec");
    EXPECT_EQ(file.Value("Patient name"), "After^Sequence");

    TDicomWriter bad;
    bad.Preamble().Meta("1.2.840.10008.1.2.1").ExplicitWithLength(0x0008, 0x1150, "SQ", 0xFFFFFFFF, "");
    bad.U16(0xFFFE).U16(0xE0DD).U32(4).U32(0);
    EXPECT_EQ(ErrorOf([&] { Load(bad.Bytes()); }), "Invalid item size\r\nTag: 0008.1150");
}

TEST(DicomFile, PixelDataAndItsSize) {
    // Explicit OW shorter than the image: padded with zeros to full size.
    auto shortPixels = Grey16(4, 2);
    shortPixels.Explicit(0x7FE0, 0x0010, "OW",
                         "AB\x03"
                         "D");
    TDicomFile file = Load(shortPixels.Bytes());
    EXPECT_EQ(file.PixelFormat(), TPixelFormat::pf16bit);
    ASSERT_EQ(file.PixelDataSize(), 16u);
    EXPECT_EQ(file.PixelData()[2], 3);
    EXPECT_EQ(file.PixelData()[15], 0);
    EXPECT_EQ(file.Elements().back(), "Pixel data=AB\x03"
                                      "D");

    // No pixel data at all: a zero image of full size.
    file = Load(Grey16(5, 3).Bytes());
    EXPECT_EQ(file.PixelDataSize(), 30u);

    // OB with a defined length arrives through the text rule; a long one is counted in its line.
    auto ob = Grey16(512, 512);
    ob.Explicit(0x7FE0, 0x0010, "OB", std::string(524288, '\x05'));
    file = Load(ob.Bytes());
    EXPECT_EQ(file.Elements().back(), "Pixel data=<524288bytes>");
    EXPECT_EQ(file.PixelData()[524287], 5);

    // An OW overlay before the pixel data is replaced by the full-size pixel data.
    auto overlay = Grey16(2, 1);
    overlay.Explicit(0x6000, 0x3000, "OW", "\x09\x09")
        .Explicit(0x7FE0, 0x0010, "OW", std::string("\x01\x00\x02\x00", 4));
    file = Load(overlay.Bytes());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.PixelData()), 4),
              std::string("\x01\x00\x02\x00", 4));

    TDicomWriter noImage;
    noImage.Preamble().Meta("1.2.840.10008.1.2.1").Explicit(0x7FE0, 0x0010, "OW", "\x01\x02");
    EXPECT_EQ(ErrorOf([&] { Load(noImage.Bytes()); }), "Invalid image size 1\r\nTag: Pixel data");

    TDicomWriter huge;
    huge.Preamble().Meta("1.2.840.10008.1.2.1").ExplicitWithLength(0x7FE0, 0x0010, "OB", 0x1000000, "");
    EXPECT_EQ(ErrorOf([&] { Load(huge.Bytes()); }), "Item size out of mind\r\nTag: Pixel data");
}

// Bytes handed over keep their pixels in place; what comes out is the same as from a copy.
TEST(DicomFile, HandedOverBytesGiveTheSamePixels) {
    auto full = Grey16(64, 64);
    std::vector<std::uint16_t> samples(64 * 64);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = std::uint16_t(i * 7);
    full.Explicit(0x7FE0, 0x0010, "OW", test::SampleBytes(samples));
    auto cut = Grey16(64, 64);
    cut.Explicit(0x7FE0, 0x0010, "OW", test::SampleBytes({1, 2, 3}).substr(0, 4)); // short: padded
    for (const std::string& bytes : {full.Bytes(), cut.Bytes()}) {
        const TDicomFile copied = Load(bytes);
        TDicomFile handed;
        handed.LoadFromString(std::string(bytes));
        ASSERT_EQ(handed.PixelDataSize(), copied.PixelDataSize());
        EXPECT_EQ(std::memcmp(handed.PixelData(), copied.PixelData(), copied.PixelDataSize()), 0);
        EXPECT_EQ(handed.Elements(), copied.Elements());
    }
}

TEST(DicomFile, PixelFormats) {
    struct Case {
        int allocated, stored, high, samples;
        TPixelFormat format;
        const char* error;
    };
    const Case cases[] = {
        {8, 8, 7, 3, TPixelFormat::pf24bit, nullptr},
        {16, 12, 11, 1, TPixelFormat::pf16bit, nullptr},
        {32, 32, 31, 1, TPixelFormat::pf32bit, nullptr},
        {16, 12, 15, 1, TPixelFormat::pf8bit, "Illegal pixel size 1"},
        {12, 12, 11, 1, TPixelFormat::pf8bit, "Illegal pixel size 1"},
        {64, 64, 63, 1, TPixelFormat::pf8bit, "Invalid pixel size"},
    };
    for (const Case& c : cases) {
        TDicomWriter w;
        w.Preamble().Meta("1.2.840.10008.1.2.1").US(0x0028, 0x0002, static_cast<std::uint16_t>(c.samples));
        w.US(0x0028, 0x0100, static_cast<std::uint16_t>(c.allocated));
        w.US(0x0028, 0x0101, static_cast<std::uint16_t>(c.stored))
            .US(0x0028, 0x0102, static_cast<std::uint16_t>(c.high));
        if (c.error) {
            EXPECT_EQ(ErrorOf([&] { Load(w.Bytes()); }), std::string(c.error) + "\r\nTag: High Bit");
        } else {
            EXPECT_EQ(Load(w.Bytes()).PixelFormat(), c.format) << c.allocated << " " << c.samples;
        }
    }
    TDicomWriter bare;
    bare.Preamble().Meta("1.2.840.10008.1.2.1");
    EXPECT_EQ(Load(bare.Bytes()).PixelFormat(), TPixelFormat::pf8bit);
}

TEST(DicomFile, NumbersFromTheElements) {
    struct Case {
        const char* sliceLocation;
        const char* position;
        std::int32_t slice;
    };
    const Case cases[] = {
        {"-12.5", "", -12500}, {"1.005", "", 1005}, {"", "1\\2\\3.25", 3250}, {"", "1\\2", 0}, {"abc", "", 0},
        {" +7 ", "", 7000},    {"", "", 0},
    };
    for (const Case& c : cases) {
        TDicomWriter w;
        w.Preamble().Meta("1.2.840.10008.1.2.1").Explicit(0x0020, 0x0013, "IS", "42");
        if (*c.sliceLocation) w.Explicit(0x0020, 0x1041, "DS", c.sliceLocation);
        if (*c.position) w.Explicit(0x0020, 0x0032, "DS", c.position);
        const TDicomFile file = Load(w.Bytes());
        EXPECT_EQ(file.SlicePosition(), c.slice) << c.sliceLocation << c.position;
        EXPECT_EQ(file.ImageNumber(), 42);
    }
    TDicomWriter far;
    far.Preamble().Meta("1.2.840.10008.1.2.1").Explicit(0x0020, 0x1041, "DS", "3000000");
    EXPECT_EQ(ErrorOf([&] { Load(far.Bytes()); }), "Range check error\r\nTag: Slice location");

    TDicomWriter frames;
    frames.Preamble().Meta("1.2.840.10008.1.2.1").US(0x0028, 0x0010, 1).US(0x0028, 0x0011, 1);
    frames.Explicit(0x0028, 0x0008, "IS", "3").Explicit(0x7FE0, 0x0010, "OW", "\x01\x02\x03");
    const TDicomFile three = Load(frames.Bytes());
    EXPECT_EQ(three.FrameCount(), 3);
    EXPECT_EQ(three.PixelDataSize(), 3u);
}

// Columns, rows and frames outside 0 to 65535 fail the read with the range error, also as texts
// of more than 32 bits or of a negative count; a frame count of 0 or one that is no number is 1.
TEST(DicomFile, ColumnsRowsAndFramesOutsideTheirRange) {
    const struct {
        const char* Columns;
        const char* Rows;
        const char* Frames; // nullptr: no "0028.0008", and OB pixel data that the walk does not measure
        int Width, Height, FrameCount; // -1: the range error
    } cases[] = {
        {"2", "3", nullptr, 2, 3, 1},
        {"65535", "1", "0", 65535, 1, 1},
        {"1", "1", "65535", 1, 1, 65535},
        {"1", "1", "three", 1, 1, 1},
        {"+4", "1", "+2", 4, 1, 2},
        {"65536", "1", nullptr, -1, -1, -1},
        {"-1", "1", nullptr, -1, -1, -1},
        {"4294967296", "1", nullptr, -1, -1, -1},
        {"1", "99999999999999999999999", nullptr, -1, -1, -1},
        {"1", "4294967296", "1", -1, -1, -1},
        {"1", "-99999999999999999999999", nullptr, -1, -1, -1},
        {"1", "1", "-3", -1, -1, -1},
        {"1", "1", "65536", -1, -1, -1},
        {"1", "1", "4294967297", -1, -1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Columns) + " x " + c.Rows + " x " + (c.Frames ? c.Frames : "none"));
        TDicomWriter w;
        w.Preamble().Meta("1.2.840.10008.1.2.1");
        w.Explicit(0x0028, 0x0010, "IS", c.Rows).Explicit(0x0028, 0x0011, "IS", c.Columns);
        if (c.Frames) w.Explicit(0x0028, 0x0008, "IS", c.Frames);
        w.Explicit(0x7FE0, 0x0010, c.Frames ? "OW" : "OB", "\x01\x02");
        TDicomFile file;
        if (c.Width < 0) {
            EXPECT_EQ(ErrorOf([&] { file.LoadFromString(w.Bytes()); }),
                      "Range check error\r\nTag: Pixel data");
            EXPECT_THROW(file.LoadFromString(w.Bytes()), WRangeError);
            continue;
        }
        file.LoadFromString(w.Bytes());
        EXPECT_EQ(file.Width(), c.Width);
        EXPECT_EQ(file.Height(), c.Height);
        EXPECT_EQ(file.FrameCount(), c.FrameCount);
        EXPECT_EQ(file.PixelDataSize(), std::max(2u, std::uint32_t(c.Width * c.Height * c.FrameCount)));
    }
}

// What is still not read: video (MPEG-2, HEVC), JPIP references, private syntaxes, none.
TEST(DicomFile, TransferSyntaxesNotRead) {
    for (const char* syntax : {"1.2.840.10008.1.2.4.100", "1.2.840.10008.1.2.4.107", "1.2.840.10008.1.2.4.94",
                               "1.2.276.0.7230010.3.1.4.2831176407.1", ""}) {
        TDicomWriter w;
        w.Preamble();
        if (*syntax) w.Meta(syntax);
        w.Explicit(0x0010, 0x0010, "PN", "X");
        EXPECT_EQ(ErrorOf([&] { Load(w.Bytes()); }),
                  std::string("Unsuported transfer syntax ") + syntax + "\r\nTag: Patient name");
    }
}

TEST(DicomFile, FailureKeepsTheLinesAndAddsErrorAndDump) {
    auto w = Grey16(2, 2);
    w.Explicit(0x0010, 0x0010, "PN", "Kept^Line").U16(0x0009).U16(0x1000).Raw("UL").U16(4).Raw("\x01\x02");
    const std::string bytes = w.Bytes();
    TDicomFile file;
    // A previous good read leaves its numbers.
    file.LoadFromString(Grey16(7, 9).Bytes());
    EXPECT_EQ(ErrorOf([&] { file.LoadFromString(bytes); }), "Input stream overflow 4\r\nTag: 0009.1000");
    const auto& lines = file.Elements();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(file.Value("Patient name"), "Kept^Line");
    const std::size_t cursor = bytes.size() - 2;
    EXPECT_EQ(lines[lines.size() - 2],
              "0009.1000=(" + std::to_string(cursor) + ") ERROR: Input stream overflow 4");
    EXPECT_EQ(lines.back(), "DUMP=... 09 00 00 10 55 4C 04 00 # 01 02 ");
    EXPECT_EQ(file.PixelDataSize(), 0u);
    EXPECT_EQ(file.Width(), 7);
}

TEST(DicomFile, ClearAndFreePixelData) {
    auto w = Grey16(2, 2);
    TDicomFile file = Load(w.Bytes());
    file.FreePixelData();
    EXPECT_EQ(file.PixelDataSize(), 0u);
    EXPECT_EQ(file.Value("columns"), "2");
    file.Clear();
    EXPECT_TRUE(file.Elements().empty());
}

TEST(DicomFile, LoadFromFilePassesOpenErrorsOn) {
    TDicomFile file;
    const std::string message = ErrorOf([&] { file.LoadFromFile("/nonexistent/x.dcm"); });
    EXPECT_NE(message.find("Cannot open file \"/nonexistent/x.dcm\""), std::string::npos) << message;
}

class TShiftHost : public THeadlessHost {
public:
    bool ShiftHeld() override { return true; }
};

TEST(DicomFile, DiagnosticDumpWhileShiftIsHeld) {
    test::TTempDir cache;
    setenv("XDG_CACHE_HOME", cache.Path().c_str(), 1);
    TShiftHost shift;
    const TScopedHost scoped(shift);
    auto w = Grey16(2, 1);
    w.Explicit(0x7FE0, 0x0010, "OW", "\x01\x02\x03\x04");
    Load(w.Bytes());
    const auto base = cache.Path() / "tarvicon" / "dicom_tests";
    const std::string lines = test::ReadFile(base.string() + ".txt");
    EXPECT_NE(lines.find("Columns=2\n"), std::string::npos);
    EXPECT_EQ(test::ReadFile(base.string() + ".dat"), "\x01\x02\x03\x04");
    unsetenv("XDG_CACHE_HOME");
}

} // namespace
} // namespace tarvicon
