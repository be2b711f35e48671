#include "records/ListeningTime.h"
#include "records/ScopedL10n.h"

#include "records/Json.h"

#include <gtest/gtest.h>

using namespace vantuli;
using test::ScopedL10n;

namespace {

QJsonObject entry()
{
    return QJsonObject{
        {"id", "0F8FAD5B-D9CB-469F-A165-70867728950E"},
        {"stationID", "nhk"},
        {"hour", 7},
        {"minute", 5},
        {"workdaysOnly", false},
    };
}

} // namespace

TEST(ListeningTime, LabelShowsTwoDigitTimeAndLocalisedDays)
{
    ScopedL10n scoped("en", "US", {{"en", {{"每天", "Every day"}, {"工作日", "Workdays"}}}});
    EXPECT_EQ((ListeningTime{QUuid::createUuid(), "a", 7, 5, false}).label(), "07:05 · Every day");
    EXPECT_EQ((ListeningTime{QUuid::createUuid(), "a", 23, 0, true}).label(), "23:00 · Workdays");
    scoped.l10n().select(QStringLiteral("ko")); // no table: the keys
    EXPECT_EQ((ListeningTime{QUuid::createUuid(), "a", 0, 59, true}).label(), "00:59 · 工作日");
}

TEST(ListeningTime, JsonRoundTripsWithUpperCaseIdReadInEitherCase)
{
    const ListeningTime t = ListeningTime::fromJson(entry());
    EXPECT_EQ(t.id, QUuid::fromString(QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e")));
    EXPECT_EQ(t.stationID, "nhk");
    EXPECT_EQ(t.hour, 7);
    EXPECT_EQ(t.minute, 5);
    EXPECT_FALSE(t.workdaysOnly);

    QJsonObject lower = entry();
    lower.insert("id", "0f8fad5b-d9cb-469f-a165-70867728950e");
    EXPECT_EQ(ListeningTime::fromJson(lower), t);

    const ListeningTime made{QUuid::createUuid(), "x", 23, 59, true};
    const QJsonObject written = made.toJson();
    const QString id = written.value("id").toString();
    EXPECT_EQ(id.size(), 36);
    EXPECT_EQ(id, id.toUpper());
    EXPECT_FALSE(id.contains('{'));
    EXPECT_EQ(written.keys(), (QStringList{"hour", "id", "minute", "stationID", "workdaysOnly"}));
    EXPECT_EQ(ListeningTime::fromJson(written), made);

    // Same station and time, another id: another entry.
    ListeningTime twin = made;
    twin.id = QUuid::createUuid();
    EXPECT_NE(twin, made);
}

TEST(ListeningTime, DecodingRefusesMissingKeysWrongTypesAndImpossibleTimes)
{
    for (const char *key : {"id", "stationID", "hour", "minute", "workdaysOnly"}) {
        QJsonObject o = entry();
        o.remove(QString::fromLatin1(key));
        EXPECT_THROW(ListeningTime::fromJson(o), DecodingError) << key;
    }
    const std::pair<const char *, QJsonValue> bad[] = {
        {"workdaysOnly", 1},
        {"workdaysOnly", "true"},
        {"hour", "7"},
        {"hour", 7.5},
        {"hour", 24},
        {"hour", -1},
        {"minute", 60},
        {"minute", -1},
        {"minute", 1e12},
        {"stationID", 3},
        {"id", "not-a-uuid"},
        {"id", "{0F8FAD5B-D9CB-469F-A165-70867728950E}"},
        {"id", "0F8FAD5BD9CB469FA16570867728950E"},
        {"id", "0F8FAD5B-D9CB-469F-A165-70867728950G"},
        {"id", 5},
    };
    for (const auto &[key, value] : bad) {
        QJsonObject o = entry();
        o.insert(QString::fromLatin1(key), value);
        EXPECT_THROW(ListeningTime::fromJson(o), DecodingError) << key << " " << json::compact(o).constData();
    }
    EXPECT_THROW(ListeningTime::fromJson(QJsonArray{}), DecodingError);

    // The ends of the day are fine.
    for (const auto &[h, m] : {std::pair{0, 0}, std::pair{23, 59}}) {
        QJsonObject o = entry();
        o.insert("hour", h);
        o.insert("minute", m);
        EXPECT_NO_THROW(ListeningTime::fromJson(o));
    }
}
