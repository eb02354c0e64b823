#include "app/UserSettings.h"

#include "support/TestSupport.h"

#include <QSettings>
#include <QStandardPaths>
#include <QVariant>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace tarvicon {
namespace {

namespace fs = std::filesystem;

const QString Program = QStringLiteral("tarvicon-settings-test");

// The per-user settings store and the documents folder, both in a temporary folder for the test's
// length: the user's own settings are never read or written.
class UserSettingsTest : public testing::Test {
protected:
    UserSettingsTest() {
        fs::create_directories(documents_);
        for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat})
            QSettings::setPath(format, QSettings::UserScope, QString::fromStdString(store_.string()));
    }
    ~UserSettingsTest() override {
        const QString userFolder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat})
            QSettings::setPath(format, QSettings::UserScope, userFolder);
    }

    // Stores values as another session of the program left them.
    void Store(const QString& key, const QVariant& value) {
        QSettings("Quintar", Program).setValue(key, value);
    }

    test::TTempDir temp_;
    const fs::path store_ = temp_.Path() / "config";
    const fs::path documents_ = temp_.Path() / "Documents";
    test::TScopedEnv documentsEnv_{"XDG_DOCUMENTS_DIR", documents_.string()};
};

TEST_F(UserSettingsTest, MissingSettingsGiveTheDefaults) {
    const TUserSettings settings = ReadSettings(Program);
    EXPECT_EQ(settings.LastDirectory, (documents_ / "Melvor2" / "DICOM").string());
    EXPECT_EQ(settings.SelectionWidth, 800);
    EXPECT_EQ(settings.SelectionHeight, 800);
    EXPECT_FALSE(fs::exists(store_)); // reading creates nothing
}

TEST_F(UserSettingsTest, DeletedLastFolderFallsBackToItsDeepestExistingParent) {
    const fs::path study = temp_.Path() / "studies" / "patient" / "series";
    fs::create_directories(study);
    Store("LastDicomDirectory", QString::fromStdString("  " + study.string() + "/  "));
    fs::remove_all(temp_.Path() / "studies" / "patient");
    EXPECT_EQ(ReadSettings(Program).LastDirectory, (temp_.Path() / "studies").string());

    // Nothing of it left: the documents folder's DICOM folder.
    Store("LastDicomDirectory", "nowhere");
    EXPECT_EQ(ReadSettings(Program).LastDirectory, (documents_ / "Melvor2" / "DICOM").string());
}

TEST_F(UserSettingsTest, SelectionSizeBelowHundredOrNotANumberBecomes800) {
    struct Case {
        QVariant Width, Height;
        int ExpectedWidth, ExpectedHeight;
    };
    const Case cases[] = {
        {50, 600, 800, 600},   {100, 4000, 100, 4000},   {99, -1, 800, 800},
        {"abc", "", 800, 800}, {"250", "1e3", 250, 800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Width.toString().toStdString() + " x " + c.Height.toString().toStdString());
        Store("SelectionWidth", c.Width);
        Store("SelectionHeight", c.Height);
        const TUserSettings settings = ReadSettings(Program);
        EXPECT_EQ(settings.SelectionWidth, c.ExpectedWidth);
        EXPECT_EQ(settings.SelectionHeight, c.ExpectedHeight);
    }
}

TEST_F(UserSettingsTest, WrittenSettingsReadBackUnderTheProgramsOwnName) {
    const fs::path folder = temp_.Path() / "Series with spaces";
    fs::create_directories(folder);
    WriteSettings(Program, TUserSettings{folder.string(), 321, 654});

    const TUserSettings settings = ReadSettings(Program);
    EXPECT_EQ(settings.LastDirectory, folder.string());
    EXPECT_EQ(settings.SelectionWidth, 321);
    EXPECT_EQ(settings.SelectionHeight, 654);
    EXPECT_TRUE(fs::exists(store_ / "Quintar" / (Program.toStdString() + ".conf")));

    // Another program keeps its own settings.
    EXPECT_EQ(ReadSettings("tarvicon-other-test").SelectionWidth, 800);
}

TEST_F(UserSettingsTest, StoreThatCannotBeWrittenIsLeftAloneWithoutAWord) {
    const fs::path blocked = temp_.Path() / "blocked";
    test::WriteFile(blocked, "a file where the store's folder would be");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(blocked.string()));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(blocked.string()));

    EXPECT_NO_THROW(WriteSettings(Program, TUserSettings{temp_.Path().string(), 321, 654}));
    const TUserSettings settings = ReadSettings(Program);
    EXPECT_EQ(settings.SelectionWidth, 800);
    EXPECT_EQ(test::ReadFile(blocked), "a file where the store's folder would be");
}

} // namespace
} // namespace tarvicon
