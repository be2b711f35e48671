// Directory benchmark over the shipped catalog (resources/catalog.json) or a
// generated one: the median time of the store's start-up with the catalog
// (decode, index, first visible list), of decoding and indexing alone, of one
// search keystroke, of a facet change and of a tab change, and the resident
// memory after start-up.
//
//   bench_directory [--catalog FILE | --generated N] [--runs N]

#include "BenchSupport.h"
#include "platform/SettingsStore.h"
#include "records/L10n.h"
#include "store/RadioStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <fstream>
#include <memory>
#include <string>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

using namespace vantuli;
using Clock = std::chrono::steady_clock;

using bench::SilentSession;

namespace {

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

// Resident memory of this process in KiB (VmRSS), or -1.
long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
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
    QString catalogPath = QStringLiteral(VANTULI_RESOURCE_DIR "/catalog.json");
    int generated = 0;
    int runs = 10;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--catalog"))
            catalogPath = args[i + 1];
        if (args[i] == QLatin1String("--generated"))
            generated = args[i + 1].toInt();
        if (args[i] == QLatin1String("--runs"))
            runs = std::max(1, args[i + 1].toInt());
    }

    L10n l10n(std::make_shared<MemorySettingsStore>(), [] { return QStringList{QStringLiteral("en")}; });
    L10n::setShared(&l10n);

    QTemporaryDir folder;
    if (generated > 0) {
        catalogPath = folder.path() + QStringLiteral("/catalog.json");
        QJsonArray array;
        for (const Station &s : generateCatalog(generated))
            array.append(s.toJson());
        QFile file(catalogPath);
        if (!file.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(catalogPath));
            return 1;
        }
        file.write(QJsonDocument(array).toJson(QJsonDocument::Compact));
    }
    QFile catalogFile(catalogPath);
    if (!catalogFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(catalogPath));
        return 1;
    }
    const QByteArray catalogBytes = catalogFile.readAll();
    const size_t count = Station::decodeCatalog(catalogBytes).size();

    auto dependencies = [&] {
        RadioStore::Dependencies d;
        d.defaults = std::make_shared<MemorySettingsStore>();
        d.catalogPath = catalogPath;
        d.mediaSession = std::make_shared<SilentSession>();
        d.handleTerminationSignals = false;
        return d;
    };

    std::printf("catalog: %s\n", qPrintable(catalogPath));
    std::printf("catalog: %lld bytes, %zu stations; runs: %d (median in ms)\n",
                static_cast<long long>(catalogBytes.size()), count, runs);

    const double decode = medianMilliseconds(runs, [&](int) { (void)Station::decodeCatalog(catalogBytes); });
    std::printf("decode catalog:                %8.2f\n", decode);

    // Start-up with the catalog: read, decode, index, select, first visible.
    // (The store of each run is released outside the timing.)
    std::vector<double> startups;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        auto started = std::make_unique<RadioStore>(dependencies());
        startups.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (started->stations().size() != count)
            std::fprintf(stderr, "catalog did not load\n");
    }
    std::sort(startups.begin(), startups.end());
    const double startup = startups[startups.size() / 2];
    std::printf("store start-up with catalog:   %8.2f  (target: under 250)\n", startup);

    const long before = residentKiB();
    RadioStore store(dependencies());
    const long after = residentKiB();
    std::printf("resident memory after start:   %8.1f MiB  (the store's share: %.1f MiB)\n", after / 1024.0,
                (after - before) / 1024.0);
    std::printf("featured (first visible):      %8zu listed\n", store.visible().size());

    const double index = medianMilliseconds(runs, [&](int) { store.indexDirectory(); });
    std::printf("indexDirectory:                %8.2f\n", index);

    // Keystrokes in the search field on the featured tab (which searches the
    // whole catalog), as typed: each one recomputes the visible list.
    const QString typed = QStringLiteral("radio news");
    std::vector<double> keystrokes;
    for (int r = 0; r < runs; ++r) {
        for (qsizetype n = 1; n <= typed.size(); ++n) {
            const auto start = Clock::now();
            store.setQuery(typed.left(n));
            keystrokes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        store.setQuery(QString());
    }
    std::sort(keystrokes.begin(), keystrokes.end());
    std::printf("search keystroke (median/max): %8.2f / %.2f  (target: under 8)\n",
                keystrokes[keystrokes.size() / 2], keystrokes.back());

    store.setFilter(LibraryFilter::All);
    const double oneLetter = medianMilliseconds(runs, [&](int i) {
        store.setQuery(i % 2 ? QStringLiteral("a") : QStringLiteral("o"));
    });
    std::printf("refresh, one-letter query:     %8.2f  (%zu listed)\n", oneLetter, store.visible().size());
    store.setQuery(QString());

    const double facet = medianMilliseconds(runs, [&](int i) {
        store.setCountryFilter(i % 2 ? QStringLiteral("DE") : QStringLiteral("FR"));
    });
    std::printf("refresh, country facet change: %8.2f  (%zu listed; target: under 5)\n", facet,
                store.visible().size());
    store.setCountryFilter(QString());
    const double languageFacet = medianMilliseconds(runs, [&](int i) {
        store.setLanguageFilter(i % 2 ? QStringLiteral("de") : QStringLiteral("fr"));
    });
    std::printf("refresh, language facet change:%8.2f  (%zu listed)\n", languageFacet, store.visible().size());
    store.setLanguageFilter(QString());
    const double genreFacet = medianMilliseconds(runs, [&](int i) {
        store.setGenreFilter(i % 2 ? QStringLiteral("news") : QStringLiteral("jazz"));
    });
    std::printf("refresh, genre facet change:   %8.2f  (%zu listed)\n", genreFacet, store.visible().size());
    store.setGenreFilter(QString());

    const double tab = medianMilliseconds(runs, [&](int i) {
        store.setFilter(i % 2 ? LibraryFilter::All : LibraryFilter::Featured);
    });
    std::printf("refresh, tab change:           %8.2f  (%zu listed)\n", tab, store.visible().size());

    size_t withGenre = 0;
    for (const Station &s : store.stations())
        withGenre += s.genreIDs && !s.genreIDs->isEmpty() ? 1 : 0;
    std::printf("facets: %lld countries, %lld languages, %lld genres; %zu stations with a genre\n",
                static_cast<long long>(store.countries().size()), static_cast<long long>(store.languages().size()),
                static_cast<long long>(store.genres().size()), withGenre);

    L10n::setShared(nullptr);
    return 0;
}
