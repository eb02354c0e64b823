#include "app/ProgressForms.h"
#include "util/Progress.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace tarvicon {
namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int Paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++Paints;
        return false;
    }
};

// The dialog installed as the progress sink of the whole process for one test.
class ProgressFormTest : public testing::Test {
protected:
    ProgressFormTest() { SetProgressSink(&form_); }
    ~ProgressFormTest() override {
        if (ProgressActive()) EndProgress();
        SetProgressSink(nullptr);
    }

    QString Line(const char* name) const { return form_.findChild<QLabel*>(name)->text(); }
    int Bar() const { return form_.findChild<QProgressBar*>("ProgressBar")->value(); }
    QPushButton* CancelButton() const { return form_.findChild<QPushButton*>("CancelButton"); }
    QRect Place(const char* name) const {
        const auto* part = form_.findChild<QWidget*>(name);
        return QRect(part->mapTo(&form_, QPoint(0, 0)), part->size());
    }
    void Press(Qt::Key key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(CancelButton(), &press);
    }
    // The event loop between two steps of a run: the window gets shown on the platform.
    void LetEventsRun() {
        for (int round = 0; round < 100 && !form_.windowHandle()->isExposed(); ++round)
            QApplication::processEvents();
    }

    QWidget owner_;
    TProgressForm form_{&owner_};
};

TEST_F(ProgressFormTest, StartShowsTheRunCentredAboveEverything) {
    EXPECT_FALSE(form_.isVisible());
    EXPECT_TRUE(StartProgress("Loading DICOM files"));
    EXPECT_TRUE(form_.isVisible());
    EXPECT_FALSE(form_.isModal());
    EXPECT_TRUE(form_.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(form_.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(form_.parentWidget(), &owner_);
    EXPECT_EQ(form_.size(), QSize(628, 115));
    const QPoint offCentre =
        form_.geometry().center() - QGuiApplication::primaryScreen()->geometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 1); // an odd height has no exact middle

    EXPECT_EQ(Line("TitleLine"), "Loading DICOM files");
    EXPECT_EQ(Line("TextLine"), "...");
    EXPECT_EQ(Line("DetailLine"), " ");
    EXPECT_EQ(Bar(), 0);
    EXPECT_TRUE(CancelButton()->isEnabled());

    EndProgress();
    EXPECT_FALSE(form_.isVisible());
}

TEST_F(ProgressFormTest, LinesBarAndButtonSitWhereTheLayoutPutsThem) {
    StartProgress("Squeezing image data");
    const QRect title = Place("TitleLine"), bar = Place("ProgressBar"), button = Place("CancelButton"),
                text = Place("TextLine"), detail = Place("DetailLine");
    EXPECT_EQ(CancelButton()->text(), "Storno");
    EXPECT_EQ(button.size(), QSize(65, 23));
    EXPECT_EQ(title.height(), 25);
    EXPECT_EQ(text.height(), 30);
    EXPECT_EQ(detail.height(), 18);
    // Inside the bevel and the border, top to bottom: title, bar with the button, text, detail.
    EXPECT_EQ(title.top(), 2 + 5);
    EXPECT_EQ(detail.bottom(), 115 - 1 - 2 - 5);
    EXPECT_LE(title.bottom(), bar.top());
    EXPECT_LE(bar.bottom(), text.top());
    EXPECT_EQ(text.bottom() + 1, detail.top());
    EXPECT_GE(bar.left(), 2 + 5 + 10);
    EXPECT_GE(button.left(), bar.right() + 10);
    EXPECT_LE(button.right(), 628 - 1 - 2 - 5 - 10);
    EXPECT_TRUE(button.intersects(QRect(0, bar.top(), 628, bar.height())));
}

TEST_F(ProgressFormTest, UpdatesSetTheBarAndKeepLinesNotGiven) {
    struct Case {
        long long Position, Maximum;
        std::string Text;
        std::optional<std::string> Title, Detail;
        int ExpectedBar;
        const char *ExpectedTitle, *ExpectedDetail;
    };
    const Case cases[] = {
        {1, 2, "a", "T", "D", 50, "T", "D"},
        {5, 0, "full", std::nullopt, std::nullopt, 100, "T", "D"}, // a maximum below 1 counts as 1
        {50, 200, "x", std::nullopt, std::nullopt, 25, "T", "D"},
        {199, 200, "", std::nullopt, "file 199", 99, "T", "file 199"},
        {300, 100, "over", "Rotating cuboid", std::nullopt, 100, "Rotating cuboid", "file 199"},
        {-5, 100, "under", std::nullopt, std::nullopt, 0, "Rotating cuboid", "file 199"},
    };
    StartProgress("Loading DICOM files");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_TRUE(UpdateProgress(c.Position, c.Maximum, c.Text, c.Title, c.Detail));
        EXPECT_EQ(Bar(), c.ExpectedBar);
        EXPECT_EQ(Line("TextLine").toStdString(), c.Text);
        EXPECT_EQ(Line("TitleLine"), c.ExpectedTitle);
        EXPECT_EQ(Line("DetailLine"), c.ExpectedDetail);
    }
}

TEST_F(ProgressFormTest, UpdatePaintsAtOnceAndRunsNoOtherEvents) {
    StartProgress("Loading DICOM files");
    LetEventsRun();
    auto* textLine = form_.findChild<QLabel*>("TextLine");
    PaintCounter counter;
    textLine->installEventFilter(&counter);
    bool queuedWorkRan = false;
    QObject context;
    QTimer::singleShot(0, &context, [&queuedWorkRan] { queuedWorkRan = true; });

    // The bar stays at 0, so only the dialog's own repaint can show the new text. Paints at once
    // come at most every few tens of milliseconds (a load reports every file): a long operation
    // that updates after a while is shown at once.
    QThread::msleep(60);
    UpdateProgress(0, 10, "file 0");
    EXPECT_GT(counter.Paints, 0);
    EXPECT_FALSE(queuedWorkRan);
    textLine->removeEventFilter(&counter);
}

TEST_F(ProgressFormTest, StornoCancelsEveryUpdateUntilTheRunEnds) {
    StartProgress("Loading DICOM files");
    CancelButton()->click();
    EXPECT_FALSE(CancelButton()->isEnabled());
    EXPECT_FALSE(UpdateProgress(1, 10, "a"));
    EXPECT_FALSE(UpdateProgress(2, 10, "b", "Squeezing image data", "c"));
    EXPECT_TRUE(form_.isVisible());
    EXPECT_EQ(Line("TextLine"), "b");
    EndProgress();
    EXPECT_FALSE(form_.isVisible());

    // The same dialog serves the next run, not cancelled.
    EXPECT_TRUE(StartProgress("Loading DICOM files"));
    EXPECT_TRUE(form_.isVisible());
    EXPECT_TRUE(CancelButton()->isEnabled());
    EXPECT_TRUE(UpdateProgress(1, 10, "a"));
}

TEST_F(ProgressFormTest, EscPressesStornoAndEnterDoesNot) {
    StartProgress("Loading DICOM files");
    Press(Qt::Key_Return);
    EXPECT_TRUE(CancelButton()->isEnabled());
    EXPECT_TRUE(UpdateProgress(1, 10, "a"));

    Press(Qt::Key_Escape);
    EXPECT_FALSE(CancelButton()->isEnabled());
    EXPECT_TRUE(form_.isVisible()); // open until the run ends
    EXPECT_FALSE(UpdateProgress(2, 10, "b"));
    Press(Qt::Key_Escape);
    EXPECT_FALSE(UpdateProgress(3, 10, "c"));

    EndProgress();
    EXPECT_TRUE(StartProgress("Loading DICOM files"));
    EXPECT_TRUE(UpdateProgress(1, 10, "a"));
}

} // namespace
} // namespace tarvicon
