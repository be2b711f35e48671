#pragma once

#include "records/DisplayMessage.h"
#include "tipjar/TipStore.h"

#include <QObject>
#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vantuli {

// The tip jar's model: the three tip products in price order, one purchase
// at a time, and the listener that finishes purchases the store completes
// later. One per run, on the main thread.
class SupportCatalog : public QObject {
    Q_OBJECT

public:
    // Buys one product; the window's purchase goes through the store.
    using Purchase = std::function<void(const TipProduct &, std::function<void(TipPurchaseResult)>)>;

    static const QStringList &ids();
    static constexpr const char *thanksKey = "谢谢你支持 Vantuli。祝你收听愉快！";
    static constexpr const char *unverifiedKey = "交易暂时无法验证。";
    static constexpr const char *storeProblemKey = "请稍后查看商店状态。";

    explicit SupportCatalog(std::shared_ptr<TipStore> store = shippedTipStore(), QObject *parent = nullptr);
    ~SupportCatalog() override;

    const std::vector<TipProduct> &products() const { return products_; }
    bool loading() const { return loading_; }
    bool busy() const { return busy_; }
    const QSet<QString> &pendingProducts() const { return pendingProducts_; }
    const std::optional<DisplayMessage> &note() const { return note_; }
    bool canMakePayments() const;

    // Fetches the products; does nothing while loading or buying.
    void load();
    // Cancels a running load: a failure then keeps the products shown.
    void cancelLoad();
    // Buys one of `products()` through the store, or through `purchase`.
    void tip(const TipProduct &product);
    void tip(const TipProduct &product, Purchase purchase);
    // Starts following the store's transaction updates (once per run).
    void watch();

signals:
    void productsChanged();
    void loadingChanged();
    void busyChanged();
    void pendingProductsChanged();
    void noteChanged();

private:
    void setProducts(std::vector<TipProduct> products);
    void setLoading(bool loading);
    void setBusy(bool busy);
    void setNote(std::optional<DisplayMessage> note);
    void finishPurchase(const TipProduct &product, const TipPurchaseResult &result);
    void receive(const TipVerification &update);

    std::shared_ptr<TipStore> store_;
    std::vector<TipProduct> products_;
    bool loading_ = false;
    bool busy_ = false;
    QSet<QString> pendingProducts_;
    std::optional<DisplayMessage> note_;
    std::function<void()> cancelRequest_;
    quint64 loadGeneration_ = 0;
    bool loadCancelled_ = false;
    bool watching_ = false;
};

} // namespace vantuli
