#pragma once
// The parameter editors: a vertical slider bound to any scalar node of the parameter tree, and
// the colour bar that paints the colour table over the level's scale and lets the mouse drag
// the window, its ends and the phase split.

#include "config/ConfigNodes.h"

#include <QWidget>
#include <functional>
#include <string>

namespace tarvicon {

class TColorMapping;
class TDicomObject;

class TRealParamFrame : public QWidget, public INodeListener {
    Q_OBJECT
public:
    explicit TRealParamFrame(QWidget* parent = nullptr);
    ~TRealParamFrame() override;

    // The slider moved (by the user or by SetIndex): the command panel notes the time.
    std::function<void(TRealParamFrame&)> OnMoved;
    // The user pressed the slider or its value (the command panel selects it).
    std::function<void(TRealParamFrame&)> OnActivated;

    // Binds a node (none: unbound, disabled, "..."); binding never writes to the node.
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

    // Node notifications are ignored while suspended; the last Resume catches up with the node.
    void Suspend();
    void Resume();

    void NodeChanged(TConfigNode& node) override;

private:
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

private:
    TColorMapping* mapping_ = nullptr;
    TDicomObject* series_ = nullptr;
    TConfigNode* root_ = nullptr;
    int dragMode_ = -1;
    double lowOffset_ = 0;
    double highOffset_ = 0;
};

} // namespace tarvicon
