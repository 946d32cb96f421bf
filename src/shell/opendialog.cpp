#include "shell/opendialog.h"

#include "buffer/filenames.h"

QFileDialog::Options openDialogOptions() {
    return QFileDialog::HideNameFilterDetails;
}

QString askForFileToOpen(QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, QString(), QString(), openDialogFilter(), nullptr,
                                        openDialogOptions());
}
