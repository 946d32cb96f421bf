#pragma once

#include <QApplication>

// The application object. A failure raised by any handler ends that handler and is shown in the general error
// report (a message box with an error icon and the error's text); the program goes on.
class ChipwrightApplication : public QApplication {
public:
    ChipwrightApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the general error report for a failure.
void showErrorReport(const QString& text);
