#include "platform/quitsignals.h"
#include "serial/comport.h"
#include "shell/appsettingsstore.h"
#include "shell/appwindows.h"
#include "shell/chipwrightapp.h"
#include "shell/mainwindow.h"
#include "shell/windowargs.h"

#include <QScreen>

#include <cstdio>

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
    const WindowArguments arguments = parseWindowArguments(app.arguments().mid(1));
    for (const QString& ignored : arguments.ignored)
        std::fprintf(stderr, "chipwright: ignoring the argument \"%s\"\n", qPrintable(ignored));
    TForm1::Options options;
    QString error = arguments.error;
    if (error.isEmpty() && !arguments.trace.isEmpty()) {
        options.trace = LinkTrace::open(arguments.trace, error);
        if (!options.trace) error = QStringLiteral("cannot write the trace: ") + error;
    }
    if (!error.isEmpty()) {
        std::fprintf(stderr, "chipwright: %s\nUsage: chipwright [--trace FILE]\n", qPrintable(error));
        return 2;
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
    return app.exec();
}
