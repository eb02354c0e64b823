// Broken files: a real file cut at every length and real files with bytes flipped. The reader
// ends each with a sound result or its own message naming the element; the sanitizer build
// checks that nothing is read or written outside a buffer.

#include "dicom/Dicoms.h"
#include "support/TestSupport.h"
#include "util/Errors.h"
#include "util/Host.h"

#include <gtest/gtest.h>
#include <random>

namespace tarvicon {
namespace {

class TQuietHost : public THeadlessHost {
public:
    void Notice(const std::string&) override {}
};

// Loads the bytes; a failure must carry the element key line and leave no pixels.
void ExpectSoundEnd(const std::string& bytes, const std::string& what) {
    TDicomFile file;
    try {
        file.LoadFromString(bytes);
        const std::uint64_t image =
            std::uint64_t(file.Width()) * file.Height() * file.FrameCount() * file.BytesPerPixel();
        ASSERT_GE(file.PixelDataSize(), image) << what;
    } catch (const WException& error) {
        ASSERT_NE(std::string(error.what()).find("\r\nTag: "), std::string::npos) << what;
        ASSERT_EQ(file.PixelDataSize(), 0u) << what;
        ASSERT_GE(file.Elements().size(), 2u) << what;
        ASSERT_EQ(file.Elements().back().rfind("DUMP=... ", 0), 0u) << what;
    }
}

TEST(Robustness, RealFileCutAtEveryLength) {
    const std::string bytes = test::ReadFile(test::PydicomTestFiles() / "CT_small.dcm");
    ASSERT_GT(bytes.size(), 30000u);
    for (std::size_t length = 0; length <= bytes.size(); ++length)
        ExpectSoundEnd(bytes.substr(0, length), "cut at " + std::to_string(length));
}

TEST(Robustness, CompressedFileCutAtEveryLength) {
    TQuietHost quiet;
    const TScopedHost scoped(quiet);
    for (const char* name : {"jpeg_rgb8x2.dcm", "jls_gray8.dcm", "jls_rgb8.dcm"}) {
        const std::string bytes = test::ReadFile(test::Fixtures() / name);
        for (std::size_t length = 0; length <= bytes.size(); ++length)
            ExpectSoundEnd(bytes.substr(0, length), std::string(name) + " cut at " + std::to_string(length));
    }
}

TEST(Robustness, BytesFlippedAtRandom) {
    TQuietHost quiet;
    const TScopedHost scoped(quiet);
    std::mt19937 random(20261210);
    const std::pair<std::filesystem::path, int> sources[] = {
        {test::PydicomTestFiles() / "CT_small.dcm", 1500},
        {test::PydicomTestFiles() / "MR_small_implicit.dcm", 500},
        {test::Fixtures() / "jpeg_gray16x3.dcm", 1500},
        {test::Fixtures() / "jpeg_rgb8.dcm", 500},
        {test::Fixtures() / "jls_gray16.dcm", 500},
    };
    for (const auto& [path, cases] : sources) {
        const std::string original = test::ReadFile(path);
        ASSERT_FALSE(original.empty()) << path;
        for (int c = 0; c < cases; ++c) {
            std::string bytes = original;
            const int flips = 1 + static_cast<int>(random() % 8);
            for (int f = 0; f < flips; ++f)
                bytes[random() % bytes.size()] = static_cast<char>(random() & 0xFF);
            ExpectSoundEnd(bytes, path.filename().string() + " case " + std::to_string(c));
        }
    }
}

} // namespace
} // namespace tarvicon
