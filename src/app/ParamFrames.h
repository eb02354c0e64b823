#pragma once
// The parameter editors: a vertical slider bound to any scalar node of the parameter tree, and
// the colour bar that paints the colour table over the level's scale and lets the mouse drag
// the window, its ends and the phase split.

#include "config/ConfigNodes.h"

#include <QCursor>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QMenu;

namespace tarvicon {

class TColorMapping;
class TDicomObject;
class TGaugeBar;

class TRealParamFrame : public QWidget, public INodeListener {
    Q_OBJECT
public:
    explicit TRealParamFrame(QWidget* parent = nullptr);
    ~TRealParamFrame() override;

    // The slider moved (by the user or by SetIndex): the command panel notes the time.
    std::function<void(TRealParamFrame&)> OnMoved;
    // The user pressed the slider or its value (the command panel selects it).
    std::function<void(TRealParamFrame&)> OnActivated;

    // Binds a node (none: unbound, disabled, "..."); binding never writes to the node. A node that
    // is not a scalar binds as none. The node must outlive the binding.
    void Bind(TConfigNode* node);
    TConfigNode* Node() const { return node_; }

    // The value of the current position, and that value written with Format.
    double Value() const;
    std::string ValueText() const;
    // Moves to the position of a value, or of the number in a text (0 when not a number).
    void SetValue(double value);
    void SetValueText(const std::string& text);
    // Index 0 is at the bottom and means Min.
    int Index() const;
    void SetIndex(int index);
    // Moves by delta positions, or by delta large steps (Steps div 32).
    void StepBy(int delta, bool large);
    void ResetToMin() { SetValue(min_); }

    double Min() const { return min_; }
    double Max() const { return max_; }
    int Steps() const { return steps_; }
    const std::string& Units() const { return units_; }
    const std::string& Format() const { return format_; }
    const std::string& Caption() const { return caption_; }
    char KeyChar() const { return keyChar_; }
    bool Cyclic() const { return cyclic_; }
    bool ParamEnabled() const { return enabled_; }
    void SetMin(double min);
    void SetMax(double max);
    void SetSteps(int steps);
    void SetUnits(const std::string& units);
    void SetFormat(const std::string& format);
    void SetCaption(const std::string& caption);
    void SetKeyChar(char key);
    void SetParamEnabled(bool enabled);
    void SetCyclic(bool cyclic);

    // The command panel's active slider: sky blue handle and top panel.
    bool Highlighted() const { return highlighted_; }
    void SetHighlighted(bool highlighted);

    // Caption + " = " + the shown value text (with its units).
    std::string StatusText() const;
    // What the label and the value field show now.
    QString LabelText() const;
    QString ValueFieldText() const;

    // The frame and its slider take the same mouse cursor.
    void SetCursor(const QCursor& cursor);

    // Node notifications are ignored while suspended; the last Resume catches up with the node.
    void Suspend();
    void Resume();

    void NodeChanged(TConfigNode& node) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The slider's position changed: show it, write it to the node, tell the panel.
    void SliderMoved();
    void RefreshDisplay();
    void PaintHighlight();
    // The value box: opened by a click on the value field, closed by Enter, Esc or leaving it.
    void BeginEdit();
    void ConfirmEdit();
    void CancelEdit();
    void EndEdit();

    QWidget* topPanel_ = nullptr;
    QLabel* label2_ = nullptr;
    QLabel* staticText1_ = nullptr;
    TGaugeBar* gaugeBar1_ = nullptr;
    QMenu* popupMenu1_ = nullptr;
    QPointer<QLineEdit> editBox_;
    // Esc or "Cancel": the open edit ends without applying its text.
    bool editCancelled_ = false;
    std::string textBeforeEdit_;

    TConfigNode* node_ = nullptr;
    double min_ = 0;
    double max_ = 100;
    int steps_ = 32765;
    std::string units_;
    std::string format_ = "0";
    std::string caption_;
    char keyChar_ = '?';
    bool cyclic_ = false;
    bool enabled_ = true;
    bool highlighted_ = false;
    int suspendCount_ = 0;
    // Above 0 while the slider follows its node: those moves show the node's value and write
    // nothing back, so a value between two positions stays as the node holds it.
    int following_ = 0;
};

class TColoringFrame : public QWidget {
    Q_OBJECT
public:
    explicit TColoringFrame(QWidget* parent = nullptr);

    // The detail view's colour mapping (not owned); repaints.
    void SetMapping(TColorMapping* mapping);
    // The series whose colour table is painted (not owned; none paints nothing).
    void SetSeries(TDicomObject* series);
    TDicomObject* Series() const { return series_; }
    // The root of the parameter tree: the level's "low", "high" and "phase" are reached from it.
    void SetRoot(TConfigNode* root) { root_ = root; }

    // −1 none, 0 window, 1 low end, 2 high end, 3 phase split.
    int DragMode() const { return dragMode_; }
    // What a press at (x, y) would drag.
    int HitTest(int x, int y) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The level's "low", "high" or "phase" below the root; null without a root.
    TScalarNode* LevelNode(const char* name) const;
    // Applies the drag in progress to the point's percent.
    void DragTo(int y);

    TColorMapping* mapping_ = nullptr;
    TDicomObject* series_ = nullptr;
    TConfigNode* root_ = nullptr;
    int dragMode_ = -1;
    double lowOffset_ = 0;
    double highOffset_ = 0;
};

} // namespace tarvicon
