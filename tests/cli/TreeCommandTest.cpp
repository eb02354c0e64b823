#include "catalogue/Protection.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <memory>
#include <regex>

namespace tarvicon {
namespace {

namespace fs = std::filesystem;

test::TProcessResult Cli(std::vector<std::string> args, std::vector<std::string> environment = {}) {
    args.insert(args.begin(), (test::BinDir() / "tarvicon-cli").string());
    return test::RunProcess(args, environment);
}

// The real CT and MR images of pydicom, protected under their file names with a key, and an
// index document that selects the CT instance and not the MR one.
class ProtectedStudy : public ::testing::Test {
protected:
    void SetUp() override {
        documents = folder.Path() / "documents";
        // The writer side runs in this process: point its documents folder at the test's own.
        documentsEnv = std::make_unique<test::TScopedEnv>("XDG_DOCUMENTS_DIR", documents.string());
        for (const char* name : {"CT_small.dcm", "MR_small.dcm"})
            WriteProtectedFile(name, "secret", test::ReadFile(test::PydicomTestFiles() / name));
        index = (folder.Path() / "index.xml").string();
        test::WriteFile(index, R"(<studies><patient><study>
            <series><selected>1</selected><instance key="CT_small.dcm"/></series>
            <series><selected>0</selected><instance key="MR_small.dcm"/></series>
            </study></patient></studies>)");
    }
    test::TTempDir folder;
    std::unique_ptr<test::TScopedEnv> documentsEnv;
    fs::path documents;
    std::string index;
};

TEST_F(ProtectedStudy, ReadsBackThroughTheIndexWithTheKey) {
    const std::string env = "XDG_DOCUMENTS_DIR=" + documents.string();
    const auto result = Cli({"tree", "-ksecret", index}, {env});
    ASSERT_EQ(result.Status, 0) << result.Err;
    EXPECT_NE(result.Out.find("(CT)  [#"), std::string::npos) << result.Out;
    EXPECT_NE(result.Out.find(" 128x128x1 px2 "), std::string::npos) << result.Out;
    EXPECT_EQ(result.Out.find("(MR)"), std::string::npos) << result.Out; // its series is not selected

    // The same document read plainly with a prefix gives the same tree.
    const auto plain = Cli({"tree", "-w" + test::PydicomTestFiles().string() + "/", index});
    ASSERT_EQ(plain.Status, 0) << plain.Err;
    const auto withoutSerials = [](const std::string& text) {
        return std::regex_replace(text, std::regex("#[0-9]+"), "#");
    };
    EXPECT_EQ(withoutSerials(plain.Out), withoutSerials(result.Out));

    // A wrong key unscrambles to bytes that hold no image: an error-free tree without a picture.
    const auto wrong = Cli({"tree", "-kwrong", index}, {env});
    EXPECT_NE(wrong.Status, -1);
    EXPECT_EQ(wrong.Out.find(" 128x128x1 px2 "), std::string::npos) << wrong.Out;
}

TEST(TreeCommand, UsageAndBadIndexDocuments) {
    EXPECT_EQ(Cli({"tree"}).Status, 2);
    test::TTempDir folder;
    const auto bad = folder.Path() / "bad.xml";
    test::WriteFile(bad, "<studies><series></studies>");
    const auto result = Cli({"tree", "-wx", bad.string()});
    EXPECT_EQ(result.Status, 1);
    EXPECT_EQ(result.Err.rfind("Start-end tags mismatch\r\n", 0), 0u) << result.Err;
}

TEST(TreeCommand, NothingToShowIsAFailure) {
    test::TTempDir folder;
    const std::string none = (folder.Path() / "none").string();
    const auto missing = Cli({"tree", none});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Err, "No such file or folder: " + none + "\n");
    const std::string empty = (folder.Path() / "empty").string();
    std::filesystem::create_directories(empty);
    const auto nothing = Cli({"tree", empty});
    EXPECT_EQ(nothing.Status, 1);
    EXPECT_EQ(nothing.Out, "");
    EXPECT_EQ(nothing.Err, "No DICOM files found in " + empty + "\n");
}

TEST(CommandLineHelp, EveryCommandShowsItsWholeUsageWithAnExample) {
    for (const std::string command : {"dump", "tree", "params", "lut", "render"}) {
        const auto help = Cli({command, "--help"});
        EXPECT_EQ(help.Status, 0) << command;
        EXPECT_EQ(help.Out.rfind("usage: tarvicon-cli " + command + " ", 0), 0u) << help.Out;
        EXPECT_NE(help.Out.find("\nExample:\n  tarvicon-cli " + command + " "), std::string::npos)
            << help.Out;
    }
    const auto program = Cli({"--help"});
    EXPECT_EQ(program.Status, 0);
    for (const char* command : {"dump", "tree", "params", "lut", "render"})
        EXPECT_NE(program.Out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
    // Without a command: the same text as bad usage.
    const auto bare = Cli({});
    EXPECT_EQ(bare.Status, 2);
    EXPECT_EQ(bare.Err, program.Out);
    // A mistyped command is named before the usage.
    const auto typo = Cli({"rendr", "sample"});
    EXPECT_EQ(typo.Status, 2);
    EXPECT_EQ(typo.Err, "tarvicon-cli: no command \"rendr\"\n\n" + program.Out);
}

} // namespace
} // namespace tarvicon
