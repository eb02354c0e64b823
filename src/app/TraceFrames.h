#pragma once
// The page "Trace": the log lines of the window.

#include <QWidget>
#include <string>
#include <vector>

class QPlainTextEdit;

namespace tarvicon {

// The page "Trace": the log lines, taken into the page when the window is idle.
class TTraceFrame : public QWidget {
    Q_OBJECT
public:
    explicit TTraceFrame(QWidget* parent = nullptr);
    // Keeps a line for the next flush.
    void AddLine(const std::string& text);
    // Shows the lines kept since the last flush.
    void Flush();
    QString Text() const;

private:
    QPlainTextEdit* text_ = nullptr;
    std::vector<std::string> pending_;
};

} // namespace tarvicon
