#include "util/Utilities.h"

#include "support/TestSupport.h"
#include "util/Errors.h"
#include "util/Folders.h"
#include "util/Host.h"
#include "util/Progress.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

namespace tarvicon {
namespace {

using test::ErrorOf;

struct TRecordingSink : IProgressSink {
    struct TShown {
        int Bar;
        std::string Title, Text, Detail;
    };
    std::vector<TShown> shown;
    int started = 0, ended = 0;
    bool cancel = false;
    void Started() override { ++started; }
    void Show(int bar, const std::string& title, const std::string& text,
              const std::string& detail) override {
        shown.push_back({bar, title, text, detail});
    }
    bool CancelRequested() override { return cancel; }
    void Ended() override { ++ended; }
};

struct TSinkScope {
    explicit TSinkScope(IProgressSink& sink) { SetProgressSink(&sink); }
    ~TSinkScope() { SetProgressSink(nullptr); }
};

TEST(Progress, RunRulesAndWhatTheSinkShows) {
    TRecordingSink sink;
    TSinkScope scope(sink);
    EXPECT_EQ(ErrorOf([] { UpdateProgress(1, 2, "x"); }), "Progress dialog not active");
    EXPECT_EQ(ErrorOf([] { EndProgress(); }), "Progress dialog not active");

    EXPECT_TRUE(StartProgress("Loading"));
    EXPECT_EQ(ErrorOf([] { StartProgress("again"); }), "Progress dialog already active");
    ASSERT_EQ(sink.shown.size(), 1u);
    EXPECT_EQ(sink.shown[0].Bar, 0);
    EXPECT_EQ(sink.shown[0].Text, "...");
    EXPECT_EQ(sink.shown[0].Detail, " ");

    EXPECT_TRUE(UpdateProgress(5, 0, "full"));         // a maximum below 1 counts as 1
    EXPECT_TRUE(UpdateProgress(50, 200, "x"));         // title and detail kept
    EXPECT_TRUE(UpdateProgress(1, 3, "", "New", "d")); // an empty text empties the line
    EXPECT_EQ(sink.shown[1].Bar, 100);
    EXPECT_EQ(sink.shown[2].Bar, 25);
    EXPECT_EQ(sink.shown[2].Title, "Loading");
    EXPECT_EQ(sink.shown[2].Detail, " ");
    EXPECT_EQ(sink.shown[3].Bar, 33);
    EXPECT_EQ(sink.shown[3].Title, "New");
    EXPECT_EQ(sink.shown[3].Text, "");
    EXPECT_EQ(sink.shown[3].Detail, "d");

    sink.cancel = true;
    EXPECT_FALSE(UpdateProgress(2, 3, "cancelled"));
    sink.cancel = false;
    EXPECT_FALSE(UpdateProgress(3, 3, "still cancelled"));
    EndProgress();
    EXPECT_EQ(sink.ended, 1);
    {
        TProgressRun run("Again");
        EXPECT_TRUE(UpdateProgress(1, 2, "a new run starts uncancelled"));
    }
    EXPECT_FALSE(ProgressActive()); // the scope closed it
}

TEST(Utilities, SpecialFolders) {
    EXPECT_EQ(SpecialFolder("exedir"), ExeDir());
    EXPECT_EQ(SpecialFolder("ExeDir").back(), '/');
    EXPECT_EQ(SpecialFolder("Cache"), CacheFolder());
    EXPECT_EQ(ErrorOf([] { SpecialFolder("Favorites"); }), "Special folder \"Favorites\" - not found");
}

struct TFixedClock : THeadlessHost {
    std::uint64_t TickCount() override { return 0xABC; }
};

TEST(Utilities, TempFileNamesNeverRepeatAnExistingFile) {
    TFixedClock clock;
    TScopedHost host(clock);
    const std::string first = TempFileName("Tarvicon", ".cubetmp");
    const std::string second = TempFileName("Tarvicon", ".cubetmp");
    const std::string prefix = CacheFolder() + "QXTarvicon00000ABC";
    ASSERT_EQ(first.rfind(prefix, 0), 0u) << first;
    EXPECT_EQ(first.size(), prefix.size() + 4 + 8);
    EXPECT_NE(first, second); // the counter differs

    // After a whole round of the counter the name would repeat; a name whose file exists is skipped.
    test::WriteFile(second, "taken");
    std::string again;
    for (int i = 0; i < 2047; ++i) again = TempFileName("Tarvicon", ".cubetmp");
    EXPECT_NE(again, second);
    std::filesystem::remove(second);
}

TEST(Utilities, DicomDates) {
    const std::pair<const char*, const char*> cases[] = {
        {"20201231", "31.12.2020"},
        {"19000101", "1.1.1900"},
        {"20210101", "20210101"},
        {"19990230", "19990230"},
        {"20000229", "29.2.2000"},
        {"19000229", "19000229"},
        {"", ""},
        {"2001x231", "2001x231"},
        {"20010100", "20010100"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(DicomDateToText(text), expected) << text;
}

TEST(Utilities, FileMasksAndLockKeys) {
    test::TTempDir folder;
    test::WriteFile(folder.Path() / ".hidden.dcm", "x");
    EXPECT_TRUE(FileExistsByMask((folder.Path() / "*.dcm").string()));
    EXPECT_FALSE(FileExistsByMask((folder.Path() / "*.cub").string()));

    struct TCapsHost : THeadlessHost {
        bool CapsLockToggled() override { return true; }
    } caps;
    EXPECT_FALSE(KeyToggled(TLockKey::CapsLock));
    TScopedHost host(caps);
    EXPECT_TRUE(KeyToggled(TLockKey::CapsLock));
}

} // namespace
} // namespace tarvicon
