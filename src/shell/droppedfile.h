#pragma once

#include <QString>

class QMimeData;

// The one local file a drag carries, or empty when it carries several things, something that is not a local
// file (a web address, text), or a folder: the window opens one file at a time and takes nothing else.
QString droppedFile(const QMimeData* data);
