#include "shell/chipwrightapp.h"

#include <QMessageBox>

#include <exception>

ChipwrightApplication::ChipwrightApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool ChipwrightApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        showErrorReport(QString::fromUtf8(e.what()));
    } catch (...) {
        showErrorReport(QStringLiteral("Unknown error"));
    }
    return false;
}

void showErrorReport(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Chipwright"), text, QMessageBox::Ok);
    box.exec();
}
