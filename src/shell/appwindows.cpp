#include "shell/appwindows.h"

#include "shell/windowhandover.h"

std::unique_ptr<TForm1> createApplicationWindows(const QString& settingsStoreName, TForm1::Options options) {
    auto form1 = std::make_unique<TForm1>(settingsStoreName, std::move(options));
    form1->createSecondaryWindows();
    return form1;
}

void openStartFiles(TForm1& form, const QString& file, WindowListener* listener) {
    if (!file.isEmpty()) form.openWhenFree(file);
    if (listener) listener->setReceiver([&form](const QString& handed) { form.openFromOutside(handed); });
}
