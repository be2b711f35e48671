#include "tipjar/TipStore.h"

#include "platform/MainThread.h"

#include <QRegularExpression>

namespace vantuli {

TipPrice TipPrice::parse(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^(-?)(\\d{1,15})(?:\\.(\\d{1,6}))?$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    TipPrice price;
    if (!match.hasMatch())
        return price;
    const QString fraction = match.captured(3);
    price.mantissa_ = (match.captured(2) + fraction).toLongLong();
    price.scale_ = static_cast<int>(fraction.size());
    if (!match.captured(1).isEmpty())
        price.mantissa_ = -price.mantissa_;
    return price;
}

std::strong_ordering TipPrice::operator<=>(const TipPrice &other) const
{
    // Bring both to the finer scale; 15 + 6 digits fit a 128-bit product.
    __int128 left = mantissa_;
    __int128 right = other.mantissa_;
    for (int i = scale_; i < other.scale_; ++i)
        left *= 10;
    for (int i = other.scale_; i < scale_; ++i)
        right *= 10;
    return left <=> right;
}

namespace {

// Linux has no in-app purchase service: payments cannot be made here.
class UnavailableTipStore final : public TipStore {
public:
    bool canMakePayments() const override { return false; }

    std::function<void()> products(const QStringList &, std::function<void(TipProductsResult)> done) override
    {
        MainThread::post([done = std::move(done)] {
            done(TipProductsResult{false, {}, QStringLiteral("No in-app purchase service on this platform")});
        });
        return [] {};
    }

    void purchase(const TipProduct &, std::function<void(TipPurchaseResult)> done) override
    {
        MainThread::post([done = std::move(done)] {
            TipPurchaseResult result;
            result.kind = TipPurchaseResult::Kind::Error;
            result.error = QStringLiteral("No in-app purchase service on this platform");
            done(result);
        });
    }

    void updates(std::function<void(TipVerification)>) override {}

    void finish(const TipTransaction &, std::function<void()> done) override { MainThread::post(std::move(done)); }
};

} // namespace

std::shared_ptr<TipStore> shippedTipStore()
{
    return std::make_shared<UnavailableTipStore>();
}

} // namespace vantuli
