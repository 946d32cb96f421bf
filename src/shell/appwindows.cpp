#include "shell/appwindows.h"


std::unique_ptr<TForm1> createApplicationWindows(const QString& settingsStoreName, TForm1::Options options) {
    auto form1 = std::make_unique<TForm1>(settingsStoreName, std::move(options));
    form1->createSecondaryWindows();
    return form1;
}
