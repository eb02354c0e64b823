// tarvicon: the viewer.
//
//   tarvicon [-cDOC] [-wPREFIX] [-kKEY] [FOLDER|FILE|INDEX]…
//
// With TARVICON_TRACE naming a file, every line of the trace page goes there too (parameter
// changes as "Change PATH = VALUE", the views' status, loads and errors), and questions,
// notices and error boxes are written there instead of shown. SIGTERM and SIGINT close the
// window as the quit command does, without asking.

#include "app/MainForms.h"
#include "util/Folders.h"
#include "util/TraceFiles.h"
#include "views/EndSignals.h"
#include "views/QtHosts.h"
#include "views/TracedHosts.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <exception>

namespace {

// An error that reaches the event loop is shown and abandons only the operation that raised it.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv, const tarvicon::TTraceFile& trace)
        : QApplication(argc, argv), trace_(trace) {}

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            trace_.Line(std::string("Error ") + error.what());
            if (!trace_.Enabled())
                QMessageBox::critical(nullptr, applicationDisplayName(), QString::fromUtf8(error.what()));
        }
        return false;
    }

private:
    const tarvicon::TTraceFile& trace_;
};

} // namespace

int main(int argc, char** argv) {
    tarvicon::InitProcessNumbers();
    tarvicon::TFormStart start;
    for (int i = 1; i < argc; ++i) tarvicon::TakeCommandLineArgument(argv[i], start.CommandLine);
    start.ProgramPath = tarvicon::ProgramPath();
    start.SettingsName = tarvicon::ProgramName();

    const tarvicon::TEndSignals endSignals;

    const tarvicon::TTraceFile trace = tarvicon::TTraceFile::FromEnvironment();
    TApplication application(argc, argv, trace);
    // Qt's start-up sets the C locale from the environment: "." again.
    tarvicon::InitProcessNumbers();
    QApplication::setApplicationName("Tarvicon");
    QApplication::setApplicationDisplayName("Tarvicon");

    tarvicon::TTracedHost host(trace);
    const tarvicon::TScopedHost scopedHost(host);

    int status = 0;
    {
        tarvicon::TForm1 form(std::move(start), trace, host);
        form.OnFatal = [&status](int code) {
            status = code;
            QCoreApplication::exit(code);
        };
        endSignals.Watch(form, [] { QCoreApplication::quit(); });
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            form.setGeometry(screen->availableGeometry());
        form.showMaximized();
        form.raise();
        form.activateWindow();
        const int loopStatus = application.exec();
        if (status == 0) status = loopStatus;
    }
    return status;
}
