#include "tipjar/SupportView.h"

#include "look/Appearance.h"
#include "look/Labels.h"
#include "look/Refresher.h"
#include "look/Studio.h"
#include "look/StudioButton.h"
#include "look/StudioSheetHeading.h"
#include "look/TextStyles.h"
#include "records/L10n.h"
#include "tipjar/SupportCatalog.h"

#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QVBoxLayout>

#include <vector>

namespace vantuli {

namespace {

QString localized(const char *key)
{
    return L10n::shared().text(QString::fromUtf8(key));
}

constexpr const char *bodyKey =
    "Vantuli 免费使用，App 不插播广告。如果它已经成了你每天听电台的地方，欢迎随手支持开发。你的支持会帮助我们修复失效的电台链接、改善实时字幕，继续维护 Mac 版。";

QProgressBar *smallSpinner(QWidget *parent)
{
    auto *bar = new QProgressBar(parent);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedSize(64, 6);
    return bar;
}

} // namespace

struct SupportView::Parts {
    StudioSheetHeading *heading = nullptr;
    QFrame *divider = nullptr;
    LineSpacedLabel *body = nullptr;
    QWidget *productArea = nullptr;
    QVBoxLayout *productLayout = nullptr;
    QProgressBar *loading = nullptr;
    std::vector<StudioButton *> products;
    QStringList productIDs;
    QLabel *empty = nullptr;
    QPushButton *reload = nullptr;
    QWidget *busyRow = nullptr;
    QLabel *busyLabel = nullptr;
    QLabel *pending = nullptr;
    QLabel *note = nullptr;
    QPushButton *done = nullptr;
    Refresher *refresher = nullptr;
    bool wasLoading = false;
};

SupportView::SupportView(SupportCatalog *catalog, QWidget *parent)
    : QWidget(parent), catalog_(catalog), parts_(std::make_unique<Parts>())
{
    setObjectName(QStringLiteral("supportView"));
    setFixedWidth(420);
    Parts &p = *parts_;

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(18);
    column->setSizeConstraint(QLayout::SetMinAndMaxSize);

    p.heading = new StudioSheetHeading(QString(), QStringLiteral("heart"), this);
    column->addWidget(p.heading);

    p.divider = new QFrame(this);
    p.divider->setFrameShape(QFrame::HLine);
    p.divider->setFixedHeight(1);
    column->addWidget(p.divider);

    p.body = new LineSpacedLabel(QString(), this);
    p.body->setObjectName(QStringLiteral("supportText"));
    p.body->setFont(textFont(TextStyle::Body));
    p.body->setLineSpacing(5);
    p.body->setSelectable(true);
    column->addWidget(p.body);

    p.productArea = new QWidget(this);
    p.productLayout = new QVBoxLayout(p.productArea);
    p.productLayout->setContentsMargins(0, 0, 0, 0);
    p.productLayout->setSpacing(10);
    p.loading = smallSpinner(p.productArea);
    p.loading->setObjectName(QStringLiteral("supportLoading"));
    p.productLayout->addWidget(p.loading);
    p.empty = new QLabel(p.productArea);
    p.empty->setObjectName(QStringLiteral("supportEmpty"));
    p.empty->setTextFormat(Qt::PlainText);
    p.empty->setWordWrap(true);
    p.empty->setFont(textFont(TextStyle::Callout));
    p.productLayout->addWidget(p.empty);
    p.reload = new QPushButton(p.productArea);
    p.reload->setObjectName(QStringLiteral("supportReload"));
    p.reload->setFlat(true);
    p.reload->setAutoDefault(false);
    p.productLayout->addWidget(p.reload, 0, Qt::AlignLeft);
    connect(p.reload, &QPushButton::clicked, this, [this] { catalog_->load(); });
    column->addWidget(p.productArea);

    p.busyRow = new QWidget(this);
    auto *busy = new QHBoxLayout(p.busyRow);
    busy->setContentsMargins(0, 0, 0, 0);
    busy->addWidget(smallSpinner(p.busyRow));
    p.busyLabel = new QLabel(p.busyRow);
    p.busyLabel->setObjectName(QStringLiteral("supportConfirming"));
    p.busyLabel->setTextFormat(Qt::PlainText);
    busy->addWidget(p.busyLabel);
    busy->addStretch();
    column->addWidget(p.busyRow);

    for (QLabel **label : {&p.pending, &p.note}) {
        *label = new QLabel(this);
        (*label)->setTextFormat(Qt::PlainText);
        (*label)->setWordWrap(true);
        (*label)->setFont(textFont(TextStyle::Callout));
        column->addWidget(*label);
    }
    p.pending->setObjectName(QStringLiteral("supportPending"));
    p.note->setObjectName(QStringLiteral("supportNote"));

    auto *doneRow = new QHBoxLayout;
    doneRow->addStretch();
    p.done = new QPushButton(this);
    p.done->setObjectName(QStringLiteral("supportDone"));
    p.done->setDefault(true);
    connect(p.done, &QPushButton::clicked, this, &SupportView::done);
    doneRow->addWidget(p.done);
    column->addLayout(doneRow);

    p.refresher = new Refresher([this] { rebuild(); }, this);
    for (auto signal : {&SupportCatalog::productsChanged, &SupportCatalog::loadingChanged, &SupportCatalog::busyChanged,
                        &SupportCatalog::pendingProductsChanged, &SupportCatalog::noteChanged})
        connect(catalog_, signal, p.refresher, &Refresher::schedule);
    connect(&L10n::shared(), &L10n::didChange, p.refresher, &Refresher::schedule);
    connect(&Appearance::shared(), &Appearance::schemeChanged, p.refresher, &Refresher::schedule);
    p.wasLoading = catalog_->loading();
    rebuild();
}

SupportView::~SupportView() = default;

void SupportView::rebuild()
{
    Parts &p = *parts_;
    const bool dark = Appearance::shared().dark();
    const QColor primary = dark ? QColor(236, 240, 238) : QColor(28, 32, 33);
    const QColor secondary = dark ? Studio::mist() : QColor(96, 104, 104);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, primary);
    palette.setColor(QPalette::Text, primary);
    setPalette(palette);
    // The flat reload button lies on the background; "完成" keeps the
    // application's button colours.
    QPalette flat = palette;
    flat.setColor(QPalette::ButtonText, primary);
    p.reload->setPalette(flat);
    QPalette muted = palette;
    muted.setColor(QPalette::WindowText, secondary);
    for (QLabel *label : {p.empty, p.pending, p.note, p.busyLabel})
        label->setPalette(muted);
    p.divider->setStyleSheet(QStringLiteral("background: %1; border: none;")
                                 .arg(dark ? QStringLiteral("rgba(255,255,255,40)") : QStringLiteral("rgba(0,0,0,30)")));
    p.body->setTextColor(primary);

    p.heading->setTitle(localized("支持 Vantuli"));
    p.body->setText(localized(bodyKey));
    p.empty->setText(localized("当前商店暂未提供赞助项目。你可以继续使用全部功能。"));
    p.reload->setText(localized("重新载入"));
    p.busyLabel->setText(localized("正在确认"));
    p.pending->setText(localized("正在等待商店确认。"));
    p.done->setText(localized("完成"));

    // Product buttons follow the catalog's list.
    const auto &products = catalog_->products();
    QStringList ids;
    for (const TipProduct &product : products)
        ids << product.id;
    if (ids != p.productIDs) {
        for (StudioButton *button : p.products)
            delete button;
        p.products.clear();
        p.productIDs = ids;
        int index = p.productLayout->indexOf(p.empty);
        for (const TipProduct &product : products) {
            auto *button = new StudioButton(Studio::pine(), Studio::gold(), 10, p.productArea);
            button->setObjectName(product.id);
            button->setLeadingAligned(true);
            button->setText(product.displayName);
            button->setTrailingText(product.displayPrice);
            button->setFont(textFont(TextStyle::Headline));
            connect(button, &QAbstractButton::clicked, this, [this, id = product.id] {
                for (const TipProduct &candidate : catalog_->products()) {
                    if (candidate.id == id) {
                        catalog_->tip(candidate);
                        return;
                    }
                }
            });
            p.productLayout->insertWidget(index++, button);
            p.products.push_back(button);
        }
    }
    for (std::size_t i = 0; i < p.products.size(); ++i) {
        p.products[i]->setText(products[i].displayName);
        p.products[i]->setTrailingText(products[i].displayPrice);
    }

    const bool loading = catalog_->loading();
    const bool payments = catalog_->canMakePayments();
    const bool offer = !loading && !products.empty() && payments;
    p.loading->setVisible(loading);
    for (std::size_t i = 0; i < p.products.size(); ++i) {
        p.products[i]->setVisible(offer);
        p.products[i]->setEnabled(!catalog_->busy() && !catalog_->pendingProducts().contains(products[i].id));
    }
    p.empty->setVisible(!loading && !offer);
    p.reload->setVisible(!loading && !offer && payments);
    p.busyRow->setVisible(catalog_->busy());
    p.pending->setVisible(!catalog_->pendingProducts().isEmpty());
    p.note->setVisible(catalog_->note().has_value());
    p.note->setText(catalog_->note() ? catalog_->note()->text() : QString());

    // The switch between the indicator and the products fades in, unless
    // motion is reduced.
    if (loading != p.wasLoading) {
        p.wasLoading = loading;
        if (!Appearance::shared().reduceMotion() && isVisible()) {
            auto *effect = new QGraphicsOpacityEffect(p.productArea);
            p.productArea->setGraphicsEffect(effect);
            auto *fade = new QPropertyAnimation(effect, "opacity", effect);
            fade->setDuration(200);
            fade->setStartValue(0.0);
            fade->setEndValue(1.0);
            fade->setEasingCurve(QEasingCurve::InOutQuad);
            connect(fade, &QPropertyAnimation::finished, p.productArea,
                    [area = p.productArea] { area->setGraphicsEffect(nullptr); });
            fade->start();
        }
    }
    update();
}

void SupportView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    catalog_->load();
    parts_->refresher->flush();
}

void SupportView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    catalog_->cancelLoad();
}

void SupportView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Studio::sheetBackground());
}

void SupportView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit done();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SupportView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
}

} // namespace vantuli
