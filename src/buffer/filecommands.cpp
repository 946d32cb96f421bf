#include "buffer/filecommands.h"

#include "buffer/filenames.h"

#include "platform/filetime.h"
#include "programmer/chipcatalogue.h"
#include "programmer/hostsession.h"

namespace {
const QString generalOpenError = QStringLiteral("Open File Error !  Please Choose Again !");
}

FileKind fileKindFromName(const QString& name, FileKind previous) {
    return fileKindOfName(name).value_or(previous);
}

QString sizeMessage(const ChipInfo& chip) {
    return QStringLiteral("Open File Error ! %1 Cant Be Program %2K Active Byte Only ! Please Choose Again !")
        .arg(QLatin1String(chip.type))
        .arg(chip.capacity / 1024);
}

bool openFile(HostSession& session, FileState& state, const QString& chosenPath) {
    state.chosenPath = chosenPath;
    state.kind = fileKindFromName(chosenPath, state.kind);
    bool shown = false;
    if (const ChipInfo* chip = chipAt(session.chipIndex())) {
        const LoadResult result = loadImage(session.buffer(), chosenPath, chip->capacity, state.kind);
        switch (result.status) {
        case LoadStatus::Loaded:
            session.dispData(chip->capacity);
            session.showDataEnd();
            shown = true;
            break;
        case LoadStatus::DoesNotFit:
            session.view().showMessage(sizeMessage(*chip));
            break;
        case LoadStatus::Error:
            session.view().showMessage(generalOpenError);
            return false;
        }
    }
    state.fileName = chosenPath.left(fileNameLength);
    state.stamp = platform::fileStamp(chosenPath);
    session.view().setStatusBarText(QStringLiteral("Open File:   ") + state.fileName);
    return shown;
}

LoadResult reloadFile(HostSession& session, const FileState& state, int capacity) {
    return loadImage(session.buffer(), state.chosenPath, capacity, state.kind);
}

bool canSave(HostSession& session) {
    if (!session.view().hexLines().isEmpty()) return true;
    session.view().showMessage(QStringLiteral("Please Open *.Hex , *.Bin File Or Read IC Data Firstly !"));
    return false;
}

bool saveFile(HostSession& session, const QString& baseName, SaveFormat format) {
    const QString path =
        baseName + (format == SaveFormat::Hex ? QLatin1String(".hex") : QLatin1String(".bin"));
    const QString error = writeLines(session.view().hexLines(), path, format);
    if (error.isEmpty()) return true;
    session.view().showMessage(error);
    return false;
}
