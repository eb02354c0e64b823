#pragma once
// The command panel on the page "Control".

#include <QWidget>

class QLabel;

namespace tarvicon {

class TConfigNode;
class TDicomObject;

// The page "Control": the command panel bound to the parameter tree.
class TMiniControlFrame : public QWidget {
    Q_OBJECT
public:
    explicit TMiniControlFrame(QWidget* parent = nullptr);
    void SetRoot(TConfigNode* root) { root_ = root; }
    void SetSubject(TDicomObject* object);
    TDicomObject* Subject() const { return object_; }
    // Slider updates stop between these (a busy bracket).
    void BeginSliderUpdate() { ++suspended_; }
    void EndSliderUpdate() { --suspended_; }

private:
    TConfigNode* root_ = nullptr;
    TDicomObject* object_ = nullptr;
    QLabel* caption_ = nullptr;
    int suspended_ = 0;
};

} // namespace tarvicon
