// Any bytes as an Intel HEX file: the load ends in one of its three results, the code buffer keeps exactly
// the capacity, and nothing is touched outside it.
#include "buffer/hexloader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int capacities[] = {2048, 4096, 8192, 12288, 20480};
    const int capacity = capacities[size % 5];
    CodeBuffer buffer;
    buffer.setFillByte(size % 2 ? 0xFF : 0x00);
    BytesLineSource source(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    const LoadResult r = loadHex(buffer, capacity, source);
    if (buffer.code().size() != static_cast<size_t>(capacity)) std::abort();
    if (r.status == LoadStatus::Loaded && buffer.dataEnd() >= capacity) std::abort();
    if (r.status == LoadStatus::Error && r.error.isEmpty()) std::abort();
    return 0;
}
