// Google Benchmark of the pure pass over growing sheets, and of the folder tool's run button
// over a folder of sheets (given in CUEBENCH_FOLDER).
#include "core/linerule.h"
#include "window/vexatrin.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <optional>

using namespace cueprune;

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

// Copies as the command-line timing does (cp -a, then sync), so that both start from the same
// state and neither pays for the other's write-back.
bool copyFolder(const QString &from, const QString &to)
{
    return QProcess::execute(QStringLiteral("cp"), { "-a", from + "/.", to }) == 0
        && QProcess::execute(QStringLiteral("sync"), {}) == 0;
}

void folderRunButton(benchmark::State &state)
{
    const QString folder = qEnvironmentVariable("CUEBENCH_FOLDER");
    if (folder.isEmpty()) {
        state.SkipWithError("set CUEBENCH_FOLDER to a folder of sheets");
        return;
    }
    // The copy and the window outlive each timed click, so that removing them is not timed.
    std::optional<QTemporaryDir> copy;
    std::optional<VexaTrin> window;
    for (auto _ : state) {
        state.PauseTiming();
        window.reset();
        copy.reset();
        copy.emplace();
        copyFolder(folder, copy->path());
        window.emplace();
        window->findChild<QLineEdit *>("lineEdit")->setText(copy->path());
        auto *runButton = window->findChild<QPushButton *>("pushButton_2");
        state.ResumeTiming();
        runButton->click();
    }
}
BENCHMARK(folderRunButton)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

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
