// Studies from a real PACS: Orthanc with its DICOMweb plugin on 127.0.0.1, holding the sample
// study and some of pydicom's test files. One server for the whole program (a few seconds to
// start and fill); the test of a server that goes away starts one of its own.

#include "dicom/DicomWeb.h"

#include "catalogue/CommandLines.h"
#include "catalogue/DicomTrees.h"
#include "catalogue/FlatCaches.h"
#include "dicom/QidoAnswers.h"
#include "support/OrthancServers.h"
#include "support/StudyFiles.h"
#include "support/TestSupport.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <regex>
#include <set>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarvicon {
namespace {

using test::TOrthanc;

const char* const kPydicomFiles[] = {"CT_small.dcm", "MR_small.dcm",         "rtdose.dcm",
                                     "JPEG2000.dcm", "SC_rgb_small_odd.dcm", "MR_small_RLE.dcm"};

std::filesystem::path SampleFolder() {
    return std::filesystem::path(TARVICON_DICOMWEB_SAMPLE) / "dicom";
}

// Every node in tree order: caption, and for an object its geometry and a digest of its voxels.
std::string Describe(const TDicomTree& tree) {
    std::string text;
    const std::function<void(const TTreeNode&, int)> visit = [&](const TTreeNode& node, int depth) {
        text += std::string(std::size_t(depth) * 2, ' ') + node.Caption();
        if (const TDicomObject* object = node.Object()) {
            const TPixelCube& cube = object->Cube();
            const std::string_view voxels(reinterpret_cast<const char*>(cube.Voxels()),
                                          static_cast<std::size_t>(cube.ByteSize()));
            text += " [" + std::to_string(cube.Width()) + "x" + std::to_string(cube.Height()) + "x" +
                    std::to_string(cube.Depth()) + " px" + std::to_string(cube.PixelSize()) + " metrics " +
                    std::to_string(cube.Metrics().X) + "," + std::to_string(cube.Metrics().Y) + "," +
                    std::to_string(cube.Metrics().Z) + " origin " + std::to_string(cube.Origin().X) + "," +
                    std::to_string(cube.Origin().Y) + "," + std::to_string(cube.Origin().Z) + " voxels " +
                    std::to_string(std::hash<std::string_view>()(voxels)) + "]";
        }
        text += "\n";
        for (const auto& child : node.Children()) visit(*child, depth + 1);
    };
    for (const auto& root : tree.Roots()) visit(*root, 0);
    return text;
}

std::string LoadAddress(TDicomTree& tree, const std::string& address) {
    TCommandLine commandLine;
    commandLine.Paths = {address};
    ProcessCommandLine(tree, commandLine);
    return LoadToEnd(tree);
}

// The tree command's lines without the serial numbers, which follow the order files arrive in.
std::string WithoutSerials(const std::string& text) {
    return std::regex_replace(text, std::regex("#[0-9]+ "), "");
}

class DicomWebServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!TOrthanc::Missing().empty()) return;
        server_ = std::make_unique<TOrthanc>();
        server_->UploadFolder(SampleFolder());
        for (const char* name : kPydicomFiles) server_->Upload(test::PydicomTestFiles() / name);
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        if (const std::string missing = TOrthanc::Missing(); !missing.empty()) GTEST_SKIP() << missing;
        ASSERT_TRUE(server_);
        for (const char* proxy : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(proxy);
    }

    // The sample study's address, as found by a search.
    static std::string SampleStudy(bool withLogin) {
        TStudyQuery query;
        query.PatientName = "PHANTOM^HEAD";
        const auto studies = SearchStudies(ParseDicomWebAddress(server_->RootWithLogin()), query);
        if (studies.size() != 1) throw std::runtime_error("the sample study is not on the server");
        return "dicomweb:" + (withLogin ? server_->RootWithLogin() : server_->Root()) + "/studies/" +
               studies[0].Uid;
    }

    static std::unique_ptr<TOrthanc> server_;
};

std::unique_ptr<TOrthanc> DicomWebServer::server_;

TEST_F(DicomWebServer, SampleStudyLoadsAsFromItsFolder) {
    TDicomTree fromFolder, fromServer;
    ASSERT_EQ(LoadAddress(fromFolder, SampleFolder().string()), "");
    ASSERT_EQ(LoadAddress(fromServer, SampleStudy(true)), "");
    EXPECT_EQ(fromServer.ErrorCount(), 0);
    EXPECT_GE(fromServer.ObjectCount(), 5);
    EXPECT_EQ(Describe(fromServer), Describe(fromFolder));

    // The command line takes the same address with the login from the environment; nothing it
    // prints holds the password.
    const std::string cli = (test::BinDir() / "tarvicon-cli").string();
    const auto local = test::RunProcess({cli, "tree", SampleFolder().string()});
    const auto remote = test::RunProcess({cli, "tree", SampleStudy(false)},
                                         {std::string("TARVICON_DICOMWEB_USER=") + TOrthanc::kUser,
                                          std::string("TARVICON_DICOMWEB_PASSWORD=") + TOrthanc::kPassword});
    ASSERT_EQ(remote.Status, 0) << remote.Err;
    EXPECT_EQ(WithoutSerials(remote.Out), WithoutSerials(local.Out));
    EXPECT_EQ((remote.Out + remote.Err).find(TOrthanc::kPassword), std::string::npos);
}

TEST_F(DicomWebServer, SeriesAddressLoadsThatSeriesOnly) {
    const TDicomWebAddress study = ParseDicomWebAddress(SampleStudy(true));
    const auto series = SearchSeries(study);
    ASSERT_GE(series.size(), 2u);
    for (const TSeriesRecord& record : series) {
        TDicomWebAddress address = study;
        address.Series = record.Uid;
        EXPECT_EQ(ListInstances(address).size(), std::size_t(record.InstanceCount)) << record.Uid;
    }
    // A reference holds no login: this one comes from the environment.
    const test::TScopedEnv user("TARVICON_DICOMWEB_USER", TOrthanc::kUser);
    const test::TScopedEnv password("TARVICON_DICOMWEB_PASSWORD", TOrthanc::kPassword);
    TDicomTree tree;
    TDicomWebAddress first = study;
    first.Series = series[0].Uid;
    ASSERT_EQ(LoadAddress(tree, DicomWebReference(first)), "");
    EXPECT_EQ(tree.ObjectCount(), 1);
    EXPECT_EQ(tree.ErrorCount(), 0);
}

TEST_F(DicomWebServer, SearchFindsWhatTheServerLists) {
    const auto query = [](std::string TStudyQuery::*field, const char* value) {
        TStudyQuery q;
        q.*field = value;
        return q;
    };
    const struct {
        TStudyQuery Query;
        const char* Direct; // the same search asked of the server directly
    } cases[] = {
        {TStudyQuery(), ""},
        {query(&TStudyQuery::PatientName, "PHANTOM*"), "PatientName=PHANTOM*"},
        {query(&TStudyQuery::PatientName, "*^CT?"), "PatientName=*^CT?"},
        {query(&TStudyQuery::Modality, "CT"), "ModalitiesInStudy=CT"},
        {query(&TStudyQuery::Modality, "MR"), "ModalitiesInStudy=MR"},
        {query(&TStudyQuery::PatientId, "TVC-0001"), "PatientID=TVC-0001"},
        {query(&TStudyQuery::Date, "20240101-20241231"), "StudyDate=20240101-20241231"},
        {query(&TStudyQuery::PatientName, "NOBODY"), "PatientName=NOBODY"},
    };
    const TDicomWebAddress server = ParseDicomWebAddress(server_->RootWithLogin());
    std::set<std::string> all;
    for (const auto& c : cases) {
        std::set<std::string> expected, found;
        for (const TQidoDataset& study :
             ReadQidoAnswer(server_->Get(std::string("/dicom-web/studies?") + c.Direct)))
            expected.insert(QidoValue(study, "0020000D"));
        for (const TStudyRecord& study : SearchStudies(server, c.Query)) found.insert(study.Uid);
        EXPECT_EQ(found, expected) << c.Direct;
        all.insert(found.begin(), found.end());
    }
    EXPECT_GE(all.size(), 4u); // the searches are not all empty

    // find prints one line per study: UID, date, patient, description, modalities and counts.
    const auto find = test::RunProcess({(test::BinDir() / "tarvicon-cli").string(), "find", server_->Root(),
                                        "--patient", "phantom*", "--modality", "CT"},
                                       {std::string("TARVICON_DICOMWEB_USER=") + TOrthanc::kUser,
                                        std::string("TARVICON_DICOMWEB_PASSWORD=") + TOrthanc::kPassword});
    ASSERT_EQ(find.Status, 0) << find.Err;
    const TQidoDataset sample =
        ReadQidoAnswer(server_->Get("/dicom-web/studies?PatientName=PHANTOM^HEAD&includefield=00081030"))
            .at(0);
    EXPECT_EQ(find.Out, QidoValue(sample, "0020000D") + "\t20240312\tPHANTOM^HEAD\t" +
                            QidoValue(sample, "00081030") + "\t" + QidoValue(sample, "00080061") + "\t" +
                            QidoValue(sample, "00201206") + " series\t" + QidoValue(sample, "00201208") +
                            " instances\n");
}

TEST_F(DicomWebServer, FailuresNameTheServerAndFileNothing) {
    const std::string root = server_->Root();
    const std::string down = "http://127.0.0.1:" + std::to_string(test::FreePort()) + "/dicom-web";
    const std::string study = ParseDicomWebAddress(SampleStudy(false)).Study;
    const std::string wrong = "http://reader:wrong-pw-17@" + root.substr(7);
    const struct {
        std::string Address;
        std::string Message; // the start of the message
    } cases[] = {
        {"dicomweb:" + wrong + "/studies/" + study,
         "The DICOMweb server " + root + " refused the user name or password (HTTP 401)"},
        {"dicomweb:" + root + "/studies/" + study,
         "The DICOMweb server " + root + " refused the user name or password (HTTP 401)"},
        {"dicomweb:" + server_->RootWithLogin() + "/no-root/studies/" + study,
         "The DICOMweb server " + root + "/no-root does not know /studies/" + study + "/series (HTTP 404)"},
        {"dicomweb:" + server_->RootWithLogin() + "/studies/9.9.9",
         "The DICOMweb server " + root + " holds no instance of study 9.9.9"},
        {"dicomweb:" + server_->RootWithLogin() + "/studies/" + study + "/series/9.9.9",
         "The DICOMweb server " + root + " holds no instance of series 9.9.9"},
        {"dicomweb:http://reader:" + std::string(TOrthanc::kPassword) + "@" + down.substr(7) + "/studies/1",
         "Cannot reach the DICOMweb server " + down + ": "},
    };
    const std::string cli = (test::BinDir() / "tarvicon-cli").string();
    for (const auto& c : cases) {
        TDicomTree tree;
        const std::string message = test::ErrorOf([&] { LoadAddress(tree, c.Address); });
        EXPECT_EQ(message.substr(0, c.Message.size()), c.Message) << message;
        EXPECT_TRUE(tree.Roots().empty());
        EXPECT_EQ(tree.Cache().Count(), 0);
        for (const char* command : {"tree", "render"}) {
            const auto run = test::RunProcess({cli, command, c.Address});
            EXPECT_EQ(run.Status, 1) << command << " " << c.Address;
            EXPECT_EQ(run.Err.substr(0, c.Message.size()), c.Message) << run.Err;
            EXPECT_EQ((run.Out + run.Err).find(TOrthanc::kPassword), std::string::npos) << run.Err;
            EXPECT_EQ((run.Out + run.Err).find("wrong-pw-17"), std::string::npos) << run.Err;
        }
    }
    const auto find = test::RunProcess({cli, "find", wrong});
    EXPECT_EQ(find.Status, 1);
    EXPECT_EQ(find.Err, "The DICOMweb server " + root + " refused the user name or password (HTTP 401)\n");
}

TEST_F(DicomWebServer, ServerStoppedInTheMiddleOfASeries) {
    TOrthanc server;
    // The sample's thin-slice CT.
    const std::filesystem::path series = SampleFolder() / "ct";
    const int count = server.UploadFolder(series);

    TDicomTree tree;
    TCommandLine commandLine;
    TStudyQuery all;
    const auto studies = SearchStudies(ParseDicomWebAddress(server.RootWithLogin()), all);
    ASSERT_EQ(studies.size(), 1u);
    commandLine.Paths = {"dicomweb:" + server.RootWithLogin() + "/studies/" + studies[0].Uid};
    ProcessCommandLine(tree, commandLine); // the listing is complete; the retrievals have begun
    server.Kill();
    const std::string stopped = LoadToEnd(tree);
    EXPECT_EQ(stopped.rfind("Too many errors:\r\n", 0), 0u) << stopped;
    EXPECT_FALSE(tree.Loading());
    EXPECT_EQ(tree.Cache().Count(), 0);

    // The tree goes on: the same series from its folder loads whole.
    commandLine.Paths = {series.string()};
    ProcessCommandLine(tree, commandLine);
    EXPECT_EQ(LoadToEnd(tree), "");
    ASSERT_EQ(tree.ObjectCount(), 1);
    EXPECT_EQ(tree.ObjectAt(0)->Cube().Depth(), unsigned(count));
}

// A server that answers badly: an HTML page for a search, a retrieval cut short.
class DicomWebBadAnswers : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* proxy : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(proxy);
        port_ = test::FreePort();
        std::vector<std::string> args = {
            TARVICON_PYTHON, TARVICON_SOURCE "/tests/support/bad_dicomweb_server.py", std::to_string(port_)};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ), 0);
        for (int i = 0; i < 400; ++i) {
            const int s = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<std::uint16_t>(port_));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const bool up = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            close(s);
            if (up) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        FAIL() << "the bad server did not start";
    }
    void TearDown() override {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::string Root(const std::string& name) const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
    }

    int port_ = 0;
    pid_t pid_ = 0;
};

TEST_F(DicomWebBadAnswers, NotJsonBadUidsAndCutShortSayWhatIsWrong) {
    TDicomTree tree;
    EXPECT_EQ(test::ErrorOf([&] { LoadAddress(tree, "dicomweb:" + Root("notjson") + "/studies/1"); }),
              "The DICOMweb server " + Root("notjson") +
                  " sent an answer that cannot be read: the answer is not JSON");
    EXPECT_TRUE(tree.Roots().empty());
    EXPECT_EQ(test::ErrorOf([&] { SearchStudies(ParseDicomWebAddress(Root("notjson")), {}); }),
              "The DICOMweb server " + Root("notjson") +
                  " sent an answer that cannot be read: the answer is not JSON");

    EXPECT_EQ(test::ErrorOf([&] { LoadAddress(tree, "dicomweb:" + Root("baduid") + "/studies/1"); }),
              "The DICOMweb server " + Root("baduid") +
                  " sent an answer that cannot be read: an instance without a series or instance UID");
    EXPECT_TRUE(tree.Roots().empty());

    // A server that does not say how many instances a series holds: its instances are listed page
    // by page, whether it pages or answers everything each time.
    for (const char* root : {"paged", "unpaged"}) {
        const auto references = ListInstances(ParseDicomWebAddress("dicomweb:" + Root(root) + "/studies/1"));
        ASSERT_EQ(references.size(), 40u) << root;
        EXPECT_EQ(references.front(), "dicomweb:" + Root(root) + "/studies/1/series/2/instances/3.0");
        EXPECT_EQ(references.back(), "dicomweb:" + Root(root) + "/studies/1/series/2/instances/3.39");
    }

    const std::string instance = "dicomweb:" + Root("cut") + "/studies/1/series/2/instances/3";
    EXPECT_EQ(test::ErrorOf([&] { RetrieveInstance(instance, {}); }),
              "The DICOMweb server " + Root("cut") +
                  " sent an answer that cannot be read: the answer ends inside a part (132 of 1000 bytes)");
    std::vector<std::size_t> sizes;
    EXPECT_EQ(test::ErrorOf([&] {
                  RetrieveSeries("dicomweb:" + Root("cut") + "/studies/1/series/2", {},
                                 [&](TByteBuffer&& file) {
                                     sizes.push_back(file.size());
                                     return true;
                                 });
              }),
              "The DICOMweb server " + Root("cut") +
                  " sent an answer that cannot be read: the answer ends inside a part (132 of 1000 bytes)");
    EXPECT_TRUE(sizes.empty());
    // A series stands for as many entries as the server listed; its files fill them in order,
    // files beyond them become entries of their own, entries left over are consumed.
    const std::string two = "dicomweb:" + Root("two") + "/studies/1/series/2";
    for (const int listed : {1, 2, 3}) {
        TFlatCache cache;
        cache.Add(two, listed);
        while (!cache.Settled() && cache.FindFirst({TEntryState::Queued, TEntryState::Fetching}) >= 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::string files;
        while (const auto taken = cache.TakeFirst({TEntryState::Fetched, TEntryState::Failed}))
            files += std::string(taken->Bytes.view()) + taken->Text + ";";
        EXPECT_EQ(files, "first;second;") << listed;
        EXPECT_EQ(cache.Count(), std::max(listed, 2));
        EXPECT_EQ(cache.FindFirst({TEntryState::Queued, TEntryState::Fetching, TEntryState::Fetched}), -1);
    }
    // In a load the cut instance is one unreadable file: an error node, no series.
    EXPECT_EQ(LoadAddress(tree, "dicomweb:" + Root("cut") + "/studies/1"), "");
    EXPECT_EQ(tree.ErrorCount(), 1);
    EXPECT_EQ(tree.ObjectCount(), 1);
    EXPECT_NE(test::Outline(tree).find("Error: "), std::string::npos) << test::Outline(tree);
}

} // namespace
} // namespace tarvicon
