#include "StoreFixture.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QSettings>

#include <csignal>

namespace vantuli::test {
namespace {

using State = RadioStore::State;
using Failures = RadioStore::Failures;

QByteArray historyData(const std::vector<ListeningRecord> &records)
{
    return QJsonDocument(JsonCoding<std::vector<ListeningRecord>>::encode(records).toArray()).toJson();
}

QByteArray failureData(const Failures &failures)
{
    return QJsonDocument(JsonCoding<Failures>::encode(failures).toObject()).toJson();
}

ListeningRecord record(const QString &id, qint64 visits, std::optional<Date> lastPlayed = Date{1.7e9})
{
    return ListeningRecord{id, lastPlayed, visits};
}

QStringList ids(const std::vector<ListeningRecord> &records)
{
    QStringList result;
    for (const auto &r : records)
        result.append(r.stationID);
    return result;
}

class StartupTest : public StoreFixture {
protected:
    void putLegacy(const std::vector<ListeningRecord> &history, const QStringList &recent, const Failures &failures)
    {
        if (!history.empty())
            settings->setValue(QStringLiteral("listeningHistory"), historyData(history));
        if (!recent.isEmpty())
            settings->setValue(QStringLiteral("recent"), recent);
        if (!failures.empty())
            settings->setValue(QStringLiteral("stationFailures"), failureData(failures));
    }

    bool legacyKeysGone() const
    {
        return !settings->contains(QStringLiteral("listeningHistory")) && !settings->contains(QStringLiteral("recent"))
            && !settings->contains(QStringLiteral("stationFailures"));
    }

    QString archiveFile()
    {
        archivePath = temporaryFolder() + QStringLiteral("/archive-%1.sqlite3").arg(++files_);
        return *archivePath;
    }

private:
    int files_ = 0;
};

TEST_F(StartupTest, LegacyHistoryMovesIntoAnArchiveWithoutRows)
{
    putLegacy({record(QStringLiteral("en1"), 3)}, {QStringLiteral("zh1")},
              {{QStringLiteral("fr1"), StationFailure{QStringLiteral("https://radio.example.org/fr1"), Date{5}}}});
    const QString file = archiveFile();
    make();
    EXPECT_EQ(ids(store->history()), QStringList{QStringLiteral("en1")}); // "recent" is ignored
    EXPECT_EQ(store->history()[0].visits, 3);
    EXPECT_TRUE(store->failures().contains(QStringLiteral("fr1")));
    EXPECT_TRUE(legacyKeysGone());
    EXPECT_FALSE(store->archiveFailed());
    store.reset();

    ListeningArchive reopened(file);
    const auto saved = reopened.state<std::vector<ListeningRecord>>(QStringLiteral("recent"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(ids(*saved), QStringList{QStringLiteral("en1")});
    EXPECT_TRUE(reopened.state<Failures>(QStringLiteral("failures"))->contains(QStringLiteral("fr1")));
}

TEST_F(StartupTest, ArchiveRowsWinOverLegacySettings)
{
    const QString file = archiveFile();
    {
        ListeningArchive archive(file);
        archive.save(std::vector<ListeningRecord>{record(QStringLiteral("fr1"), 7)}, QStringLiteral("recent"));
        archive.save(Failures{}, QStringLiteral("failures"));
    }
    putLegacy({record(QStringLiteral("en1"), 3)}, {},
              {{QStringLiteral("zh1"), StationFailure{QStringLiteral("https://radio.example.org/zh1"), Date{5}}}});
    make();
    EXPECT_EQ(ids(store->history()), QStringList{QStringLiteral("fr1")});
    EXPECT_TRUE(store->failures().empty());
    EXPECT_TRUE(legacyKeysGone());
    EXPECT_EQ(store->selected()->id, QStringLiteral("fr1")); // the newest listened station
}

TEST_F(StartupTest, ALegacyRecentListBecomesRecordsInOrder)
{
    putLegacy({}, {QStringLiteral("en1"), QStringLiteral("zh1")}, {});
    make(); // in-memory archive: the keys are removed all the same
    ASSERT_EQ(store->history().size(), 2u);
    EXPECT_EQ(ids(store->history()), (QStringList{QStringLiteral("en1"), QStringLiteral("zh1")}));
    for (const auto &r : store->history()) {
        EXPECT_EQ(r.visits, 1);
        EXPECT_FALSE(r.lastPlayed);
    }
    EXPECT_TRUE(legacyKeysGone());
    EXPECT_TRUE(store->archive());
    EXPECT_EQ(store->recent(), (QStringList{QStringLiteral("en1"), QStringLiteral("zh1")}));
}

TEST_F(StartupTest, AnUndecodableRowCostsOnlyThatRow)
{
    const QString file = archiveFile();
    {
        ListeningArchive archive(file);
        archive.write(QStringLiteral("INSERT OR REPLACE INTO local_state(key,value) VALUES(?,?)"),
                      {ListeningArchive::Value::text(QStringLiteral("recent")),
                       ListeningArchive::Value::text(QStringLiteral("{not json"))});
        archive.write(QStringLiteral("INSERT OR REPLACE INTO local_state(key,value) VALUES(?,?)"),
                      {ListeningArchive::Value::text(QStringLiteral("failures")),
                       ListeningArchive::Value::text(QStringLiteral("[1, 2]"))});
        archive.begin(QStringLiteral("zh1"), QStringLiteral("Kept"), 0, Date{100});
    }
    putLegacy({record(QStringLiteral("en1"), 2)}, {}, {});
    make();
    ASSERT_TRUE(store->archive());
    EXPECT_TRUE(store->archiveFailed());
    EXPECT_EQ(ids(store->history()), QStringList{QStringLiteral("en1")});
    EXPECT_EQ(sessions().size(), 1u); // the rest of the archive is still there
    store.reset();

    ListeningArchive reopened(file);
    EXPECT_EQ(ids(*reopened.state<std::vector<ListeningRecord>>(QStringLiteral("recent"))),
              QStringList{QStringLiteral("en1")});
    EXPECT_TRUE(reopened.state<Failures>(QStringLiteral("failures"))->empty());
}

// A partly damaged row keeps every record that still decodes, and its raw
// text under a key of its own; the same goes for the schedule setting.
TEST_F(StartupTest, APartlyDamagedRowKeepsItsGoodRecordsAndARawCopy)
{
    const QByteArray good = R"({"stationID":"fr1","visits":2},{"stationID":"en1","lastPlayed":5,"visits":1})";
    const QByteArray failures =
        R"({"zh1":{"url":"https://radio.example.org/zh1","date":5},"en1":{"url":7},"fr1":"x"})";
    const QByteArray schedule = R"([{"id":"00000000-0000-0000-0000-000000000001","stationID":"fr1","hour":7,)"
                                R"("minute":5,"workdaysOnly":false},{"id":"x","hour":99},)"
                                R"({"id":"00000000-0000-0000-0000-000000000002","stationID":"zh1","hour":8,)"
                                R"("minute":0,"workdaysOnly":true}])";
    settings->setValue(QStringLiteral("schedule"), schedule);
    for (const QByteArray &recent : {"[" + good.left(31) + R"({"visits":"many"},)" + good.mid(31) + "]",
                                     "[" + good + R"(,{"stationID":"zh)"}) {
        SCOPED_TRACE(recent.toStdString());
        const QString file = archiveFile();
        {
            ListeningArchive archive(file);
            archive.saveText(QStringLiteral("recent"), recent);
            archive.saveText(QStringLiteral("failures"), failures);
        }
        make();
        EXPECT_TRUE(store->archiveFailed());
        EXPECT_EQ(ids(store->history()), (QStringList{QStringLiteral("fr1"), QStringLiteral("en1")}));
        EXPECT_EQ(store->failures().size(), 1u);
        EXPECT_TRUE(store->failures().contains(QStringLiteral("zh1")));
        ASSERT_EQ(store->schedule().size(), 2u);
        EXPECT_EQ(store->schedule()[1].stationID, QStringLiteral("zh1"));
        store.reset();

        ListeningArchive reopened(file);
        EXPECT_EQ(reopened.stateText(QStringLiteral("recent.damaged")), recent);
        EXPECT_EQ(reopened.stateText(QStringLiteral("failures.damaged")), failures);
        EXPECT_EQ(ids(*reopened.state<std::vector<ListeningRecord>>(QStringLiteral("recent"))),
                  (QStringList{QStringLiteral("fr1"), QStringLiteral("en1")}));
    }
}

TEST_F(StartupTest, AnArchiveThatCannotOpenKeepsTheLegacyKeys)
{
    archivePath = temporaryFolder() + QStringLiteral("/no/such/folder/archive.sqlite3");
    putLegacy({record(QStringLiteral("en1"), 2)}, {QStringLiteral("zh1")}, {});
    make();
    EXPECT_FALSE(store->archive());
    EXPECT_TRUE(store->archiveFailed());
    EXPECT_EQ(ids(store->history()), QStringList{QStringLiteral("en1")});
    EXPECT_TRUE(settings->contains(QStringLiteral("listeningHistory")));
    EXPECT_TRUE(settings->contains(QStringLiteral("recent")));
}

TEST_F(StartupTest, SettingsAreReadThroughAFreshQSettings)
{
    const QString file = temporaryFolder() + QStringLiteral("/settings.ini");
    {
        QFile ini(file);
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[General]\ncaptions=false\nvolume=nan\nlanguage=ben\nfavorites=en1, zh1\n");
    }
    RadioStore::Dependencies d = dependencies();
    d.defaults = std::make_shared<QSettingsStore>(file);
    store = std::make_unique<RadioStore>(std::move(d));
    EXPECT_FALSE(store->captionsOn());
    EXPECT_EQ(store->volume(), 0.65);
    EXPECT_EQ(store->language(), QStringLiteral("station"));
    EXPECT_EQ(store->favoriteOrder(), (QStringList{QStringLiteral("en1"), QStringLiteral("zh1")}));
    EXPECT_TRUE(store->favorites().contains(QStringLiteral("zh1")));

    store->setVolume(0.4);
    store.reset();
    QSettings fresh(file, QSettings::IniFormat);
    EXPECT_EQ(fresh.value(QStringLiteral("language")).toString(), QStringLiteral("station")); // written back
    EXPECT_DOUBLE_EQ(fresh.value(QStringLiteral("volume")).toDouble(), 0.4);
}

TEST_F(StartupTest, StoredSettingsFallBackOrAreHeldInRange)
{
    struct Case {
        QVariant volume;
        double expected;
    };
    for (const Case &c : {Case{QVariant(), 0.65}, Case{QStringLiteral("loud"), 0.65}, Case{3.5, 1.0},
                          Case{-1.0, 0.0}, Case{std::numeric_limits<double>::infinity(), 0.65}, Case{0.2, 0.2}}) {
        SCOPED_TRACE(c.volume.toString().toStdString());
        settings = std::make_shared<MemorySettingsStore>();
        if (c.volume.isValid())
            settings->setValue(QStringLiteral("volume"), c.volume);
        make();
        EXPECT_EQ(store->volume(), c.expected);
        store->start(find(QStringLiteral("fr1")), 0, true);
        EXPECT_FLOAT_EQ(farm.last().volumes.at(0), static_cast<float>(c.expected));
    }
    settings->setValue(QStringLiteral("captions"), QStringLiteral("maybe"));
    settings->setValue(QStringLiteral("language"), QStringLiteral("bn-IN"));
    make();
    EXPECT_TRUE(store->captionsOn());
    EXPECT_EQ(store->language(), QStringLiteral("station"));
    EXPECT_EQ(settings->string(QStringLiteral("language")), QStringLiteral("station"));
}

TEST_F(StartupTest, InitialSelectionSkipsUnknownAndFailedStations)
{
    const auto failure = [](const QString &id) {
        return StationFailure{QStringLiteral("https://radio.example.org/") + id, Date{10}};
    };
    struct Case {
        const char *name;
        std::vector<ListeningRecord> history;
        Failures failures;
        std::optional<QString> selected;
    };
    const std::vector<Case> cases = {
        {"history first known", {record(QStringLiteral("gone"), 1), record(QStringLiteral("fr1"), 1)}, {},
         QStringLiteral("fr1")},
        {"failed history skipped", {record(QStringLiteral("fr1"), 1)}, {{QStringLiteral("fr1"), failure("fr1")}},
         QStringLiteral("zh1")},
        {"first catalog station failed", {}, {{QStringLiteral("zh1"), failure("zh1")}}, QStringLiteral("en1")},
        {"all failed",
         {},
         {{QStringLiteral("zh1"), failure("zh1")},
          {QStringLiteral("en1"), failure("en1")},
          {QStringLiteral("fr1"), failure("fr1")},
          {QStringLiteral("bn1"), failure("bn1")}},
         std::nullopt},
        {"changed address forgotten",
         {},
         {{QStringLiteral("zh1"), StationFailure{QStringLiteral("https://old.example.org/zh1"), Date{1}}},
          {QStringLiteral("gone"), failure("gone")}},
         QStringLiteral("zh1")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        settings = std::make_shared<MemorySettingsStore>();
        putLegacy(c.history, {}, c.failures);
        make();
        if (c.selected) {
            ASSERT_TRUE(store->selected());
            EXPECT_EQ(store->selected()->id, *c.selected);
        } else {
            EXPECT_FALSE(store->selected());
        }
        for (const auto &[id, f] : store->failures()) {
            const Station *station = store->catalogStation(id);
            ASSERT_TRUE(station);
            EXPECT_EQ(station->streamUrl, f.url);
        }
    }
}

TEST_F(StartupTest, AnUnreadableCatalogLeavesAMessageAndTheRestRuns)
{
    // Two stations sharing an id: lookups by id would silently pick one of them.
    QFile twice(writeCatalog({station(QStringLiteral("a"), QStringLiteral("en")),
                              station(QStringLiteral("twin"), QStringLiteral("fr")),
                              station(QStringLiteral("twin"), QStringLiteral("de"))}));
    ASSERT_TRUE(twice.open(QIODevice::ReadOnly));
    const QByteArray duplicateIds = twice.readAll();
    for (const QByteArray &content : {QByteArray(), QByteArray("[{\"id\": 1}]"), duplicateIds}) {
        catalogPath = temporaryFolder() + QStringLiteral("/catalog-bad.json");
        QFile::remove(*catalogPath);
        if (!content.isEmpty()) {
            QFile file(*catalogPath);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        media = std::make_shared<RecordingMediaSession>();
        make();
        ASSERT_TRUE(store->playbackMessage());
        EXPECT_EQ(store->playbackMessage()->content(), QStringLiteral("目录读取失败。%@"));
        EXPECT_FALSE(store->playbackMessage()->argument().isEmpty());
        if (content == duplicateIds) {
            EXPECT_TRUE(store->playbackMessage()->argument().contains(QStringLiteral("\"twin\""))) << qPrintable(store->playbackMessage()->argument());
        }
        EXPECT_TRUE(store->playbackMessage()->text().startsWith(QStringLiteral("Couldn’t read the station catalog.")));
        EXPECT_TRUE(store->stations().empty());
        EXPECT_TRUE(store->visible().empty());
        EXPECT_FALSE(store->selected());
        EXPECT_EQ(media->targets.size(), 3u); // media keys installed all the same
    }
}

TEST_F(StartupTest, CaptionLanguagesComeFromFeaturedStationsThenGerman)
{
    auto featured = [](const QString &id, const QString &language, const QString &group) {
        Station s = station(id, language);
        s.featuredLabel = QStringLiteral("label");
        s.featuredGroup = group;
        return s;
    };
    catalog = {featured(QStringLiteral("a"), QStringLiteral("en"), QStringLiteral("GB")),
               featured(QStringLiteral("b"), QStringLiteral("bn"), QStringLiteral("GB")),
               featured(QStringLiteral("c"), QStringLiteral("fr"), QStringLiteral("FR")),
               featured(QStringLiteral("d"), QStringLiteral("en"), QStringLiteral("FR")),
               station(QStringLiteral("e"), QStringLiteral("ja"))};
    make();
    EXPECT_EQ(store->captionLanguageCodes(),
              (QStringList{QStringLiteral("en"), QStringLiteral("fr"), QStringLiteral("de")}));
}

TEST_F(StartupTest, TerminationWritesTheLastCheckpointAndShutsRecognitionDown)
{
    make();
    store->start(find(QStringLiteral("zh1")), 0, true);
    farm.last().playing();
    farm.last().position(3.5);
    farm.settle();
    store->applicationWillTerminate();
    EXPECT_EQ(store->state(), State::Stopped);
    EXPECT_DOUBLE_EQ(sessions().at(0).played, 3.5);
    EXPECT_FALSE(sessions().at(0).interrupted);

    // The recogniser is gone for good: a new run gets no captions.
    store->start(find(QStringLiteral("zh1")), 0, true);
    farm.last().windows({speechWindow(0)});
    farm.settle();
    EXPECT_EQ(probe->callCount(), 0);
}

// The standard settings store is never released before the process ends:
// what was set just before quitting is written out at termination.
TEST_F(StartupTest, AVolumeSetJustBeforeQuittingIsInTheSettingsFile)
{
    const QString file = temporaryFolder() + QStringLiteral("/quit.ini");
    auto ini = std::make_shared<QSettingsStore>(file);
    RadioStore::Dependencies d = dependencies();
    d.defaults = ini;
    store = std::make_unique<RadioStore>(std::move(d));
    store->setVolume(0.3);
    ASSERT_TRUE(QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection));
    QSettings fresh(file, QSettings::IniFormat); // while `ini` still holds its own copy
    EXPECT_DOUBLE_EQ(fresh.value(QStringLiteral("volume")).toDouble(), 0.3);
}

TEST_F(StartupTest, ATerminationSignalQuitsCleanly)
{
    int quits = 0;
    RadioStore::Dependencies d = dependencies();
    d.handleTerminationSignals = true;
    d.quit = [&quits] { ++quits; };
    store = std::make_unique<RadioStore>(std::move(d));
    store->start(find(QStringLiteral("fr1")), 0, true);
    farm.last().playing();
    farm.last().position(2);
    farm.settle();

    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_TRUE(waitUntil([&] { return quits == 1; }));
    EXPECT_EQ(store->state(), State::Stopped);
    EXPECT_DOUBLE_EQ(sessions().at(0).played, 2);
    store.reset(); // the signals get their usual effect back
}

TEST_F(StartupTest, ReleasingTheStoreRemovesItsMediaKeys)
{
    make();
    ASSERT_EQ(media->targets.size(), 3u);
    store->start(find(QStringLiteral("fr1")), 0, true);
    StreamScript &run = farm.last();
    store.reset();
    EXPECT_TRUE(media->targets.empty());
    EXPECT_TRUE(run.stopped);
}

} // namespace
} // namespace vantuli::test
