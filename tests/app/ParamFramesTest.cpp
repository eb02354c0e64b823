#include "app/ParamFrames.h"

#include "app/ParamRules.h"
#include "catalogue/DicomObjects.h"
#include "catalogue/ParameterSessions.h"
#include "config/ColorMappings.h"
#include "config/Schema.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace tarvicon {
namespace {

// Counts the changes a node reports.
class TChangeCount : public INodeListener {
public:
    int Changes = 0;
    void NodeChanged(TConfigNode&) override { ++Changes; }
};

void SendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, at, widget->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void Press(QWidget* widget, QPoint at) {
    SendMouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
}
void DragOver(QWidget* widget, QPoint at) {
    SendMouse(widget, QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
}
void Release(QWidget* widget, QPoint at) {
    SendMouse(widget, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
}
void Hover(QWidget* widget, QPoint at) {
    SendMouse(widget, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
}

QRgb Rgb(const QColor& color) {
    return color.rgb();
}

// A slider in a window with a second input to click away to, over the whole parameter tree.
class ParamFrameTest : public testing::Test {
protected:
    ParamFrameTest() {
        auto* layout = new QVBoxLayout(&window_);
        layout->addWidget(&frame_);
        layout->addWidget(&elsewhere_);
        frame_.setFixedSize(90, 300);
        frame_.OnMoved = [this](TRealParamFrame&) { ++moves_; };
        frame_.OnActivated = [this](TRealParamFrame&) { ++activations_; };
        window_.show(); // lays the frame out: what the label shows depends on its width
    }

    TScalarNode& Node(const char* path) { return NodeAt<TScalarNode>(*root_, path); }
    QWidget* Gauge() { return frame_.findChild<QWidget*>("GaugeBar1"); }
    QLabel* ValueField() { return frame_.findChild<QLabel*>("StaticText1"); }
    // The value box after a click on the value field.
    QLineEdit* OpenBox() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the last edit's box
        Press(ValueField(), ValueField()->rect().center());
        return frame_.findChild<QLineEdit*>("ValueBox");
    }
    QAction* MenuItem(const char* caption) {
        for (QAction* action : frame_.findChild<QMenu*>("PopupMenu1")->actions())
            if (action->text() == caption) return action;
        return nullptr;
    }
    void ShowActive() {
        window_.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    }

    std::unique_ptr<TPresetNode> root_ = CreateParameterTree();
    QWidget window_;
    TRealParamFrame frame_;
    QLineEdit elsewhere_;
    int moves_ = 0;
    int activations_ = 0;
};

TEST_F(ParamFrameTest, GammaStandsAtIndex8AndOneStepWritesExactly1_1) {
    auto& gamma = Node("detail/gamma");
    TChangeCount changes;
    gamma.AddListener(changes);
    frame_.Bind(&gamma);
    EXPECT_EQ(frame_.Node(), &gamma);
    EXPECT_EQ(frame_.Index(), 8);
    EXPECT_NEAR(frame_.Value(), 1.0192, 1e-4);
    EXPECT_EQ(frame_.ValueFieldText(), "1.0 y");
    EXPECT_EQ(frame_.LabelText(), "Gamma");
    EXPECT_EQ(frame_.KeyChar(), 'G');
    EXPECT_EQ(changes.Changes, 0) << "binding never writes to the node";
    EXPECT_EQ(gamma.GetAsFloat(), 1.0);

    const int movesBefore = moves_;
    frame_.StepBy(1, false);
    EXPECT_EQ(frame_.Index(), 9);
    EXPECT_EQ(gamma.GetAsFloat(), 1.1); // the text "1.1", not 1.115…
    EXPECT_EQ(gamma.GetText(), "1.1");
    EXPECT_EQ(frame_.ValueFieldText(), "1.1 y");
    EXPECT_EQ(frame_.StatusText(), "&Gamma = 1.1 y");
    EXPECT_EQ(changes.Changes, 1) << "the node's echo stops at the same text";
    EXPECT_EQ(moves_, movesBefore + 1);
    gamma.RemoveListener(changes);
}

TEST_F(ParamFrameTest, BindingLeavesAValueBetweenPositionsAlone) {
    struct TCase {
        const char* path;
        double value;
        const char* field;
    };
    const TCase cases[] = {
        {"detail/gamma", 1.05, "1.0 y"},
        {"detail/angle", 0.3, "0.5 \xC2\xB0"},
        {"detail/zoom", 0.1, "0"},
    };
    for (const TCase& c : cases) {
        auto& node = Node(c.path);
        node.SetAsFloat(c.value);
        TChangeCount changes;
        node.AddListener(changes);
        frame_.Bind(&node);
        EXPECT_EQ(frame_.ValueFieldText().toStdString(), c.field) << c.path;
        EXPECT_EQ(node.GetAsFloat(), c.value) << c.path;
        EXPECT_EQ(changes.Changes, 0) << c.path;
        node.RemoveListener(changes);
    }
}

TEST_F(ParamFrameTest, PositionsShowAndWriteTheirValues) {
    struct TCase {
        const char* path;
        int index;
        const char* field;
        const char* nodeText;
    };
    const TCase cases[] = {
        {"detail/thickness", 0, "1 px", "1"},
        {"detail/thickness", 254, "255 px", "255"},
        {"detail/thickness", 9999, "255 px", "255"}, // the slider stops at the top
        {"detail/thickness", -9999, "1 px", "1"},
        {"detail/gamma", 39, "4.0 y", "4"},
        {"detail/angle", 720, "180.0 \xC2\xB0", "180"},
        {"detail/angle", 1, "-179.5 \xC2\xB0", "-179.5"},
        {"detail/zoom", 0, "20", "20"}, // a falling range: the bottom is 20
        {"detail/alpha", 50, "50 %", "50"},
    };
    for (const TCase& c : cases) {
        frame_.Bind(&Node(c.path));
        frame_.SetIndex(c.index);
        EXPECT_EQ(frame_.ValueFieldText().toStdString(), c.field) << c.path << " " << c.index;
        EXPECT_EQ(Node(c.path).GetText(), c.nodeText) << c.path << " " << c.index;
    }
    frame_.Bind(&Node("detail/thickness"));
    frame_.SetIndex(0);
    frame_.ResetToMin();
    EXPECT_EQ(frame_.Index(), 0);
    frame_.SetValue(255);
    EXPECT_EQ(frame_.Index(), 254);
}

TEST_F(ParamFrameTest, TheSliceSliderKeepsWholeSlices) {
    auto& slice = Node("detail/slice"); // a word node: 100 positions over the slices, pattern ""
    slice.SetMax(4);
    frame_.Bind(&slice);
    frame_.SetIndex(74); // 2.9899…: a fraction would read back as slice 0
    EXPECT_EQ(slice.GetText(), "3");

    // 200 slices: positions lie 2.01 apart, so slice 5 has none; the slider shows the nearest
    // and leaves the slice as it is.
    slice.SetMax(199);
    slice.SetAsInteger(5);
    EXPECT_EQ(frame_.Index(), 2);
    EXPECT_EQ(slice.GetAsInteger(), 5);
    frame_.StepBy(1, false);
    EXPECT_EQ(slice.GetAsInteger(), 6); // 6.03
}

TEST_F(ParamFrameTest, TheCyclicAngleWrapsWhereTheOthersStop) {
    auto& angle = Node("detail/angle");
    frame_.Bind(&angle);
    EXPECT_EQ(frame_.Index(), 360);
    frame_.SetIndex(720);
    EXPECT_EQ(angle.GetAsFloat(), 180);

    frame_.StepBy(1, false);
    EXPECT_EQ(frame_.Index(), 0);
    EXPECT_EQ(angle.GetAsFloat(), -180);
    EXPECT_EQ(frame_.ValueFieldText(), "-180.0 \xC2\xB0");
    frame_.StepBy(-1, false);
    EXPECT_EQ(frame_.Index(), 720);
    frame_.StepBy(1, true); // 22 positions on from the top
    EXPECT_EQ(frame_.Index(), 21);
    EXPECT_EQ(angle.GetAsFloat(), -169.5);

    // The handle itself stops at the ends.
    frame_.SetIndex(720);
    QWidget* gauge = Gauge();
    Press(gauge, {gauge->width() / 2, 10});
    DragOver(gauge, {gauge->width() / 2, -200});
    Release(gauge, {gauge->width() / 2, -200});
    EXPECT_EQ(frame_.Index(), 720);
    EXPECT_EQ(angle.GetAsFloat(), 180);
    Press(gauge, {gauge->width() / 2, 10});
    DragOver(gauge, {gauge->width() / 2, gauge->height() + 200});
    Release(gauge, {gauge->width() / 2, gauge->height() + 200});
    EXPECT_EQ(frame_.Index(), 0);
    EXPECT_EQ(angle.GetAsFloat(), -180);

    auto& thickness = Node("detail/thickness");
    frame_.Bind(&thickness);
    frame_.SetIndex(254);
    const int movesAtTop = moves_;
    frame_.StepBy(1, false);
    frame_.StepBy(3, true);
    EXPECT_EQ(frame_.Index(), 254);
    EXPECT_EQ(moves_, movesAtTop) << "nothing moved";
    EXPECT_EQ(thickness.GetAsFloat(), 255);
}

TEST_F(ParamFrameTest, ATrackPressMovesALargeStepAndActivates) {
    frame_.Bind(&Node("detail/angle")); // index 360: the handle in the middle
    QWidget* gauge = Gauge();
    Press(gauge, {gauge->width() / 2, gauge->height() - 2});
    Release(gauge, {gauge->width() / 2, gauge->height() - 2});
    EXPECT_EQ(frame_.Index(), 360 - 22);
    EXPECT_EQ(activations_, 1);
}

TEST_F(ParamFrameTest, TypedValuesEnterEscAndLeaving) {
    ShowActive();
    auto& thickness = Node("detail/thickness");
    frame_.Bind(&thickness);
    struct TCase {
        const char* typed;
        Qt::Key key;
        double value;
    };
    const TCase cases[] = {
        {"25", Qt::Key_Return, 25}, {"25", Qt::Key_Escape, 100},
        {"25", Qt::Key_Enter, 25},  {"1000", Qt::Key_Return, 255}, // out of range: as far as the slider goes
        {"-7", Qt::Key_Return, 1},  {"12.6", Qt::Key_Return, 13},
        {"abc", Qt::Key_Return, 1}, // not a number: 0, below the range
    };
    for (const TCase& c : cases) {
        thickness.SetAsFloat(100);
        ASSERT_EQ(frame_.ValueFieldText(), "100 px");
        QPointer<QLineEdit> box = OpenBox();
        ASSERT_TRUE(box);
        EXPECT_TRUE(box->isVisible());
        EXPECT_TRUE(box->hasFocus());
        EXPECT_EQ(box->text(), "100");
        QTest::keyClicks(box, c.typed); // replaces the selected text
        QTest::keyClick(box, c.key);
        EXPECT_EQ(thickness.GetAsFloat(), c.value) << c.typed;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(box) << "the box goes with the edit";
    }

    // After an Esc, the next edit is a new one: leaving it by a click elsewhere applies it.
    thickness.SetAsFloat(100);
    QTest::keyClicks(OpenBox(), "40");
    QTest::keyClick(frame_.findChild<QLineEdit*>("ValueBox"), Qt::Key_Escape);
    EXPECT_EQ(thickness.GetAsFloat(), 100);
    QTest::keyClicks(OpenBox(), "60");
    QTest::mouseClick(&elsewhere_, Qt::LeftButton);
    EXPECT_TRUE(elsewhere_.hasFocus());
    EXPECT_EQ(thickness.GetAsFloat(), 60);
    EXPECT_EQ(frame_.ValueFieldText(), "60 px");
    EXPECT_EQ(activations_, 9) << "each click on the value field selects the slider";
}

TEST_F(ParamFrameTest, TheBoxMenuConfirmsAndRejects) {
    ShowActive();
    QAction* ok = MenuItem("OK");
    QAction* cancel = MenuItem("Cancel");
    ASSERT_TRUE(ok && cancel);
    EXPECT_EQ(ok->shortcut(), QKeySequence(Qt::Key_Return));
    EXPECT_EQ(ok->statusTip(), "Confirm value");
    EXPECT_EQ(cancel->shortcut(), QKeySequence(Qt::Key_Escape));
    EXPECT_EQ(cancel->statusTip(), "Reject value");

    auto& alpha = Node("detail/alpha");
    frame_.Bind(&alpha);
    QTest::keyClicks(OpenBox(), "70");
    cancel->trigger();
    EXPECT_EQ(alpha.GetAsFloat(), 0);
    QTest::keyClicks(OpenBox(), "70");
    ok->trigger();
    EXPECT_EQ(alpha.GetAsFloat(), 70);
    EXPECT_EQ(frame_.ValueFieldText(), "70 %");
}

TEST_F(ParamFrameTest, BindingNoneShowsDotsAndLetsTheNodeGo) {
    auto& gamma = Node("detail/gamma");
    frame_.Bind(&gamma);
    frame_.Bind(&Node("detail/thickness"));
    EXPECT_EQ(gamma.ListenerCount(), 0);
    frame_.Bind(nullptr);
    EXPECT_EQ(frame_.Node(), nullptr);
    EXPECT_EQ(Node("detail/thickness").ListenerCount(), 0);
    EXPECT_EQ(frame_.LabelText(), "...");
    EXPECT_EQ(frame_.ValueFieldText(), "0");
    EXPECT_EQ(frame_.Min(), 0);
    EXPECT_EQ(frame_.Max(), 1);
    EXPECT_EQ(frame_.Steps(), 2);
    EXPECT_EQ(frame_.KeyChar(), '?');
    EXPECT_FALSE(frame_.ParamEnabled());
    EXPECT_FALSE(Gauge()->isEnabled());
    EXPECT_FALSE(ValueField()->isEnabled());
    EXPECT_EQ(Node("detail/thickness").GetAsFloat(), 1);

    gamma.SetAsFloat(3);
    EXPECT_EQ(frame_.ValueFieldText(), "0");
    frame_.Bind(root_.get()); // not a scalar: binds as none
    EXPECT_EQ(frame_.Node(), nullptr);
}

TEST_F(ParamFrameTest, FollowsTheNodeUnlessSuspended) {
    auto& gamma = Node("detail/gamma");
    frame_.Bind(&gamma);
    gamma.SetAsFloat(2);
    EXPECT_EQ(frame_.Index(), 18);
    EXPECT_EQ(frame_.ValueFieldText(), "2.0 y");
    EXPECT_EQ(gamma.GetAsFloat(), 2) << "the slider's write of \"2.0\" leaves the node as it is";

    gamma.SetCaption("Gamm&a");
    gamma.SetUnits("g");
    gamma.SetHint("Display gamma");
    EXPECT_EQ(frame_.Caption(), "Gamm&a");
    EXPECT_EQ(frame_.LabelText(), "Gamma");
    EXPECT_EQ(frame_.ValueFieldText(), "2.0 g");
    gamma.SetEnabled(false);
    EXPECT_FALSE(frame_.ParamEnabled());
    EXPECT_FALSE(Gauge()->isEnabled());
    EXPECT_EQ(frame_.toolTip(), "Display gamma");
    gamma.SetEnabled(true);

    frame_.Suspend();
    frame_.Suspend();
    gamma.SetAsFloat(3);
    EXPECT_EQ(frame_.Index(), 18);
    frame_.Resume();
    EXPECT_EQ(frame_.Index(), 18);
    frame_.Resume();
    EXPECT_EQ(frame_.Index(), 29);
    EXPECT_EQ(frame_.ValueFieldText(), "3.0 g");
    frame_.Resume(); // one too many changes nothing
    gamma.SetAsFloat(1);
    EXPECT_EQ(frame_.Index(), 8);
}

TEST_F(ParamFrameTest, ANarrowLabelShowsTheKeyLetter) {
    frame_.Bind(&Node("detail/angle"));
    EXPECT_EQ(frame_.LabelText(), "Angle");
    frame_.setFixedSize(8, 300);
    EXPECT_EQ(frame_.LabelText(), "n");
    EXPECT_EQ(frame_.ValueFieldText(), "0.0");
    EXPECT_EQ(frame_.StatusText(), "A&ngle = 0.0 \xC2\xB0");
}

TEST_F(ParamFrameTest, HighlightColoursTheHandleAndTopPanel) {
    frame_.Bind(&Node("detail/gamma")); // index 8 of 40: the handle low in the gauge
    QWidget* gauge = Gauge();
    const TGaugeHandle handle = GaugeHandleOf(gauge->height(), 39, 31);
    const QPoint inHandle = gauge->mapTo(&frame_, QPoint(4, handle.Top + 5));
    const QPoint inPanel(1, 1);
    const QPoint onTrack = gauge->mapTo(&frame_, QPoint(gauge->width() / 2, 2));
    const QRgb sky = qRgb(166, 202, 240);

    frame_.SetHighlighted(true);
    QImage picture = frame_.grab().toImage();
    EXPECT_EQ(picture.pixel(inHandle), sky);
    EXPECT_EQ(picture.pixel(inPanel), sky);
    EXPECT_NE(picture.pixel(onTrack), sky);

    frame_.SetHighlighted(false);
    picture = frame_.grab().toImage();
    EXPECT_EQ(picture.pixel(inHandle), Rgb(frame_.palette().color(QPalette::Button)));
    EXPECT_EQ(picture.pixel(inPanel), Rgb(frame_.palette().color(QPalette::Button)));
}

TEST_F(ParamFrameTest, CursorReachesTheSlider) {
    frame_.SetCursor(QCursor(Qt::SizeVerCursor));
    EXPECT_EQ(frame_.cursor().shape(), Qt::SizeVerCursor);
    EXPECT_EQ(Gauge()->cursor().shape(), Qt::SizeVerCursor);
}

// The colour bar over the session's level: scale raw 0 … 1024, window 25 … 75 % with the phase
// at 50 %, so the lines lie at y 192, 64 and 128 of 256.
class ColoringFrameTest : public testing::Test {
protected:
    ColoringFrameTest() {
        session_.Existing("detail/colormapping/level/scaling/low").SetText("0");
        session_.Existing("detail/colormapping/level/scaling/high").SetText("1024");
        SetLevel(25, 75, 50);
        bar_.resize(30, 256);
        bar_.SetRoot(&session_.Root());
        bar_.SetMapping(&mapping_);
        bar_.SetSeries(&series_);
    }

    TScalarNode& Level(const char* name) {
        return NodeAt<TScalarNode>(session_.Root(), std::string("detail/colormapping/level/") + name);
    }
    void SetLevel(double low, double high, double phase) {
        Level("low").SetAsFloat(low);
        Level("high").SetAsFloat(high);
        Level("phase").SetAsFloat(phase);
    }
    // What the bar shows; painting brings the mapping up to date.
    QImage Picture() { return bar_.grab().toImage(); }
    QRgb TableColor(int raw) const { return 0xFF000000u | series_.ColorTable()[std::size_t(raw)]; }

    TParameterSession session_;
    TColorMapping& mapping_ = session_.DetailMapping();
    TDicomSingleImage series_;
    TColoringFrame bar_;
};

TEST_F(ColoringFrameTest, PaintsTheTableWithInvertedDottedLines) {
    const QImage picture = Picture();
    EXPECT_FALSE(mapping_.Dirty());
    ASSERT_EQ(mapping_.WindowLow(), 256);
    ASSERT_EQ(mapping_.WindowHigh(), 768);
    ASSERT_EQ(mapping_.PhaseSplit(), 512);
    EXPECT_NE(TableColor(0), TableColor(1020)) << "a ramp, so rows can be told apart";
    for (int y = 0; y < 256; ++y) {
        const QRgb color = TableColor(4 * (255 - y));
        const bool line = y == 191 || y == 127 || y == 63;
        EXPECT_EQ(picture.pixel(1, y), color) << y;
        EXPECT_EQ(picture.pixel(0, y), line ? (0xFF000000u | ~color) : color) << y;
    }
}

TEST_F(ColoringFrameTest, AnEmptyScaleStillPaints) {
    session_.Existing("detail/colormapping/level/scaling/low").SetText("500");
    session_.Existing("detail/colormapping/level/scaling/high").SetText("500");
    const QImage picture = Picture();
    ASSERT_EQ(mapping_.ScaleLow(), 500);
    ASSERT_EQ(mapping_.ScaleHigh(), 500);
    for (int y = 0; y < 256; ++y) EXPECT_EQ(picture.pixel(1, y), TableColor(500)) << y;
    EXPECT_EQ(bar_.HitTest(15, 3), 1) << "every line at the top";
}

TEST_F(ColoringFrameTest, WithoutSeriesOrMappingNothingIsPaintedOrDragged) {
    TColoringFrame bare;
    bare.resize(30, 256);
    const QImage picture = bare.grab().toImage();
    EXPECT_EQ(picture.pixel(15, 100), Rgb(bare.palette().color(QPalette::Button)));
    EXPECT_EQ(bare.HitTest(15, 160), -1);
}

TEST_F(ColoringFrameTest, DragsChangeExactlyTheirLevelValues) {
    struct TCase {
        const char* what;
        int from, over, to;
        int mode;
        double low, high, phase;
    };
    const TCase cases[] = {
        // percents: y 160 → 37.5, 140 → 45.3125; the window keeps its offsets −12.5 and 37.5
        {"window", 160, 150, 140, 0, 32.8125, 82.8125, 50},
        {"low end", 192, 180, 176, 1, 31.25, 75, 50},
        {"high end", 64, 60, 48, 2, 25, 81.25, 50},
        {"phase", 128, 120, 112, 3, 25, 75, 62.5}, // (56.25 − 25) / 50
        {"outside", 230, 200, 112, -1, 25, 75, 50},
    };
    for (const TCase& c : cases) {
        SetLevel(25, 75, 50);
        Picture();
        Press(&bar_, {15, c.from});
        EXPECT_EQ(bar_.DragMode(), c.mode) << c.what;
        DragOver(&bar_, {15, c.over});
        Release(&bar_, {15, c.to});
        EXPECT_EQ(bar_.DragMode(), -1);
        EXPECT_EQ(Level("low").GetAsFloat(), c.low) << c.what;
        EXPECT_EQ(Level("high").GetAsFloat(), c.high) << c.what;
        EXPECT_EQ(Level("phase").GetAsFloat(), c.phase) << c.what;
        // The session keeps center and width the mirror of the ends.
        EXPECT_EQ(Level("center").GetAsFloat(), (c.low + c.high) / 2) << c.what;
    }
}

TEST_F(ColoringFrameTest, APhaseDragWithEqualEndsChangesNothing) {
    Picture();
    Press(&bar_, {15, 128});
    ASSERT_EQ(bar_.DragMode(), 3);
    Level("low").SetAsFloat(50);
    Level("high").SetAsFloat(50);
    DragOver(&bar_, {15, 100});
    Release(&bar_, {15, 90});
    EXPECT_EQ(Level("phase").GetAsFloat(), 50);
    EXPECT_EQ(Level("low").GetAsFloat(), 50);
    EXPECT_EQ(Level("high").GetAsFloat(), 50);
}

TEST_F(ColoringFrameTest, PressesNearTheSidesStartNoDrag) {
    Picture();
    for (const int x : {0, 3, 5, 25, 27, 29}) {
        Press(&bar_, {x, 160});
        EXPECT_EQ(bar_.DragMode(), -1) << x;
        DragOver(&bar_, {x, 100});
        Release(&bar_, {x, 100});
        EXPECT_EQ(Level("low").GetAsFloat(), 25) << x;
        EXPECT_EQ(Level("high").GetAsFloat(), 75) << x;
    }
    for (const int x : {6, 24}) {
        Press(&bar_, {x, 160});
        EXPECT_EQ(bar_.DragMode(), 0) << x;
        Release(&bar_, {x, 160});
    }
    SendMouse(&bar_, QEvent::MouseButtonPress, {15, 160}, Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(bar_.DragMode(), -1) << "only the left button drags";
}

TEST_F(ColoringFrameTest, CursorShowsWhatAPressWouldDrag) {
    Picture();
    const struct {
        QPoint at;
        Qt::CursorShape shape;
    } cases[] = {
        {{15, 160}, Qt::SizeVerCursor}, {{15, 192}, Qt::SplitVCursor}, {{15, 64}, Qt::SplitVCursor},
        {{15, 128}, Qt::SplitVCursor},  {{15, 20}, Qt::CrossCursor},   {{2, 160}, Qt::CrossCursor},
    };
    for (const auto& c : cases) {
        Hover(&bar_, c.at);
        EXPECT_EQ(bar_.cursor().shape(), c.shape) << c.at.x() << "," << c.at.y();
    }
}

} // namespace
} // namespace tarvicon
