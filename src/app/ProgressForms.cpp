#include "app/ProgressForms.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace tarvicon {

namespace {

constexpr int ClientWidth = 628;
constexpr int ClientHeight = 115;
constexpr int Bevel = 2;
constexpr int Border = 5;
constexpr int BarMargin = 10;

// A line of fixed height whose text never widens the dialog: a long path is cut at the edge.
void SetLine(QLabel* line, int height) {
    line->setFixedHeight(height);
    line->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    line->setTextFormat(Qt::PlainText);
}

} // namespace

TProgressForm::TProgressForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      titleLine_(new QLabel(this)), bar_(new QProgressBar(this)),
      cancelButton_(new QPushButton(QStringLiteral("Storno"), this)), textLine_(new QLabel(this)),
      detailLine_(new QLabel(this)) {
    setFixedSize(ClientWidth, ClientHeight);

    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    frame->setLineWidth(Bevel);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);

    titleLine_->setObjectName(QStringLiteral("TitleLine"));
    SetLine(titleLine_, 25);
    QFont titleFont = titleLine_->font();
    titleFont.setBold(true);
    titleLine_->setFont(titleFont);

    bar_->setObjectName(QStringLiteral("ProgressBar"));
    bar_->setRange(0, 100);
    bar_->setTextVisible(false);

    cancelButton_->setObjectName(QStringLiteral("CancelButton"));
    cancelButton_->setFixedSize(65, 23);
    // Enter must not cancel a load by accident; only a click or Esc does.
    cancelButton_->setAutoDefault(false);
    connect(cancelButton_, &QPushButton::clicked, this, &TProgressForm::Cancel);

    textLine_->setObjectName(QStringLiteral("TextLine"));
    SetLine(textLine_, 30);
    detailLine_->setObjectName(QStringLiteral("DetailLine"));
    SetLine(detailLine_, 18);

    // The bar's row takes the height the three lines leave; bar and button sit in its middle.
    auto* middle = new QWidget(frame);
    middle->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    auto* row = new QHBoxLayout(middle);
    row->setContentsMargins(BarMargin, 0, BarMargin, 0);
    row->setSpacing(BarMargin);
    row->addWidget(bar_, 1, Qt::AlignVCenter);
    row->addWidget(cancelButton_, 0, Qt::AlignVCenter);

    auto* lines = new QVBoxLayout(frame);
    lines->setContentsMargins(Border, Border, Border, Border);
    lines->setSpacing(0);
    lines->addWidget(titleLine_);
    lines->addWidget(middle, 1);
    lines->addWidget(textLine_);
    lines->addWidget(detailLine_);
}

void TProgressForm::Started() {
    painted_.invalidate();
    cancelled_ = false;
    cancelButton_->setEnabled(true);
    const QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen)
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->geometry()));
    show();
    raise();
    activateWindow();
}

void TProgressForm::Show(int bar, const std::string& title, const std::string& text,
                         const std::string& detail) {
    titleLine_->setText(QString::fromStdString(title));
    textLine_->setText(QString::fromStdString(text));
    detailLine_->setText(QString::fromStdString(detail));
    bar_->setValue(bar);
    if (!isActiveWindow()) activateWindow();
    // Paints now: the caller may keep the event loop waiting until its work is done. A load
    // reports every file, and one paint per file would cost more than the files; the eye needs
    // no more than a paint every few tens of milliseconds, and the ones between are painted by
    // the event loop when it runs.
    if (!painted_.isValid() || painted_.elapsed() >= kRepaintMs) {
        repaint();
        painted_.start();
    }
}

bool TProgressForm::CancelRequested() {
    return cancelled_;
}

void TProgressForm::Ended() {
    painted_.invalidate();
    hide();
}

void TProgressForm::reject() {
    cancelButton_->click();
}

void TProgressForm::Cancel() {
    cancelled_ = true;
    cancelButton_->setEnabled(false);
}

} // namespace tarvicon
