// Every kind of malformed input the core takes from outside, against one session that holds a
// parameter tree, a loaded study and a cube: each ends in its message, and what the session held
// before stays as it was. A bad file in a load run is filed beside the study, as an error node.

#include "catalogue/DicomTrees.h"
#include "catalogue/Protection.h"
#include "config/ConfigDocuments.h"
#include "config/Schema.h"
#include "support/Cubes.h"
#include "support/StudyFiles.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>

namespace tarvicon {
namespace {

namespace fs = std::filesystem;

struct TSession {
    TSession() : Documents("XDG_DOCUMENTS_DIR", (Folder.Path() / "Documents").string()) {
        Parameters->FindNode("detail/slice")->SetText("7");
        Parameters->FindNode("detail/zoom")->SetText("3");
        Parameters->FindNode("detail/colormapping/coloring/background/R")->SetText("40");
        fs::create_directory(Folder.Path() / "study");
        for (int i = 0; i < 2; ++i) {
            test::TImage image;
            image.Number = std::to_string(i + 1);
            image.Position = i;
            test::WriteFile(Folder.Path() / "study" / std::to_string(i), test::ImageFile(image));
        }
        Tree.OperationPause = 0;
        Tree.AddFolder((Folder.Path() / "study").string());
        LoadToEnd(Tree);
        Cube.SetMetrics({500, 600, 700});
        for (std::uint32_t i = 0; i < Cube.ByteSize(); ++i) Cube.Voxels()[i] = std::uint8_t(i * 7);
    }

    std::string Path(const std::string& name, const std::string& content) const {
        const fs::path path = Folder.Path() / name;
        test::WriteFile(path, content);
        return path.string();
    }
    std::string Missing() const { return (Folder.Path() / "missing").string(); }

    // The bad files of a load run are filed beside what was there: the lines of the new nodes,
    // unindented, while every line of before stays.
    std::string LoadFiles(const std::vector<std::string>& paths) {
        const auto lines = [](const std::string& outline) {
            std::vector<std::string> result;
            std::istringstream in(outline);
            for (std::string line; std::getline(in, line);)
                result.push_back(line.substr(std::min(line.find_first_not_of(' '), line.size())));
            return result;
        };
        std::vector<std::string> before = lines(test::Outline(Tree));
        Tree.AddFiles(paths);
        EXPECT_EQ(LoadToEnd(Tree), "");
        std::string added;
        for (const std::string& line : lines(test::Outline(Tree))) {
            const auto kept = std::find(before.begin(), before.end(), line);
            if (kept != before.end())
                before.erase(kept);
            else
                added += "\n" + line;
        }
        EXPECT_TRUE(before.empty()) << "lost: " << before.front();
        return added;
    }

    std::string CubeState() const {
        std::ostringstream out;
        out << Cube.Width() << "x" << Cube.Height() << "x" << Cube.Depth() << "x" << Cube.PixelSize() << " "
            << Cube.Metrics().X << "," << Cube.Metrics().Y << "," << Cube.Metrics().Z << " "
            << Cube.Origin().X << "," << Cube.Origin().Y << "," << Cube.Origin().Z << " "
            << std::string(reinterpret_cast<const char*>(Cube.Voxels()), Cube.ByteSize());
        return out.str();
    }

    test::TTempDir Folder;
    test::TScopedEnv Documents;
    std::unique_ptr<TConfigNode> Parameters = CreateParameterTree();
    TDicomTree Tree;
    TPixelCube Cube = test::MakeCube(3, 2, 2);
};

std::string Cuboid(const TPixelCube& cube) {
    TPixelCube copy = cube;
    std::stringstream stream;
    copy.SaveToStream(stream);
    return stream.str();
}

TEST(BadInputs, EachEndsInItsMessageAndKeepsTheSession) {
    using TAct = std::function<std::string(TSession&)>;
    const auto raises = [](std::function<void(TSession&)> action) -> TAct {
        return [action](TSession& s) { return test::ErrorOf([&] { action(s); }); };
    };
    const auto configuration = [](std::string text) {
        return [text](TSession& s) {
            TConfigDocument document;
            LoadConfiguration(document, s.Path("tarvicon.cfg", text), *s.Parameters);
        };
    };
    const std::string image = test::ImageFile(test::TImage());
    const struct {
        const char* What;
        TAct Act;
        std::string Message; // the start of the error text, or of a line of the nodes filed
    } cases[] = {
        // Value texts.
        {"word value above its range",
         raises([](TSession& s) { s.Parameters->FindNode("detail/slice")->SetText("70000"); }),
         "Range check error"},
        {"byte value below its range", raises([](TSession& s) {
             s.Parameters->FindNode("detail/colormapping/coloring/background/R")->SetText("-1");
         }),
         "Range check error"},
        // Parameter snapshots.
        {"snapshot not well-formed",
         raises([](TSession& s) { s.Parameters->LoadFromString("<configuration><preset><detail>"); }),
         "Start-end tags mismatch\r\n"},
        {"empty snapshot", raises([](TSession& s) { s.Parameters->LoadFromString(""); }),
         "No document element found\r\n"},
        {"snapshot of binary bytes",
         raises([](TSession& s) { s.Parameters->LoadFromString(std::string("\0\xFF\xFE<x", 5)); }),
         "No document element found\r\n"},
        {"snapshot value out of range", raises([](TSession& s) {
             s.Parameters->LoadFromString(
                 "<configuration><preset><detail><slice>70000</slice></detail></preset></configuration>");
         }),
         "Range check error"},
        // Configuration documents.
        {"configuration document missing", raises([](TSession& s) {
             TConfigDocument document;
             LoadConfiguration(document, s.Missing(), *s.Parameters);
         }),
         "File was not found\r\n"},
        {"configuration document not well-formed",
         raises(configuration("<initialize>\n<preset>\n</initialize>")), "Start-end tags mismatch\r\n"},
        {"configuration reference without its definition",
         raises(configuration("<initialize><preset><detail><colormapping><coloring id=\"gone\"/>"
                              "</colormapping></detail></preset></initialize>")),
         "Cannot find configuration node coloring.gone"},
        // Index documents.
        {"index document not well-formed", raises([](TSession& s) {
             s.Tree.LoadIndex("", "", s.Path("index.xml", "<studies><series></studies>"));
         }),
         "Start-end tags mismatch\r\n"},
        {"index document missing", raises([](TSession& s) { s.Tree.LoadIndex("", "", s.Missing()); }),
         "File was not found\r\n"},
        // DICOM files in a load run.
        {"file that is no DICOM",
         [](TSession& s) { return s.LoadFiles({s.Path("notes.txt", "not a DICOM file")}); },
         "dummy Error: Invalid DICOM file format 1"},
        {"empty file", [](TSession& s) { return s.LoadFiles({s.Path("empty", "")}); },
         "dummy Error: Invalid DICOM file format 1"},
        {"dangling link",
         [](TSession& s) {
             fs::create_symlink(s.Missing(), s.Folder.Path() / "dangling");
             return s.LoadFiles({(s.Folder.Path() / "dangling").string()});
         },
         "dummy Error: Invalid DICOM file format 1"},
        // Cut before its pixels: read as far as it goes, a black image. Its series was loaded
        // before, so it becomes a series of its own beside that one, which keeps its cube.
        {"DICOM file cut short",
         [&image](TSession& s) { return s.LoadFiles({s.Path("cut", image.substr(0, 300))}); },
         "Head (CT) {1x1}"},
        // Protected files.
        {"protected file missing for the key",
         [](TSession& s) {
             s.Tree.Cache().SetKey("wrong");
             WriteProtectedFile("1.2.840.99/1", "right", "");
             return s.LoadFiles({"CRYPTED:1.2.840.99/1"});
         },
         "dummy Error: Invalid DICOM file format 1"},
        // Cuboid files.
        {"cuboid file missing", raises([](TSession& s) { s.Cube.LoadFromFile(s.Missing()); }),
         "Cannot open file \""},
        {"cuboid file cut in its voxels", raises([](TSession& s) {
             const std::string bytes = Cuboid(test::MakeCube(4, 4, 4));
             s.Cube.LoadFromFile(s.Path("cut.cuboid", bytes.substr(0, bytes.size() - 1)));
         }),
         "Cannot load pixelcube from stream"},
        {"cuboid file cut in its header", raises([](TSession& s) {
             s.Cube.LoadFromFile(s.Path("header.cuboid", Cuboid(test::MakeCube(4, 4, 4)).substr(0, 30)));
         }),
         "Stream read error"},
        {"DICOM file read as a cuboid",
         raises([&image](TSession& s) { s.Cube.LoadFromFile(s.Path("image.dcm", image)); }),
         "Cannot load pixelcube from stream"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        TSession session;
        const std::string parameters = session.Parameters->SaveToString();
        const std::string cube = session.CubeState();
        const std::string tree = test::Outline(session.Tree);
        ASSERT_NE(tree.find("Head (CT[2]) {2x2}"), std::string::npos) << tree;

        const std::string message = c.Act(session);
        const bool filed = message.find("\n" + c.Message) != std::string::npos;
        EXPECT_TRUE(message.rfind(c.Message, 0) == 0 || filed) << message;
        EXPECT_EQ(session.Parameters->SaveToString(), parameters);
        EXPECT_EQ(session.Parameters->UpdateCount(), 0);
        EXPECT_TRUE(session.CubeState() == cube);
        const std::string outline = test::Outline(session.Tree);
        std::istringstream lines(tree);
        for (std::string line; std::getline(lines, line);)
            EXPECT_NE(outline.find(line + "\n"), std::string::npos) << line;
    }
}

} // namespace
} // namespace tarvicon
