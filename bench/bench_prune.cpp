// Google Benchmark of the pure pass over growing sheets, and of the folder tool's run button
// over a folder of sheets (given in CUEBENCH_FOLDER).
#include "prunepass.h"
#include "vexatrin.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QByteArray sheetOfSize(qsizetype size)
{
    const QByteArray track = "  TRACK 07 AUDIO\r\n    TITLE \"Caf\xE9 cr\xE8me\"\r\n"
                             "    PERFORMER \"Quelqu'un\"\r\n    INDEX 00 12:34:00\r\n"
                             "    INDEX 01 12:36:00\r\n";
    QByteArray sheet = "FILE \"disc.flac\" WAVE\r\n";
    sheet.reserve(size + track.size());
    while (sheet.size() < size)
        sheet += track;
    return sheet;
}

void prunePass(benchmark::State &state)
{
    const QByteArray sheet = sheetOfSize(state.range(0));
    for (auto _ : state) {
        PrunedSheet pruned = pruneSheet(sheet);
        benchmark::DoNotOptimize(pruned.bytes.data());
    }
    state.SetBytesProcessed(state.iterations() * sheet.size());
}
BENCHMARK(prunePass)->RangeMultiplier(4)->Range(2 << 10, 64 << 20)->Unit(benchmark::kMicrosecond);

bool copyFolder(const QString &from, const QString &to)
{
    const QDir source(from);
    if (!QDir().mkpath(to))
        return false;
    for (const QString &name : source.entryList(QDir::Files)) {
        if (!QFile::copy(source.filePath(name), to + '/' + name))
            return false;
    }
    return true;
}

void folderRunButton(benchmark::State &state)
{
    const QString folder = qEnvironmentVariable("CUEBENCH_FOLDER");
    if (folder.isEmpty()) {
        state.SkipWithError("set CUEBENCH_FOLDER to a folder of sheets");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir copy;
        copyFolder(folder, copy.path());
        VexaTrin window;
        window.findChild<QLineEdit *>("lineEdit")->setText(copy.path());
        auto *runButton = window.findChild<QPushButton *>("pushButton_2");
        state.ResumeTiming();
        runButton->click();
    }
}
BENCHMARK(folderRunButton)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
