// Directory panel benchmark: the real panel, offscreen, over the shipped
// catalog. Times, from the input event to the station list painted again:
// a keystroke in the search field, a tab change and a facet change.
// Median and worst of each. Then the processor time the panel takes while
// the station at the top of the list plays (its meter moving) over
// --meter seconds (default 10; 0 leaves it out), as a share of one core.
//
//   bench_directory-panel [--catalog FILE] [--runs N] [--meter S] [--grab FOLDER]
//
// --grab also saves a picture of each tab and of an open facet menu.

#include "BenchSupport.h"
#include "look/Appearance.h"
#include "directory/DirectoryTabs.h"
#include "directory/FacetMenu.h"
#include "directory/StationDirectory.h"
#include "directory/StationList.h"
#include "platform/SettingsStore.h"
#include "records/L10n.h"
#include "store/RadioStore.h"
#include "support/WidgetHarness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QKeyEvent>
#include <QDir>
#include <QLineEdit>
#include <QPainter>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

using namespace vantuli;
using Clock = std::chrono::steady_clock;

using bench::SilentSession;

namespace {

// Notes each paint of the list.
class PaintWatch : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

// Counts the paints of the list.
class PaintCount : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// Milliseconds of processor time this thread has used: on a busy machine
// the wall-clock worst case also counts the time the thread waited its turn.
double threadMilliseconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Figures {
    double median = 0;
    double worst = 0;
    double cpuMedian = 0;
    double cpuWorst = 0;
    int worstRun = 0; // which run used the most processor time
    double settledWorst = 0; // the worst after the first five runs
    int missed = 0; // runs where the list did not paint within a second
};

// Runs `input` and then the event loop until the list has painted.
Figures measure(int runs, PaintWatch &watch, const std::function<void(int)> &input)
{
    std::vector<double> times;
    std::vector<double> cpu;
    Figures figures;
    for (int i = 0; i < runs; ++i) {
        QApplication::processEvents();
        watch.painted = false;
        const auto start = Clock::now();
        const double cpuStart = threadMilliseconds();
        input(i);
        QElapsedTimer guard;
        guard.start();
        while (!watch.painted && guard.elapsed() < 1000)
            QApplication::processEvents();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        cpu.push_back(threadMilliseconds() - cpuStart);
        if (!watch.painted)
            ++figures.missed;
    }
    // The first runs also pay for fonts met for the first time (new scripts).
    if (times.size() > 5)
        figures.settledWorst = *std::max_element(times.begin() + 5, times.end());
    std::sort(times.begin(), times.end());
    figures.median = times[times.size() / 2];
    figures.worst = times.back();
    figures.worstRun = int(std::max_element(cpu.begin(), cpu.end()) - cpu.begin());
    std::sort(cpu.begin(), cpu.end());
    figures.cpuMedian = cpu[cpu.size() / 2];
    figures.cpuWorst = cpu.back();
    return figures;
}

void report(const char *what, const Figures &f, size_t listed)
{
    std::printf("%-34s median %6.2f ms  worst %7.2f ms   after 5 runs %7.2f ms   processor time: median %6.2f ms  worst %6.2f ms (run %d)   (%zu listed%s)\n",
                what, f.median, f.worst, f.settledWorst, f.cpuMedian, f.cpuWorst, f.worstRun + 1, listed, f.missed ? ", some runs did not paint" : "");
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString catalog = QStringLiteral(VANTULI_RESOURCE_DIR "/catalog.json");
    int runs = 50;
    QString grabFolder;
    double meterSeconds = 10;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--catalog"))
            catalog = args[i + 1];
        if (args[i] == QLatin1String("--runs"))
            runs = std::max(1, args[i + 1].toInt());
        if (args[i] == QLatin1String("--grab"))
            grabFolder = args[i + 1];
        if (args[i] == QLatin1String("--meter"))
            meterSeconds = std::max(0.0, args[i + 1].toDouble());
    }

    L10n l10n(std::make_shared<MemorySettingsStore>(), [] { return QStringList{QStringLiteral("en")}; }, {},
              QStringLiteral(VANTULI_RESOURCE_DIR));
    L10n::setShared(&l10n);
    Appearance::shared().setReduceMotionForTesting(false);

    RadioStore::Dependencies d;
    d.defaults = std::make_shared<MemorySettingsStore>();
    d.catalogPath = catalog;
    d.mediaSession = std::make_shared<SilentSession>();
    d.handleTerminationSignals = false;
    RadioStore store(std::move(d));
    if (store.stations().empty()) {
        std::fprintf(stderr, "catalog did not load: %s\n", qPrintable(catalog));
        return 1;
    }

    StationDirectory panel(&store, 0);
    panel.resize(320, 900);
    panel.show();
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    PaintWatch watch;
    panel.list()->viewport()->installEventFilter(&watch);
    std::printf("stations: %zu, runs: %d, from the input event to the list painted\n", store.stations().size(), runs);

    // Keystrokes: "jazz" typed and taken back again, letter by letter, on the
    // tab of all stations.
    store.setFilter(LibraryFilter::All);
    QLineEdit *field = panel.searchField();
    field->setFocus();
    const QString word = QStringLiteral("jazz");
    const Figures keys = measure(runs, watch, [&](int i) {
        const int step = i % (2 * int(word.size()));
        QKeyEvent *press;
        if (step < word.size())
            press = new QKeyEvent(QEvent::KeyPress, Qt::Key_A + (word[step].unicode() - 'a'), Qt::NoModifier, QString(word[step]));
        else
            press = new QKeyEvent(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        QApplication::sendEvent(field, press);
        delete press;
    });
    report("keystroke in the search field:", keys, store.visible().size());
    store.setQuery(QString());

    // Tab changes: round the five tabs, by clicking them.
    const auto &tabs = panel.tabs()->tabs();
    const LibraryFilter::Value order[] = {LibraryFilter::All, LibraryFilter::Featured};
    const Figures tab = measure(runs, watch, [&](int i) { tabs[size_t(order[i % 2])]->click(); });
    report("tab change (all / featured):", tab, store.visible().size());

    // Facet changes: the ten biggest languages in turn, as picked in the menu.
    store.resetFilters();
    store.setFilter(LibraryFilter::All);
    std::vector<DirectoryChoice> languages = store.languages();
    std::stable_sort(languages.begin(), languages.end(),
                     [](const DirectoryChoice &a, const DirectoryChoice &b) { return a.count > b.count; });
    languages.resize(std::min<size_t>(languages.size(), 10));
    FacetMenu *menu = panel.languageMenu();
    const Figures facet = measure(runs, watch, [&](int i) { emit menu->picked(languages[size_t(i) % languages.size()].id); });
    report("facet change (language):", facet, store.visible().size());

    store.resetFilters();
    const QString biggestCountry = [&] {
        std::vector<DirectoryChoice> countries = store.countries();
        std::stable_sort(countries.begin(), countries.end(),
                         [](const DirectoryChoice &a, const DirectoryChoice &b) { return a.count > b.count; });
        return countries.front().id;
    }();
    const Figures country = measure(runs, watch, [&](int i) {
        emit panel.countryMenu()->picked(i % 2 ? QString() : biggestCountry);
    });
    report("facet change (country / all):", country, store.visible().size());

    if (meterSeconds > 0) {
        store.resetFilters();
        store.setFilter(LibraryFilter::All);
        QApplication::processEvents();
        test::StoreProbe probe(store);
        probe.play(store.visible().front());
        const auto processSeconds = [] {
            rusage usage{};
            getrusage(RUSAGE_SELF, &usage);
            return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                   + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        };
        PaintCount paints;
        panel.list()->viewport()->installEventFilter(&paints);
        QElapsedTimer wall;
        wall.start();
        const double cpu0 = processSeconds();
        QEventLoop loop;
        QTimer::singleShot(int(meterSeconds * 1000), &loop, &QEventLoop::quit);
        loop.exec();
        const double share = (processSeconds() - cpu0) / (double(wall.nsecsElapsed()) / 1e9);
        std::printf("playing station's meter on screen: %.2f %% of a core over %.0f s (%d list paints)\n", 100 * share,
                    meterSeconds, paints.count);
        probe.setState(RadioStore::State::Stopped);
    }

    if (!grabFolder.isEmpty()) {
        QDir().mkpath(grabFolder);
        auto settle = [] {
            for (int i = 0; i < 20; ++i)
                QApplication::processEvents();
        };
        store.resetFilters();
        // A few marks to look at: a favourite, a failure, the playing station.
        if (store.visible().size() > 3) {
            store.favorite(store.visible()[1]);
            store.favorite(store.visible()[2]);
        }
        for (LibraryFilter::Value value : LibraryFilter::allCases()) {
            tabs[size_t(value)]->click();
            QElapsedTimer wait;
            wait.start();
            while (wait.elapsed() < 300)
                QApplication::processEvents();
            panel.grab().save(grabFolder + QStringLiteral("/directory-tab-%1.png").arg(int(value)));
        }
        tabs[size_t(LibraryFilter::All)]->click();
        emit panel.countryMenu()->picked(QStringLiteral("JP"));
        settle();
        FacetMenu *languageMenu = panel.languageMenu();
        languageMenu->toggle();
        settle();
        QImage picture(panel.size() + QSize(0, 0), QImage::Format_ARGB32);
        picture.fill(Qt::black);
        {
            QPainter painter(&picture);
            painter.drawPixmap(0, 0, panel.grab());
            QWidget *popup = languageMenu->popup();
            painter.drawPixmap(panel.mapFromGlobal(popup->pos()), popup->grab());
        }
        picture.save(grabFolder + QStringLiteral("/directory-facet-menu.png"));
        std::printf("pictures in %s\n", qPrintable(grabFolder));
    }

    L10n::setShared(nullptr);
    return 0;
}
