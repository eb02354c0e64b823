#include "app/PacsDialogs.h"

#include "dicom/DicomWeb.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>
#include <exception>

namespace tarvicon {

namespace {

const QString kLastServerKey = QStringLiteral("LastPacsServer");
const QStringList kColumns = {"Date", "Patient", "ID", "Description", "Modalities", "Series", "Instances"};

std::string Text(const QLineEdit& field) {
    return field.text().trimmed().toStdString();
}

} // namespace

TPacsDialog::TPacsDialog(const std::string& server, QWidget* parent)
    : QDialog(parent), server_(new QLineEdit(QString::fromStdString(ShownAddress(server)), this)),
      patient_(new QLineEdit(this)), patientId_(new QLineEdit(this)), date_(new QLineEdit(this)),
      modality_(new QLineEdit(this)), results_(new QTableWidget(0, int(kColumns.size()), this)),
      status_(new QLabel(this)) {
    setWindowTitle("Open from PACS");
    server_->setPlaceholderText("http://host:8042/dicom-web");
    patient_->setPlaceholderText("Name, * and ? as wildcards");
    date_->setPlaceholderText("YYYYMMDD-YYYYMMDD");
    modality_->setPlaceholderText("CT, MR, ...");
    auto* fields = new QFormLayout;
    fields->addRow("Server:", server_);
    fields->addRow("Patient name:", patient_);
    fields->addRow("Patient ID:", patientId_);
    fields->addRow("Study date:", date_);
    fields->addRow("Modality:", modality_);
    auto* search = new QPushButton("Search", this);
    results_->setHorizontalHeaderLabels(kColumns);
    results_->setSelectionBehavior(QAbstractItemView::SelectRows);
    results_->setSelectionMode(QAbstractItemView::SingleSelection);
    results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    results_->horizontalHeader()->setStretchLastSection(true);
    results_->verticalHeader()->hide();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(search);
    layout->addWidget(results_, 1);
    layout->addWidget(status_);
    layout->addWidget(buttons);
    resize(760, 480);

    connect(search, &QPushButton::clicked, this, &TPacsDialog::Search);
    // Enter in a search field searches; Enter in the table or Open loads the selected study.
    for (QLineEdit* field : {server_, patient_, patientId_, date_, modality_})
        connect(field, &QLineEdit::returnPressed, this, &TPacsDialog::Search);
    connect(results_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { Choose(row); });
    connect(results_, &QTableWidget::cellActivated, this, [this](int row, int) { Choose(row); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { Choose(results_->currentRow()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    search->setAutoDefault(false);
}

QString TPacsDialog::StatusText() const {
    return status_->text();
}

std::string TPacsDialog::ShownServer() const {
    return ShownAddress(Text(*server_));
}

void TPacsDialog::Search() {
    results_->setRowCount(0);
    searchedServer_.clear();
    TStudyQuery query;
    query.PatientName = Text(*patient_);
    query.PatientId = Text(*patientId_);
    query.Date = Text(*date_);
    query.Modality = Text(*modality_);
    try {
        const std::string server = Text(*server_);
        const std::vector<TStudyRecord> studies = SearchStudies(ParseDicomWebAddress(server), query);
        searchedServer_ = server;
        results_->setRowCount(int(studies.size()));
        for (int row = 0; row < int(studies.size()); ++row) {
            const TStudyRecord& study = studies[std::size_t(row)];
            const QString cells[] = {
                QString::fromStdString(study.Date),       QString::fromStdString(study.PatientName),
                QString::fromStdString(study.PatientId),  QString::fromStdString(study.Description),
                QString::fromStdString(study.Modalities), QString::number(study.SeriesCount),
                QString::number(study.InstanceCount)};
            for (int column = 0; column < int(std::size(cells)); ++column) {
                auto* item = new QTableWidgetItem(cells[column]);
                if (column == 0) item->setData(Qt::UserRole, QString::fromStdString(study.Uid));
                results_->setItem(row, column, item);
            }
        }
        if (!studies.empty()) results_->selectRow(0);
        status_->setText(QString::number(studies.size()) + (studies.size() == 1 ? " study" : " studies"));
    } catch (const std::exception& error) {
        status_->setText(QString::fromStdString(error.what()));
    }
}

std::string TPacsDialog::StudyAddress(int row) const {
    if (row < 0 || row >= results_->rowCount() || !results_->item(row, 0)) return {};
    TDicomWebAddress address = ParseDicomWebAddress(searchedServer_);
    address.Study = results_->item(row, 0)->data(Qt::UserRole).toString().toStdString();
    // The reference has no login; the one typed goes back in front of the host.
    const std::string reference = DicomWebReference(address);
    const std::string typed = searchedServer_;
    const std::size_t scheme = typed.find("://");
    const std::size_t at = typed.substr(0, typed.find('/', scheme + 3)).rfind('@');
    if (scheme == std::string::npos || at == std::string::npos || at < scheme) return reference;
    const std::size_t host = reference.find("://") + 3;
    return reference.substr(0, host) + typed.substr(scheme + 3, at - scheme - 2) + reference.substr(host);
}

void TPacsDialog::Choose(int row) {
    chosen_ = StudyAddress(row);
    if (!chosen_.empty()) accept();
}

QAction& AddPacsEntry(QMenu& menu, const QAction& after, std::function<void()> open) {
    QMenu* holder = &menu;
    for (QMenu* submenu : menu.findChildren<QMenu*>())
        if (submenu->actions().contains(const_cast<QAction*>(&after))) holder = submenu;
    const QList<QAction*> actions = holder->actions();
    const qsizetype index = actions.indexOf(const_cast<QAction*>(&after));
    auto* entry = new QAction(QString::fromUtf8("Open from PACS\u2026"), holder);
    entry->setToolTip("Search a PACS and load a study from it");
    QObject::connect(entry, &QAction::triggered, holder, [open = std::move(open)] { open(); });
    holder->insertAction(index >= 0 && index + 1 < actions.size() ? actions[index + 1] : nullptr, entry);
    return *entry;
}

std::string ReadLastPacsServer(const QString& programName) {
    const QSettings store(QStringLiteral("Quintar"), programName);
    return store.value(kLastServerKey).toString().toStdString();
}

void WriteLastPacsServer(const QString& programName, const std::string& server) {
    QSettings store(QStringLiteral("Quintar"), programName);
    store.setValue(kLastServerKey, QString::fromStdString(ShownAddress(server)));
    store.sync();
}

} // namespace tarvicon
