#include "StoreFixture.h"

#include <random>

namespace vantuli::test {
namespace {

QStringList ids(const StationRefs &stations)
{
    QStringList list;
    for (const Station &s : stations)
        list << s.id;
    return list;
}

QStringList choiceIDs(const std::vector<DirectoryChoice> &choices)
{
    QStringList list;
    for (const DirectoryChoice &c : choices)
        list << c.id;
    return list;
}

const DirectoryChoice *choice(const std::vector<DirectoryChoice> &choices, const QString &id)
{
    for (const DirectoryChoice &c : choices)
        if (c.id == id)
            return &c;
    return nullptr;
}

Station entry(const QString &id, const QString &name, const QString &country, const QString &language,
             std::optional<QStringList> genres = std::nullopt, std::optional<QString> featuredLabel = std::nullopt,
             std::optional<QString> featuredGroup = std::nullopt)
{
    Station s = station(id, language);
    s.name = name;
    s.country = country;
    s.frequency = QString();
    s.genreIDs = std::move(genres);
    s.featuredLabel = std::move(featuredLabel);
    s.featuredGroup = std::move(featuredGroup);
    return s;
}

class DirectoryTest : public StoreFixture {
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        Station bbc = entry(QStringLiteral("bbc"), QStringLiteral("BBC World Service"), QStringLiteral("GB"),
                           QStringLiteral("en-GB"), QStringList{QStringLiteral("news"), QStringLiteral("world")},
                           QStringLiteral("World news"), QStringLiteral("GB"));
        bbc.city = QStringLiteral("London");
        bbc.frequency = QStringLiteral("DAB");
        Station zurich = entry(QStringLiteral("zurich"), QStringLiteral("Radio Zürich"), QStringLiteral("CH"),
                              QStringLiteral("de-CH"), QStringList{QStringLiteral("music"), QStringLiteral("music")},
                              QStringLiteral("Alpine"), QStringLiteral("LI"));
        Station fip = entry(QStringLiteral("fip"), QStringLiteral("FIP"), QStringLiteral("FR"), QStringLiteral("fr"),
                           QStringList{QStringLiteral("jazz")});
        fip.frequency = QStringLiteral("FM 105.1");
        Station groove = entry(QStringLiteral("groove"), QStringLiteral("Groove Salad"), QStringLiteral("US"),
                              QString(), QStringList{QStringLiteral("ambient-x")});
        Station nowhere = entry(QStringLiteral("nowhere"), QStringLiteral("Nowhere FM"), QString(), QStringLiteral("ja"));
        Station nhk = entry(QStringLiteral("nhk"), QStringLiteral("NHK"), QStringLiteral("JP"), QStringLiteral("ja-JP"),
                           QStringList{QStringLiteral("news")}, QStringLiteral("Japan"), QStringLiteral("JP"));
        catalog = {bbc, fip, zurich, groove, nowhere, nhk};
    }

    int visibleChanges = 0;

    RadioStore &open()
    {
        make();
        QObject::connect(store.get(), &RadioStore::visibleChanged, [this] { ++visibleChanges; });
        return *store;
    }
};

TEST_F(DirectoryTest, FeaturedTabListsGroupsUntilTheQueryHasText)
{
    open();
    const QStringList featured{QStringLiteral("bbc"), QStringLiteral("zurich"), QStringLiteral("nhk")};
    EXPECT_EQ(ids(store->visible()), featured);

    store->setQuery(QStringLiteral(" \n\t "));
    EXPECT_EQ(ids(store->visible()), featured); // blank counts as empty

    // Any text searches the whole catalog, failed stations still hidden.
    store->setQuery(QStringLiteral(" salad\n"));
    EXPECT_EQ(ids(store->visible()), QStringList{QStringLiteral("groove")});
    store->setQuery(QStringLiteral("fm"));
    EXPECT_EQ(ids(store->visible()), (QStringList{QStringLiteral("fip"), QStringLiteral("nowhere")}));
    store->setUnavailable(true, find(QStringLiteral("fip")));
    EXPECT_EQ(ids(store->visible()), QStringList{QStringLiteral("nowhere")});

    store->setFilter(LibraryFilter::Unavailable);
    store->setQuery(QString());
    EXPECT_EQ(ids(store->visible()), QStringList{QStringLiteral("fip")});
}

TEST_F(DirectoryTest, SearchFoldsCaseAccentsAndWidthAndFindsLocalisedLabels)
{
    open();
    store->setFilter(LibraryFilter::All);
    const struct {
        const char *query;
        QStringList expected;
    } cases[] = {
        {"ＢＢＣ", {QStringLiteral("bbc")}},                     // full-width letters
        {"bbc world", {QStringLiteral("bbc")}},
        {"zurich", {QStringLiteral("zurich")}},                  // accent dropped in the text
        {"RADIO ZÜRICH", {QStringLiteral("zurich")}},            // and in the query
        {"london", {QStringLiteral("bbc")}},                     // city
        {"switzerland", {QStringLiteral("zurich")}},             // country label
        {"german", {QStringLiteral("zurich")}},                  // language label
        {"liechtenstein", {QStringLiteral("zurich")}},           // featured-group label
        {"alpine", {QStringLiteral("zurich")}},                  // featured label
        {"international", {QStringLiteral("bbc")}},              // genre label ("world")
        {"105.1", {QStringLiteral("fip")}},                      // frequency
        {"und", {QStringLiteral("groove")}},                     // language value of an empty language
        {"language not specified", {QStringLiteral("groove")}},  // and its label
        {"genre.ambient-x", {QStringLiteral("groove")}},         // untranslated genre label
        {"japanese", {QStringLiteral("nowhere"), QStringLiteral("nhk")}},
        {"no such station", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.query);
        store->setQuery(QString::fromUtf8(c.query));
        EXPECT_EQ(ids(store->visible()), c.expected);
    }
}

TEST_F(DirectoryTest, SearchAgreesWithAPlainSubstringTestOfTheIndex)
{
    // Names over a small alphabet with repeats and with characters that
    // share their low byte ('a' and U+4E61), where a fast search slips first.
    const QString alphabet = QStringLiteral("ab\u4E61\u53F0 ");
    std::mt19937 random(11);
    auto text = [&](int length) {
        QString t;
        for (int i = 0; i < length; ++i)
            t += alphabet[qsizetype(random() % alphabet.size())];
        return t;
    };
    catalog.clear();
    for (int i = 0; i < 40; ++i)
        catalog.push_back(entry(QStringLiteral("s%1").arg(i), text(2 + int(random() % 12)), QStringLiteral("GB"),
                                QStringLiteral("en")));
    open();
    store->setFilter(LibraryFilter::All);

    for (int round = 0; round < 400; ++round) {
        QString query;
        if (round % 2) {
            const QString &source = store->searchIndex().value(QStringLiteral("s%1").arg(random() % 40));
            const qsizetype from = qsizetype(random() % source.size());
            query = source.mid(from, 1 + qsizetype(random() % 8));
        } else {
            query = text(1 + int(random() % 6));
        }
        QStringList expected;
        const QString key = query.trimmed();
        for (const Station &s : store->stations())
            if (key.isEmpty() || store->searchIndex().value(s.id).contains(key))
                expected << s.id;
        store->setQuery(query);
        ASSERT_EQ(ids(store->visible()), expected) << query.toStdString();
    }
}

TEST_F(DirectoryTest, FacetsCountTheWholeCatalogWithLocalisedLabels)
{
    open();
    // The station without a country gets no facet row.
    EXPECT_EQ(choiceIDs(store->countries()), (QStringList{QStringLiteral("FR"), QStringLiteral("JP"),
                                                          QStringLiteral("CH"), QStringLiteral("GB"),
                                                          QStringLiteral("US")}));
    EXPECT_EQ(choice(store->countries(), QStringLiteral("GB"))->label, QStringLiteral("United Kingdom"));

    // A genre listed twice by one station counts twice; untranslated genres
    // show their key; sorted by label without regard to case.
    EXPECT_EQ(choiceIDs(store->genres()), (QStringList{QStringLiteral("ambient-x"), QStringLiteral("world"),
                                                       QStringLiteral("jazz"), QStringLiteral("music"),
                                                       QStringLiteral("news")}));
    EXPECT_EQ(choice(store->genres(), QStringLiteral("music"))->count, 2);
    EXPECT_EQ(choice(store->genres(), QStringLiteral("news"))->count, 2);
    EXPECT_EQ(choice(store->genres(), QStringLiteral("ambient-x"))->label, QStringLiteral("genre.ambient-x"));

    EXPECT_EQ(choiceIDs(store->languages()), (QStringList{QStringLiteral("en"), QStringLiteral("fr"),
                                                          QStringLiteral("de"), QStringLiteral("ja"),
                                                          QStringLiteral("und")}));
    EXPECT_EQ(choice(store->languages(), QStringLiteral("ja"))->count, 2);
    EXPECT_EQ(choice(store->languages(), QStringLiteral("und"))->label, QStringLiteral("Language not specified"));

    // Counts stay those of the catalog whatever the list shows.
    store->setCountryFilter(QStringLiteral("GB"));
    EXPECT_EQ(choice(store->genres(), QStringLiteral("music"))->count, 2);
}

TEST_F(DirectoryTest, CountryLabelsSortNumericallyGenreLabelsDoNot)
{
    catalog = {entry(QStringLiteral("a"), QStringLiteral("A"), QStringLiteral("X10"), QStringLiteral("en"),
                    QStringList{QStringLiteral("g10")}),
               entry(QStringLiteral("b"), QStringLiteral("B"), QStringLiteral("X2"), QStringLiteral("en"),
                    QStringList{QStringLiteral("g2")}),
               entry(QStringLiteral("c"), QStringLiteral("C"), QStringLiteral("x2"), QStringLiteral("en"))};
    open();
    // Labels equal but for case keep their order; 2 comes before 10.
    EXPECT_EQ(choiceIDs(store->countries()),
              (QStringList{QStringLiteral("X2"), QStringLiteral("x2"), QStringLiteral("X10")}));
    EXPECT_EQ(choiceIDs(store->genres()), (QStringList{QStringLiteral("g10"), QStringLiteral("g2")}));
}

TEST_F(DirectoryTest, FacetFiltersNarrowTheListAndEveryAssignmentRecomputes)
{
    open();
    store->setFilter(LibraryFilter::All);
    visibleChanges = 0;

    store->setCountryFilter(QStringLiteral("GB"));
    EXPECT_EQ(ids(store->visible()), QStringList{QStringLiteral("bbc")});
    store->setCountryFilter(QStringLiteral("GB")); // same value: recomputed all the same
    EXPECT_EQ(visibleChanges, 2);

    store->setCountryFilter(QString());
    store->setLanguageFilter(QStringLiteral("ja"));
    EXPECT_EQ(ids(store->visible()), (QStringList{QStringLiteral("nowhere"), QStringLiteral("nhk")}));
    store->setGenreFilter(QStringLiteral("news"));
    EXPECT_EQ(ids(store->visible()), QStringList{QStringLiteral("nhk")});
    store->setLanguageFilter(QStringLiteral("und"));
    EXPECT_TRUE(store->visible().empty());
    store->setGenreFilter(QString());
    EXPECT_EQ(ids(store->visible()), QStringList{QStringLiteral("groove")});

    store->setQuery(QStringLiteral("salad"));
    visibleChanges = 0;
    store->resetFilters();
    EXPECT_EQ(visibleChanges, 4);
    EXPECT_EQ(store->filter().value(), LibraryFilter::All);
    EXPECT_TRUE(store->query().isEmpty());
    EXPECT_TRUE(store->languageFilter().isEmpty());
    EXPECT_EQ(store->visible().size(), catalog.size());
}

TEST_F(DirectoryTest, LibraryTabsListTheirStationsInTheirOrder)
{
    open();
    store->favorite(find(QStringLiteral("fip")));
    store->favorite(find(QStringLiteral("nhk")));
    store->setFilter(LibraryFilter::Favorites);
    EXPECT_EQ(ids(store->visible()), (QStringList{QStringLiteral("nhk"), QStringLiteral("fip")}));

    store->recordListening(find(QStringLiteral("bbc")), clock->now());
    store->recordListening(station(QStringLiteral("gone")), clock->now()); // not in the catalog
    store->recordListening(find(QStringLiteral("groove")), clock->now());
    store->setFilter(LibraryFilter::Recent);
    EXPECT_EQ(ids(store->visible()), (QStringList{QStringLiteral("groove"), QStringLiteral("bbc")}));

    store->setUnavailable(true, find(QStringLiteral("zurich")));
    clock->advance(60);
    store->setUnavailable(true, station(QStringLiteral("gone")));
    clock->advance(60);
    store->setUnavailable(true, find(QStringLiteral("bbc")));
    store->setFilter(LibraryFilter::Unavailable);
    EXPECT_EQ(ids(store->visible()), (QStringList{QStringLiteral("bbc"), QStringLiteral("zurich")}));

    // The failed stations stay on the library tabs and leave the catalog tabs.
    store->setFilter(LibraryFilter::Recent);
    EXPECT_EQ(ids(store->visible()), (QStringList{QStringLiteral("groove"), QStringLiteral("bbc")}));
    store->setFilter(LibraryFilter::All);
    EXPECT_FALSE(ids(store->visible()).contains(QStringLiteral("bbc")));
}

TEST_F(DirectoryTest, ANewInterfaceLanguageReindexesLabelsAndSearch)
{
    open();
    store->setFilter(LibraryFilter::All);
    store->setQuery(QStringLiteral("schweiz"));
    EXPECT_TRUE(store->visible().empty());

    L10n::shared().select(QStringLiteral("de"));
    EXPECT_EQ(choice(store->countries(), QStringLiteral("CH"))->label, QStringLiteral("Schweiz"));
    EXPECT_EQ(choice(store->genres(), QStringLiteral("music"))->label, QStringLiteral("Musik"));
    store->setQuery(QStringLiteral("schweiz"));
    EXPECT_EQ(ids(store->visible()), QStringList{QStringLiteral("zurich")});
    store->setQuery(QStringLiteral("nachrichten"));
    EXPECT_EQ(ids(store->visible()), (QStringList{QStringLiteral("bbc"), QStringLiteral("nhk")}));
}

} // namespace
} // namespace vantuli::test
