#include "StoreFixture.h"

namespace vantuli::test {
namespace {

class LibraryTest : public StoreFixture {
protected:
    QStringList historyIDs() const
    {
        QStringList list;
        for (const ListeningRecord &r : store->history())
            list << r.stationID;
        return list;
    }
};

TEST_F(LibraryTest, FavouritingTwiceRestoresTheOrderAndTheSetting)
{
    settings->setValue(QStringLiteral("favorites"), QStringList{QStringLiteral("en1"), QStringLiteral("fr1")});
    make();
    const QStringList saved{QStringLiteral("en1"), QStringLiteral("fr1")};

    store->favorite(find(QStringLiteral("zh1")));
    EXPECT_EQ(store->favoriteOrder(), (QStringList{QStringLiteral("zh1"), QStringLiteral("en1"), QStringLiteral("fr1")}));
    EXPECT_EQ(settings->stringList(QStringLiteral("favorites")), store->favoriteOrder());
    EXPECT_TRUE(store->favorites().contains(QStringLiteral("zh1")));

    store->favorite(find(QStringLiteral("zh1")));
    EXPECT_EQ(store->favoriteOrder(), saved);
    EXPECT_EQ(settings->stringList(QStringLiteral("favorites")), saved);
    EXPECT_EQ(store->favorites(), QSet<QString>(saved.begin(), saved.end()));

    // Removing one from the middle keeps the others in their order.
    store->favorite(find(QStringLiteral("en1")));
    EXPECT_EQ(store->favoriteOrder(), QStringList{QStringLiteral("fr1")});
}

TEST_F(LibraryTest, ListeningPutsOneRecordFirstAndKeepsAtMostAHundred)
{
    make();
    const Date first{1'700'000'000};
    store->recordListening(find(QStringLiteral("en1")), first);
    store->recordListening(find(QStringLiteral("en1")), Date{first.secondsSince1970 + 60});
    ASSERT_EQ(store->history().size(), 1u);
    EXPECT_EQ(store->history()[0].visits, 2);
    EXPECT_EQ(store->history()[0].lastPlayed, (Date{first.secondsSince1970 + 60}));

    for (int i = 0; i < 120; ++i)
        store->recordListening(station(QStringLiteral("s%1").arg(i)), first);
    ASSERT_EQ(store->history().size(), 100u);
    EXPECT_EQ(store->history().front().stationID, QStringLiteral("s119"));
    EXPECT_EQ(store->history().back().stationID, QStringLiteral("s20"));

    // A station already listed moves to the front; nothing else falls off.
    store->recordListening(station(QStringLiteral("s50")), first);
    ASSERT_EQ(store->history().size(), 100u);
    EXPECT_EQ(store->history().front().stationID, QStringLiteral("s50"));
    EXPECT_EQ(store->history().front().visits, 2);
    EXPECT_EQ(store->history().back().stationID, QStringLiteral("s20"));
    EXPECT_EQ(historyIDs().count(QStringLiteral("s50")), 1);

    // Saved to the archive as it stands.
    const auto saved = store->archive()->state<std::vector<ListeningRecord>>(QStringLiteral("recent"));
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->size(), 100u);
    EXPECT_EQ(saved->front().stationID, QStringLiteral("s50"));
}

TEST_F(LibraryTest, HistoryRemovalAndClearingAreSaved)
{
    archivePath = temporaryFolder() + QStringLiteral("/archive.sqlite3");
    make();
    for (const char *id : {"zh1", "en1", "fr1"})
        store->recordListening(find(QString::fromLatin1(id)), clock->now());
    store->removeRecent(find(QStringLiteral("en1")));
    EXPECT_EQ(historyIDs(), (QStringList{QStringLiteral("fr1"), QStringLiteral("zh1")}));

    store.reset();
    make(); // read back from the archive file
    EXPECT_EQ(historyIDs(), (QStringList{QStringLiteral("fr1"), QStringLiteral("zh1")}));

    store->setFilter(LibraryFilter::Recent);
    store->clearHistory();
    EXPECT_TRUE(store->history().empty());
    EXPECT_TRUE(store->visible().empty());
    store.reset();
    make();
    EXPECT_TRUE(store->history().empty());
}

TEST_F(LibraryTest, FailuresAreMarkedWithTheAddressAndDateAndUnmarkedOnlyWhenPresent)
{
    make();
    const Station fr = find(QStringLiteral("fr1"));
    store->setUnavailable(true, fr);
    ASSERT_EQ(store->failures().count(QStringLiteral("fr1")), 1u);
    EXPECT_EQ(store->failures().at(QStringLiteral("fr1")).url, fr.streamUrl);
    EXPECT_EQ(store->failures().at(QStringLiteral("fr1")).date, clock->now());

    clock->advance(3600);
    store->setUnavailable(true, fr); // marked again: the newer date
    EXPECT_EQ(store->failures().at(QStringLiteral("fr1")).date, clock->now());
    const auto saved = store->archive()->state<RadioStore::Failures>(QStringLiteral("failures"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->at(QStringLiteral("fr1")).date, clock->now());

    int failureChanges = 0;
    int visibleChanges = 0;
    QObject::connect(store.get(), &RadioStore::failuresChanged, [&] { ++failureChanges; });
    QObject::connect(store.get(), &RadioStore::visibleChanged, [&] { ++visibleChanges; });
    store->setUnavailable(false, find(QStringLiteral("en1")));
    EXPECT_EQ(failureChanges, 0);
    EXPECT_EQ(visibleChanges, 0);

    store->setUnavailable(false, fr);
    EXPECT_TRUE(store->failures().empty());
    EXPECT_EQ(visibleChanges, 1);
    EXPECT_TRUE(store->archive()->state<RadioStore::Failures>(QStringLiteral("failures"))->empty());
}

TEST_F(LibraryTest, WithoutAnArchiveTheLibraryChangesInMemory)
{
    archivePath = QStringLiteral("/nonexistent-folder/for/vantuli/archive.sqlite3");
    make();
    ASSERT_EQ(store->archive(), nullptr);
    store->setFilter(LibraryFilter::Recent);
    store->recordListening(find(QStringLiteral("en1")), clock->now());
    EXPECT_EQ(historyIDs(), QStringList{QStringLiteral("en1")});
    ASSERT_EQ(store->visible().size(), 1u);
    store->setUnavailable(true, find(QStringLiteral("en1")));
    EXPECT_EQ(store->failures().size(), 1u);
}

TEST_F(LibraryTest, AFailedArchiveWriteSetsTheFlagAndKeepsTheNewState)
{
    make();
    ASSERT_FALSE(store->archiveFailed());
    store->archive()->write(QStringLiteral("DROP TABLE local_state"), {});

    store->recordListening(find(QStringLiteral("en1")), clock->now());
    EXPECT_TRUE(store->archiveFailed());
    EXPECT_EQ(historyIDs(), QStringList{QStringLiteral("en1")});

    store->setUnavailable(true, find(QStringLiteral("fr1")));
    EXPECT_EQ(store->failures().size(), 1u);
}

} // namespace
} // namespace vantuli::test
