#include "shell/droppedfile.h"

#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

QString droppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls()) return {};
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return {};
    const QString path = urls.front().toLocalFile();
    if (path.isEmpty() || QFileInfo(path).isDir()) return {};
    return path;
}
