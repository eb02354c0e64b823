// Every one of pydicom's own test files, read as the viewer reads it, against the outcome and
// pixel bytes of reference decoders (pydicom, DCMTK) that make_fixtures.py recorded.

#include "dicom/Dicoms.h"
#include "support/TestSupport.h"

#include <algorithm>
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

// Files the reader's own rules read otherwise than pydicom does, with what the reader gives.
struct TDeparture {
    const char* Path;
    const char* Message; // empty: accepted, but its pixel bytes are not the reference's
    const char* Why;
};
const TDeparture kDepartures[] = {
    {"UN_sequence.dcm", "Item size out of mind", "UN is text to the reader; undefined length is too long"},
    {"waveform_ecg.dcm", "Invalid image size 1",
     "every OW is pixel data to the reader, also one without an image"},
    {"nested_priv_SQ.dcm", "",
     "an implicit sequence of undefined length is text of 65535 bytes: it swallows the pixels"},
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
            if (entry.Raw.empty()) continue;
            const std::string reference = test::ReadFile(test::Fixtures() / "pydicom" / entry.Raw);
            // The reader's buffer is the stored bytes, padded with zeros to the full image size
            // (implicit pixel data runs to the end of the file).
            ASSERT_GE(file.PixelDataSize(), reference.size());
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.PixelData()), reference.size()),
                      reference);
            continue;
        }
        ++refused;
        EXPECT_NE(message, "") << "accepted, expected " << entry.Detail;
        if (message.empty()) continue;
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
