#include "ScriptedTipStore.h"

#include "look/StudioButton.h"
#include "support/WidgetHarness.h"
#include "tipjar/SupportCatalog.h"
#include "tipjar/SupportView.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QKeyEvent>

#include <gtest/gtest.h>

namespace vantuli::test {
namespace {

class SupportViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        view.show();
        WidgetHarness::settle();
    }

    bool shown(const char *name) const
    {
        auto *w = view.findChild<QWidget *>(QString::fromLatin1(name));
        return w && w->isVisible();
    }
    std::vector<StudioButton *> products() const
    {
        std::vector<StudioButton *> list;
        for (const QString &id : SupportCatalog::ids())
            if (auto *b = view.findChild<StudioButton *>(id); b && b->isVisible())
                list.push_back(b);
        return list;
    }
    void answer()
    {
        store->answer({product(SupportCatalog::ids()[0], "0.99"), product(SupportCatalog::ids()[1], "2.99")});
        WidgetHarness::settle();
    }

    WidgetHarness h;
    std::shared_ptr<ScriptedTipStore> store = std::make_shared<ScriptedTipStore>();
    SupportCatalog catalog{store};
    SupportView view{&catalog};
};

TEST_F(SupportViewTest, ShowsTheIndicatorThenTheProductsOrTheEmptyState)
{
    // Shown: loading, only the indicator.
    EXPECT_EQ(store->productRequests, 1);
    EXPECT_TRUE(shown("supportLoading"));
    EXPECT_FALSE(shown("supportEmpty"));
    EXPECT_TRUE(products().empty());

    answer();
    ASSERT_EQ(products().size(), 2u);
    EXPECT_EQ(products()[0]->text(), QStringLiteral("small"));
    EXPECT_EQ(products()[0]->trailingText(), QStringLiteral("$0.99"));
    EXPECT_FALSE(shown("supportLoading"));
    EXPECT_FALSE(shown("supportEmpty"));

    // Payments off: the empty text and no reload, even with products.
    store->payments = false;
    emit catalog.busyChanged(); // a change of the catalog rebuilds the view
    WidgetHarness::settle();
    EXPECT_TRUE(products().empty());
    EXPECT_TRUE(shown("supportEmpty"));
    EXPECT_FALSE(shown("supportReload"));

    // Payments on, nothing offered: reload asks again.
    store->payments = true;
    catalog.load();
    store->fail();
    WidgetHarness::settle();
    EXPECT_TRUE(shown("supportEmpty"));
    ASSERT_TRUE(shown("supportReload"));
    view.findChild<QPushButton *>(QStringLiteral("supportReload"))->click();
    EXPECT_EQ(store->productRequests, 3);

    // Hidden while loading: the load is cancelled.
    view.hide();
    EXPECT_EQ(store->cancels, 1);
}

TEST_F(SupportViewTest, DisablesProductsWhileBuyingAndThePendingOne)
{
    answer();
    products()[1]->click();
    WidgetHarness::settle();
    EXPECT_EQ(store->purchased, std::vector<QString>{SupportCatalog::ids()[1]});
    EXPECT_TRUE(shown("supportConfirming"));
    for (StudioButton *button : products())
        EXPECT_FALSE(button->isEnabled());

    store->complete(outcome(TipPurchaseResult::Kind::Pending));
    WidgetHarness::settle();
    EXPECT_FALSE(shown("supportConfirming"));
    EXPECT_TRUE(products()[0]->isEnabled());
    EXPECT_FALSE(products()[1]->isEnabled());
    EXPECT_TRUE(shown("supportPending"));

    products()[0]->click();
    store->complete(outcome(TipPurchaseResult::Kind::Error));
    WidgetHarness::settle();
    auto *note = view.findChild<QLabel *>(QStringLiteral("supportNote"));
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(note->text(), L10n::shared().text(QString::fromUtf8(SupportCatalog::storeProblemKey)));

    int done = 0;
    QObject::connect(&view, &SupportView::done, [&done] { ++done; });
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&view, &press);
    EXPECT_EQ(done, 1);
}

TEST(ShippedTipStoreTest, OffersNothingOnThisPlatform)
{
    WidgetHarness h;
    SupportCatalog catalog;
    catalog.watch();
    catalog.load();
    EXPECT_FALSE(catalog.canMakePayments());
    EXPECT_FALSE(catalog.loading());
    EXPECT_TRUE(catalog.products().empty());
    SupportView view(&catalog);
    view.show();
    WidgetHarness::settle();
    EXPECT_TRUE(view.findChild<QLabel *>(QStringLiteral("supportEmpty"))->isVisible());
    EXPECT_FALSE(view.findChild<QPushButton *>(QStringLiteral("supportReload"))->isVisible());
}

} // namespace
} // namespace vantuli::test
