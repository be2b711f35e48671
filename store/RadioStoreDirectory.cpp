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

// A substring search for one key over many texts (Horspool): the shift
// table is built once per key, and each text is scanned with skips of up to
// the key's length. The table is indexed by the low byte of each UTF-16
// unit; units that share a low byte share the smallest shift, which is
// always safe. A keystroke runs this once per station, so it must stay cheap.
class KeySearch {
public:
    explicit KeySearch(const QString &key) : key_(key)
    {
        const qsizetype m = key_.size();
        shift_.fill(m);
        for (qsizetype i = 0; i + 1 < m; ++i)
            shift_[key_[i].unicode() & 0xff] = m - 1 - i;
    }

    bool in(const char16_t *h, qsizetype n) const
    {
        const qsizetype m = key_.size();
        if (m == 0)
            return true;
        if (m == 1) // a vectorised scan for one character
            return QStringView(h, n).contains(key_.front());
        const char16_t *k = reinterpret_cast<const char16_t *>(key_.constData());
        const char16_t lastOfKey = k[m - 1];
        for (qsizetype i = 0; i + m <= n;) {
            const char16_t last = h[i + m - 1];
            if (last == lastOfKey && std::equal(k, k + m - 1, h + i))
                return true;
            i += shift_[last & 0xff];
        }
        return false;
    }

private:
    QString key_;
    std::array<qsizetype, 256> shift_;
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

    // The base list of the tab: each station with what it is filtered on
    // (absent for a station the index does not know).
    struct Candidate {
        const Station *station;
        const DirectoryEntry *entry;
    };
    std::vector<Candidate> base;
    const bool indexed = directoryEntries_.size() == stations_.size();
    auto resolve = [this, &base, indexed](const QString &id) {
        const auto position = stationPositions_.constFind(id);
        if (position != stationPositions_.constEnd())
            base.push_back(Candidate{&stations_[size_t(*position)], indexed ? &directoryEntries_[size_t(*position)] : nullptr});
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
        base.reserve(stations_.size());
        for (size_t i = 0; i < stations_.size(); ++i)
            base.push_back(Candidate{&stations_[i], indexed ? &directoryEntries_[i] : nullptr});
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
    StationRefs visible;
    visible.reserve(base.size());
    for (const Candidate &candidate : base) {
        const Station &station = *candidate.station;
        if (hidesFailures && !failures_.empty() && failures_.contains(station.id))
            continue;
        if (!countryFilter_.isEmpty() && countryFilter_ != station.country)
            continue;
        if (!languageFilter_.isEmpty()
            && languageFilter_ != (candidate.entry ? candidate.entry->language : languageValue(station)))
            continue;
        if (!genreFilter_.isEmpty() && !(station.genreIDs && station.genreIDs->contains(genreFilter_)))
            continue;
        if (!key.isEmpty()
            && !(candidate.entry && search.in(text + candidate.entry->offset, candidate.entry->length)))
            continue;
        visible.push_back(station);
    }
    publish(visible_, std::move(visible), &RadioStore::visibleChanged);
}

} // namespace vantuli
