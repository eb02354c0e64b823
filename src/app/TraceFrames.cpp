#include "app/TraceFrames.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <chrono>

namespace tarvicon {

namespace {

// Lines taken into the log per flush: a burst of lines reaches the log over a few idle passes.
constexpr int kLinesPerFlush = 10;

std::int64_t SystemClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// value as exactly `width` decimal digits, leading zeros included.
void AppendDigits(std::string& out, int value, int width) {
    char digits[8];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(static_cast<std::size_t>(width - (end - digits)), '0');
    out.append(digits, end);
}

// Lines in the log; an empty log has one empty block and no line.
int LineCount(const QTextDocument& document) {
    return document.isEmpty() ? 0 : document.blockCount();
}

// The fixed-pitch font of the log: "Courier New", else the system's fixed font.
QFont LogFont() {
    QFont font("Courier New");
    font.setStyleHint(QFont::TypeWriter);
    if (QFontInfo(font).fixedPitch()) return font;
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

} // namespace

std::string TraceStamp(std::int64_t elapsedMs) {
    // Seconds of the minute: an elapsed time of a minute or more wraps, as a clock would.
    const std::int64_t ofMinute = (elapsedMs % 60000 + 60000) % 60000;
    std::string stamp;
    AppendDigits(stamp, static_cast<int>(ofMinute / 1000), 2);
    stamp += '.';
    AppendDigits(stamp, static_cast<int>(ofMinute % 1000), 3);
    std::replace(stamp.begin(), stamp.end(), '0', ' ');
    return stamp;
}

TTraceFrame::TTraceFrame(QWidget* parent) : QWidget(parent), clock_(SystemClockMs) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* bar = new QToolBar(this);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    QAction* clear = bar->addAction("Clear");
    clear->setObjectName("ClearButton");
    // Only the log area: lines still waiting come in with the next flush.
    connect(clear, &QAction::triggered, this, [this] { log_->clear(); });
    bar->addWidget(new QLabel("MaxLines:", bar));
    maxLines_ = new QSpinBox(bar);
    maxLines_->setObjectName("MaxLines");
    maxLines_->setRange(0, 10000);
    maxLines_->setSingleStep(100);
    maxLines_->setValue(lineLimit_);
    connect(maxLines_, &QSpinBox::valueChanged, this,
            [this](int value) { lineLimit_ = static_cast<std::uint16_t>(value); });
    bar->addWidget(maxLines_);
    layout->addWidget(bar);

    log_ = new QPlainTextEdit(this);
    log_->setObjectName("TraceLog");
    log_->setReadOnly(true);
    log_->setUndoRedoEnabled(false);
    log_->setLineWrapMode(QPlainTextEdit::NoWrap);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log_->setFont(LogFont());
    layout->addWidget(log_, 1);
}

void TTraceFrame::AddLine(const std::string& text) {
    if (lineLimit_ == 0) return;
    const std::int64_t now = clock_();
    pending_.push_back(TraceStamp(now - lastLogTime_) + ": " + text);
    lastLogTime_ = now;
}

void TTraceFrame::Flush() {
    if (pending_.empty()) return;
    QTextDocument& document = *log_->document();
    for (int i = 0; i < kLinesPerFlush && !pending_.empty(); ++i) {
        const QString line = QString::fromStdString(pending_.front());
        pending_.pop_front();
        QTextCursor top(&document);
        top.insertText(document.isEmpty() ? line : line + '\n');
    }
    // The oldest lines beyond the limit go, all at once.
    if (LineCount(document) > lineLimit_) {
        if (lineLimit_ == 0) {
            log_->clear();
        } else {
            QTextCursor tail(document.findBlockByNumber(lineLimit_ - 1));
            tail.movePosition(QTextCursor::EndOfBlock);
            tail.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            tail.removeSelectedText();
        }
    }
}

QString TTraceFrame::Text() const {
    return log_->toPlainText();
}

void TTraceFrame::SetLineLimit(int limit) {
    maxLines_->setValue(limit);
}

} // namespace tarvicon
