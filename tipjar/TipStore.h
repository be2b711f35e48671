#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <compare>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vantuli {

// An exact decimal amount ("2.99"), compared as a number, never as text.
class TipPrice {
public:
    TipPrice() = default;
    // Parses a plain decimal ("0.99", "12", "-1.5"); anything else gives 0.
    static TipPrice parse(const QString &text);
    std::strong_ordering operator<=>(const TipPrice &other) const;
    bool operator==(const TipPrice &other) const { return (*this <=> other) == 0; }

private:
    qint64 mantissa_ = 0;
    int scale_ = 0; // digits after the point
};

enum class TipProductType { Consumable, NonConsumable, AutoRenewable, NonRenewable };

// One product of the store, shown as the store formats it.
struct TipProduct {
    QString id;
    TipProductType type = TipProductType::Consumable;
    TipPrice price;
    QString displayName;
    QString displayPrice;

    bool operator==(const TipProduct &) const = default;
};

// A completed purchase as the store reports it.
struct TipTransaction {
    quint64 id = 0;
    QString productID;
    TipProductType productType = TipProductType::Consumable;
    std::optional<QDateTime> revocationDate;
};

// A transaction with the store's verdict on its signature.
struct TipVerification {
    TipTransaction transaction;
    bool verified = false;
};

// What a purchase ended with.
struct TipPurchaseResult {
    enum class Kind {
        Success,   // `verification` holds the transaction
        Cancelled, // the user cancelled
        Pending,   // waits for approval; completes later through the updates
        Other,     // an outcome this application does not handle
        Error,     // the purchase failed
    };
    Kind kind = Kind::Error;
    std::optional<TipVerification> verification;
    QString error;
};

struct TipProductsResult {
    bool ok = false;
    std::vector<TipProduct> products; // in the store's order
    QString error;
};

// The in-app purchase service the tip jar talks to. Answers may come on any
// thread; the catalog brings them back to the main thread.
class TipStore {
public:
    virtual ~TipStore() = default;

    // Whether this user and machine may make purchases.
    virtual bool canMakePayments() const = 0;
    // Asks for the products of `ids` (unknown ids are simply missing). The
    // returned function cancels the request: the store then answers with a
    // failure, or with the products if they were already on their way.
    virtual std::function<void()> products(const QStringList &ids,
                                           std::function<void(TipProductsResult)> done) = 0;
    // Presents the store's purchase of one product.
    virtual void purchase(const TipProduct &product, std::function<void(TipPurchaseResult)> done) = 0;
    // Transactions completed outside a purchase call (approved pending
    // purchases), for as long as the store runs.
    virtual void updates(std::function<void(TipVerification)> handler) = 0;
    // Tells the store the purchase was delivered, so it is not reported again.
    virtual void finish(const TipTransaction &transaction, std::function<void()> done) = 0;
};

// The store this build ships with: Linux has no in-app purchase service, so
// payments cannot be made and no product is ever offered.
std::shared_ptr<TipStore> shippedTipStore();

} // namespace vantuli
