// Every one of pydicom's own test files, read as the viewer reads it, against the outcome and
// pixel bytes of reference decoders (pydicom, DCMTK) that make_fixtures.py recorded.

#include "dicom/Dicoms.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tarvicon {
namespace {

// Messages the reader may end with on a file it refuses.
const char* const kReaderMessages[] = {
    "Invalid DICOM file format 1", "Input stream overflow 2", "Input stream overflow 4",
    "Input stream overflow 4a",    "Invalid item size",       "Item size out of mind",
    "Invalid image size 1",        "Illegal pixel size 1",    "Invalid pixel size",
    "Unsuported transfer syntax ", "Range check error",
};

struct TManifestLine {
    std::string Path, Outcome, Detail, Raw;
};

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
        if (!entry.Path.empty()) lines.push_back(entry);
    }
    return lines;
}

TEST(RealFiles, EveryPydicomTestFileEndsAsTheReaderPrescribes) {
    const auto manifest = Manifest();
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
        if (entry.Outcome == "ok") {
            ASSERT_EQ(message, "");
            ++accepted;
            if (entry.Raw.empty()) continue;
            const std::string reference = test::ReadFile(test::Fixtures() / "pydicom" / entry.Raw);
            // The reader's buffer is the stored bytes, padded with zeros to the full image size
            // (implicit pixel data runs to the end of the file).
            ASSERT_GE(file.PixelDataSize(), reference.size());
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.PixelData()), reference.size()), reference);
            continue;
        }
        ++refused;
        ASSERT_NE(message, "") << "accepted, expected " << entry.Detail;
        EXPECT_NE(message.find("\r\nTag: "), std::string::npos);
        const std::string first = message.substr(0, message.find("\r\n"));
        if (entry.Outcome == "error" && entry.Detail.rfind("Unsuported transfer syntax ", 0) != 0) {
            EXPECT_EQ(first, entry.Detail);
            continue;
        }
        // Files in other transfer syntaxes end with that syntax named, unless the walk, which reads
        // every file as little endian, stumbles first (big-endian and deflated data).
        bool known = false;
        for (const char* m : kReaderMessages) known |= first.rfind(m, 0) == 0;
        EXPECT_TRUE(known) << first;
        if (first.rfind("Unsuported transfer syntax ", 0) == 0 && entry.Outcome == "error") {
            EXPECT_EQ(first, entry.Detail);
        }
    }
    EXPECT_GT(accepted, 100);
    EXPECT_GT(refused, 40);
}

} // namespace
} // namespace tarvicon
