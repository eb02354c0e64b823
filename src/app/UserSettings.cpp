#include "app/UserSettings.h"

#include "util/Folders.h"

#include <QSettings>
#include <optional>
#include <utility>

namespace tarvicon {

namespace {

const QString Organization = QStringLiteral("Quintar");
const QString LastDirectoryKey = QStringLiteral("LastDicomDirectory");
const QString WidthKey = QStringLiteral("SelectionWidth");
const QString HeightKey = QStringLiteral("SelectionHeight");

// A stored integer; none when it is missing or not a number.
std::optional<int> StoredInteger(const QSettings& store, const QString& key) {
    bool ok = false;
    const int value = store.value(key).toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

} // namespace

TUserSettings ReadSettings(const QString& programName) {
    const QSettings store(Organization, programName);
    const bool readable = store.status() == QSettings::NoError;
    std::string lastDirectory;
    std::optional<int> width, height;
    if (readable) {
        lastDirectory = store.value(LastDirectoryKey).toString().toStdString();
        width = StoredInteger(store, WidthKey);
        height = StoredInteger(store, HeightKey);
    }
    return TUserSettings{ExistingFolderOrParent(std::move(lastDirectory)), SelectionSizeOrDefault(width),
                         SelectionSizeOrDefault(height)};
}

void WriteSettings(const QString& programName, const TUserSettings& settings) {
    QSettings store(Organization, programName);
    store.setValue(LastDirectoryKey, QString::fromStdString(settings.LastDirectory));
    store.setValue(WidthKey, settings.SelectionWidth);
    store.setValue(HeightKey, settings.SelectionHeight);
    store.sync();
}

} // namespace tarvicon
