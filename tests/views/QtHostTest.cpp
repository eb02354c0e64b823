#include "support/TestSupport.h"
#include "views/QtHosts.h"
#include "views/ViewCursors.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLocale>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <clocale>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace tarvicon {
namespace {

// Titles the message boxes for the test's length.
class ScopedDisplayName {
public:
    explicit ScopedDisplayName(const QString& name) : old_(QGuiApplication::applicationDisplayName()) {
        QGuiApplication::setApplicationDisplayName(name);
    }
    ~ScopedDisplayName() { QGuiApplication::setApplicationDisplayName(old_); }

private:
    QString old_;
};

struct ShownBox {
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QString Title;
    QString Text;
    QMessageBox::StandardButtons Buttons;
};

// Answers the first message box that shows up with `button` and records what it showed.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton button) {
        QObject::connect(&timer_, &QTimer::timeout, [this, button] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (!box || !box->isVisible()) continue;
                shown_.push_back({box->icon(), box->windowTitle(), box->text(), box->standardButtons()});
                if (QAbstractButton* answer = box->button(button))
                    answer->click();
                else
                    box->reject();
            }
        });
        timer_.start(10);
    }
    const std::vector<ShownBox>& Shown() const { return shown_; }

private:
    QTimer timer_;
    std::vector<ShownBox> shown_;
};

TEST(QtHost, QuestionsAndNoticesGoToTheStandInsTitledWithTheApplicationName) {
    const ScopedDisplayName name("Tarvicon");
    std::vector<std::string> seen;
    std::vector<bool> answers = {true, false};
    TQtHost host({[&](const QString& title, const QString& text) {
                      seen.push_back("question " + title.toStdString() + ": " + text.toStdString());
                      const bool answer = answers.front();
                      answers.erase(answers.begin());
                      return answer;
                  },
                  [&](const QString& title, const QString& text) {
                      seen.push_back("notice " + title.toStdString() + ": " + text.toStdString());
                  }});

    EXPECT_TRUE(host.AskYesNo("Additional memory of 40MB required. Continue?"));
    host.Notice("Unable to extract this file format.");
    EXPECT_FALSE(host.AskYesNo("Again?"));
    EXPECT_EQ(seen,
              (std::vector<std::string>{"question Tarvicon: Additional memory of 40MB required. Continue?",
                                        "notice Tarvicon: Unable to extract this file format.",
                                        "question Tarvicon: Again?"}));
}

TEST(QtHost, TheQuestionIsAWarningBoxWithYesAndNo) {
    const ScopedDisplayName name("Tarvicon");
    struct Case {
        QMessageBox::StandardButton Button;
        bool Answer;
    };
    for (const Case& c : {Case{QMessageBox::Yes, true}, Case{QMessageBox::No, false}}) {
        TQtHost host;
        const BoxAnswerer answerer(c.Button);
        EXPECT_EQ(host.AskYesNo("Go on?"), c.Answer);
        ASSERT_EQ(answerer.Shown().size(), 1u);
        const ShownBox& box = answerer.Shown()[0];
        EXPECT_EQ(box.Icon, QMessageBox::Warning);
        EXPECT_EQ(box.Title, "Tarvicon");
        EXPECT_EQ(box.Text, "Go on?");
        EXPECT_EQ(box.Buttons, QMessageBox::Yes | QMessageBox::No);
    }
}

TEST(QtHost, TheNoticeIsAnInformationBoxWithOk) {
    const ScopedDisplayName name("Tarvicon");
    TQtHost host;
    const BoxAnswerer answerer(QMessageBox::Ok);
    host.Notice("Unable to extract this file format.");
    ASSERT_EQ(answerer.Shown().size(), 1u);
    EXPECT_EQ(answerer.Shown()[0].Icon, QMessageBox::Information);
    EXPECT_EQ(answerer.Shown()[0].Title, "Tarvicon");
    EXPECT_EQ(answerer.Shown()[0].Text, "Unable to extract this file format.");
    EXPECT_EQ(answerer.Shown()[0].Buttons, QMessageBox::Ok);
}

TEST(QtHost, OffscreenNoKeysAreDownAndTheScreenIsTheOffscreenOne) {
    if (QGuiApplication::platformName() != "offscreen") GTEST_SKIP() << "not on the offscreen platform";
    TQtHost host;
    EXPECT_FALSE(host.ShiftHeld());
    EXPECT_FALSE(host.CapsLockToggled());
    ASSERT_NE(QGuiApplication::primaryScreen(), nullptr);
    EXPECT_EQ(host.ScreenWidth(), QGuiApplication::primaryScreen()->geometry().width());
}

TEST(QtHost, TickCountIsTheSteadyClockInMilliseconds) {
    using namespace std::chrono;
    const auto steadyMs = [] {
        return static_cast<std::uint64_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    };
    TQtHost host;
    const std::uint64_t before = steadyMs();
    const std::uint64_t first = host.TickCount();
    const std::uint64_t after = steadyMs();
    EXPECT_LE(before, first);
    EXPECT_LE(first, after);
    std::this_thread::sleep_for(milliseconds(5));
    EXPECT_GE(host.TickCount(), first + 5);
}

// Run by QtHost.KeyboardStateUnderX11 in an X server of its own; skipped elsewhere.
TEST(QtHostOnX11, DISABLED_ShiftAndCapsLockFollowTheKeyboard) {
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs the xcb platform";
    TQtHost host;
    const auto press = [](const std::string& action, const std::string& key) {
        ASSERT_EQ(test::RunProcess({"xdotool", action, key}).Status, 0);
    };
    // The server handles the fake keys after xdotool has gone: wait for the state, up to 5 s.
    const auto waitFor = [](const auto& condition) {
        for (int i = 0; i < 500 && !condition(); ++i) QThread::msleep(10);
        return condition();
    };
    const bool capsBefore = host.CapsLockToggled();
    press("key", "Caps_Lock");
    EXPECT_TRUE(waitFor([&] { return host.CapsLockToggled() != capsBefore; }));
    press("key", "Caps_Lock");
    EXPECT_TRUE(waitFor([&] { return host.CapsLockToggled() == capsBefore; }));

    EXPECT_FALSE(host.ShiftHeld());
    press("keydown", "Shift_L");
    EXPECT_TRUE(waitFor([&] { return host.ShiftHeld(); }));
    press("keyup", "Shift_L");
    EXPECT_TRUE(waitFor([&] { return !host.ShiftHeld(); }));
}

TEST(QtHost, KeyboardStateUnderX11) {
    for (const char* tool : {"/usr/bin/xvfb-run", "/usr/bin/xdotool"})
        if (!std::filesystem::exists(tool)) GTEST_SKIP() << tool << " is not installed";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const test::TProcessResult run =
        test::RunProcess({"xvfb-run", "-a", "-s", "-screen 0 640x480x24", "env", "QT_QPA_PLATFORM=xcb", self,
                          "--gtest_filter=QtHostOnX11.*", "--gtest_also_run_disabled_tests"});
    EXPECT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("[  PASSED  ] 1 test."), std::string::npos) << run.Out << run.Err;
    EXPECT_EQ(run.Out.find("SKIPPED"), std::string::npos) << run.Out;
}

// Restores the C and Qt number formats of the other tests afterwards.
class ScopedLocales {
public:
    ScopedLocales() : c_(std::setlocale(LC_ALL, nullptr)) {}
    ~ScopedLocales() {
        std::setlocale(LC_ALL, c_.c_str());
        InitProcessNumbers();
    }

private:
    std::string c_;
};

TEST(ProcessNumbers, QtWritesAPointAfterAGermanDefault) {
    const ScopedLocales restore;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ASSERT_EQ(QLocale().toString(1.5), "1,5");
    InitProcessNumbers();
    EXPECT_EQ(QLocale().toString(1.5), "1.5");
}

TEST(ProcessNumbers, CWritesAPointAfterACommaLocale) {
    const ScopedLocales restore;
    const char* chosen = nullptr;
    for (const char* name :
         {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8"})
        if (std::setlocale(LC_ALL, name) && std::string(std::localeconv()->decimal_point) == ",") {
            chosen = name;
            break;
        }
    if (!chosen) GTEST_SKIP() << "no locale with a decimal comma is installed";
    InitProcessNumbers();
    EXPECT_STREQ(std::localeconv()->decimal_point, ".") << chosen;
}

TEST(ViewCursor, EachNumberHasItsOwnDrawing) {
    QSet<QByteArray> drawings;
    for (int number = 8; number <= 16; ++number) {
        SCOPED_TRACE(number);
        const QCursor cursor = ViewCursor(number);
        ASSERT_EQ(cursor.shape(), Qt::BitmapCursor);
        const QImage picture = cursor.pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(picture.size(), QSize(32, 32));
        EXPECT_TRUE(QRect(0, 0, 32, 32).contains(cursor.hotSpot()));
        int opaque = 0;
        int clear = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) (qAlpha(picture.pixel(x, y)) == 255 ? opaque : clear) += 1;
        // Something drawn, and the picture shows through around it.
        EXPECT_GT(opaque, 40);
        EXPECT_GT(clear, 100);
        drawings.insert(
            QByteArray(reinterpret_cast<const char*>(picture.constBits()), picture.sizeInBytes()));
    }
    EXPECT_EQ(drawings.size(), 9);
}

TEST(ViewCursor, NamesAndTheArrowOutsideTheRange) {
    EXPECT_EQ(ViewCursorName(8), "CUR_NORMAL");
    EXPECT_EQ(ViewCursorName(13), "CUR_SLICE");
    EXPECT_EQ(ViewCursorName(16), "CUR_ANGLE");
    for (int number : {0, 7, 17, -1}) {
        EXPECT_EQ(ViewCursorName(number), "") << number;
        EXPECT_EQ(ViewCursor(number).shape(), Qt::ArrowCursor) << number;
    }
}

} // namespace
} // namespace tarvicon
