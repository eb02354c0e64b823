#pragma once
// The pages "Info" and "FullInfo": the overview of the current series and its element list.

#include <QWidget>

class QPlainTextEdit;
class QTreeWidget;

namespace tarvicon {

class TDicomObject;

// The page "Info": the overview of the current series.
class TDicomOverviewFrame : public QWidget {
    Q_OBJECT
public:
    explicit TDicomOverviewFrame(QWidget* parent = nullptr);
    void ShowObject(TDicomObject* object);
    TDicomObject* Object() const { return object_; }

private:
    TDicomObject* object_ = nullptr;
    QTreeWidget* list_ = nullptr;
};

// The page "FullInfo": the element list of the current series' image.
class TDicomInfoFrame : public QWidget {
    Q_OBJECT
public:
    explicit TDicomInfoFrame(QWidget* parent = nullptr);
    void ShowObject(TDicomObject* object);
    TDicomObject* Object() const { return object_; }

private:
    TDicomObject* object_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
};

} // namespace tarvicon
