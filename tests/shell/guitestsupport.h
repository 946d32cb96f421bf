#pragma once

#include "buffer/edithexform.h"
#include "programmer/chipdialog.h"
#include "programmer/lockbitform.h"
#include "programmer/radiogroup.h"
#include "shell/aboutform.h"
#include "shell/appsettingsstore.h"
#include "shell/appwindows.h"
#include "shell/mainwindow.h"
#include "support/ptypair.h"
#include "support/tempconfig.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include <memory>

// A main window with its four secondary windows, against a fresh settings root and a pseudo-terminal for its
// port. Message boxes and error reports are collected instead of shown, and the file dialogs answer what the
// test put in openChoice and saveChoice.
struct GuiFixture {
    static QString storeName() { return AppSettingsStore::nameForExecutableFolder("/opt/chipwright/bin"); }
    static QString valuesFile(const TempConfigHome& home) {
        return home.registry() + "/HKEY_CURRENT_USER/opt/chipwright/bin/Program.ini/HexFileOpen/values.reg";
    }

    // The port is a pseudo-terminal nobody answers on, unless the test names another.
    std::unique_ptr<TForm1> start(const QString& port = QString()) {
        TForm1::Options options;
        options.messageBox = [this](const QString& text) { messages << text; };
        options.errorReport = [this](const QString& text) { errors << text; };
        options.defaultPort = port.isEmpty() ? pty.slavePath() : port;
        options.trace = trace;
        if (silentBeeps)
            options.beep = [this](int frequencyHz, int durationMs) {
                beeps.emplace_back(frequencyHz, durationMs);
            };
        auto form = createApplicationWindows(storeName(), std::move(options));
        form->setFileDialogs([this] { return openChoice; }, [this] { return saveChoice; });
        return form;
    }

    PtyPair pty;
    // The wire trace the window writes (--trace), or none.
    std::shared_ptr<LinkTrace> trace;
    QStringList messages;
    QStringList errors;
    // Beeps are collected instead of played (and take no time) when set before start().
    bool silentBeeps = false;
    std::vector<std::pair<int, int>> beeps;
    // What the file dialogs answer; empty names cancel.
    QString openChoice;
    TForm1::SaveChoice saveChoice;
};

inline QString panelText(const TForm1& form, const char* name) {
    return form.panelValue(name)->text();
}
