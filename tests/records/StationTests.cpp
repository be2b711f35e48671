#include "records/Json.h"
#include "records/ScopedL10n.h"
#include "records/Station.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

using namespace vantuli;
using test::ScopedL10n;

namespace {

const QString kUnstated = QStringLiteral("未标注语言");
const QString kMandarin = QStringLiteral("中文（普通话）");

QJsonObject stationObject(const QString &id = QStringLiteral("nhk"))
{
    return QJsonObject{
        {"id", id},
        {"name", "NHK Radio"},
        {"city", "Tokyo"},
        {"country", "JP"},
        {"frequency", "FM 82.5"},
        {"keywords", "news"},
        {"language", "ja"},
        {"website", "https://www.nhk.or.jp"},
        {"path", "/stations/" + id},
        {"streamUrl", "https://example.org/" + id + ".m3u8"},
    };
}

QByteArray catalogOf(const QJsonArray &a)
{
    return QJsonDocument(a).toJson();
}

Station station(const QString &id, const QString &language, std::optional<QString> label,
                std::optional<QString> group = std::nullopt)
{
    Station s;
    s.id = id;
    s.language = language;
    s.featuredLabel = std::move(label);
    s.featuredGroup = std::move(group);
    return s;
}

Station located(const QString &city, const QString &country)
{
    Station s;
    s.city = city;
    s.country = country;
    return s;
}

QStringList ids(const FeaturedGroup &g)
{
    QStringList out;
    for (const Station &s : g.stations)
        out << s.id;
    return out;
}

} // namespace

TEST(Station, CatalogRoundTripsAndKeepsAbsentApartFromEmpty)
{
    QJsonObject full = stationObject(QStringLiteral("a"));
    full.insert("genreIDs", QJsonArray{"news", "talk"});
    full.insert("verifiedAt", "2024-05-01");
    full.insert("featuredLabel", "Morning news");
    full.insert("featuredGroup", "JP");
    full.insert("somethingNew", 42); // unknown keys are ignored

    QJsonObject nulls = stationObject(QStringLiteral("b"));
    for (const char *key : {"genreIDs", "verifiedAt", "featuredLabel", "featuredGroup"})
        nulls.insert(QString::fromLatin1(key), QJsonValue::Null);

    QJsonObject empty = stationObject(QStringLiteral("c"));
    empty.insert("genreIDs", QJsonArray{});
    empty.insert("city", "");

    const std::vector<Station> stations = Station::decodeCatalog(catalogOf({full, nulls, empty}));
    ASSERT_EQ(stations.size(), 3u);
    EXPECT_EQ(stations[0].genreIDs, (QStringList{"news", "talk"}));
    EXPECT_EQ(stations[0].featuredGroup, QStringLiteral("JP"));
    EXPECT_FALSE(stations[1].genreIDs.has_value());
    EXPECT_FALSE(stations[1].featuredLabel.has_value());
    ASSERT_TRUE(stations[2].genreIDs.has_value());
    EXPECT_TRUE(stations[2].genreIDs->isEmpty());

    // Absent optionals are left out when written; present ones, empty lists included, stay.
    const QJsonObject written = stations[1].toJson();
    for (const char *key : {"genreIDs", "verifiedAt", "featuredLabel", "featuredGroup"})
        EXPECT_FALSE(written.contains(QString::fromLatin1(key))) << key;
    EXPECT_EQ(stations[2].toJson().value("genreIDs"), QJsonArray{});
    EXPECT_FALSE(stations[0].toJson().contains("somethingNew"));

    QJsonArray again;
    for (const Station &s : stations)
        again.append(s.toJson());
    EXPECT_EQ(Station::decodeCatalog(catalogOf(again)), stations);
    // A key given twice reads as the JSON document reads it.
    QByteArray twice = catalogOf({stationObject(QStringLiteral("d"))});
    twice.replace("\"name\"", "\"name\": \"first\", \"name\"");
    EXPECT_EQ(Station::decodeCatalog(twice).at(0), Station::fromJson(QJsonDocument::fromJson(twice).array().at(0)));

    // Absent and empty genre lists make different stations.
    Station withoutGenres = stations[2];
    withoutGenres.genreIDs.reset();
    EXPECT_NE(withoutGenres, stations[2]);
    const QSet<Station> set{withoutGenres, stations[2], stations[2]};
    EXPECT_EQ(set.size(), 2);
}

TEST(Station, CatalogFailsWholeOnAnyBadEntry)
{
    const QStringList required = {"id",       "name",    "city", "country", "frequency",
                                  "keywords", "language", "website", "path", "streamUrl"};
    for (const QString &key : required) {
        QJsonObject missing = stationObject(QStringLiteral("bad"));
        missing.remove(key);
        EXPECT_THROW(Station::decodeCatalog(catalogOf({stationObject(), missing})), DecodingError) << key.toStdString();
        QJsonObject nulled = stationObject(QStringLiteral("bad"));
        nulled.insert(key, QJsonValue::Null);
        EXPECT_THROW(Station::decodeCatalog(catalogOf({nulled})), DecodingError) << key.toStdString();
        QJsonObject number = stationObject(QStringLiteral("bad"));
        number.insert(key, 7);
        EXPECT_THROW(Station::decodeCatalog(catalogOf({number})), DecodingError) << key.toStdString();
    }

    const std::pair<const char *, QJsonValue> wrongOptionals[] = {
        {"genreIDs", QJsonValue("news")},
        {"genreIDs", QJsonArray{"news", 3}},
        {"genreIDs", QJsonArray{QJsonValue::Null}},
        {"verifiedAt", QJsonValue(20240501)},
        {"featuredLabel", QJsonValue(true)},
        {"featuredGroup", QJsonArray{"JP"}},
    };
    for (const auto &[key, value] : wrongOptionals) {
        QJsonObject o = stationObject();
        o.insert(QString::fromLatin1(key), value);
        EXPECT_THROW(Station::decodeCatalog(catalogOf({o})), DecodingError) << key;
    }

    for (const QByteArray &text : {QByteArray("{\"id\": \"x\"}"), QByteArray("[1]"), QByteArray("[{]"),
                                   QByteArray(""), QByteArray("[[]]")})
        EXPECT_THROW(Station::decodeCatalog(text), DecodingError) << text.constData();
    EXPECT_TRUE(Station::decodeCatalog("[]").empty());

    // The error names the entry and the key.
    QJsonObject bad = stationObject(QStringLiteral("second"));
    bad.remove("streamUrl");
    try {
        Station::decodeCatalog(catalogOf({stationObject(), bad}));
        FAIL() << "decoded";
    } catch (const DecodingError &e) {
        EXPECT_TRUE(e.description().contains("1")) << e.what();
        EXPECT_TRUE(e.description().contains("second")) << e.what();
        EXPECT_TRUE(e.description().contains("streamUrl")) << e.what();
    }
}

// The shipped catalog decodes whole (so every entry has the record's keys and
// types), entry by entry as a JSON document reads it, with unique slug ids,
// two-letter regions and addresses the store can play.
TEST(Station, ShippedCatalogDecodes)
{
    QFile file(QStringLiteral(VANTULI_RESOURCE_DIR "/catalog.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    std::vector<Station> stations;
    try {
        stations = Station::decodeCatalog(text);
    } catch (const DecodingError &e) {
        FAIL() << e.what();
    }
    EXPECT_FALSE(stations.empty());
    const QJsonArray entries = QJsonDocument::fromJson(text).array();
    ASSERT_EQ(size_t(entries.size()), stations.size());
    for (qsizetype i = 0; i < entries.size(); ++i)
        ASSERT_EQ(Station::fromJson(entries.at(i)), stations[size_t(i)]) << i;
    static const QRegularExpression slug(QStringLiteral("^[a-z0-9]+(-[a-z0-9]+)*$"));
    static const QRegularExpression region(QStringLiteral("^[A-Z]{2}$"));
    QSet<QString> seen;
    size_t https = 0;
    for (const Station &s : stations) {
        EXPECT_FALSE(seen.contains(s.id)) << "duplicate id " << s.id.toStdString();
        seen.insert(s.id);
        EXPECT_TRUE(slug.match(s.id).hasMatch()) << s.id.toStdString();
        EXPECT_TRUE(region.match(s.country).hasMatch()) << s.id.toStdString();
        https += s.streamUrl.startsWith(QLatin1String("https://")) ? 1 : 0;
    }
    // The store plays only https addresses: nearly the whole catalog must be playable.
    EXPECT_GE(https + 1, stations.size());
}

TEST(Station, LibraryRecordsUseTheJsonEpochAndRequireTheirKeys)
{
    ListeningRecord record{QStringLiteral("nhk"), Date::fromSince2001(725.5), 3};
    QJsonObject o = record.toJson();
    EXPECT_EQ(o.value("lastPlayed").toDouble(), 725.5);
    EXPECT_EQ(o.value("visits").toInteger(), 3);
    const ListeningRecord back = ListeningRecord::fromJson(o);
    EXPECT_EQ(back.stationID, "nhk");
    EXPECT_EQ(back.lastPlayed, Date{Date::referenceOffset + 725.5});
    EXPECT_EQ(back.visits, 3);

    record.lastPlayed.reset();
    EXPECT_FALSE(record.toJson().contains("lastPlayed"));
    EXPECT_FALSE(ListeningRecord::fromJson(record.toJson()).lastPlayed.has_value());

    for (const QJsonObject &bad : {QJsonObject{{"stationID", "x"}}, QJsonObject{{"visits", 1}},
                                   QJsonObject{{"stationID", "x"}, {"visits", 1.5}},
                                   QJsonObject{{"stationID", "x"}, {"visits", "1"}},
                                   QJsonObject{{"stationID", "x"}, {"visits", 1}, {"lastPlayed", "yesterday"}}})
        EXPECT_THROW(ListeningRecord::fromJson(bad), DecodingError) << json::compact(bad).constData();

    const StationFailure failure{QStringLiteral("https://example.org/a"), Date::fromSince2001(-12.25)};
    const StationFailure failureBack = StationFailure::fromJson(failure.toJson());
    EXPECT_EQ(failure.toJson().value("date").toDouble(), -12.25);
    EXPECT_EQ(failureBack.url, failure.url);
    EXPECT_EQ(failureBack.date, failure.date);
    EXPECT_THROW(StationFailure::fromJson(QJsonObject{{"url", "x"}}), DecodingError);
    EXPECT_THROW(StationFailure::fromJson(QJsonObject{{"date", 1}}), DecodingError);
    EXPECT_THROW(StationFailure::fromJson(QJsonValue("x")), DecodingError);
}

TEST(Station, PlaceNamesTheRegionOnceInEachLanguage)
{
    struct Row {
        const char *code;
        const char *region;
        const char *city;
        const char *country;
        const char *expected;
    };
    const Row rows[] = {
        {"en", "US", "Tokyo", "JP", "Tokyo · Japan"},
        {"en", "US", "Japan", "JP", "Japan"},
        {"en", "US", "", "JP", "Japan"},
        {"en", "US", "JP", "JP", "Japan"},
        {"en", "US", "China", "CN", "China"},
        {"en", "US", "Somewhere", "XQ", "Somewhere · XQ"},
        {"ja", "JP", "Tokyo", "JP", "Tokyo · 日本"},
        {"ja", "JP", "Japan", "JP", "日本"},
        {"ja", "JP", "China", "CN", "中国"},
        {"zh-Hant", "HK", "China", "CN", "中國"},
        {"zh-Hant", "HK", "London", "GB", "London · 英國"},
        {"zh-Hant", "HK", "", "GB", "英國"},
    };
    for (const Row &r : rows) {
        ScopedL10n scoped(QString::fromLatin1(r.code), QString::fromLatin1(r.region));
        EXPECT_EQ(located(QString::fromUtf8(r.city), QString::fromUtf8(r.country)).place(), QString::fromUtf8(r.expected))
            << r.code << " " << r.city << " " << r.country;
    }
}

TEST(FeaturedGroup, GroupsOnlyConsecutiveFeaturedStations)
{
    const std::vector<Station> stations = {
        station("1", "en", "x", "GB"),        station("2", "en", "x", "GB"),
        station("skip", "en", std::nullopt, "GB"), station("3", "fr", "x", "FR"),
        station("4", "en", "x", "GB"),        station("5", "zh-CN", "x"),
        station("6", "zh-CN", "x"),           station("7", "", "x"),
    };
    const std::vector<FeaturedGroup> groups = FeaturedGroup::groups(stations);
    ASSERT_EQ(groups.size(), 5u);
    EXPECT_EQ(groups[0].id, "GB");
    EXPECT_EQ(ids(groups[0]), (QStringList{"1", "2"}));
    EXPECT_EQ(groups[1].id, "FR");
    EXPECT_EQ(groups[2].id, "GB");
    EXPECT_EQ(ids(groups[2]), QStringList{"4"});
    EXPECT_EQ(groups[3].id, "zh-CN");
    EXPECT_EQ(ids(groups[3]), (QStringList{"5", "6"}));
    EXPECT_EQ(groups[4].id, "");
    EXPECT_TRUE(FeaturedGroup::groups({}).empty());
}

TEST(FeaturedGroup, LabelsNameRegionAndLanguagesOnceInTheDisplayLocale)
{
    const FeaturedGroup region{"GB", {station("a", "en-GB", "x", "GB"), station("b", "en", "x", "GB"),
                                      station("c", "", "x", "GB"), station("d", "cy", "x", "GB")}};
    const FeaturedGroup mandarin{"zh", {station("z", "zh", "x")}};
    const FeaturedGroup unstated{"und", {station("u", "und", "x")}};
    const FeaturedGroup japanese{"ja", {station("j", "ja-JP", "x")}};
    const FeaturedGroup empty{"KR", {}};
    {
        ScopedL10n scoped("en", "US", {{"en", {{kUnstated, "Unknown language"}, {kMandarin, "Chinese (Mandarin)"}}}});
        EXPECT_EQ(region.label(), "United Kingdom · English / Unknown language / Welsh");
        EXPECT_EQ(mandarin.label(), "Chinese (Mandarin)");
        EXPECT_EQ(unstated.label(), "Unknown language");
        EXPECT_EQ(japanese.label(), "Japanese");
        EXPECT_EQ(empty.label(), "KR");
    }
    {
        ScopedL10n scoped("zh-Hant", "HK", {{"zh-Hant", {{kUnstated, "未標註語言"}}}});
        EXPECT_EQ(region.label(), "英國 · 英文 / 未標註語言 / 威爾斯文");
        EXPECT_EQ(mandarin.label(), kMandarin); // no entry: the key
        EXPECT_EQ(japanese.label(), "日文");
        // A station's own language name, in the same display locale.
        EXPECT_EQ(Station::languageName("und"), "未標註語言");
        EXPECT_EQ(Station::languageName("ja"), "日文");
        EXPECT_EQ(Station::languageName("qqq"), "qqq");
        EXPECT_EQ(Station::languageName(""), "");
    }
}

TEST(LibraryFilter, RawValuesAreExactAndTitlesLocalised)
{
    const QStringList raws = {"精选", "所有电台", "我的收藏", "最近收听", "暂不可用"};
    const auto cases = LibraryFilter::allCases();
    ASSERT_EQ(cases.size(), size_t(raws.size()));
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(LibraryFilter(cases[i]).rawValue(), raws[qsizetype(i)]);
        EXPECT_EQ(LibraryFilter::fromRawValue(raws[qsizetype(i)]), LibraryFilter(cases[i]));
    }
    EXPECT_EQ(cases[0], LibraryFilter::Featured);
    EXPECT_EQ(cases[4], LibraryFilter::Unavailable);
    for (const char *other : {"精選", "Featured", "featured", " 精选", ""})
        EXPECT_FALSE(LibraryFilter::fromRawValue(QString::fromUtf8(other)).has_value()) << other;

    ScopedL10n scoped("en", "US", {{"en", {{"精选", "Featured"}}}});
    EXPECT_EQ(LibraryFilter(LibraryFilter::Featured).title(), "Featured");
    EXPECT_EQ(LibraryFilter(LibraryFilter::Recent).title(), "最近收听");
}
