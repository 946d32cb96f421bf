// Loading the largest chip's image (20 KB) and dumping it for the hex view, both meant to stay well under 10
// ms.
#include "support/fakeview.h"
#include "buffer/dumpline.h"
#include "buffer/hexloader.h"
#include "buffer/hexwriter.h"
#include "platform/atomicfile.h"
#include "platform/registry.h"
#include "programmer/hostsession.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <random>

namespace {

constexpr int imageSize = 20480;

std::vector<quint8> randomImage() {
    std::mt19937 gen(7);
    std::vector<quint8> image(imageSize);
    for (quint8& b : image)
        b = static_cast<quint8>(gen());
    return image;
}

QByteArray hexText() {
    return hexFileText(dumpLines(randomImage(), imageSize)).bytes;
}

void BM_LoadHexFromMemory(benchmark::State& state) {
    const QByteArray text = hexText();
    CodeBuffer buffer;
    for (auto _ : state) {
        BytesLineSource source(text);
        benchmark::DoNotOptimize(loadHex(buffer, imageSize, source).status);
    }
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_LoadHexFromMemory)->Unit(benchmark::kMicrosecond);

void BM_LoadHexFile(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.hex"));
    platform::writeFileContent(path, hexText());
    CodeBuffer buffer;
    for (auto _ : state)
        benchmark::DoNotOptimize(loadImage(buffer, path, imageSize, FileKind::Hex).status);
}
BENCHMARK(BM_LoadHexFile)->Unit(benchmark::kMicrosecond);

void BM_DumpLines(benchmark::State& state) {
    const std::vector<quint8> image = randomImage();
    for (auto _ : state)
        benchmark::DoNotOptimize(dumpLines(image, imageSize));
}
BENCHMARK(BM_DumpLines)->Unit(benchmark::kMicrosecond);

void BM_DispData(benchmark::State& state) {
    FakeView view;
    HostSession session(view);
    session.confirmChip(4); // AT89C55, 20480 bytes
    session.clearCode();
    for (auto _ : state)
        session.dispData(imageSize);
}
BENCHMARK(BM_DispData)->Unit(benchmark::kMicrosecond);

void BM_HexWriter(benchmark::State& state) {
    const QStringList lines = dumpLines(randomImage(), imageSize);
    for (auto _ : state)
        benchmark::DoNotOptimize(hexFileText(lines).bytes.size());
}
BENCHMARK(BM_HexWriter)->Unit(benchmark::kMicrosecond);

// A damaged settings file of many values (at most a megabyte is read): parsing must grow linearly with the
// count, names matched ignoring case.
void BM_RegistryParse(benchmark::State& state) {
    QByteArray text;
    for (int i = 0; i < state.range(0); ++i)
        text += "\"Value" + QByteArray::number(i) + "\"=dword:00000001\n";
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::RegistryKey::parse(text).size());
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RegistryParse)
    ->RangeMultiplier(4)
    ->Range(10000, 160000)
    ->Complexity()
    ->Unit(benchmark::kMillisecond);

} // namespace
