#include "simstate.h"

#include "platform/atomicfile.h"

#include <QFile>
#include <QList>

namespace sim {

namespace {

const QByteArray magic = "chipwright-sim state 1";

QByteArray chipLine(int chip, int lock) {
    const ChipInfo* info = chipAt(chip);
    return QByteArray("chip ") + QByteArray::number(chip) + ' ' + info->type + ' ' +
           QByteArray::number(info->capacity) + " lock " + QByteArray::number(lock);
}

} // namespace

QByteArray encodeState(const Engine& engine) {
    QByteArray file = magic + '\n';
    for (int chip = 0; chip < chipCount; ++chip)
        file += chipLine(chip, engine.lockLevel(chip)) + '\n';
    file += "data\n";
    for (int chip = 0; chip < chipCount; ++chip)
        file += engine.memory(chip);
    return file;
}

bool decodeState(const QByteArray& file, Engine& engine, QString* error) {
    qsizetype at = 0;
    auto nextLine = [&](QByteArray& line) {
        const qsizetype end = file.indexOf('\n', at);
        if (end < 0) return false;
        line = file.mid(at, end - at);
        at = end + 1;
        return true;
    };
    QByteArray line;
    if (!nextLine(line) || line != magic) {
        *error = QStringLiteral("not a chipwright-sim state file (first line is not \"%1\")")
                     .arg(QLatin1String(magic));
        return false;
    }
    std::array<int, chipCount> locks{};
    for (int chip = 0; chip < chipCount; ++chip) {
        bool ok = nextLine(line);
        const QList<QByteArray> fields = line.split(' ');
        if (ok && fields.size() == 6) {
            const int lock = fields[5].toInt(&ok);
            locks[size_t(chip)] = lock;
            ok = ok && lock >= 0 && lock <= 3 && chipLine(chip, lock) == line;
        } else {
            ok = false;
        }
        if (!ok) {
            *error = QStringLiteral("line %1 should read \"%2\"")
                         .arg(chip + 2)
                         .arg(QString::fromLatin1(chipLine(chip, 0))
                                  .replace(QLatin1String("lock 0"), QLatin1String("lock L")));
            return false;
        }
    }
    if (!nextLine(line) || line != "data") {
        *error = QStringLiteral("line 10 should read \"data\"");
        return false;
    }
    qsizetype total = 0;
    for (const ChipInfo& info : chipCatalogue)
        total += info.capacity;
    if (file.size() - at != total) {
        *error = QStringLiteral("%1 bytes of memory images instead of %2").arg(file.size() - at).arg(total);
        return false;
    }
    for (int chip = 0; chip < chipCount; ++chip) {
        const int capacity = chipAt(chip)->capacity;
        engine.setMemory(chip, file.mid(at, capacity));
        engine.setLockLevel(chip, locks[size_t(chip)]);
        at += capacity;
    }
    return true;
}

bool loadStateFile(const QString& path, Engine& engine, QString* error) {
    QFile file(path);
    if (!file.exists()) return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    QString why;
    if (!decodeState(file.readAll(), engine, &why)) {
        *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    }
    return true;
}

bool saveStateFile(const QString& path, const Engine& engine) {
    return platform::replaceFileAtomically(path, encodeState(engine));
}

} // namespace sim
