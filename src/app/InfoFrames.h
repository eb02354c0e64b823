#pragma once
// The pages "Info" and "FullInfo": a selection of the shown series' elements and the whole
// element list of its current image, each as a name/value grid.

#include <QWidget>
#include <string>
#include <utility>
#include <vector>

class QTableWidget;

namespace tarvicon {

class TDicomObject;

// One grid row: the name and the value.
using TInfoRow = std::pair<std::string, std::string>;

// The element list of the object's current image: the one at its current slice (a single
// image has only one); empty without an object.
const std::vector<std::string>& CurrentImageElements(const TDicomObject* object);

// The page "Info": sixteen chosen elements of the current image, a row for each that has a
// value.
class TDicomOverviewFrame : public QWidget {
    Q_OBJECT
public:
    explicit TDicomOverviewFrame(QWidget* parent = nullptr);
    // Shows the object's current image (not owned; the window shows none before the object
    // goes). A row is made the first time its element has a value, keeps its place while it
    // has one and goes when it has none; without an object the grid is empty.
    void ShowObject(TDicomObject* object);
    TDicomObject* Object() const { return object_; }
    // The grid's rows, top to bottom.
    std::vector<TInfoRow> Rows() const;

private:
    TDicomObject* object_ = nullptr;
    QTableWidget* grid_ = nullptr;
};

// The page "FullInfo": every element line of the current image, in the list's order.
class TDicomInfoFrame : public QWidget {
    Q_OBJECT
public:
    explicit TDicomInfoFrame(QWidget* parent = nullptr);
    // Shows the object's current image (not owned; the window shows none before the object
    // goes); without an object the grid is empty.
    void ShowObject(TDicomObject* object);
    TDicomObject* Object() const { return object_; }
    // The grid's rows, top to bottom.
    std::vector<TInfoRow> Rows() const;

private:
    TDicomObject* object_ = nullptr;
    QTableWidget* grid_ = nullptr;
};

} // namespace tarvicon
