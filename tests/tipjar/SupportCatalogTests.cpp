#include "ScriptedTipStore.h"

#include "tipjar/SupportCatalog.h"

#include <gtest/gtest.h>

namespace vantuli::test {
namespace {

const QString small = QStringLiteral("app.vantuli.tip.small");
const QString medium = QStringLiteral("app.vantuli.tip.medium");
const QString large = QStringLiteral("app.vantuli.tip.large");

QStringList ids(const SupportCatalog &catalog)
{
    QStringList list;
    for (const TipProduct &p : catalog.products())
        list << p.id;
    return list;
}

QString noteKey(const SupportCatalog &catalog)
{
    return catalog.note() ? catalog.note()->content() : QString();
}

struct Loaded {
    std::shared_ptr<ScriptedTipStore> store = std::make_shared<ScriptedTipStore>();
    SupportCatalog catalog{store};

    Loaded()
    {
        catalog.load();
        store->answer({product(small, "0.99"), product(medium, "2.99"), product(large, "4.99")});
    }
};

TEST(SupportCatalogTest, ListsConsumablesByPriceKeepingTheStoresOrderForTies)
{
    struct Case {
        std::vector<TipProduct> answer;
        QStringList expected;
    };
    const TipProduct a = product(QStringLiteral("A"), "2.99"), b = product(QStringLiteral("B"), "0.99"),
                     c = product(QStringLiteral("C"), "2.990"), d = product(QStringLiteral("D"), "10.00");
    const TipProduct lifetime = product(QStringLiteral("L"), "0.10", TipProductType::NonConsumable);
    const Case cases[] = {
        {{a, b, c}, {"B", "A", "C"}},
        {{c, b, a}, {"B", "C", "A"}},
        {{d, lifetime, a}, {"A", "D"}}, // decimals, not text; the non-consumable dropped
    };
    for (const Case &k : cases) {
        auto store = std::make_shared<ScriptedTipStore>();
        SupportCatalog catalog(store);
        catalog.load();
        EXPECT_TRUE(catalog.loading());
        EXPECT_EQ(store->requested, SupportCatalog::ids());
        catalog.load(); // while loading: no second request
        EXPECT_EQ(store->productRequests, 1);
        store->answer(k.answer);
        EXPECT_EQ(ids(catalog), k.expected);
        EXPECT_FALSE(catalog.loading());
    }
}

TEST(SupportCatalogTest, FailedLoadsEmptyTheListUnlessCancelled)
{
    Loaded l;
    l.catalog.load();
    l.catalog.cancelLoad();
    EXPECT_EQ(l.store->cancels, 1);
    l.store->fail();
    EXPECT_EQ(l.catalog.products().size(), 3u);
    EXPECT_FALSE(l.catalog.loading());

    l.catalog.load();
    l.store->fail();
    EXPECT_TRUE(l.catalog.products().empty());
    EXPECT_FALSE(l.catalog.loading());

    // Payments off: an empty list at once, no request.
    Loaded off;
    off.store->payments = false;
    off.catalog.load();
    EXPECT_TRUE(off.catalog.products().empty());
    EXPECT_EQ(off.store->productRequests, 1);
    EXPECT_FALSE(off.catalog.loading());
}

TEST(SupportCatalogTest, RefusedPurchasesLeaveEverythingAlone)
{
    const std::function<void(Loaded &)> setups[] = {
        [](Loaded &l) { l.store->payments = false; },
        [](Loaded &l) { l.catalog.load(); },                            // loading
        [](Loaded &l) { l.catalog.tip(l.catalog.products()[1]); },      // busy
        [](Loaded &l) {                                                  // pending
            l.catalog.tip(l.catalog.products()[0]);
            l.store->complete(outcome(TipPurchaseResult::Kind::Pending));
        },
    };
    for (const auto &setup : setups) {
        Loaded l;
        setup(l);
        const auto purchases = l.store->purchased.size();
        const bool busy = l.catalog.busy();
        l.catalog.tip(l.catalog.products()[0]);
        EXPECT_EQ(l.store->purchased.size(), purchases);
        EXPECT_EQ(l.catalog.busy(), busy);
    }
    Loaded l; // a product that is not offered
    l.catalog.tip(product(QStringLiteral("app.vantuli.tip.huge"), "99"));
    EXPECT_TRUE(l.store->purchased.empty());
    EXPECT_FALSE(l.catalog.busy());
}

TEST(SupportCatalogTest, EachPurchaseOutcomeGivesItsNote)
{
    using Kind = TipPurchaseResult::Kind;
    TipPurchaseResult unverified = success(verified(small));
    unverified.verification->verified = false;
    const struct {
        const char *name;
        TipPurchaseResult result;
        const char *note; // nullptr: none
        bool finished;
    } cases[] = {
        {"verified", success(verified(small)), SupportCatalog::thanksKey, true},
        {"unverified", unverified, SupportCatalog::unverifiedKey, false},
        {"another product", success(verified(medium)), SupportCatalog::unverifiedKey, false},
        {"not consumable", success(verified(small, false, TipProductType::NonConsumable)), SupportCatalog::unverifiedKey, false},
        {"revoked", success(verified(small, true)), SupportCatalog::unverifiedKey, false},
        {"cancelled", outcome(Kind::Cancelled), nullptr, false},
        {"other outcome", outcome(Kind::Other), SupportCatalog::storeProblemKey, false},
        {"error", outcome(Kind::Error), SupportCatalog::storeProblemKey, false},
    };
    Loaded l;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        l.store->finished.clear();
        l.catalog.tip(l.catalog.products()[0]); // clears the last note
        EXPECT_TRUE(l.catalog.busy());
        EXPECT_FALSE(l.catalog.note());
        l.store->complete(c.result);
        EXPECT_FALSE(l.catalog.busy());
        EXPECT_EQ(noteKey(l.catalog), c.note ? QString::fromUtf8(c.note) : QString());
        EXPECT_EQ(l.store->finished.size(), c.finished ? 1u : 0u);
    }
}

TEST(SupportCatalogTest, TheListenerFinishesPendingTipsAndThanks)
{
    Loaded l;
    l.catalog.watch();
    ASSERT_TRUE(l.store->updateHandler);
    l.catalog.tip(l.catalog.products()[0]);
    l.store->complete(outcome(TipPurchaseResult::Kind::Pending));
    l.catalog.tip(l.catalog.products()[1]);
    l.store->complete(outcome(TipPurchaseResult::Kind::Pending));
    EXPECT_EQ(l.catalog.pendingProducts(), (QSet<QString>{small, medium}));
    EXPECT_FALSE(l.catalog.note());

    // Ignored: unverified, unknown products, non-consumables.
    TipVerification unverified = verified(small);
    unverified.verified = false;
    l.store->updateHandler(unverified);
    l.store->updateHandler(verified(QStringLiteral("app.vantuli.tip.huge")));
    l.store->updateHandler(verified(small, false, TipProductType::NonConsumable));
    EXPECT_TRUE(l.store->finished.empty());
    EXPECT_EQ(l.catalog.pendingProducts().size(), 2u);

    // Revoked: finished and forgotten, without thanks.
    l.store->updateHandler(verified(medium, true));
    EXPECT_EQ(l.store->finished, std::vector<QString>{medium});
    EXPECT_FALSE(l.catalog.note());
    l.store->updateHandler(verified(small));
    EXPECT_EQ(l.store->finished.size(), 2u);
    EXPECT_TRUE(l.catalog.pendingProducts().isEmpty());
    EXPECT_EQ(noteKey(l.catalog), QString::fromUtf8(SupportCatalog::thanksKey));
}

} // namespace
} // namespace vantuli::test
