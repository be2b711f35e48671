// Start-up benchmark: the time from starting the `vantuli` process to the
// main window's first paint (offscreen platform, shipped catalog, private
// settings and data folders, no session bus), median of 10 runs; and the
// resident memory of the process right after that paint. The speech model is
// not loaded at start (only when captions first run), so it is not counted.
//
//   bench_startup [--runs N] [--program PATH]

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
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

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int runs = 10;
    QString program = QStringLiteral(VANTULI_BINARY_DIR "/shell/vantuli");
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray option(argv[i]);
        if (option == "--runs")
            runs = std::max(1, QByteArray(argv[i + 1]).toInt());
        else if (option == "--program")
            program = QString::fromLocal8Bit(argv[i + 1]);
    }

    std::vector<double> paints;
    std::vector<double> memory;
    std::vector<double> cpu;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("VANTULI_AUDIO"), QStringLiteral("null"));
        environment.insert(QStringLiteral("VANTULI_RESOURCES"), QStringLiteral(VANTULI_RESOURCE_DIR));
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
        process.start(program, {});
        QByteArray output;
        bool painted = false;
        while (!painted && process.waitForReadyRead(30000)) {
            output += process.readAllStandardOutput();
            painted = output.contains("first-paint");
        }
        const double seconds = clock.nsecsElapsed() / 1e9;
        if (!painted) {
            std::fprintf(stderr, "bench_startup: no first paint in run %d: %s\n", run + 1,
                         process.readAllStandardError().constData());
            process.kill();
            process.waitForFinished();
            return 1;
        }
        const long rss = residentKiB(process.processId());
        const double used = cpuSeconds(process.processId());
        process.terminate();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished();
        }
        paints.push_back(seconds);
        memory.push_back(rss / 1024.0);
        cpu.push_back(used);
        std::printf("run %2d: first paint %.3f s (%.3f s of CPU), resident %.1f MiB\n", run + 1, seconds, used,
                    rss / 1024.0);
    }
    std::printf("first paint: median %.3f s over %d runs (target < 0.8 s)\n", median(paints), runs);
    std::printf("CPU used until the first paint: median %.3f s\n", median(cpu));
    std::printf("resident memory after start: median %.1f MiB (target < 150 MiB)\n", median(memory));
    return 0;
}
