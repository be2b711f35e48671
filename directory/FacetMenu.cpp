#include "directory/FacetMenu.h"

#include "look/Appearance.h"
#include "look/Icons.h"
#include "look/Studio.h"
#include "look/TextStyles.h"
#include "records/Formats.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

namespace vantuli {

namespace {

constexpr int buttonPadding = 7;
constexpr int buttonSpacing = 5;
constexpr int chevronSize = 9;
constexpr int symbolSize = 13;
constexpr int checkSize = 11;
constexpr int rowPadding = 5;
constexpr int rowSpacing = 6;
constexpr QSize popupSize(238, 310);

QFont buttonFont()
{
    QFont font = textFont(TextStyle::Body, QFont::Medium);
    font.setPixelSize(12);
    return font;
}

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

} // namespace

// ---- The popup's rows ----

FacetChoiceModel::FacetChoiceModel(QObject *parent) : QAbstractListModel(parent) {}

void FacetChoiceModel::fill(const QString &allLabel, const std::vector<DirectoryChoice> *choices,
                            const QString &selection, const QString &query)
{
    beginResetModel();
    allLabel_ = allLabel;
    choices_ = choices;
    selection_ = selection;
    query_ = query;
    filter();
    endResetModel();
}

void FacetChoiceModel::clear()
{
    beginResetModel();
    choices_ = nullptr;
    rows_.clear();
    endResetModel();
}

void FacetChoiceModel::setQuery(const QString &query)
{
    if (query == query_)
        return;
    beginResetModel();
    query_ = query;
    filter();
    endResetModel();
}

void FacetChoiceModel::filter()
{
    // One pass over the choices per change of the query; the query is used
    // exactly as typed.
    rows_.clear();
    if (!choices_)
        return;
    rows_.reserve(choices_->size());
    for (size_t i = 0; i < choices_->size(); ++i) {
        const DirectoryChoice &choice = (*choices_)[i];
        if (query_.isEmpty() || choice.label.contains(query_, Qt::CaseInsensitive)
            || choice.id.contains(query_, Qt::CaseInsensitive))
            rows_.push_back(int(i));
    }
}

int FacetChoiceModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_.size()) + 1;
}

QVariant FacetChoiceModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() > int(rows_.size()))
        return {};
    const bool all = index.row() == 0;
    const DirectoryChoice *choice = all || !choices_ ? nullptr : &(*choices_)[size_t(rows_[size_t(index.row() - 1)])];
    const QString id = choice ? choice->id : QString();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return choice ? choice->label : allLabel_;
    case IdRole:
        return id;
    case CountRole:
        return choice ? QVariant(choice->count) : QVariant();
    case CheckedRole:
        return selection_ == id;
    default:
        return {};
    }
}

void FacetChoiceDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    const QRect rect = option.rect.adjusted(4, 0, -4, 0);
    // The row the arrow keys stand on (and Return picks) is lit more than a
    // row under the pointer.
    const auto *view = qobject_cast<const QAbstractItemView *>(option.widget);
    const bool current = view && view->currentIndex() == index;
    if (current || (option.state & QStyle::State_MouseOver)) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(option.rect).adjusted(0, 1, 0, -1), 5, 5);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->fillPath(shape, current ? withAlpha(Studio::gold(), 0.28) : withAlpha(Qt::white, 0.08));
    }
    const int checkX = rect.right() + 1 - checkSize;
    if (index.data(FacetChoiceModel::CheckedRole).toBool()) {
        static QPixmap check;
        static qreal checkRatio = 0;
        const qreal ratio = painter->device()->devicePixelRatioF();
        if (checkRatio != ratio) {
            check = symbolPixmap(QStringLiteral("checkmark"), Studio::gold(), checkSize, ratio);
            checkRatio = ratio;
        }
        painter->drawPixmap(checkX, rect.top() + (rect.height() - checkSize) / 2, check);
    }
    int right = checkX - rowSpacing;
    const QVariant count = index.data(FacetChoiceModel::CountRole);
    if (count.isValid()) {
        const QString text = Formats::wholeNumber(count.toLongLong());
        const QFont font = monoDigitFont(pixelSize(TextStyle::Caption));
        const int width = QFontMetrics(font).horizontalAdvance(text);
        painter->setFont(font);
        painter->setPen(Studio::mist());
        painter->drawText(QRect(right - width, rect.top(), width, rect.height()), Qt::AlignRight | Qt::AlignVCenter, text);
        right -= width + rowSpacing;
    }
    const QFont font = textFont(TextStyle::Body);
    painter->setFont(font);
    painter->setPen(Qt::white);
    const QRect textRect(rect.left(), rect.top(), qMax(0, right - rect.left()), rect.height());
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      QFontMetrics(font).elidedText(index.data().toString(), Qt::ElideRight, textRect.width()));
    painter->restore();
}

QSize FacetChoiceDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return {100, QFontMetrics(textFont(TextStyle::Body)).height() + 2 * rowPadding};
}

// ---- The button ----

FacetMenu::FacetMenu(QWidget *parent)
    : StudioButton(Qt::white, withAlpha(Qt::white, 0.09), buttonPadding, parent), popup_(new FacetPopup(this))
{
    setFont(buttonFont());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, &FacetMenu::toggle);
    connect(popup_, &FacetPopup::picked, this, [this](const QString &id) {
        popup_->close();
        emit picked(id);
    });
    refreshLook();
}

FacetMenu::~FacetMenu() = default;

void FacetMenu::setTexts(const FacetTexts &texts)
{
    const bool iconChanged = texts.icon != texts_.icon;
    texts_ = texts;
    if (iconChanged)
        pixmapRatio_ = 0;
    refreshLook();
}

void FacetMenu::setChoices(std::vector<DirectoryChoice> choices)
{
    // An empty value is no facet: choosing it would clear the filter while
    // the button showed it as chosen.
    std::erase_if(choices, [](const DirectoryChoice &choice) { return choice.id.isEmpty(); });
    if (choices == choices_)
        return;
    choices_ = std::move(choices);
    refreshLook();
}

void FacetMenu::setSelection(const QString &id)
{
    if (id == selection_)
        return;
    selection_ = id;
    refreshLook();
}

QString FacetMenu::label() const
{
    for (const DirectoryChoice &choice : choices_) {
        if (choice.id == selection_)
            return choice.label;
    }
    return texts_.title;
}

bool FacetMenu::isOpen() const
{
    return popup_->isVisible();
}

void FacetMenu::toggle()
{
    popup_->setQuery(QString());
    if (popup_->isVisible()) {
        popup_->close();
        return;
    }
    popup_->open(texts_, &choices_, selection_);
}

void FacetMenu::refreshLook()
{
    const QString shown = label();
    setForeground(selection_.isEmpty() ? QColor(Qt::white) : Studio::gold());
    setToolTip(shown.toHtmlEscaped());
    setAccessibleName(selection_.isEmpty() ? texts_.title : texts_.title + QStringLiteral(", ") + shown);
    setText(shown);
    updateGeometry();
    update();
}

int FacetMenu::textWidth() const
{
    return width() - 2 * padding() - symbolSize - 2 * buttonSpacing - chevronSize;
}

QString FacetMenu::shownText() const
{
    const QFontMetrics metrics(font());
    const QString full = label();
    const int available = textWidth();
    if (metrics.horizontalAdvance(full) <= available)
        return full;
    if (selection_.isEmpty() && texts_.shortTitle && metrics.horizontalAdvance(*texts_.shortTitle) <= available)
        return *texts_.shortTitle;
    return metrics.elidedText(full, Qt::ElideRight, qMax(0, available));
}

QSize FacetMenu::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {2 * padding() + symbolSize + 2 * buttonSpacing + chevronSize + metrics.horizontalAdvance(label()),
            2 * padding() + qMax(metrics.height(), symbolSize)};
}

QSize FacetMenu::minimumSizeHint() const
{
    const QSize hint = sizeHint();
    return {2 * padding() + symbolSize + 2 * buttonSpacing + chevronSize + 24, hint.height()};
}

void FacetMenu::resizeEvent(QResizeEvent *event)
{
    StudioButton::resizeEvent(event);
    update();
}

void FacetMenu::paintEvent(QPaintEvent *)
{
    // The studio button's fill, hover tint and press feedback, with the
    // facet's own label row: symbol, text, flexible space, chevron.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    const double press = pressProgress();
    painter.setOpacity(1.0 - 0.25 * press);
    if (press > 0 && !Appearance::shared().reduceMotion()) {
        const double scale = 1.0 - 0.04 * press;
        painter.translate(bounds.center());
        painter.scale(scale, scale);
        painter.translate(-bounds.center());
    }
    QPainterPath shape;
    shape.addRoundedRect(bounds, 7, 7);
    painter.fillPath(shape, fill());
    if (hoverProgress() > 0)
        painter.fillPath(shape, withAlpha(foreground(), 0.1 * hoverProgress()));
    if (hasFocus()) {
        painter.setPen(QPen(withAlpha(foreground(), 0.5), 1.5));
        painter.drawRoundedRect(bounds.adjusted(1, 1, -1, -1), 6, 6);
    }

    const qreal ratio = devicePixelRatioF();
    const QColor tint = foreground();
    if (pixmapRatio_ != ratio || pixmapTint_ != tint) {
        iconPixmap_ = symbolPixmap(texts_.icon, tint, symbolSize, ratio);
        chevron_ = symbolPixmap(QStringLiteral("chevron.down"), tint, chevronSize, ratio);
        pixmapTint_ = tint;
        pixmapRatio_ = ratio;
    }
    const QRect content = rect().adjusted(padding(), padding(), -padding(), -padding());
    int x = content.left();
    painter.drawPixmap(x, content.top() + (content.height() - symbolSize) / 2, iconPixmap_);
    x += symbolSize + buttonSpacing;
    painter.setFont(font());
    painter.setPen(tint);
    painter.drawText(QRect(x, content.top(), qMax(0, textWidth()), content.height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shownText());
    painter.drawPixmap(content.right() + 1 - chevronSize, content.top() + (content.height() - chevronSize) / 2, chevron_);
}

// ---- The popup ----

FacetPopup::FacetPopup(FacetMenu *menu)
    : QFrame(menu, Qt::Popup), menu_(menu), title_(new QLabel(this)), search_(new QLineEdit(this)),
      list_(new QListView(this)), model_(new FacetChoiceModel(this))
{
    setFixedSize(popupSize);
    setPalette(Studio::darkPalette(Studio::side()));
    setAutoFillBackground(false);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(8);

    title_->setFont(textFont(TextStyle::Headline));
    title_->setTextFormat(Qt::PlainText);
    layout->addWidget(title_);

    search_->setFont(textFont(TextStyle::Body));
    search_->setClearButtonEnabled(false);
    search_->installEventFilter(this);
    layout->addWidget(search_);
    connect(search_, &QLineEdit::textChanged, model_, &FacetChoiceModel::setQuery);
    // After each keystroke the first match is the current row, so Return
    // picks it: the all row for an empty field, no row when nothing matches.
    connect(search_, &QLineEdit::textEdited, this, [this](const QString &text) {
        model_->setQuery(text);
        const QModelIndex first = text.isEmpty() ? model_->index(0) : model_->index(1);
        list_->setCurrentIndex(first);
        if (first.isValid())
            list_->scrollTo(first);
    });

    list_->setModel(model_);
    list_->setItemDelegate(new FacetChoiceDelegate(list_));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setUniformItemSizes(true);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Studio::useOverlayScrollBars(list_);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setMouseTracking(true);
    list_->setAttribute(Qt::WA_Hover);
    list_->viewport()->setAutoFillBackground(false);
    list_->setSpacing(1);
    layout->addWidget(list_, 1);
    connect(list_, &QListView::clicked, this, [this](const QModelIndex &index) {
        emit picked(index.data(FacetChoiceModel::IdRole).toString());
    });
    connect(list_, &QListView::activated, this, [this](const QModelIndex &index) {
        emit picked(index.data(FacetChoiceModel::IdRole).toString());
    });
}

void FacetPopup::open(const FacetTexts &texts, const std::vector<DirectoryChoice> *choices, const QString &selection)
{
    title_->setText(texts.title);
    search_->setPlaceholderText(texts.searchLabel);
    search_->setAccessibleName(texts.searchLabel);
    model_->fill(texts.allLabel, choices, selection, search_->text());
    list_->scrollToTop();
    place();
    show();
    search_->setFocus(Qt::PopupFocusReason);
}

QString FacetPopup::query() const
{
    return search_->text();
}

void FacetPopup::setQuery(const QString &query)
{
    search_->setText(query);
}

void FacetPopup::place()
{
    // Under the button with its leading edge on the button's, as a menu
    // opens; above the button where the screen has no room below; and kept
    // on the screen that shows the button.
    const QRect button(menu_->mapToGlobal(QPoint(0, 0)), menu_->size());
    constexpr int gap = 4;
    QPoint origin(menu_->isRightToLeft() ? button.right() + 1 - width() : button.left(), button.bottom() + 1 + gap);
    const QScreen *screen = QGuiApplication::screenAt(button.center());
    if (!screen)
        screen = menu_->screen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        if (origin.y() + height() > area.bottom() + 1 && button.top() - gap - height() >= area.top())
            origin.setY(button.top() - gap - height());
        origin.setX(qBound(area.left(), origin.x(), qMax(area.left(), area.right() + 1 - width())));
        origin.setY(qBound(area.top(), origin.y(), qMax(area.top(), area.bottom() + 1 - height())));
    }
    // The popup's own rectangle: it has no frame of its own around it.
    setGeometry(QRect(origin, size()));
}

void FacetPopup::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Studio::side());
    painter.setPen(QPen(withAlpha(Studio::mist(), 0.45), 1));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
}

void FacetPopup::mousePressEvent(QMouseEvent *event)
{
    // A press on our own button closes the popup and ends there: replayed to
    // the button, it would open the popup again at once.
    if (!rect().contains(event->position().toPoint())) {
        const QPoint onButton = menu_->mapFromGlobal(event->globalPosition().toPoint());
        setAttribute(Qt::WA_NoMouseReplay, menu_->rect().contains(onButton));
        if (menu_->rect().contains(onButton))
            search_->clear();
        close();
        return;
    }
    QFrame::mousePressEvent(event);
}

bool FacetPopup::eventFilter(QObject *watched, QEvent *event)
{
    // While the listener types, the arrow keys move through the rows and
    // Return picks the row they stand on.
    if (watched == search_ && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            QCoreApplication::sendEvent(list_, key);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (list_->currentIndex().isValid())
                emit picked(list_->currentIndex().data(FacetChoiceModel::IdRole).toString());
            return true;
        default:
            break;
        }
    }
    return QFrame::eventFilter(watched, event);
}

void FacetPopup::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    model_->clear();
    emit closed();
}

} // namespace vantuli
