// Archive sheet benchmark: the real sheet, offscreen, over a generated
// archive file of 1,000 sessions and 200,000 captions. Times, median and
// worst: opening the sheet until its first page is painted, a search (Return
// in the search field, so without the typing pause) until the results are
// painted, and copying a block of 2,000 captions, most of them beyond the
// loaded page. Each paint is one synchronous repaint of the whole sheet.
// Prints the archive file's size.
//
//   bench_archive-sheet [--archive FILE] [--runs N]
//
// With --archive the file is used when it exists and generated there otherwise.

#include "BenchSupport.h"
#include "look/Appearance.h"
#include "platform/SettingsStore.h"
#include "records/L10n.h"
#include "sheets/ArchiveView.h"
#include "store/RadioStore.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUuid>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

using namespace vantuli;
using Clock = std::chrono::steady_clock;

using bench::SilentSession;

namespace {

constexpr int sessionCount = 1000;
constexpr int captionsPerSession = 200;
constexpr int bigBlockSessions = 10; // the newest 10 sessions: one station, one block of 2,000 captions

struct Figures {
    double median = 0;
    double worst = 0;
};

Figures summarise(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

void report(const char *what, const Figures &f, const char *note = "")
{
    std::printf("%-44s median %8.2f ms   worst %8.2f ms %s\n", what, f.median, f.worst, note);
}

QString sentence(QRandomGenerator &random, bool chinese)
{
    static const char *english[] = {"the", "news", "weather", "tonight", "music", "traffic", "city", "morning",
                                    "report", "listeners", "station", "government", "market", "football", "rain",
                                    "interview", "minister", "concert", "festival", "economy"};
    static const char *hanzi[] = {"新闻", "天气", "今晚", "音乐", "交通", "城市", "早上", "报道",
                                  "听众", "电台", "政府", "市场", "足球", "下雨", "采访", "部长"};
    QString text;
    const int words = 6 + int(random.bounded(10));
    for (int i = 0; i < words; ++i) {
        if (chinese)
            text += QString::fromUtf8(hanzi[random.bounded(16)]);
        else
            text += (i ? QStringLiteral(" ") : QString()) + QString::fromLatin1(english[random.bounded(20)]);
    }
    return text + (chinese ? QStringLiteral("。") : QStringLiteral("."));
}

void generate(const QString &path)
{
    QFile::remove(path);
    ListeningArchive archive(path);
    QRandomGenerator random(7);
    double date = 1'700'000'000.0;
    for (int s = 0; s < sessionCount; ++s) {
        const bool big = s >= sessionCount - bigBlockSessions;
        const int station = big ? 0 : 1 + int(random.bounded(8));
        const QString id = QStringLiteral("station-%1").arg(station);
        const bool chinese = station % 2 == 1;
        const qint64 session = archive.begin(id, QStringLiteral("Station %1").arg(station), 0, Date{date});
        archive.checkpoint(session, Date{date + 1}, Date{date + 600}, 600, 9'600'000, 600, 0.4, false);
        // Captions in batches of 20, one batch a minute.
        for (int b = 0; b < captionsPerSession / 20; ++b) {
            std::vector<Caption> batch;
            for (int c = 0; c < 20; ++c)
                batch.push_back(Caption{QUuid::createUuid(), sentence(random, chinese), 0, 1});
            archive.append(batch, session, chinese ? QStringLiteral("zh") : QStringLiteral("en"), Date{date + b * 60});
        }
        date += big ? 660 : 3600;
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("Listening.sqlite3"));
    int runs = 21;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--archive"))
            path = args[i + 1];
        if (args[i] == QLatin1String("--runs"))
            runs = std::max(1, args[i + 1].toInt());
    }
    if (!QFileInfo::exists(path)) {
        QElapsedTimer made;
        made.start();
        generate(path);
        std::printf("generated %s in %.1f s\n", qPrintable(path), made.elapsed() / 1000.0);
    }
    std::printf("archive file: %.1f MiB (%lld bytes), %d sessions, %d captions, runs: %d\n",
                QFileInfo(path).size() / 1048576.0, QFileInfo(path).size(), sessionCount,
                sessionCount * captionsPerSession, runs);

    L10n l10n(std::make_shared<MemorySettingsStore>(), [] { return QStringList{QStringLiteral("en")}; }, {},
              QStringLiteral(VANTULI_RESOURCE_DIR));
    L10n::setShared(&l10n);
    RadioStore::Dependencies d;
    d.defaults = std::make_shared<MemorySettingsStore>();
    d.archiveURL = path;
    d.catalogPath = QStringLiteral(VANTULI_RESOURCE_DIR "/catalog.json");
    d.mediaSession = std::make_shared<SilentSession>();
    d.handleTerminationSignals = false;
    RadioStore store(std::move(d));
    if (!store.archive()) {
        std::fprintf(stderr, "archive did not open\n");
        return 1;
    }

    // Opening: a new sheet each run, shown (which loads the first page) and
    // painted once in full.
    std::vector<double> opening;
    for (int i = 0; i < runs; ++i) {
        QApplication::processEvents();
        const auto start = Clock::now();
        ArchiveView view(&store);
        view.show();
        view.repaint();
        opening.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    report("open the sheet to its first page painted:", summarise(opening));

    ArchiveView view(&store);
    view.show();
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    auto *field = view.findChild<QLineEdit *>(QStringLiteral("archiveSearch"));

    // Searches: a query typed (its own debounced reload is not waited for)
    // and submitted with Return, until the sheet has painted the results.
    const auto search = [&](const QStringList &queries) {
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            field->setText(queries[i % queries.size()]);
            QApplication::processEvents();
            const auto start = Clock::now();
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(field, &press);
            view.repaint();
            times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        return summarise(times);
    };
    report("search, common words, to results painted:",
           search({QStringLiteral("news"), QStringLiteral("天气"), QStringLiteral("Station 3"), QStringLiteral("rain")}));
    report("search, no match (whole archive read):", search({QStringLiteral("zzqx"), QStringLiteral("%_%")}));
    field->setText(QString());
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();

    // Copy: the newest block holds 2,000 captions; the sheet shows 100 of them.
    const auto &blocks = view.paging().blocks();
    if (blocks.size() != 1 || !view.paging().hasMore()) {
        std::fprintf(stderr, "unexpected first page: %zu blocks\n", blocks.size());
        return 1;
    }
    auto *copy = view.findChild<QToolButton *>(QStringLiteral("archiveCopyBlock"));
    std::vector<double> copying;
    qsizetype length = 0;
    for (int i = 0; i < runs; ++i) {
        QApplication::clipboard()->clear();
        QApplication::processEvents();
        const auto start = Clock::now();
        copy->click();
        copying.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        length = QApplication::clipboard()->text().size();
    }
    char note[64];
    std::snprintf(note, sizeof note, "(%lld characters)", static_cast<long long>(length));
    report("copy a block of 2,000 captions:", summarise(copying), note);

    L10n::setShared(nullptr);
    return 0;
}
