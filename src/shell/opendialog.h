#pragma once

#include <QFileDialog>
#include <QString>

class QWidget;

// The Open command's file dialog: its filter reads "OpenFile(*.hex;*.bin)", not the list of patterns behind
// it, and finds .hex, .ihx, .ihex and .bin files in any letter case.
QFileDialog::Options openDialogOptions();

// Asks for the file to open; empty when the user cancels.
QString askForFileToOpen(QWidget* parent);
