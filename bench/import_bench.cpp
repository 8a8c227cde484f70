// The import of a Jet file into the SQLite file the program opens:
//   telvar_bench_import [rounds] [jet file]
// (10 rounds of tests/data/jet/nwind.mdb, the largest sample, by default).
//   - importJetFile, as telvar-import and the configuration chooser run it:
//     libmdb in its own process (telvar-import beside the benchmark), the
//     new file written beside the target and put in place. Time per import,
//     and the peak resident memory of the reader's process and of this one;
//   - convertJetFile in this process (no reader process, no placing), for
//     what the process and the placing cost, and this process's peak
//     resident memory after it.

#include "BenchFigures.h"
#include "import/JetConversion.h"
#include "import/JetImport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <vector>

namespace {

using namespace telvar;

// Peak resident memory in MiB (Linux reports ru_maxrss in KiB).
double peakMiB(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

[[noreturn]] void fail(const char* what, const Error& error)
{
    std::fprintf(stderr, "%s failed: %lld %s\n", what, error.number,
                 error.description.toLocal8Bit().constData());
    std::exit(1);
}

void printTimes(const char* what, const std::vector<double>& times, double megabytes, qint64 rows)
{
    const double med = bench::median(times);
    std::printf("%-34s min %8.1f ms  median %8.1f ms  max %8.1f ms  (%.1f MB/s, %.0f rows/s)\n",
                what, *std::min_element(times.begin(), times.end()), med,
                *std::max_element(times.begin(), times.end()), megabytes / (med / 1000.0),
                static_cast<double>(rows) / (med / 1000.0));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rounds = args.size() > 1 ? std::max(args[1].toInt(), 1) : 10;
    const QString source =
        args.size() > 2 ? args[2] : QStringLiteral(TELVAR_SOURCE_DIR "/tests/data/jet/nwind.mdb");
    const QFileInfo info(source);
    if (!info.isFile()) {
        std::fprintf(stderr, "no Jet file at %s\n", source.toLocal8Bit().constData());
        return 1;
    }
    const double megabytes = static_cast<double>(info.size()) / 1e6;
    QTemporaryDir dir;
    const double baseline = peakMiB(RUSAGE_SELF);

    std::vector<double> isolated;
    ImportSummary summary;
    for (int i = 0; i < rounds; ++i) {
        ImportRequest request;
        request.source = source;
        request.target = dir.filePath(QStringLiteral("isolated%1.mdb").arg(i));
        request.helper = QCoreApplication::applicationDirPath() + QStringLiteral("/telvar-import");
        QElapsedTimer timer;
        timer.start();
        const Result<ImportSummary> imported = importJetFile(request);
        isolated.push_back(bench::millis(timer));
        if (!imported)
            fail("importJetFile", imported.error());
        summary = imported.value();
    }
    const double readerPeak = peakMiB(RUSAGE_CHILDREN);
    const double afterIsolated = peakMiB(RUSAGE_SELF);

    std::vector<double> inProcess;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        const Result<ImportSummary> converted =
            convertJetFile(source, dir.filePath(QStringLiteral("inprocess%1.mdb").arg(i)),
                           QString(), ImportLimits{});
        inProcess.push_back(bench::millis(timer));
        if (!converted)
            fail("convertJetFile", converted.error());
    }
    const double afterInProcess = peakMiB(RUSAGE_SELF);

    std::printf("Jet import of %s (%s, %.2f MB): %lld tables, %lld rows; %d rounds; load %s\n",
                info.fileName().toLocal8Bit().constData(), summary.format.toLocal8Bit().constData(),
                megabytes, static_cast<long long>(summary.tables.size()),
                static_cast<long long>(summary.rows()), rounds,
                bench::loadAverage().toLocal8Bit().constData());
    printTimes("importJetFile (reader process)", isolated, megabytes, summary.rows());
    printTimes("convertJetFile (this process)", inProcess, megabytes, summary.rows());
    std::printf("peak resident memory: reader process %.1f MiB; this process %.1f MiB at start, "
                "%.1f MiB after the isolated imports, %.1f MiB after the in-process ones\n",
                readerPeak, baseline, afterIsolated, afterInProcess);
    return 0;
}
