// Start-up benchmark: the time from starting the `vantuli` process to the
// main window's first paint (offscreen platform, private settings and data
// folders, no session bus), median of N runs; the processor time used until
// then; and the resident memory of the process right after that paint. The
// speech model is not loaded at start (only when captions first run), so it
// is not counted.
//
// The time is split into the phases the application marks (see shell/main.cpp):
// until main (the process and its shared libraries), the application object,
// the store (settings, archive, catalog, directory index), the main window,
// and the first paint; each with its wall time and processor time.
//
// It runs on the shipped catalog and on catalogs of more stations made from it
// (--sizes, default 50000,100000; 0 leaves them out).
//
//   bench_startup [--runs N] [--program PATH] [--sizes N,N,...]

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <optional>
#include <unistd.h>
#include <cstdio>
#include <vector>

using vantuli::bench::median;

namespace {

// VmRSS of a process in KiB, 0 when unreadable.
long residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// CPU seconds (user + system) a process has used, -1 when unreadable. On a
// busy machine this shows the start-up's own cost beside the wall time.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const long ticks = sysconf(_SC_CLK_TCK);
    return (fields.at(11).toDouble() + fields.at(12).toDouble()) / double(ticks);
}

} // namespace

namespace {

// The phases the application marks, in order, and how they are shown.
const char *const phases[][2] = {
    {"main", "until main (process, shared libraries)"},
    {"application", "application object, single instance"},
    {"store", "store: settings, archive, catalog, index"},
    {"window", "main window built and shown"},
    {"painted", "first paint"},
};

struct Run {
    double paint = 0; // seconds from launch to the first-paint report
    double cpu = 0;   // seconds of processor time until then
    double rss = 0;   // MiB
    QMap<QByteArray, std::pair<double, double>> marks; // phase -> monotonic ms, processor ms
};

// One launch of `program` with the resources in `resources`; nothing when it
// did not paint.
std::optional<Run> launch(const QString &program, const QString &resources)
{
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("VANTULI_AUDIO"), QStringLiteral("null"));
    environment.insert(QStringLiteral("VANTULI_RESOURCES"), resources);
    environment.insert(QStringLiteral("VANTULI_REPORT_FIRST_PAINT"), QStringLiteral("1"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));

    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    clock.start();
    const double launched = double(clock.msecsSinceReference()); // the monotonic clock, as the marks
    process.start(program, {});
    QByteArray output;
    bool painted = false;
    while (!painted && process.waitForReadyRead(30000)) {
        output += process.readAllStandardOutput();
        painted = output.contains("first-paint");
    }
    Run run;
    run.paint = double(clock.nsecsElapsed()) / 1e9;
    if (!painted) {
        std::fprintf(stderr, "bench_startup: no first paint: %s\n", process.readAllStandardError().constData());
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    run.rss = double(residentKiB(process.processId())) / 1024.0;
    run.cpu = cpuSeconds(process.processId());
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
    run.marks.insert("launch", {launched, 0});
    for (const QByteArray &line : output.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 4 && fields[0] == "phase")
            run.marks.insert(fields[1], {fields[2].toDouble(), fields[3].toDouble()});
    }
    return run;
}

// A resource folder like `shipped` whose catalog has `stations` stations.
bool grownResources(const QString &folder, qsizetype stations)
{
    const QDir shipped(QStringLiteral(VANTULI_RESOURCE_DIR));
    for (const QString &name : shipped.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        if (name != QLatin1String("catalog.json") && !QFile::link(shipped.filePath(name), folder + QLatin1Char('/') + name))
            return false;
    }
    return vantuli::bench::grownCatalog(folder + QStringLiteral("/catalog.json"), stations);
}

bool measure(const QString &program, const QString &resources, const QString &what, int runs)
{
    std::vector<Run> all;
    for (int i = 0; i < runs; ++i) {
        std::optional<Run> run = launch(program, resources);
        if (!run)
            return false;
        std::printf("  run %2d: first paint %.3f s (%.3f s of CPU), resident %.1f MiB\n", i + 1, run->paint, run->cpu,
                    run->rss);
        all.push_back(*run);
    }
    const auto figure = [&all](auto pick) {
        std::vector<double> values;
        for (const Run &run : all)
            values.push_back(pick(run));
        return median(values);
    };
    std::printf("%s: first paint median %.3f s over %d runs, CPU %.3f s, resident %.1f MiB\n", qPrintable(what),
                figure([](const Run &r) { return r.paint; }), runs, figure([](const Run &r) { return r.cpu; }),
                figure([](const Run &r) { return r.rss; }));
    QByteArray previous = "launch";
    for (const auto &[mark, label] : phases) {
        if (!all.front().marks.contains(mark))
            continue; // a program that does not mark its phases
        const auto span = [&](bool cpu) {
            return figure([&](const Run &r) {
                const auto [wallEnd, cpuEnd] = r.marks.value(mark);
                const auto [wallStart, cpuStart] = r.marks.value(previous);
                return cpu ? cpuEnd - cpuStart : wallEnd - wallStart;
            });
        };
        std::printf("    %-44s %7.1f ms wall %7.1f ms CPU\n", label, span(false), span(true));
        previous = mark;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int runs = 10;
    QString program = QStringLiteral(VANTULI_BINARY_DIR "/shell/vantuli");
    QList<qsizetype> sizes = {50000, 100000};
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray option(argv[i]);
        if (option == "--runs")
            runs = std::max(1, QByteArray(argv[i + 1]).toInt());
        else if (option == "--program")
            program = QString::fromLocal8Bit(argv[i + 1]);
        else if (option == "--sizes") {
            sizes.clear();
            for (const QByteArray &size : QByteArray(argv[i + 1]).split(','))
                if (size.toLongLong() > 0)
                    sizes.append(size.toLongLong());
        }
    }

    std::printf("%s\n", qPrintable(program));
    if (!measure(program, QStringLiteral(VANTULI_RESOURCE_DIR), QStringLiteral("shipped catalog"), runs))
        return 1;
    for (const qsizetype size : sizes) {
        QTemporaryDir resources;
        if (!grownResources(resources.path(), size)) {
            std::fprintf(stderr, "bench_startup: could not make a catalog of %lld stations\n", static_cast<long long>(size));
            return 1;
        }
        if (!measure(program, resources.path(), QStringLiteral("%1 stations").arg(size), runs))
            return 1;
    }
    std::printf("targets: first paint < 0.8 s (also with 100,000 stations), CPU <= 0.35 s, resident < 80 MiB\n");
    return 0;
}
