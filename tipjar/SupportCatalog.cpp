#include "tipjar/SupportCatalog.h"

#include "platform/MainThread.h"

#include <QPointer>

#include <algorithm>

namespace vantuli {

namespace {

// Runs `work` on the main thread: at once when already there, else queued.
// The store may answer from any thread.
void onMain(std::function<void()> work)
{
    if (MainThread::isCurrent())
        work();
    else
        MainThread::post(std::move(work));
}

} // namespace

const QStringList &SupportCatalog::ids()
{
    static const QStringList ids{QStringLiteral("app.vantuli.tip.small"), QStringLiteral("app.vantuli.tip.medium"),
                                 QStringLiteral("app.vantuli.tip.large")};
    return ids;
}

SupportCatalog::SupportCatalog(std::shared_ptr<TipStore> store, QObject *parent)
    : QObject(parent), store_(store ? std::move(store) : shippedTipStore())
{
}

SupportCatalog::~SupportCatalog()
{
    if (cancelRequest_)
        cancelRequest_();
}

bool SupportCatalog::canMakePayments() const
{
    return store_->canMakePayments();
}

void SupportCatalog::load()
{
    if (loading_ || busy_)
        return;
    if (!canMakePayments()) {
        setProducts({});
        return;
    }
    setLoading(true);
    loadCancelled_ = false;
    const quint64 generation = ++loadGeneration_;
    QPointer<SupportCatalog> self(this);
    auto cancel = store_->products(ids(), [self, generation](TipProductsResult result) {
        onMain([self, generation, result = std::move(result)] {
            if (!self || self->loadGeneration_ != generation || !self->loading_)
                return;
            self->cancelRequest_ = nullptr;
            if (result.ok) {
                std::vector<TipProduct> products;
                std::copy_if(result.products.begin(), result.products.end(), std::back_inserter(products),
                             [](const TipProduct &p) { return p.type == TipProductType::Consumable; });
                std::stable_sort(products.begin(), products.end(),
                                 [](const TipProduct &a, const TipProduct &b) { return a.price < b.price; });
                self->setProducts(std::move(products));
            } else if (!self->loadCancelled_) {
                self->setProducts({});
            }
            self->setLoading(false);
        });
    });
    // The store may have answered already.
    if (loading_ && loadGeneration_ == generation)
        cancelRequest_ = std::move(cancel);
}

void SupportCatalog::cancelLoad()
{
    if (!loading_)
        return;
    loadCancelled_ = true;
    if (auto cancel = std::exchange(cancelRequest_, nullptr))
        cancel();
}

void SupportCatalog::tip(const TipProduct &product)
{
    std::shared_ptr<TipStore> store = store_;
    tip(product, [store](const TipProduct &p, std::function<void(TipPurchaseResult)> done) {
        store->purchase(p, std::move(done));
    });
}

void SupportCatalog::tip(const TipProduct &product, Purchase purchase)
{
    if (!canMakePayments() || loading_ || busy_ || pendingProducts_.contains(product.id))
        return;
    if (std::none_of(products_.begin(), products_.end(), [&](const TipProduct &p) { return p.id == product.id; }))
        return;
    if (!purchase)
        return;
    setBusy(true);
    setNote(std::nullopt);
    QPointer<SupportCatalog> self(this);
    purchase(product, [self, product](TipPurchaseResult result) {
        onMain([self, product, result = std::move(result)] {
            if (self)
                self->finishPurchase(product, result);
        });
    });
}

void SupportCatalog::finishPurchase(const TipProduct &product, const TipPurchaseResult &result)
{
    using Kind = TipPurchaseResult::Kind;
    switch (result.kind) {
    case Kind::Success: {
        if (!result.verification || !result.verification->verified) {
            setNote(DisplayMessage::key(QString::fromUtf8(unverifiedKey)));
            break;
        }
        const TipTransaction &transaction = result.verification->transaction;
        if (transaction.productID != product.id || transaction.productType != TipProductType::Consumable ||
            transaction.revocationDate) {
            setNote(DisplayMessage::key(QString::fromUtf8(unverifiedKey)));
            break;
        }
        // Busy until the store has taken the delivery.
        QPointer<SupportCatalog> self(this);
        store_->finish(transaction, [self] {
            onMain([self] {
                if (!self)
                    return;
                self->setNote(DisplayMessage::key(QString::fromUtf8(thanksKey)));
                self->setBusy(false);
            });
        });
        return;
    }
    case Kind::Cancelled:
        break;
    case Kind::Pending:
        pendingProducts_.insert(product.id);
        emit pendingProductsChanged();
        break;
    case Kind::Other:
    case Kind::Error:
        setNote(DisplayMessage::key(QString::fromUtf8(storeProblemKey)));
        break;
    }
    setBusy(false);
}

void SupportCatalog::watch()
{
    if (watching_)
        return;
    watching_ = true;
    QPointer<SupportCatalog> self(this);
    store_->updates([self](TipVerification update) {
        onMain([self, update = std::move(update)] {
            if (self)
                self->receive(update);
        });
    });
}

void SupportCatalog::receive(const TipVerification &update)
{
    if (!update.verified)
        return;
    const TipTransaction transaction = update.transaction;
    if (!ids().contains(transaction.productID) || transaction.productType != TipProductType::Consumable)
        return;
    // Revoked tips are finished too, so the store stops reporting them.
    QPointer<SupportCatalog> self(this);
    store_->finish(transaction, [self, transaction] {
        onMain([self, transaction] {
            if (!self)
                return;
            const bool wasPending = self->pendingProducts_.remove(transaction.productID);
            emit self->pendingProductsChanged();
            if (wasPending && !transaction.revocationDate)
                self->setNote(DisplayMessage::key(QString::fromUtf8(thanksKey)));
        });
    });
}

void SupportCatalog::setProducts(std::vector<TipProduct> products)
{
    if (products == products_)
        return;
    products_ = std::move(products);
    emit productsChanged();
}

void SupportCatalog::setLoading(bool loading)
{
    if (loading == loading_)
        return;
    loading_ = loading;
    emit loadingChanged();
}

void SupportCatalog::setBusy(bool busy)
{
    if (busy == busy_)
        return;
    busy_ = busy;
    emit busyChanged();
}

void SupportCatalog::setNote(std::optional<DisplayMessage> note)
{
    note_ = std::move(note);
    emit noteChanged();
}

} // namespace vantuli
