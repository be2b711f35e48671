// Directory benchmark: a catalog of 30,000 generated stations; the median
// time of recomputing the visible list for a one-letter and a five-letter
// search, a facet change and a tab change, and of rebuilding the index.
//
//   bench_directory [--stations N] [--runs N]

#include "platform/SettingsStore.h"
#include "records/L10n.h"
#include "store/RadioStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

using namespace vantuli;
using Clock = std::chrono::steady_clock;

namespace {

// Media keys stay off the desktop while the benchmark runs.
class SilentSession final : public MediaSession {
public:
    qint64 addTarget(Command, Handler) override { return 0; }
    void removeTarget(Command, qint64) override {}
    void setNowPlaying(const std::optional<NowPlaying> &) override {}
    void setPlaybackState(PlaybackState) override {}
};

std::vector<Station> generateCatalog(int count)
{
    static const char *const syllables[] = {"ra", "di", "o", "no", "va", "lu", "ka", "mi", "to", "ze", "fu", "bel",
                                            "son", "ar", "te", "qui", "pa", "ri", "sö", "zü", "ña", "ké"};
    static const char *const countries[] = {"US", "GB", "FR", "DE", "CH", "AT", "IT", "ES", "PT", "NL", "BE", "SE",
                                            "NO", "DK", "FI", "PL", "CZ", "RU", "JP", "KR", "CN", "HK", "TW", "IN",
                                            "BR", "AR", "MX", "CA", "AU", "NZ", "ZA", "EG", "TR", "GR", "IE", ""};
    static const char *const languages[] = {"en", "en-GB", "fr", "de", "de-CH", "it", "es", "pt-BR", "nl", "sv",
                                            "ja", "ko", "zh-CN", "zh-HK", "hi", "ru", "ar", "tr", ""};
    static const char *const genres[] = {"news", "talk", "music", "jazz", "classical", "pop", "rock",
                                         "electronic", "culture", "public", "sports", "world"};
    std::mt19937 random(7);
    auto pick = [&random](const auto &list) {
        return QString::fromUtf8(list[random() % std::size(list)]);
    };
    auto word = [&] {
        QString w;
        const int parts = 2 + static_cast<int>(random() % 3);
        for (int i = 0; i < parts; ++i)
            w += pick(syllables);
        w[0] = w[0].toUpper();
        return w;
    };

    std::vector<Station> stations;
    stations.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        Station s;
        s.id = QStringLiteral("station-%1").arg(i);
        s.name = word() + QLatin1Char(' ') + word() + (i % 5 == 0 ? QStringLiteral(" Radio") : QString());
        s.city = word();
        s.country = pick(countries);
        s.frequency = QStringLiteral("FM %1.%2").arg(88 + random() % 20).arg(random() % 10);
        s.keywords = word().toLower() + QLatin1Char(' ') + word().toLower();
        s.language = pick(languages);
        s.website = QStringLiteral("https://example.org/") + s.id;
        s.path = QStringLiteral("/stations/") + s.id;
        s.streamUrl = QStringLiteral("https://stream.example.org/") + s.id;
        QStringList genreIDs;
        for (unsigned g = 0, n = 1 + random() % 3; g < n; ++g)
            genreIDs << pick(genres);
        s.genreIDs = genreIDs;
        if (i % 40 == 0) {
            s.featuredLabel = word();
            s.featuredGroup = s.country.isEmpty() ? QStringLiteral("US") : s.country;
        }
        stations.push_back(std::move(s));
    }
    return stations;
}

template <typename Work>
double medianMilliseconds(int runs, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work(i);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int count = 30000;
    int runs = 20;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--stations"))
            count = args[i + 1].toInt();
        if (args[i] == QLatin1String("--runs"))
            runs = std::max(1, args[i + 1].toInt());
    }

    L10n l10n(std::make_shared<MemorySettingsStore>(), [] { return QStringList{QStringLiteral("en")}; });
    L10n::setShared(&l10n);

    QTemporaryDir folder;
    const QString catalogPath = folder.path() + QStringLiteral("/catalog.json");
    {
        QJsonArray array;
        for (const Station &s : generateCatalog(count))
            array.append(s.toJson());
        QFile file(catalogPath);
        if (!file.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(catalogPath));
            return 1;
        }
        file.write(QJsonDocument(array).toJson(QJsonDocument::Compact));
    }

    RadioStore::Dependencies d;
    d.defaults = std::make_shared<MemorySettingsStore>();
    d.catalogPath = catalogPath;
    d.mediaSession = std::make_shared<SilentSession>();
    d.handleTerminationSignals = false;
    const auto loadStart = Clock::now();
    RadioStore store(std::move(d));
    const double load = std::chrono::duration<double, std::milli>(Clock::now() - loadStart).count();
    if (store.stations().size() != static_cast<size_t>(count)) {
        std::fprintf(stderr, "catalog did not load\n");
        return 1;
    }
    store.setFilter(LibraryFilter::All);

    std::printf("stations: %d, runs: %d (median in ms)\n", count, runs);
    std::printf("store start-up with catalog:   %8.2f\n", load);

    const double oneLetter = medianMilliseconds(runs, [&](int i) {
        store.setQuery(i % 2 ? QStringLiteral("a") : QStringLiteral("o"));
    });
    std::printf("refresh, one-letter query:     %8.2f  (%zu listed)\n", oneLetter, store.visible().size());

    const double fiveLetters = medianMilliseconds(runs, [&](int i) {
        store.setQuery(i % 2 ? QStringLiteral("radio") : QStringLiteral("nova "));
    });
    std::printf("refresh, five-letter query:    %8.2f  (%zu listed)\n", fiveLetters, store.visible().size());

    store.setQuery(QString());
    const double facet = medianMilliseconds(runs, [&](int i) {
        store.setLanguageFilter(i % 2 ? QStringLiteral("de") : QStringLiteral("fr"));
    });
    std::printf("refresh, facet change:         %8.2f  (%zu listed)\n", facet, store.visible().size());
    store.setLanguageFilter(QString());

    const double tab = medianMilliseconds(runs, [&](int i) {
        store.setFilter(i % 2 ? LibraryFilter::All : LibraryFilter::Featured);
    });
    std::printf("refresh, tab change:           %8.2f  (%zu listed)\n", tab, store.visible().size());

    const double index = medianMilliseconds(runs, [&](int) { store.indexDirectory(); });
    std::printf("indexDirectory:                %8.2f\n", index);

    L10n::setShared(nullptr);
    return 0;
}
