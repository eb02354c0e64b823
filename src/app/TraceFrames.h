#pragma once
// The page "Trace": the time-stamped log of what the window, the views and the study tree do.

#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

class QPlainTextEdit;
class QSpinBox;

namespace tarvicon {

// The stamp of a log line: the time since the previous line as "ss.zzz" (seconds of the
// minute, milliseconds) with every "0" shown as a blank; 1500 ms give " 1.5  ".
std::string TraceStamp(std::int64_t elapsedMs);

// The page "Trace": lines wait until the window is idle, then come in newest first; the log
// keeps at most "MaxLines:" lines, and 0 stops logging.
class TTraceFrame : public QWidget {
    Q_OBJECT
public:
    explicit TTraceFrame(QWidget* parent = nullptr);

    // Keeps the line, stamped with the time since the previous one, for a later Flush; nothing
    // while the line limit is 0.
    void AddLine(const std::string& text);
    // Moves up to ten kept lines into the log, oldest first, each as the new top line; then
    // drops the oldest lines beyond the line limit.
    void Flush();
    // The log, top (newest) line first.
    QString Text() const;
    // The lines waiting for a flush.
    std::size_t PendingCount() const { return pending_.size(); }

    // "MaxLines:": the most lines the log keeps (0 to 10000, 200 at start).
    int LineLimit() const { return lineLimit_; }
    void SetLineLimit(int limit);

    // The clock the stamps read, in milliseconds since the epoch (the system clock unless set).
    void SetClock(std::function<std::int64_t()> clock) { clock_ = std::move(clock); }

private:
    QPlainTextEdit* log_ = nullptr;
    QSpinBox* maxLines_ = nullptr;
    std::uint16_t lineLimit_ = 200;
    // The time of the previous line; 0 before the first, which thus shows the clock's own
    // seconds.
    std::int64_t lastLogTime_ = 0;
    std::deque<std::string> pending_;
    std::function<std::int64_t()> clock_;
};

} // namespace tarvicon
