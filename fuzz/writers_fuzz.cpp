// Any text as the hex view's lines. Both writers either refuse with a message or build a file; a HEX file
// they build always loads again, and every line it came from is within the first 64K.
#include "buffer/hexloader.h"
#include "buffer/hexwriter.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QStringList lines =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size))
            .split(QLatin1Char('\n'));

    const WriterOutput hex = hexFileText(lines);
    if (hex.ok()) {
        if (!hex.bytes.endsWith(":00000001FF\r\n")) std::abort();
        CodeBuffer buffer;
        BytesLineSource source(hex.bytes);
        if (loadHex(buffer, 0x10000, source).status != LoadStatus::Loaded) std::abort();
    } else if (!hex.bytes.isEmpty()) {
        std::abort();
    }

    const WriterOutput bin = binaryImage(lines);
    // The image ends with the last line's sixteen bytes, and six address digits cap it.
    if (bin.ok() && !bin.bytes.isEmpty() && (bin.bytes.size() < 16 || bin.bytes.size() > 0xFFFFFF + 16))
        std::abort();
    if (!bin.ok() && !bin.bytes.isEmpty()) std::abort();
    return 0;
}
