#include "app/InfoFrames.h"

#include "catalogue/DicomObjects.h"

#include <QPlainTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tarvicon {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

TDicomOverviewFrame::TDicomOverviewFrame(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    list_ = new QTreeWidget(this);
    list_->setColumnCount(2);
    list_->setHeaderHidden(true);
    list_->setRootIsDecorated(false);
    layout->addWidget(list_);
}

void TDicomOverviewFrame::ShowObject(TDicomObject* object) {
    object_ = object;
    list_->clear();
    if (!object) return;
    for (const char* key :
         {"Patient's name", "Patient ID", "Study description", "Series description", "Modality"}) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, key);
        item->setText(1, Q(object->GetValue(key)));
    }
}

TDicomInfoFrame::TDicomInfoFrame(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    text_ = new QPlainTextEdit(this);
    text_->setReadOnly(true);
    layout->addWidget(text_);
}

void TDicomInfoFrame::ShowObject(TDicomObject* object) {
    object_ = object;
    text_->setPlainText(object ? Q(object->Description()) : QString());
}

} // namespace tarvicon
