#include "app/InfoFrames.h"

#include "catalogue/DicomObjects.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

namespace tarvicon {

namespace {

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Row label and the element key its value comes from, in the page's order.
struct TOverviewRow {
    const char* Label;
    const char* Key;
};

constexpr std::array<TOverviewRow, 16> kOverviewRows = {{
    {"Patient name", "Patient name"},
    {"Acquisition date", "Acquisition date"},
    {"Modality", "Modality"},
    {"Referring physician's name", "Referring physician's name"},
    {"Series", "0008.1030"},
    {"Series desc", "0008.103E"},
    {"Patient ID", "Patient ID"},
    {"Patient date of birth", "Patient date of birth"},
    {"Patient sex", "Patient sex"},
    {"Patient age", "Patient age"},
    {"Patient weight", "Patient weight"},
    {"Patient Position", "Patient Position"},
    {"Image number", "Image number"},
    {"Photometric Interpretation", "Photometric Interpretation"},
    {"Rows", "Rows"},
    {"Columns", "Columns"},
}};

constexpr int kNameColumnWidth = 150;

QTableWidget* MakeGrid(QWidget& page) {
    auto* layout = new QVBoxLayout(&page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* grid = new QTableWidget(0, 2, &page);
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 4);
    grid->setColumnWidth(0, kNameColumnWidth);
    grid->horizontalHeader()->setStretchLastSection(true);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setWordWrap(false);
    layout->addWidget(grid);
    return grid;
}

// Sets a cell's text, making its item the first time.
void SetCell(QTableWidget& grid, int row, int column, const QString& text) {
    if (QTableWidgetItem* item = grid.item(row, column))
        item->setText(text);
    else
        grid.setItem(row, column, new QTableWidgetItem(text));
}

int RowOf(const QTableWidget& grid, const QString& name) {
    for (int row = 0; row < grid.rowCount(); ++row)
        if (grid.item(row, 0) && grid.item(row, 0)->text() == name) return row;
    return -1;
}

// A named row takes a value: made at the end the first time, set in its place afterwards,
// removed when the value is empty.
void SetValue(QTableWidget& grid, const QString& name, const QString& value) {
    const int row = RowOf(grid, name);
    if (value.isEmpty()) {
        if (row >= 0) grid.removeRow(row);
    } else if (row >= 0) {
        SetCell(grid, row, 1, value);
    } else {
        const int added = grid.rowCount();
        grid.insertRow(added);
        SetCell(grid, added, 0, name);
        SetCell(grid, added, 1, value);
    }
}

std::vector<TInfoRow> GridRows(const QTableWidget& grid) {
    std::vector<TInfoRow> rows;
    for (int row = 0; row < grid.rowCount(); ++row) {
        const auto text = [&](int column) {
            const QTableWidgetItem* item = grid.item(row, column);
            return item ? item->text().toStdString() : std::string();
        };
        rows.emplace_back(text(0), text(1));
    }
    return rows;
}

// Grid updates held back while the rows change.
class TUpdateBracket {
public:
    explicit TUpdateBracket(QWidget& widget) : widget_(widget) { widget_.setUpdatesEnabled(false); }
    ~TUpdateBracket() { widget_.setUpdatesEnabled(true); }
    TUpdateBracket(const TUpdateBracket&) = delete;
    TUpdateBracket& operator=(const TUpdateBracket&) = delete;

private:
    QWidget& widget_;
};

} // namespace

const std::vector<std::string>& CurrentImageElements(const TDicomObject* object) {
    static const std::vector<std::string> kNone;
    if (!object || object->ImageCount() == 0) return kNone;
    // The slice is the position's third index; a series without a cube yet shows its first image.
    return object->ImageElements(std::max(0, object->Position().Z));
}

TDicomOverviewFrame::TDicomOverviewFrame(QWidget* parent) : QWidget(parent), grid_(MakeGrid(*this)) {}

void TDicomOverviewFrame::ShowObject(TDicomObject* object) {
    object_ = object;
    const TUpdateBracket bracket(*grid_);
    if (!object) {
        grid_->setRowCount(0);
        return;
    }
    const std::vector<std::string>& elements = CurrentImageElements(object);
    for (const TOverviewRow& row : kOverviewRows)
        SetValue(*grid_, row.Label, Q(LookupValue(elements, row.Key)));
    // Said of the image shown, so that a reader sees it on every page that describes the image.
    SetValue(*grid_, "Lossy compression", Q(LossyMarkText(LossyCompressionOf(elements))));
}

std::vector<TInfoRow> TDicomOverviewFrame::Rows() const {
    return GridRows(*grid_);
}

TDicomInfoFrame::TDicomInfoFrame(QWidget* parent) : QWidget(parent), grid_(MakeGrid(*this)) {}

void TDicomInfoFrame::ShowObject(TDicomObject* object) {
    object_ = object;
    const TUpdateBracket bracket(*grid_);
    const std::vector<std::string>& elements = CurrentImageElements(object);
    // The rows are kept and refilled: the page follows every slice change.
    grid_->setRowCount(static_cast<int>(elements.size()));
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const std::string_view line = elements[i];
        const auto equals = line.find('=');
        const int row = static_cast<int>(i);
        SetCell(*grid_, row, 0, Q(line.substr(0, equals)));
        SetCell(*grid_, row, 1, equals == std::string_view::npos ? QString() : Q(line.substr(equals + 1)));
    }
}

std::vector<TInfoRow> TDicomInfoFrame::Rows() const {
    return GridRows(*grid_);
}

} // namespace tarvicon
