#include "platform/filenames.h"
#include "platform/quitsignals.h"
#include "platform/registry.h"
#include "serial/comport.h"
#include "shell/appsettingsstore.h"
#include "shell/appwindows.h"
#include "shell/chipwrightapp.h"
#include "shell/mainwindow.h"
#include "shell/windowargs.h"
#include "shell/windowhandover.h"

#include <QDir>
#include <QScreen>

#include <cstdio>

namespace {

// How long a second start waits for the running window to take its file.
constexpr int handOverTimeoutMs = 10000;

// After a command line the window cannot start with.
constexpr char usageLine[] = "Usage: chipwright [--trace FILE] [HEXFILE]\n";

} // namespace

int main(int argc, char** argv) {
    // Asked before the application exists, which needs a display.
    QStringList given;
    for (int i = 1; i < argc; ++i)
        given << QString::fromLocal8Bit(argv[i]);
    if (const QString info = windowInfoText(given, QStringLiteral(CHIPWRIGHT_VERSION)); !info.isEmpty()) {
        std::fputs(info.toLocal8Bit().constData(), stdout);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }
    ChipwrightApplication app(argc, argv);
    // Wayland matches the window to chipwright.desktop by this name (its icon, its name in the task list).
    QGuiApplication::setDesktopFileName(QStringLiteral("chipwright"));
    // Qt has taken its own options out of argv; a file name keeps every byte it has.
    given.clear();
    for (int i = 1; i < argc; ++i)
        given << platform::fileNameFromBytes(QByteArray(argv[i]));
    const WindowArguments arguments = parseWindowArguments(given);
    for (const QString& ignored : arguments.ignored)
        std::fprintf(stderr, "chipwright: ignoring the argument \"%s\"\n", qPrintable(ignored));
    if (!arguments.error.isEmpty()) {
        std::fprintf(stderr, "chipwright: %s\n%s", qPrintable(arguments.error), usageLine);
        return 2;
    }
    const QString file = commandLineFile(arguments.file, QDir::currentPath());

    // One window per user: a window already running takes the file, and this start ends before it opens the
    // port or the trace.
    WindowClaim claim = claimWindow(platform::registryRoot(), file, handOverTimeoutMs);
    if (claim.outcome == HandOver::HandedOver) {
        if (!arguments.trace.isEmpty())
            std::fprintf(stderr, "chipwright: the window already running keeps its own trace; --trace is not used\n");
        return 0;
    }
    if (claim.outcome == HandOver::Failed) {
        std::fprintf(stderr, "chipwright: %s\n", qPrintable(claim.note));
        return 1;
    }
    if (!claim.listener)
        std::fprintf(stderr, "chipwright: %s; a second start will not find this window\n", qPrintable(claim.note));

    TForm1::Options options;
    if (!arguments.trace.isEmpty()) {
        QString error;
        options.trace = LinkTrace::open(arguments.trace, error);
        if (!options.trace) {
            std::fprintf(stderr, "chipwright: cannot write the trace: %s\n%s", qPrintable(error), usageLine);
            return 2;
        }
    }
    // Ctrl+C in the terminal or a session's SIGTERM closes the main window, which saves the settings. A
    // signal while the start-up still runs (its port message box is up, say) closes that box; the program
    // then ends as soon as the main window exists, through the same orderly close, instead of running on.
    static bool quitRequested = false;
    platform::onQuitSignals([] {
        quitRequested = true;
        QApplication::closeAllWindows();
    });
    SetComExceptionDisplay(showErrorReport);
    auto form1 = createApplicationWindows(AppSettingsStore::nameForExecutableFolder(app.applicationDirPath()),
                                          std::move(options));
    if (quitRequested) {
        form1->close();
        return 0;
    }
    // Closing the main window ends the program even while a secondary window is still up.
    app.setQuitOnLastWindowClosed(false);
    QObject::connect(form1.get(), &TForm1::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    form1->adjustSize();
    if (const QScreen* screen = form1->screen())
        form1->move(screen->availableGeometry().center() - form1->rect().center());
    form1->show();
    openStartFiles(*form1, file, claim.listener.get());
    return app.exec();
}
