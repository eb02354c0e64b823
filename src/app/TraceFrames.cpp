#include "app/TraceFrames.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace tarvicon {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

TTraceFrame::TTraceFrame(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    text_ = new QPlainTextEdit(this);
    text_->setReadOnly(true);
    text_->setMaximumBlockCount(2000);
    layout->addWidget(text_);
}

void TTraceFrame::AddLine(const std::string& text) {
    pending_.push_back(text);
}

void TTraceFrame::Flush() {
    if (pending_.empty()) return;
    for (const std::string& line : pending_) text_->appendPlainText(Q(line));
    pending_.clear();
}

QString TTraceFrame::Text() const {
    return text_->toPlainText();
}

} // namespace tarvicon
