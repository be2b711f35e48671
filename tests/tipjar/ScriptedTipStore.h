#pragma once

#include "tipjar/TipStore.h"

#include <functional>
#include <vector>

namespace vantuli::test {

// A store the test answers by hand: each request waits until the test
// completes it.
class ScriptedTipStore final : public TipStore {
public:
    bool canMakePayments() const override { return payments; }

    std::function<void()> products(const QStringList &ids, std::function<void(TipProductsResult)> done) override
    {
        ++productRequests;
        requested = ids;
        productsDone = std::move(done);
        return [this] { ++cancels; };
    }

    void purchase(const TipProduct &product, std::function<void(TipPurchaseResult)> done) override
    {
        purchased.push_back(product.id);
        purchaseDone = std::move(done);
    }

    void updates(std::function<void(TipVerification)> handler) override { updateHandler = std::move(handler); }

    void finish(const TipTransaction &transaction, std::function<void()> done) override
    {
        finished.push_back(transaction.productID);
        done();
    }

    void answer(std::vector<TipProduct> list)
    {
        std::exchange(productsDone, nullptr)(TipProductsResult{true, std::move(list), {}});
    }
    void fail() { std::exchange(productsDone, nullptr)(TipProductsResult{false, {}, QStringLiteral("offline")}); }
    void complete(TipPurchaseResult result) { std::exchange(purchaseDone, nullptr)(std::move(result)); }

    bool payments = true;
    int productRequests = 0;
    int cancels = 0;
    QStringList requested;
    std::function<void(TipProductsResult)> productsDone;
    std::vector<QString> purchased;
    std::function<void(TipPurchaseResult)> purchaseDone;
    std::function<void(TipVerification)> updateHandler;
    std::vector<QString> finished;
};

inline TipProduct product(const QString &id, const char *price, TipProductType type = TipProductType::Consumable)
{
    return TipProduct{id, type, TipPrice::parse(QString::fromLatin1(price)), id.section(QLatin1Char('.'), -1),
                      QStringLiteral("$") + QString::fromLatin1(price)};
}

inline TipVerification verified(const QString &id, bool revoked = false,
                                TipProductType type = TipProductType::Consumable)
{
    TipVerification v;
    v.verified = true;
    v.transaction.productID = id;
    v.transaction.productType = type;
    if (revoked)
        v.transaction.revocationDate = QDateTime::fromSecsSinceEpoch(1);
    return v;
}

inline TipPurchaseResult success(TipVerification verification)
{
    TipPurchaseResult r;
    r.kind = TipPurchaseResult::Kind::Success;
    r.verification = std::move(verification);
    return r;
}

inline TipPurchaseResult outcome(TipPurchaseResult::Kind kind)
{
    TipPurchaseResult r;
    r.kind = kind;
    return r;
}

} // namespace vantuli::test
