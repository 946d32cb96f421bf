#include "platform/quitsignals.h"
#include "shell/appsettingsstore.h"
#include "shell/appwindows.h"
#include "shell/chipwrightapp.h"
#include "shell/mainwindow.h"
#include "serial/comport.h"

#include <QScreen>

int main(int argc, char** argv) {
    ChipwrightApplication app(argc, argv);
    // Ctrl+C in the terminal or a session's SIGTERM closes the main window, which saves the settings. A
    // signal while the start-up still runs (its port message box is up, say) closes that box; the program
    // then ends as soon as the main window exists, through the same orderly close, instead of running on.
    static bool quitRequested = false;
    platform::onQuitSignals([] {
        quitRequested = true;
        QApplication::closeAllWindows();
    });
    SetComExceptionDisplay(showErrorReport);
    auto form1 = createApplicationWindows(AppSettingsStore::nameForExecutableFolder(app.applicationDirPath()));
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
