#include "views/QtHosts.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <chrono>
#include <clocale>
#include <utility>

namespace tarvicon {

namespace {

bool CapsLockIndicator();

QString Title() {
    return QGuiApplication::applicationDisplayName();
}

} // namespace

void InitProcessNumbers() {
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());
}

TQtHost::TQtHost(TMessageBoxes boxes) : boxes_(std::move(boxes)) {}

bool TQtHost::AskYesNo(const std::string& question) {
    const QString text = QString::fromStdString(question);
    if (boxes_.Question) return boxes_.Question(Title(), text);
    return QMessageBox::warning(QApplication::activeWindow(), Title(), text,
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

void TQtHost::Notice(const std::string& text) {
    const QString message = QString::fromStdString(text);
    if (boxes_.Information) return boxes_.Information(Title(), message);
    QMessageBox::information(QApplication::activeWindow(), Title(), message);
}

bool TQtHost::ShiftHeld() {
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
}

bool TQtHost::CapsLockToggled() {
    return CapsLockIndicator();
}

std::uint64_t TQtHost::TickCount() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int TQtHost::ScreenWidth() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().width() : 1920;
}

} // namespace tarvicon

// X11's headers come after every Qt header: their macros (None, Bool, Status, CursorShape)
// would otherwise rewrite Qt's declarations.
#include <X11/XKBlib.h>

namespace tarvicon {

namespace {

bool CapsLockIndicator() {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (!display) return false;
    unsigned int indicators = 0;
    if (XkbGetIndicatorState(display, XkbUseCoreKbd, &indicators) != Success) return false;
    return (indicators & 1u) != 0;
}

} // namespace

} // namespace tarvicon
