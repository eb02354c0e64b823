#include "app/ParamFrames.h"

#include "app/ParamRules.h"
#include "catalogue/DicomObjects.h"
#include "config/ColorMappings.h"

#include <QAction>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <optional>

namespace tarvicon {

namespace {

// The active slider's handle and top panel.
const QColor kHighlightColor(166, 202, 240);

TSliderRange RangeOf(const TRealParamFrame& frame) {
    return {frame.Min(), frame.Max(), frame.Steps(), frame.Cyclic()};
}

QString Shown(const std::string& text) {
    return QString::fromStdString(text);
}

int TextWidth(const QLabel& label, const std::string& text) {
    return label.fontMetrics().horizontalAdvance(Shown(text));
}

bool IsEnterKey(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// Byte, word and integer nodes: a fraction written to them would not read back as its value.
bool HoldsWholeNumbers(const TConfigNode& node) {
    return dynamic_cast<const TByteNode*>(&node) || dynamic_cast<const TWordNode*>(&node) ||
           dynamic_cast<const TIntegerNode*>(&node);
}

// Counts up for the life of a scope.
class TCountIn {
public:
    explicit TCountIn(int& count) : count_(count) { ++count_; }
    ~TCountIn() { --count_; }
    TCountIn(const TCountIn&) = delete;
    TCountIn& operator=(const TCountIn&) = delete;

private:
    int& count_;
};

} // namespace

// The frame's vertical slider: position 0 at the top, a raised handle of up to 30 pixels that the
// mouse drags, a press on the track beside it moves a large step towards the press.
class TGaugeBar : public QWidget {
public:
    explicit TGaugeBar(QWidget* parent) : QWidget(parent) { setFocusPolicy(Qt::ClickFocus); }

    // The position changed, by the mouse or by SetPosition.
    std::function<void()> OnChange;
    // A mouse button went down on the gauge.
    std::function<void()> OnPress;

    int Position() const { return position_; }
    // Limited to 0 … Maximum; tells OnChange when the position changes.
    void SetPosition(int position) {
        position = std::clamp(position, 0, maximum_);
        if (position == position_) return;
        position_ = position;
        update();
        if (OnChange) OnChange();
    }
    int Maximum() const { return maximum_; }
    // Limits the position to the new range (which may move it).
    void SetMaximum(int maximum) {
        maximum_ = std::max(maximum, 0);
        update();
        SetPosition(position_);
    }
    void SetLargeChange(int step) { largeChange_ = step; }
    void SetHandleColor(const QColor& color) {
        handleColor_ = color;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QPalette& colors = palette();
        painter.fillRect(rect(), colors.color(QPalette::Window));
        const int trackWidth = std::min(6, width());
        const QRect track((width() - trackWidth) / 2, 0, trackWidth, height());
        painter.fillRect(track, colors.color(isEnabled() ? QPalette::Dark : QPalette::Mid));
        const TGaugeHandle handle = GaugeHandleOf(height(), maximum_, position_);
        const QRect face(0, handle.Top, width(), handle.Size);
        if (face.width() < 2 || face.height() < 2) return;
        painter.fillRect(face, handleColor_);
        painter.setPen(colors.color(QPalette::Light));
        painter.drawLine(face.topLeft(), face.topRight());
        painter.drawLine(face.topLeft(), face.bottomLeft());
        painter.setPen(colors.color(QPalette::Shadow));
        painter.drawLine(face.bottomLeft(), face.bottomRight());
        painter.drawLine(face.topRight(), face.bottomRight());
        const int grip = face.center().y();
        painter.setPen(colors.color(QPalette::Dark));
        painter.drawLine(face.left() + 3, grip, face.right() - 3, grip);
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (OnPress) OnPress();
        if (event->button() != Qt::LeftButton) return;
        const int y = event->position().toPoint().y();
        const TGaugeHandle handle = GaugeHandleOf(height(), maximum_, position_);
        if (y >= handle.Top && y < handle.Top + handle.Size)
            grab_ = y - handle.Top;
        else
            SetPosition(GaugeTrackPress(height(), maximum_, position_, largeChange_, y));
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (grab_ && (event->buttons() & Qt::LeftButton))
            SetPosition(GaugePositionAt(height(), maximum_, event->position().toPoint().y() - *grab_));
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) grab_.reset();
    }

private:
    int position_ = 0;
    int maximum_ = 1;
    int largeChange_ = 0;
    QColor handleColor_;
    // Where in the handle the drag took it, while dragging.
    std::optional<int> grab_;
};

// --- TRealParamFrame ---

TRealParamFrame::TRealParamFrame(QWidget* parent) : QWidget(parent) {
    topPanel_ = new QWidget(this);
    topPanel_->setObjectName("Panel1");
    topPanel_->setAutoFillBackground(true);
    label2_ = new QLabel(topPanel_);
    label2_->setObjectName("Label2");
    label2_->setTextFormat(Qt::PlainText);
    label2_->setAlignment(Qt::AlignCenter);
    staticText1_ = new QLabel(topPanel_);
    staticText1_->setObjectName("StaticText1");
    staticText1_->setTextFormat(Qt::PlainText);
    staticText1_->setAlignment(Qt::AlignCenter);
    staticText1_->installEventFilter(this);

    gaugeBar1_ = new TGaugeBar(this);
    gaugeBar1_->setObjectName("GaugeBar1");
    gaugeBar1_->SetMaximum(SliderMaximum(steps_));
    gaugeBar1_->SetLargeChange(LargeStep(steps_));
    gaugeBar1_->OnChange = [this] { SliderMoved(); };
    gaugeBar1_->OnPress = [this] {
        if (OnActivated) OnActivated(*this);
    };

    // The value box's menu; its keys work through the box itself, so the shortcuts only label it.
    popupMenu1_ = new QMenu(this);
    popupMenu1_->setObjectName("PopupMenu1");
    popupMenu1_->setToolTipsVisible(true);
    const auto item = [this](const char* caption, Qt::Key key, const char* hint) {
        QAction* action = popupMenu1_->addAction(caption);
        action->setShortcut(QKeySequence(key));
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setToolTip(hint);
        action->setStatusTip(hint);
        return action;
    };
    connect(item("OK", Qt::Key_Return, "Confirm value"), &QAction::triggered, this,
            &TRealParamFrame::ConfirmEdit);
    connect(item("Cancel", Qt::Key_Escape, "Reject value"), &QAction::triggered, this,
            &TRealParamFrame::CancelEdit);

    PaintHighlight();
    RefreshDisplay();
}

TRealParamFrame::~TRealParamFrame() {
    // An open value box goes without applying what it holds.
    if (editBox_) {
        editBox_->removeEventFilter(this);
        delete editBox_;
    }
}

void TRealParamFrame::Bind(TConfigNode* node) {
    auto* scalar = dynamic_cast<TScalarNode*>(node);
    if (scalar == node_) return;
    if (node_) node_->RemoveListener(*this);
    node_ = nullptr;
    if (scalar) {
        gaugeBar1_->setEnabled(true);
        SetCaption(scalar->Caption());
        SetKeyChar(scalar->KeyChar() ? scalar->KeyChar() : '?');
        SetUnits(scalar->Units());
        SetMin(scalar->Min());
        SetSteps(scalar->Steps());
        SetMax(scalar->Max());
        SetFormat(scalar->Format());
        SetValue(scalar->GetAsFloat());
        SetParamEnabled(scalar->Enabled());
        SetCyclic(scalar->Cyclic());
        // Only now: the moves above were the slider's own, not the user's.
        node_ = scalar;
        scalar->AddListener(*this);
    } else {
        SetCyclic(false);
        SetParamEnabled(false);
        SetCaption("...");
        SetKeyChar('?');
        SetUnits("");
        SetMin(0);
        SetSteps(2);
        SetMax(1);
        SetFormat("0");
        SetValue(0);
    }
}

double TRealParamFrame::Value() const {
    return ValueOfIndex(RangeOf(*this), Index());
}

std::string TRealParamFrame::ValueText() const {
    return PatternText(Value(), format_);
}

void TRealParamFrame::SetValue(double value) {
    const std::optional<int> index = IndexOfValue(RangeOf(*this), value);
    if (!index || *index == Index()) return;
    SetIndex(*index);
    RefreshDisplay();
}

void TRealParamFrame::SetValueText(const std::string& text) {
    SetValue(TypedValue(text));
}

int TRealParamFrame::Index() const {
    return IndexOfPosition(steps_, gaugeBar1_->Position());
}

void TRealParamFrame::SetIndex(int index) {
    gaugeBar1_->SetPosition(PositionOfIndex(RangeOf(*this), index));
}

void TRealParamFrame::StepBy(int delta, bool large) {
    const long long step = large ? LargeStep(steps_) : 1;
    SetIndex(static_cast<int>(std::clamp<long long>(Index() + delta * step, -1000000000, 1000000000)));
}

void TRealParamFrame::SetMin(double min) {
    if (min == min_) return;
    min_ = min;
    RefreshDisplay();
}

void TRealParamFrame::SetMax(double max) {
    if (max == max_) return;
    max_ = max;
    RefreshDisplay();
}

void TRealParamFrame::SetSteps(int steps) {
    if (steps == steps_) return;
    steps_ = steps;
    gaugeBar1_->SetLargeChange(LargeStep(steps));
    gaugeBar1_->SetMaximum(SliderMaximum(steps));
    RefreshDisplay();
}

void TRealParamFrame::SetUnits(const std::string& units) {
    if (units == units_) return;
    units_ = units;
    RefreshDisplay();
}

void TRealParamFrame::SetFormat(const std::string& format) {
    if (format == format_) return;
    format_ = format;
    RefreshDisplay();
}

void TRealParamFrame::SetCaption(const std::string& caption) {
    if (caption == caption_) return;
    caption_ = caption;
    RefreshDisplay();
}

void TRealParamFrame::SetKeyChar(char key) {
    if (key == keyChar_) return;
    keyChar_ = key;
    RefreshDisplay();
}

void TRealParamFrame::SetParamEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    RefreshDisplay();
}

void TRealParamFrame::SetCyclic(bool cyclic) {
    cyclic_ = cyclic;
}

void TRealParamFrame::SetHighlighted(bool highlighted) {
    highlighted_ = highlighted;
    PaintHighlight();
}

std::string TRealParamFrame::StatusText() const {
    return ParamStatusText(caption_, ValueWithUnits(ValueText(), units_));
}

QString TRealParamFrame::LabelText() const {
    return label2_->text();
}

QString TRealParamFrame::ValueFieldText() const {
    return staticText1_->text();
}

void TRealParamFrame::SetCursor(const QCursor& cursor) {
    setCursor(cursor);
    gaugeBar1_->setCursor(cursor);
}

void TRealParamFrame::Suspend() {
    ++suspendCount_;
}

void TRealParamFrame::Resume() {
    if (suspendCount_ == 0) return;
    if (--suspendCount_ == 0 && node_) NodeChanged(*node_);
}

void TRealParamFrame::NodeChanged(TConfigNode& node) {
    if (suspendCount_ > 0) return;
    const TCountIn following(following_);
    const std::string text = node.GetText();
    if (auto* scalar = dynamic_cast<TScalarNode*>(&node)) {
        SetMin(scalar->Min());
        SetMax(scalar->Max());
        SetSteps(scalar->Steps());
        SetUnits(scalar->Units());
        SetKeyChar(scalar->KeyChar() ? scalar->KeyChar() : '?');
        SetCaption(scalar->Caption());
        SetFormat(scalar->Format());
        setToolTip(Shown(scalar->Hint()));
        setStatusTip(Shown(scalar->Hint()));
        SetParamEnabled(scalar->Enabled());
    } else {
        SetParamEnabled(false);
    }
    // The echo of the slider's own write finds the same text and ends here; another value moves
    // the slider to the nearest position without writing that position back.
    if (ValueText() != text) SetValueText(text);
}

bool TRealParamFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == staticText1_ && event->type() == QEvent::MouseButtonPress) {
        if (!enabled_) return true;
        if (OnActivated) OnActivated(*this);
        BeginEdit();
        return true;
    }
    if (editBox_ && watched == editBox_) {
        switch (event->type()) {
        case QEvent::ShortcutOverride: {
            // Enter and Esc belong to the box, not to the window's commands.
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (IsEnterKey(key) || key == Qt::Key_Escape) {
                event->accept();
                return true;
            }
            break;
        }
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (IsEnterKey(key)) {
                ConfirmEdit();
                return true;
            }
            if (key == Qt::Key_Escape) {
                CancelEdit();
                return true;
            }
            break;
        }
        case QEvent::ContextMenu:
            popupMenu1_->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        case QEvent::FocusOut: {
            // The box's own menu and a switch to another window leave the edit open.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) EndEdit();
            break;
        }
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TRealParamFrame::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int row = fontMetrics().height() + 2;
    const int panelHeight = 2 * row + 2;
    topPanel_->setGeometry(0, 0, width(), panelHeight);
    label2_->setGeometry(0, 1, width(), row);
    staticText1_->setGeometry(0, 1 + row, width(), row);
    if (editBox_) editBox_->setGeometry(staticText1_->geometry());
    gaugeBar1_->setGeometry(0, panelHeight, width(), std::max(0, height() - panelHeight));
    RefreshDisplay();
}

void TRealParamFrame::SliderMoved() {
    RefreshDisplay();
    if (node_ && following_ == 0) node_->SetText(NodeValueText(Value(), format_, HoldsWholeNumbers(*node_)));
    staticText1_->update();
    gaugeBar1_->update();
    if (OnMoved) OnMoved(*this);
}

void TRealParamFrame::RefreshDisplay() {
    const std::string value = ValueText();
    const std::string withUnits = ValueWithUnits(value, units_);
    label2_->setText(Shown(LabelShown(caption_, TextWidth(*label2_, CaptionWithoutAccelerator(caption_)),
                                      label2_->contentsRect().width())));
    staticText1_->setText(Shown(ValueFieldShown(value, withUnits, TextWidth(*staticText1_, withUnits),
                                                staticText1_->contentsRect().width())));
    gaugeBar1_->setEnabled(enabled_);
    label2_->setEnabled(enabled_);
    staticText1_->setEnabled(enabled_);
}

void TRealParamFrame::PaintHighlight() {
    const QColor color = highlighted_ ? kHighlightColor : palette().color(QPalette::Button);
    QPalette colors = topPanel_->palette();
    colors.setColor(QPalette::Window, color);
    topPanel_->setPalette(colors);
    gaugeBar1_->SetHandleColor(color);
}

void TRealParamFrame::BeginEdit() {
    if (editBox_) return;
    editCancelled_ = false;
    textBeforeEdit_ = ValueText();
    auto* box = new QLineEdit(topPanel_);
    box->setObjectName("ValueBox");
    box->setFrame(false);
    box->setAlignment(staticText1_->alignment());
    box->setGeometry(staticText1_->geometry());
    box->setText(Shown(textBeforeEdit_));
    box->selectAll();
    box->installEventFilter(this);
    editBox_ = box;
    box->show();
    box->setFocus(Qt::MouseFocusReason);
}

void TRealParamFrame::ConfirmEdit() {
    if (!editBox_) return;
    gaugeBar1_->setFocus(Qt::OtherFocusReason);
    EndEdit();
}

void TRealParamFrame::CancelEdit() {
    if (!editBox_) return;
    editCancelled_ = true;
    gaugeBar1_->setFocus(Qt::OtherFocusReason);
    EndEdit();
}

void TRealParamFrame::EndEdit() {
    if (!editBox_) return;
    QLineEdit* box = editBox_;
    editBox_ = nullptr;
    const std::string text = box->text().toStdString();
    box->removeEventFilter(this);
    box->hide();
    box->deleteLater();
    if (editCancelled_) return;
    try {
        SetValueText(text);
    } catch (...) {
        SetValueText(textBeforeEdit_);
        throw;
    }
}

// --- TColoringFrame ---

namespace {

TColorBarScale ScaleOf(const TColorMapping& mapping) {
    return {mapping.ScaleLow(), mapping.ScaleHigh(), mapping.WindowLow(), mapping.WindowHigh(),
            mapping.PhaseSplit()};
}

Qt::CursorShape CursorOfMode(int mode) {
    if (mode == 0) return Qt::SizeVerCursor;
    if (mode >= 1 && mode <= 3) return Qt::SplitVCursor;
    return Qt::CrossCursor;
}

} // namespace

TColoringFrame::TColoringFrame(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
}

void TColoringFrame::SetMapping(TColorMapping* mapping) {
    mapping_ = mapping;
    update();
}

void TColoringFrame::SetSeries(TDicomObject* series) {
    series_ = series;
    update();
}

int TColoringFrame::HitTest(int x, int y) const {
    if (!mapping_) return -1;
    return ColorBarHitTest(ScaleOf(*mapping_), x, y, width(), height());
}

void TColoringFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int w = width(), h = height();
    if (!series_ || !mapping_ || w <= 0 || h <= 0) {
        painter.fillRect(rect(), palette().color(QPalette::Button));
        return;
    }
    TColorTable& table = series_->ColorTable();
    if (mapping_->Dirty()) mapping_->FillTable(&table);
    const TColorBarScale scale = ScaleOf(*mapping_);
    QImage bar(w, h, QImage::Format_RGB32);
    for (int row = 0; row < h; ++row) {
        const TColor color = 0xFF000000u | table[std::size_t(ColorBarRowRaw(scale, row, h))];
        auto* line = reinterpret_cast<QRgb*>(bar.scanLine(h - row - 1));
        std::fill(line, line + w, color);
    }
    // Dotted lines that invert what lies under them.
    for (const int y : ColorBarLineRows(scale, h)) {
        if (y < 0 || y >= h) continue;
        auto* line = reinterpret_cast<QRgb*>(bar.scanLine(y));
        for (int x = 0; x < w; x += 2) line[x] = 0xFF000000u | ~line[x];
    }
    painter.drawImage(0, 0, bar);
}

TScalarNode* TColoringFrame::LevelNode(const char* name) const {
    if (!root_) return nullptr;
    return FindScalar(*root_, std::string("detail/colormapping/level/") + name);
}

void TColoringFrame::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    dragMode_ = HitTest(at.x(), at.y());
    if (dragMode_ == -1) return;
    const TScalarNode* low = LevelNode("low");
    const TScalarNode* high = LevelNode("high");
    if (!low || !high) {
        dragMode_ = -1;
        return;
    }
    const TColorBarOffsets offsets =
        ColorBarOffsetsAt(ColorBarPercent(at.y(), height()), low->GetPercent(), high->GetPercent());
    lowOffset_ = offsets.Low;
    highOffset_ = offsets.High;
}

void TColoringFrame::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (dragMode_ != -1 && (event->buttons() & Qt::LeftButton))
        DragTo(at.y());
    else if (dragMode_ == -1)
        setCursor(CursorOfMode(HitTest(at.x(), at.y())));
}

void TColoringFrame::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || dragMode_ == -1) return;
    DragTo(event->position().toPoint().y());
    dragMode_ = -1;
}

void TColoringFrame::DragTo(int y) {
    TScalarNode* low = LevelNode("low");
    TScalarNode* high = LevelNode("high");
    TScalarNode* phase = LevelNode("phase");
    if (!low || !high || !phase) return;
    const TColorBarDrag drag = ColorBarDragTo(dragMode_, ColorBarPercent(y, height()), low->GetPercent(),
                                              high->GetPercent(), {lowOffset_, highOffset_});
    if (drag.Low) low->SetPercent(*drag.Low);
    if (drag.High) high->SetPercent(*drag.High);
    if (drag.Phase) phase->SetPercent(*drag.Phase);
    update();
}

} // namespace tarvicon
