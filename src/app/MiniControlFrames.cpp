#include "app/MiniControlFrames.h"

#include "catalogue/DicomObjects.h"

#include <QLabel>
#include <QVBoxLayout>

namespace tarvicon {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

TMiniControlFrame::TMiniControlFrame(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    caption_ = new QLabel(this);
    caption_->setWordWrap(true);
    layout->addWidget(caption_);
    layout->addStretch(1);
}

void TMiniControlFrame::SetSubject(TDicomObject* object) {
    object_ = object;
    caption_->setText(object ? Q(object->Description()) : QString());
}

} // namespace tarvicon
