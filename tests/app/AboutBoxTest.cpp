#include "app/AboutBoxes.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTimer>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tarvicon {
namespace {

QPushButton* OkButton(const QDialog& box) {
    const auto* buttons = box.findChild<QDialogButtonBox*>();
    return buttons ? buttons->button(QDialogButtonBox::Ok) : nullptr;
}

TEST(AboutBoxTest, LinesNameTheProjectVersionAndSystem) {
    const std::vector<std::string> lines = AboutLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "Quintar Tarvicon");
    EXPECT_EQ(lines[1], "Tarvicon");
    EXPECT_FALSE(lines[2].empty());
    EXPECT_EQ(lines[2].find('\n'), std::string::npos);
    EXPECT_EQ(lines[3], std::string("Verze: ") + TARVICON_VERSION);
    EXPECT_EQ(lines[5], "Quintar");

    // "OS: " + product + " (" + kernel + ") " + architecture + " " + address space + "B"
    const QString system = QString::fromStdString(lines[4]);
    const QString expectedStart = "OS: " + QSysInfo::prettyProductName() + " (" + QSysInfo::kernelType() +
                                  " " + QSysInfo::kernelVersion() + ") " +
                                  QSysInfo::currentCpuArchitecture() + " ";
    EXPECT_TRUE(system.startsWith(expectedStart)) << lines[4];
    const QString space = system.mid(expectedStart.size());
    EXPECT_TRUE(QRegularExpression("^[1-9][0-9]{6,}B$").match(space).hasMatch()) << lines[4];
}

TEST(AboutBoxTest, BoxShowsTheIconAndLinesAndClosesWithOk) {
    QWidget owner;
    const std::unique_ptr<QDialog> box = MakeAboutBox(&owner);
    EXPECT_EQ(box->windowTitle(), "About Applicaiton...");
    EXPECT_TRUE(box->isModal());
    EXPECT_EQ(box->parentWidget(), &owner);

    const auto* icon = box->findChild<QLabel*>("Icon");
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull());
    EXPECT_FALSE(box->windowIcon().isNull());

    QStringList shown;
    const QLabel* moduleName = nullptr;
    for (const QLabel* label : box->findChildren<QLabel*>()) {
        if (label == icon) continue;
        shown << label->text();
        if (label->text() == "Tarvicon") moduleName = label;
    }
    QStringList expected;
    for (const std::string& line : AboutLines()) expected << QString::fromStdString(line);
    // The address space may have grown between the two readings; the rest is the same.
    ASSERT_EQ(shown.size(), expected.size());
    shown[4] = shown[4].section(' ', 0, -2);
    expected[4] = expected[4].section(' ', 0, -2);
    EXPECT_EQ(shown, expected);
    ASSERT_NE(moduleName, nullptr);
    EXPECT_GT(moduleName->font().pointSizeF(), box->font().pointSizeF() * 1.5);

    box->show();
    ASSERT_NE(OkButton(*box), nullptr);
    OkButton(*box)->click();
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(box->result(), QDialog::Accepted);
}

TEST(AboutBoxTest, ShowAboutBoxWaitsForOkAndReleasesTheBox) {
    QWidget owner;
    QPointer<QDialog> shownBox;
    QTimer::singleShot(0, &owner, [&shownBox] {
        shownBox = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (shownBox && OkButton(*shownBox)) OkButton(*shownBox)->click();
    });
    ShowAboutBox(&owner);
    EXPECT_TRUE(shownBox.isNull()); // it was shown, then released
    EXPECT_TRUE(owner.findChildren<QDialog*>().isEmpty());
}

} // namespace
} // namespace tarvicon
