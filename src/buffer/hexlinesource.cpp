#include "buffer/hexlinesource.h"

bool ListLineSource::nextLine(QByteArray& line) {
    if (next_ >= lines_.size()) return false;
    line = lines_[next_++];
    return true;
}

bool ChunkedLineSource::nextLine(QByteArray& line) {
    line.clear();
    bool any = false;
    for (;;) {
        if (pos_ >= chunk_.size()) {
            if (ended_) return any;
            chunk_ = readChunk();
            pos_ = 0;
            if (chunk_.isEmpty()) {
                ended_ = true;
                return any;
            }
        }
        const char c = chunk_[pos_++];
        if (skipLf_) {
            skipLf_ = false;
            if (c == '\n') continue;
        }
        if (c == '\n') return true;
        if (c == '\r') {
            skipLf_ = true;
            return true;
        }
        any = true;
        if (line.size() < maxLineLength) line.append(c);
    }
}

QByteArray FileLineSource::readChunk() {
    QByteArray chunk = file_.read(64 * 1024);
    if (chunk.isEmpty() && file_.error() != QFileDevice::NoError) error_ = file_.errorString();
    return chunk;
}
