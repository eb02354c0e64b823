// "Open from PACS…" against a real Orthanc: the dialog's search and choice, its failures, and the
// main window loading the chosen study as one more load run while the settings keep the server
// without its password.

#include "app/MainForms.h"
#include "app/MiniControlFrames.h"
#include "app/PacsDialogs.h"
#include "dicom/DicomWeb.h"
#include "support/OrthancServers.h"
#include "support/StudyFiles.h"
#include "support/TestSupport.h"
#include "util/Host.h"
#include "views/TracedHosts.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QTableWidget>
#include <gtest/gtest.h>

namespace tarvicon {
namespace {

namespace fs = std::filesystem;
using test::TOrthanc;

class PacsDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!TOrthanc::Missing().empty()) return;
        server_ = std::make_unique<TOrthanc>();
        for (const char* name : {"CT_small.dcm", "MR_small.dcm"})
            server_->Upload(test::PydicomTestFiles() / name);
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        if (const std::string missing = TOrthanc::Missing(); !missing.empty()) GTEST_SKIP() << missing;
        ASSERT_TRUE(server_);
        for (const char* proxy : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(proxy);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(dir_.Path() / "settings"));
    }

    static std::unique_ptr<TOrthanc> server_;
    test::TTempDir dir_;
};

std::unique_ptr<TOrthanc> PacsDialogTest::server_;

TEST_F(PacsDialogTest, SearchesAndChoosesAStudy) {
    TPacsDialog dialog(server_->RootWithLogin());
    EXPECT_EQ(dialog.ServerField().text().toStdString(), server_->Root()); // shown without the login
    dialog.ServerField().setText(QString::fromStdString(server_->RootWithLogin()));
    dialog.PatientField().setText("*^CT?");
    dialog.Search();
    EXPECT_EQ(dialog.StatusText(), "1 study");
    ASSERT_EQ(dialog.Results().rowCount(), 1);
    EXPECT_EQ(dialog.Results().item(0, 1)->text(), "CompressedSamples^CT1");
    EXPECT_EQ(dialog.Results().item(0, 4)->text(), "CT");

    const std::string uid = "1.3.6.1.4.1.5962.1.2.1.20040119072730.12322";
    emit dialog.Results().cellDoubleClicked(0, 2);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.ChosenAddress(), "dicomweb:" + server_->RootWithLogin() + "/studies/" + uid);
    EXPECT_EQ(dialog.ShownServer(), server_->Root());

    dialog.PatientField().clear();
    dialog.ModalityField().setText("MR");
    emit dialog.PatientField().returnPressed(); // Enter in a field searches
    ASSERT_EQ(dialog.Results().rowCount(), 1);
    EXPECT_EQ(dialog.Results().item(0, 1)->text(), "CompressedSamples^MR1");
}

TEST_F(PacsDialogTest, FailuresShowInTheDialog) {
    const std::string root = server_->Root();
    const struct {
        std::string Server;
        std::string Status;
    } cases[] = {
        {"http://reader:not-the-pw-17@" + root.substr(7),
         "The DICOMweb server " + root + " refused the user name or password (HTTP 401)"},
        {"ftp://host/dicom-web", "Not a DICOMweb address: ftp://host/dicom-web"},
    };
    for (const auto& c : cases) {
        TPacsDialog dialog("");
        dialog.ServerField().setText(QString::fromStdString(c.Server));
        dialog.Search();
        EXPECT_EQ(dialog.StatusText().toStdString(), c.Status);
        EXPECT_EQ(dialog.Results().rowCount(), 0);
        emit dialog.Results().cellDoubleClicked(0, 0); // nothing to choose
        EXPECT_EQ(dialog.ChosenAddress(), "");
        EXPECT_NE(dialog.result(), QDialog::Accepted);
    }
}

TEST_F(PacsDialogTest, WindowLoadsTheStudyAndKeepsTheServerWithoutItsPassword) {
    const fs::path folder = dir_.Path() / "study";
    fs::create_directories(folder);
    test::TImage local;
    local.Size = 16;
    local.Thickness = "1";
    test::WriteSeries(folder, "head", 4, local);

    TTraceFile trace((dir_.Path() / "trace.txt").string());
    TTracedHost host(trace);
    const TScopedHost scopedHost(host);
    TFormStart start;
    TakeCommandLineArgument(folder.string(), start.CommandLine);
    start.ProgramPath = (test::BinDir() / "tarvicon").string();
    start.SettingsName = "tarvicon-pacs-test";
    std::vector<std::string> errors, offered;
    start.Dialogs.Error = [&](const std::string& text) { errors.push_back(text); };
    std::string answer;
    start.Dialogs.ChoosePacsStudy = [&](const std::string& server) {
        offered.push_back(server);
        return answer;
    };
    TForm1 form(std::move(start), trace, host);
    form.resize(1000, 700);
    form.show();
    const auto runIdle = [&] {
        for (int i = 0; i < 100000 && (!form.Started() || form.LoadPending()); ++i) {
            form.IdleWork();
            QCoreApplication::processEvents();
        }
    };
    runIdle();
    ASSERT_EQ(form.Tree().ObjectCount(), 1);

    // The entry sits in the File menu right after "Add file".
    QAction* entry = nullptr;
    for (QMenu* menu : form.findChild<TMiniControlFrame*>()->ContextMenu().findChildren<QMenu*>()) {
        const QList<QAction*> actions = menu->actions();
        for (qsizetype i = 1; i < actions.size(); ++i)
            if (actions[i]->text() == QString::fromUtf8("Open from PACS\u2026")) {
                entry = actions[i];
                EXPECT_EQ(actions[i - 1]->text().remove('&'), "Add file");
            }
    }
    ASSERT_NE(entry, nullptr);

    // Wrong password: the error box names the server, nothing is added, the window goes on.
    answer = "dicomweb:http://reader:not-the-pw-17@" + server_->Base().substr(7) +
             "/dicom-web/studies/1.3.6.1.4.1.5962.1.2.1.20040119072730.12322";
    entry->trigger();
    runIdle();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0],
              "The DICOMweb server " + server_->Root() + " refused the user name or password (HTTP 401)");
    EXPECT_EQ(form.Tree().ObjectCount(), 1);

    answer = "dicomweb:" + server_->RootWithLogin() + "/studies/1.3.6.1.4.1.5962.1.2.1.20040119072730.12322";
    entry->trigger();
    runIdle();
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(form.Tree().ObjectCount(), 2); // one more load run: the local series stays
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[1], server_->Root()); // the last server, remembered without its login
    EXPECT_EQ(ReadLastPacsServer("tarvicon-pacs-test"), server_->Root());

    // The password is in no file the window wrote: settings, trace.
    for (const auto& file : fs::recursive_directory_iterator(dir_.Path())) {
        if (!file.is_regular_file() || file.path().extension() == ".dcm" ||
            file.path().parent_path() == folder)
            continue;
        const std::string text = test::ReadFile(file.path());
        EXPECT_EQ(text.find(TOrthanc::kPassword), std::string::npos) << file.path();
        EXPECT_EQ(text.find("not-the-pw-17"), std::string::npos) << file.path();
    }
}

} // namespace
} // namespace tarvicon
