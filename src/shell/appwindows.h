#pragma once

#include "shell/mainwindow.h"

#include <memory>

// Creates the program's five windows in their order: the main window (which runs the start-up sequence), then the
// hex text window, the chip dialog, the lock-bit dialog and the about window, all owned by the main window.
std::unique_ptr<TForm1> createApplicationWindows(const QString& settingsStoreName, TForm1::Options options = {});

class WindowListener;

// Once the main window is shown: opens the file named on the command line (if any), then those other starts
// of the program handed over meanwhile and any they hand over later.
void openStartFiles(TForm1& form, const QString& file, WindowListener* listener);
