#include "shell/appwindows.h"

#include "shell/mainwindow.h"

std::unique_ptr<TForm1> createApplicationWindows(const QString& settingsStoreName) {
    auto form1 = std::make_unique<TForm1>(settingsStoreName);
    form1->createSecondaryWindows();
    return form1;
}
