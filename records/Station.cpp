#include "records/Station.h"

#include "platform/LocaleNames.h"
#include "records/CaptionPacing.h"
#include "records/Json.h"
#include "records/L10n.h"

#include <QJsonArray>
#include <QSet>

#include <simdjson.h>

#include <string_view>
#include <unordered_map>

namespace vantuli {

namespace {

const QString kUnknownLanguage = QStringLiteral("und");
const QString kUnstatedLanguageKey = QStringLiteral("未标注语言");
const QString kMandarinKey = QStringLiteral("中文（普通话）");
const QString kSeparator = QStringLiteral(" · ");

QString displayLocaleId()
{
    return L10n::shared().displayLocaleId();
}


std::optional<QStringList> optionalStringList(const QJsonObject &o, const QString &key)
{
    const auto it = o.constFind(key);
    if (it == o.constEnd() || it->isNull())
        return std::nullopt;
    if (!it->isArray())
        throw DecodingError(QStringLiteral("The data couldn't be read because \"%1\" is not an array of strings.").arg(key));
    QStringList list;
    const QJsonArray array = it->toArray();
    list.reserve(array.size());
    for (const QJsonValue &v : array) {
        if (!v.isString())
            throw DecodingError(
                QStringLiteral("The data couldn't be read because \"%1\" is not an array of strings.").arg(key));
        list << v.toString();
    }
    return list;
}

void putOptional(QJsonObject &o, const QString &key, const std::optional<QString> &value)
{
    if (value)
        o.insert(key, *value);
}

// The catalog's quick reader: parses the file with simdjson and builds the
// stations straight from it, without a JSON document in between. Texts that
// many stations repeat (places, languages, dates, groups, genres) share one
// string. It answers nothing for anything but a well-formed catalog, so that
// the strict reader below finds and names the fault, and for anything where
// the two might read differently (a key given twice).
class QuickCatalogReader {
public:
    std::optional<std::vector<Station>> read(const QByteArray &text)
    {
        simdjson::dom::parser parser;
        simdjson::dom::element root;
        if (parser.parse(text.constData(), size_t(text.size()), true).get(root) != simdjson::SUCCESS)
            return std::nullopt;
        simdjson::dom::array array;
        if (root.get_array().get(array) != simdjson::SUCCESS)
            return std::nullopt;
        std::vector<Station> stations;
        stations.reserve(array.size());
        for (simdjson::dom::element entry : array) {
            simdjson::dom::object object;
            if (entry.get_object().get(object) != simdjson::SUCCESS || !readStation(object, stations.emplace_back()))
                return std::nullopt;
        }
        return stations;
    }

private:
    enum Field : unsigned {
        Id, Name, City, Country, Frequency, Keywords, Language, Website, Path, StreamUrl, // required
        GenreIDs, VerifiedAt, FeaturedLabel, FeaturedGroup,
    };
    static constexpr unsigned requiredFields = (1u << GenreIDs) - 1;

    static std::optional<Field> field(std::string_view key)
    {
        static const std::unordered_map<std::string_view, Field> fields = {
            {"id", Id},           {"name", Name},         {"city", City},         {"country", Country},
            {"frequency", Frequency}, {"keywords", Keywords}, {"language", Language}, {"website", Website},
            {"path", Path},       {"streamUrl", StreamUrl}, {"genreIDs", GenreIDs}, {"verifiedAt", VerifiedAt},
            {"featuredLabel", FeaturedLabel}, {"featuredGroup", FeaturedGroup},
        };
        const auto found = fields.find(key);
        return found == fields.end() ? std::nullopt : std::optional<Field>(found->second);
    }

    static QString text(std::string_view utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

    // One QString for every occurrence of the same text; the views point into
    // the parser, which outlives the reading.
    QString shared(std::string_view utf8)
    {
        auto found = shared_.find(utf8);
        if (found == shared_.end())
            found = shared_.emplace(utf8, text(utf8)).first;
        return found->second;
    }

    bool readStation(simdjson::dom::object object, Station &station)
    {
        unsigned seen = 0;
        for (const simdjson::dom::key_value_pair member : object) {
            const std::optional<Field> known = field(member.key);
            if (!known)
                continue; // unknown keys are ignored
            const unsigned bit = 1u << *known;
            if (seen & bit)
                return false;
            seen |= bit;
            if (*known >= GenreIDs && member.value.is_null())
                continue; // an optional null: absent
            if (*known == GenreIDs) {
                simdjson::dom::array genres;
                if (member.value.get_array().get(genres) != simdjson::SUCCESS)
                    return false;
                QStringList list;
                list.reserve(qsizetype(genres.size()));
                for (simdjson::dom::element genre : genres) {
                    std::string_view id;
                    if (genre.get_string().get(id) != simdjson::SUCCESS)
                        return false;
                    list.append(shared(id));
                }
                station.genreIDs = std::move(list);
                continue;
            }
            std::string_view value;
            if (member.value.get_string().get(value) != simdjson::SUCCESS)
                return false;
            switch (*known) {
            case Id: station.id = text(value); break;
            case Name: station.name = text(value); break;
            case City: station.city = shared(value); break;
            case Country: station.country = shared(value); break;
            case Frequency: station.frequency = shared(value); break;
            case Keywords: station.keywords = text(value); break;
            case Language: station.language = shared(value); break;
            case Website: station.website = text(value); break;
            case Path: station.path = text(value); break;
            case StreamUrl: station.streamUrl = text(value); break;
            case VerifiedAt: station.verifiedAt = shared(value); break;
            case FeaturedLabel: station.featuredLabel = shared(value); break;
            case FeaturedGroup: station.featuredGroup = shared(value); break;
            case GenreIDs: break;
            }
        }
        return (seen & requiredFields) == requiredFields;
    }

    std::unordered_map<std::string_view, QString> shared_;
};

} // namespace

QJsonObject Station::toJson() const
{
    QJsonObject o{
        {QStringLiteral("id"), id},
        {QStringLiteral("name"), name},
        {QStringLiteral("city"), city},
        {QStringLiteral("country"), country},
        {QStringLiteral("frequency"), frequency},
        {QStringLiteral("keywords"), keywords},
        {QStringLiteral("language"), language},
        {QStringLiteral("website"), website},
        {QStringLiteral("path"), path},
        {QStringLiteral("streamUrl"), streamUrl},
    };
    if (genreIDs)
        o.insert(QStringLiteral("genreIDs"), QJsonArray::fromStringList(*genreIDs));
    putOptional(o, QStringLiteral("verifiedAt"), verifiedAt);
    putOptional(o, QStringLiteral("featuredLabel"), featuredLabel);
    putOptional(o, QStringLiteral("featuredGroup"), featuredGroup);
    return o;
}

Station Station::fromJson(const QJsonValue &value)
{
    const QJsonObject o = json::requireObject(value, QStringLiteral("station"));
    Station s;
    s.id = json::requiredString(o, QStringLiteral("id"));
    s.name = json::requiredString(o, QStringLiteral("name"));
    s.city = json::requiredString(o, QStringLiteral("city"));
    s.country = json::requiredString(o, QStringLiteral("country"));
    s.frequency = json::requiredString(o, QStringLiteral("frequency"));
    s.keywords = json::requiredString(o, QStringLiteral("keywords"));
    s.language = json::requiredString(o, QStringLiteral("language"));
    s.website = json::requiredString(o, QStringLiteral("website"));
    s.path = json::requiredString(o, QStringLiteral("path"));
    s.streamUrl = json::requiredString(o, QStringLiteral("streamUrl"));
    s.genreIDs = optionalStringList(o, QStringLiteral("genreIDs"));
    s.verifiedAt = json::optionalString(o, QStringLiteral("verifiedAt"));
    s.featuredLabel = json::optionalString(o, QStringLiteral("featuredLabel"));
    s.featuredGroup = json::optionalString(o, QStringLiteral("featuredGroup"));
    return s;
}

std::vector<Station> Station::decodeCatalog(const QByteArray &text)
{
    if (std::optional<std::vector<Station>> stations = QuickCatalogReader().read(text))
        return std::move(*stations);
    // Not a well-formed catalog (or one the quick reader leaves alone): read
    // strictly, to name what is wrong.
    const QJsonArray array = json::requireArray(json::parse(text), QStringLiteral("catalog"));
    std::vector<Station> stations;
    stations.reserve(static_cast<size_t>(array.size()));
    for (qsizetype i = 0; i < array.size(); ++i) {
        try {
            stations.push_back(fromJson(array.at(i)));
        } catch (const DecodingError &e) {
            QString where = QStringLiteral("Station %1").arg(i);
            const QJsonValue id = array.at(i).toObject().value(QStringLiteral("id"));
            if (id.isString())
                where += QStringLiteral(" (\"%1\")").arg(id.toString());
            throw DecodingError(where + QStringLiteral(": ") + e.description());
        }
    }
    return stations;
}

QString Station::place() const
{
    const QString placeText = city.isEmpty() ? country : city;
    const QString region = regionName(country);
    const std::optional<QString> english = LocaleNames::regionName(country, QStringLiteral("en"));
    if (placeText == region || placeText == country || (english && placeText == *english)
        || (country == QLatin1String("CN") && placeText == QLatin1String("China")))
        return region;
    return placeText + kSeparator + region;
}

QString Station::regionName(const QString &code)
{
    return LocaleNames::regionName(code, displayLocaleId()).value_or(code);
}

QString Station::languageName(const QString &code)
{
    if (code == kUnknownLanguage)
        return L10n::shared().text(kUnstatedLanguageKey);
    return LocaleNames::languageName(code, displayLocaleId()).value_or(code);
}

size_t qHash(const Station &s, size_t seed) noexcept
{
    seed = qHashMulti(seed, s.id, s.name, s.city, s.country, s.frequency, s.keywords, s.language, s.website, s.path,
                      s.streamUrl);
    // Absent and empty lists hash apart, as they compare apart.
    seed = qHashMulti(seed, s.genreIDs.has_value(), s.genreIDs.value_or(QStringList()));
    for (const std::optional<QString> *field : {&s.verifiedAt, &s.featuredLabel, &s.featuredGroup})
        seed = qHashMulti(seed, field->has_value(), field->value_or(QString()));
    return seed;
}

QJsonObject ListeningRecord::toJson() const
{
    QJsonObject o{
        {QStringLiteral("stationID"), stationID},
        {QStringLiteral("visits"), visits},
    };
    if (lastPlayed)
        o.insert(QStringLiteral("lastPlayed"), lastPlayed->since2001());
    return o;
}

ListeningRecord ListeningRecord::fromJson(const QJsonValue &value)
{
    const QJsonObject o = json::requireObject(value, QStringLiteral("listening record"));
    ListeningRecord r;
    r.stationID = json::requiredString(o, QStringLiteral("stationID"));
    if (o.contains(QStringLiteral("lastPlayed")) && !o.value(QStringLiteral("lastPlayed")).isNull())
        r.lastPlayed = Date::fromSince2001(json::requiredNumber(o, QStringLiteral("lastPlayed")));
    r.visits = json::requiredInteger(o, QStringLiteral("visits"));
    return r;
}

QJsonObject StationFailure::toJson() const
{
    return QJsonObject{
        {QStringLiteral("url"), url},
        {QStringLiteral("date"), date.since2001()},
    };
}

StationFailure StationFailure::fromJson(const QJsonValue &value)
{
    const QJsonObject o = json::requireObject(value, QStringLiteral("station failure"));
    StationFailure f;
    f.url = json::requiredString(o, QStringLiteral("url"));
    f.date = Date::fromSince2001(json::requiredNumber(o, QStringLiteral("date")));
    return f;
}

std::vector<FeaturedGroup> FeaturedGroup::groups(const std::vector<Station> &stations)
{
    std::vector<FeaturedGroup> result;
    for (const Station &s : stations) {
        if (!s.featuredLabel)
            continue;
        const QString key = s.featuredGroup.value_or(s.language);
        if (!result.empty() && result.back().id == key)
            result.back().stations.push_back(s);
        else
            result.push_back(FeaturedGroup{key, {s}});
    }
    return result;
}

QString FeaturedGroup::label() const
{
    if (stations.empty())
        return id;
    if (stations.front().featuredGroup) {
        // A region group: the region, then each language once, in order of first appearance.
        QSet<QString> seen;
        QStringList languages;
        for (const Station &s : stations) {
            const QString code = s.language.isEmpty() ? kUnknownLanguage : CaptionPacing::languageCode(s.language);
            if (seen.contains(code))
                continue;
            seen.insert(code);
            if (code == kUnknownLanguage)
                languages << L10n::shared().text(kUnstatedLanguageKey);
            else
                languages << LocaleNames::languageName(code, displayLocaleId()).value_or(code);
        }
        return Station::regionName(id) + kSeparator + languages.join(QStringLiteral(" / "));
    }
    if (id == QLatin1String("zh"))
        return L10n::shared().text(kMandarinKey);
    return Station::languageName(id);
}

std::optional<LibraryFilter> LibraryFilter::fromRawValue(const QString &raw)
{
    for (Value v : allCases()) {
        if (LibraryFilter(v).rawValue() == raw)
            return LibraryFilter(v);
    }
    return std::nullopt;
}

QString LibraryFilter::rawValue() const
{
    switch (value_) {
    case Featured:
        return QStringLiteral("精选");
    case All:
        return QStringLiteral("所有电台");
    case Favorites:
        return QStringLiteral("我的收藏");
    case Recent:
        return QStringLiteral("最近收听");
    case Unavailable:
        return QStringLiteral("暂不可用");
    }
    return QString();
}

QString LibraryFilter::title() const
{
    return L10n::shared().text(rawValue());
}

} // namespace vantuli
