// The directory: facets of countries, languages and genres, the folded search
// text of every station, and the list the directory panel shows for the
// chosen tab, facets and search text.
#include "store/RadioStore.h"

#include "platform/TextFolding.h"
#include "records/CaptionPacing.h"
#include "records/L10n.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <array>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantuli {

namespace {

const QString unknownLanguage = QStringLiteral("und");
const QString genreKeyPrefix = QStringLiteral("genre.");
const QChar space = QLatin1Char(' ');

// The language a station is filed under: its normalised language code, "und"
// when it states none.
QString languageValue(const Station &station)
{
    return station.language.isEmpty() ? unknownLanguage : CaptionPacing::languageCode(station.language);
}

// Values in order of first appearance with their counts.
class Tally {
public:
    void add(const QString &value)
    {
        const auto found = positions_.constFind(value);
        if (found != positions_.constEnd()) {
            ++choices_[*found].count;
            return;
        }
        positions_.insert(value, choices_.size());
        choices_.push_back(DirectoryChoice{value, QString(), 1});
    }

    // One choice per value that is not empty: an empty value names no facet
    // (choosing it would clear the filter instead of narrowing the list).
    std::vector<DirectoryChoice> choices(const std::function<QString(const QString &)> &label) &&
    {
        std::vector<DirectoryChoice> result;
        result.reserve(choices_.size());
        for (DirectoryChoice &choice : choices_) {
            if (choice.id.isEmpty())
                continue;
            choice.label = label(choice.id);
            result.push_back(std::move(choice));
        }
        return result;
    }

private:
    QHash<QString, qsizetype> positions_;
    std::vector<DirectoryChoice> choices_;
};

// Sorts choices by label in the display locale; equal labels keep their order.
void sortByLabel(std::vector<DirectoryChoice> &choices, const QString &localeId, bool numeric)
{
    QCollator collator{QLocale(localeId)};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(numeric);
    std::stable_sort(choices.begin(), choices.end(), [&collator](const DirectoryChoice &a, const DirectoryChoice &b) {
        return collator.compare(a.label, b.label) < 0;
    });
}

// A substring search for one key over many texts. A keystroke runs this once
// per station, so it must stay cheap. With SSE2, eight positions at a time
// are tested at once for the key's first and last unit, and only those that
// pass compare the rest. Otherwise it is Horspool: the shift table is indexed
// by the low byte of each UTF-16 unit; units that share a low byte share the
// smallest shift, which is always safe.
class KeySearch {
public:
    explicit KeySearch(const QString &key) : key_(key)
    {
#if !defined(__SSE2__)
        const qsizetype m = key_.size();
        shift_.fill(m);
        for (qsizetype i = 0; i + 1 < m; ++i)
            shift_[key_[i].unicode() & 0xff] = m - 1 - i;
#endif
    }

    bool in(const char16_t *h, qsizetype n) const
    {
        const qsizetype m = key_.size();
        if (m == 0)
            return true;
        if (m == 1) // a vectorised scan for one character
            return QStringView(h, n).contains(key_.front());
        const char16_t *k = reinterpret_cast<const char16_t *>(key_.constData());
        const auto restMatches = [k, m](const char16_t *at) { return std::equal(k + 1, k + m - 1, at + 1); };
#if defined(__SSE2__)
        const __m128i first = _mm_set1_epi16(short(k[0]));
        const __m128i last = _mm_set1_epi16(short(k[m - 1]));
        qsizetype i = 0;
        for (; i + m - 1 + 8 <= n; i += 8) {
            const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h + i));
            const __m128i ends = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h + i + m - 1));
            // Two mask bits per unit.
            unsigned mask = unsigned(
                _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(starts, first), _mm_cmpeq_epi16(ends, last))));
            for (; mask; mask &= mask - 1, mask &= mask - 1)
                if (restMatches(h + i + std::countr_zero(mask) / 2))
                    return true;
        }
        for (; i + m <= n; ++i)
            if (h[i] == k[0] && h[i + m - 1] == k[m - 1] && restMatches(h + i))
                return true;
#else
        for (qsizetype i = 0; i + m <= n;) {
            const char16_t last = h[i + m - 1];
            if (last == k[m - 1] && h[i] == k[0] && restMatches(h + i))
                return true;
            i += shift_[last & 0xff];
        }
#endif
        return false;
    }

private:
    QString key_;
#if !defined(__SSE2__)
    std::array<qsizetype, 256> shift_;
#endif
};

QHash<QString, QString> labelsByID(const std::vector<DirectoryChoice> &choices)
{
    QHash<QString, QString> labels;
    labels.reserve(static_cast<qsizetype>(choices.size()));
    for (const DirectoryChoice &choice : choices)
        labels.insert(choice.id, choice.label);
    return labels;
}

} // namespace

// ---- Directory controls: every assignment recomputes the list ----

void RadioStore::setFilter(LibraryFilter filter)
{
    publish(filter_, filter, &RadioStore::filterChanged);
    refreshDirectory();
}

void RadioStore::setQuery(const QString &query)
{
    publish(query_, query, &RadioStore::queryChanged);
    refreshDirectory();
}

void RadioStore::setCountryFilter(const QString &id)
{
    publish(countryFilter_, id, &RadioStore::countryFilterChanged);
    refreshDirectory();
}

void RadioStore::setGenreFilter(const QString &id)
{
    publish(genreFilter_, id, &RadioStore::genreFilterChanged);
    refreshDirectory();
}

void RadioStore::setLanguageFilter(const QString &id)
{
    publish(languageFilter_, id, &RadioStore::languageFilterChanged);
    refreshDirectory();
}

void RadioStore::resetFilters()
{
    setCountryFilter(QString());
    setLanguageFilter(QString());
    setGenreFilter(QString());
    setQuery(QString());
}

// ---- Index ----

void RadioStore::indexDirectory()
{
    const L10n &l10n = L10n::shared();
    const QString localeId = l10n.displayLocaleId();

    // The language value of each distinct language text, worked out once.
    QHash<QString, QString> languageValues;
    const auto languageOf = [&languageValues](const Station &station) -> QString {
        auto found = languageValues.constFind(station.language);
        if (found == languageValues.constEnd())
            found = languageValues.insert(station.language, languageValue(station));
        return *found;
    };

    Tally countryTally;
    Tally languageTally;
    Tally genreTally;
    for (const Station &station : stations_) {
        countryTally.add(station.country);
        languageTally.add(languageOf(station));
        if (station.genreIDs) {
            // A station that lists a genre twice counts twice.
            for (const QString &genre : *station.genreIDs)
                genreTally.add(genre);
        }
    }

    std::vector<DirectoryChoice> countries = std::move(countryTally).choices([](const QString &code) {
        return Station::regionName(code);
    });
    sortByLabel(countries, localeId, true);
    countries_ = std::move(countries);

    std::vector<DirectoryChoice> languages = std::move(languageTally).choices([](const QString &code) {
        return Station::languageName(code);
    });
    sortByLabel(languages, localeId, true);
    languages_ = std::move(languages);

    std::vector<DirectoryChoice> genres = std::move(genreTally).choices([&l10n](const QString &id) {
        return l10n.text(genreKeyPrefix + id);
    });
    sortByLabel(genres, localeId, false);
    genres_ = std::move(genres);

    const QHash<QString, QString> genreLabels = labelsByID(genres_);
    const QHash<QString, QString> countryLabels = labelsByID(countries_);
    const QHash<QString, QString> languageLabels = labelsByID(languages_);
    QHash<QString, QString> groupLabels;
    for (const FeaturedGroup &group : featuredGroups_) {
        const QString label = group.label();
        for (const Station &station : group.stations)
            groupLabels.insert(station.id, label); // a later group wins
    }

    // Folding works character by character and the parts are joined with a
    // space, so the folded text is the parts folded one by one and joined.
    // Most parts (places, languages, labels) repeat across the catalog: each
    // distinct one is folded once.
    QHash<QString, QString> foldedParts;
    const auto foldedPart = [&foldedParts](const QString &part) -> QString {
        auto found = foldedParts.constFind(part);
        if (found == foldedParts.constEnd())
            found = foldedParts.insert(part, TextFolding::fold(part));
        return *found;
    };
    std::vector<DirectoryEntry> entries;
    entries.reserve(stations_.size());
    QString allText;
    QString genreText;
    for (const Station &station : stations_) {
        genreText.clear();
        if (station.genreIDs) {
            bool first = true;
            for (const QString &genre : *station.genreIDs) {
                const auto label = genreLabels.constFind(genre);
                if (label != genreLabels.constEnd()) {
                    if (!first)
                        genreText += space;
                    genreText += *label;
                    first = false;
                }
            }
        }
        const QString language = languageOf(station);
        // Eleven parts, empty ones kept, so that the text is the same for
        // every station shape.
        const qsizetype offset = allText.size();
        allText += foldedPart(genreText);
        for (const QString &part : {TextFolding::fold(station.name), foldedPart(station.city),
                                    foldedPart(station.country), foldedPart(language), TextFolding::fold(station.keywords),
                                    foldedPart(station.frequency), foldedPart(groupLabels.value(station.id)),
                                    foldedPart(station.featuredLabel.value_or(QString())),
                                    foldedPart(countryLabels.value(station.country)),
                                    foldedPart(languageLabels.value(language))}) {
            allText += space;
            allText += part;
        }
        entries.push_back(DirectoryEntry{language, offset, allText.size() - offset});
    }
    directoryEntries_ = std::move(entries);
    allText.squeeze(); // grown by appending: up to half of it unused
    directoryText_ = std::move(allText);
}

QHash<QString, QString> RadioStore::searchIndex() const
{
    QHash<QString, QString> index;
    if (directoryEntries_.size() != stations_.size())
        return index;
    for (auto position = stationPositions_.cbegin(); position != stationPositions_.cend(); ++position) {
        const DirectoryEntry &entry = directoryEntries_[size_t(position.value())];
        index.insert(position.key(), directoryText_.mid(entry.offset, entry.length));
    }
    return index;
}

// ---- The visible list ----

void RadioStore::refreshDirectory()
{
    const QString key = TextFolding::fold(query_.trimmed());

    // The base list of the tab, by position in the catalog; the whole
    // catalog is walked in place.
    std::vector<size_t> base;
    bool wholeCatalog = false;
    auto resolve = [this, &base](const QString &id) {
        const auto position = stationPositions_.constFind(id);
        if (position != stationPositions_.constEnd())
            base.push_back(size_t(*position));
    };

    const bool hidesFailures =
        filter_.value() == LibraryFilter::Featured || filter_.value() == LibraryFilter::All;
    switch (filter_.value()) {
    case LibraryFilter::Featured:
        if (key.isEmpty()) {
            for (const FeaturedGroup &group : featuredGroups_)
                for (const Station &station : group.stations)
                    resolve(station.id);
            break;
        }
        // A search on the featured tab searches the whole catalog.
        [[fallthrough]];
    case LibraryFilter::All:
        wholeCatalog = true;
        break;
    case LibraryFilter::Favorites:
        for (const QString &id : favoriteOrder_)
            resolve(id);
        break;
    case LibraryFilter::Recent:
        for (const ListeningRecord &record : history_)
            resolve(record.stationID);
        break;
    case LibraryFilter::Unavailable: {
        std::vector<std::pair<QString, Date>> dated;
        dated.reserve(failures_.size());
        for (const auto &[id, failure] : failures_)
            dated.emplace_back(id, failure.date);
        std::stable_sort(dated.begin(), dated.end(),
                         [](const auto &a, const auto &b) { return a.second > b.second; });
        for (const auto &entry : dated)
            resolve(entry.first);
        break;
    }
    }

    const KeySearch search(key);
    const char16_t *text = reinterpret_cast<const char16_t *>(directoryText_.constData());
    // What a station is filtered on is absent when the index does not know it.
    const bool indexed = directoryEntries_.size() == stations_.size();
    StationRefs visible;
    const auto consider = [&](size_t position) {
        const Station &station = stations_[position];
        const DirectoryEntry *entry = indexed ? &directoryEntries_[position] : nullptr;
        if (hidesFailures && !failures_.empty() && failures_.contains(station.id))
            return;
        if (!countryFilter_.isEmpty() && countryFilter_ != station.country)
            return;
        if (!languageFilter_.isEmpty() && languageFilter_ != (entry ? entry->language : languageValue(station)))
            return;
        if (!genreFilter_.isEmpty() && !(station.genreIDs && station.genreIDs->contains(genreFilter_)))
            return;
        if (!key.isEmpty() && !(entry && search.in(text + entry->offset, entry->length)))
            return;
        visible.push_back(station);
    };
    if (wholeCatalog) {
        visible.reserve(stations_.size());
        for (size_t i = 0; i < stations_.size(); ++i)
            consider(i);
    } else {
        visible.reserve(base.size());
        for (size_t position : base)
            consider(position);
    }
    publish(visible_, std::move(visible), &RadioStore::visibleChanged);
}

} // namespace vantuli
