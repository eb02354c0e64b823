#include "util/Folders.h"

#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace tarvicon {
namespace {

namespace fs = std::filesystem;
using test::TScopedEnv;
using test::TTempDir;
using test::WriteFile;

TEST(Folders, ExistingFolderOrParentWalksUpToAnExistingFolder) {
    const TTempDir temp;
    const std::string root = temp.Path().string();
    fs::create_directories(temp.Path() / "a" / "b");
    WriteFile(temp.Path() / "a" / "file.dcm", "x");
    const TScopedEnv documents("XDG_DOCUMENTS_DIR", root + "/docs");

    const struct {
        std::string stored, folder;
    } cases[] = {
        {root + "/a/b", root + "/a/b"},
        {root + "/a/b/deleted/deeper", root + "/a/b"},
        {root + "/a/gone/", root + "/a"},
        {"  \t" + root + "/a/b/deleted  ", root + "/a/b"},
        {root + "/a/file.dcm", root + "/a"}, // a file is not a folder
        {"", root + "/docs/Melvor2/DICOM"},
        {"   ", root + "/docs/Melvor2/DICOM"},
        {"/no-such-top-folder/x", root + "/docs/Melvor2/DICOM"},
        {"relative-and-missing", root + "/docs/Melvor2/DICOM"},
    };
    for (const auto& c : cases) EXPECT_EQ(ExistingFolderOrParent(c.stored), c.folder) << c.stored;
}

TEST(Folders, DocumentsFolderFromTheEnvironment) {
    {
        const TScopedEnv documents("XDG_DOCUMENTS_DIR", "/srv/papers");
        EXPECT_EQ(DocumentsFolder(), "/srv/papers");
    }
    {
        const TScopedEnv documents("XDG_DOCUMENTS_DIR", "");
        const TScopedEnv home("HOME", "/home/reader");
        EXPECT_EQ(DocumentsFolder(), "/home/reader/Documents");
        EXPECT_EQ(ExistingFolderOrParent(""), "/home/reader/Documents/Melvor2/DICOM");
    }
    {
        const TScopedEnv documents("XDG_DOCUMENTS_DIR", "");
        const TScopedEnv home("HOME", "");
        EXPECT_EQ(ExistingFolderOrParent("/no-such-top-folder"), "");
    }
}

TEST(Folders, SelectionSizeBelow100OrMissingBecomes800) {
    const struct {
        std::optional<int> stored;
        int size;
    } cases[] = {{std::nullopt, 800}, {0, 800},   {-5, 800},  {50, 800},
                 {99, 800},           {100, 100}, {600, 600}, {4000, 4000}};
    for (const auto& c : cases) EXPECT_EQ(SelectionSizeOrDefault(c.stored), c.size) << c.stored.value_or(-1);
}

} // namespace
} // namespace tarvicon
