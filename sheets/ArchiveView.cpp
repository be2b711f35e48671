#include "sheets/ArchiveView.h"

#include "look/Appearance.h"
#include "look/Icons.h"
#include "look/Labels.h"
#include "look/Refresher.h"
#include "look/StudioSheetHeading.h"
#include "look/TextStyles.h"
#include "records/Formats.h"
#include "records/L10n.h"
#include "sheets/SheetLook.h"
#include "store/RadioStore.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace vantuli {

namespace {

constexpr int searchDebounceMs = 220;
constexpr int copiedMarkMs = 2000;

QString L(const QString &key)
{
    return L10n::shared().text(key);
}

bool dark()
{
    return Appearance::shared().dark();
}

// A text for a button label, its "&" shown rather than taken as a shortcut mark.
QString B(const QString &key)
{
    return L(key).replace(QLatin1Char('&'), QLatin1String("&&"));
}

QLabel *styledLabel(const QString &text, TextStyle style, QFont::Weight weight = QFont::Normal)
{
    QLabel *label = sheetlook::plainLabel(text);
    label->setFont(textFont(style, weight));
    label->setWordWrap(true);
    return label;
}

} // namespace

// ---- One caption block: divider, header with the copy button, paragraphs ----

class ArchiveView::BlockView final : public QWidget {
public:
    BlockView(const ArchiveCaptionBlock &block, bool first, std::function<void(qint64)> copy, QWidget *parent)
        : QWidget(parent), id_(block.id), first_(first)
    {
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(12);
        if (!first) {
            auto *rule = new QWidget(this);
            auto *ruleLayout = new QVBoxLayout(rule);
            ruleLayout->setContentsMargins(0, 4, 0, 4);
            ruleLayout->addWidget(sheetlook::divider(rule));
            layout->addWidget(rule);
        }

        auto *header = new QWidget(this);
        auto *headerLayout = new QHBoxLayout(header);
        headerLayout->setContentsMargins(0, 0, 0, 0);
        auto *titles = new QWidget(header);
        titles->setObjectName(QStringLiteral("archiveBlockHeader"));
        auto *titleLayout = new QVBoxLayout(titles);
        titleLayout->setContentsMargins(0, 0, 0, 0);
        titleLayout->setSpacing(4);
        station_ = styledLabel(block.station, TextStyle::Headline, QFont::Bold);
        date_ = styledLabel(QString(), TextStyle::Caption);
        titleLayout->addWidget(station_);
        titleLayout->addWidget(date_);
        headerLayout->addWidget(titles, 1, Qt::AlignTop);

        copy_ = new QToolButton(header);
        copy_->setObjectName(QStringLiteral("archiveCopyBlock"));
        copy_->setAutoRaise(true);
        copy_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        copy_->setFocusPolicy(Qt::TabFocus);
        const qint64 id = block.id;
        QObject::connect(copy_, &QToolButton::clicked, this, [copy = std::move(copy), id] { copy(id); });
        headerLayout->addWidget(copy_, 0, Qt::AlignTop);
        layout->addWidget(header);

        paragraphs_ = new QVBoxLayout;
        paragraphs_->setContentsMargins(0, 0, 0, 0);
        paragraphs_->setSpacing(12);
        layout->addLayout(paragraphs_);
        sync(block, first);
        applyScheme();
    }

    qint64 id() const { return id_; }

    // Brings the view up to the block; false when the block is not this
    // view's block grown by older paragraphs (the caller builds a new view).
    bool sync(const ArchiveCaptionBlock &block, bool first)
    {
        if (block.id != id_ || first != first_ || block.paragraphs.size() < shown_.size())
            return false;
        for (size_t i = 0; i < shown_.size(); ++i)
            if (shown_[i] != block.paragraphs[i])
                return false;
        station_->setText(block.station);
        date_->setText(Formats::dateTime(block.date));
        findChild<QWidget *>(QStringLiteral("archiveBlockHeader"))
            ->setAccessibleName(block.station + QStringLiteral(", ") + date_->text());
        // Stored newest first, shown oldest first: older paragraphs go on top.
        for (size_t i = shown_.size(); i < block.paragraphs.size(); ++i) {
            auto *text = new LineSpacedLabel(block.paragraphs[i].text, this);
            text->setObjectName(QStringLiteral("archiveParagraph"));
            text->setProperty("paragraphID", block.paragraphs[i].id);
            text->setFont(serifFont(17));
            text->setLineSpacing(4);
            text->setSelectable(true);
            text->setTextColor(sheetlook::primaryText(dark()));
            text->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
            paragraphs_->insertWidget(0, text);
            shown_.push_back(block.paragraphs[i]);
        }
        return true;
    }

    void setCopyState(bool copied, bool enabled)
    {
        copy_->setEnabled(enabled);
        copy_->setText(B(copied ? QStringLiteral("已复制") : QStringLiteral("复制字幕段")));
        copy_->setIcon(symbolIcon(copied ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc"),
                                  sheetlook::primaryText(dark())));
    }

    void applyScheme()
    {
        sheetlook::setSecondary(date_, dark());
        for (auto *text : findChildren<LineSpacedLabel *>(QStringLiteral("archiveParagraph")))
            text->setTextColor(sheetlook::primaryText(dark()));
    }

    QWidget *paragraph(qint64 id) const
    {
        for (auto *text : findChildren<LineSpacedLabel *>(QStringLiteral("archiveParagraph")))
            if (text->property("paragraphID").toLongLong() == id)
                return text;
        return nullptr;
    }

private:
    qint64 id_;
    bool first_;
    QLabel *station_;
    QLabel *date_;
    QToolButton *copy_;
    QVBoxLayout *paragraphs_;
    std::vector<ArchiveCaptionBlock::Paragraph> shown_; // newest first
};

// ---- The sheet ----

ArchiveView::ArchiveView(RadioStore *radio, QWidget *parent)
    : QDialog(parent), radio_(radio), paging_([radio] { return radio ? radio->archive() : nullptr; })
{
    setWindowModality(Qt::WindowModal);
    setFixedSize(650, 525);
    setAutoFillBackground(true);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(14);

    heading_ = new StudioSheetHeading(QString(), QStringLiteral("archivebox"), this);
    layout->addWidget(heading_);
    note_ = styledLabel(QString(), TextStyle::Callout);
    layout->addWidget(note_);

    // Mode, search and refresh.
    auto *controls = new QHBoxLayout;
    controls->setSpacing(8);
    auto *segments = new QWidget(this);
    segments->setObjectName(QStringLiteral("archiveMode"));
    auto *segmentLayout = new QHBoxLayout(segments);
    segmentLayout->setContentsMargins(0, 0, 0, 0);
    segmentLayout->setSpacing(0);
    captionsMode_ = new sheetlook::SegmentButton(sheetlook::SegmentButton::Side::Left, segments);
    captionsMode_->setObjectName(QStringLiteral("archiveCaptionsMode"));
    sessionsMode_ = new sheetlook::SegmentButton(sheetlook::SegmentButton::Side::Right, segments);
    sessionsMode_->setObjectName(QStringLiteral("archiveSessionsMode"));
    auto *modes = new QButtonGroup(this);
    for (QPushButton *button : {captionsMode_, sessionsMode_}) {
        button->setCheckable(true);
        button->setAutoDefault(false);
        modes->addButton(button);
        segmentLayout->addWidget(button);
    }
    modes->setExclusive(true);
    captionsMode_->setChecked(true);
    connect(captionsMode_, &QPushButton::toggled, this, [this](bool on) {
        if (on == paging_.captions())
            return;
        paging_.setCaptions(on);
        load(false);
    });
    controls->addWidget(segments);

    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("archiveSearch"));
    search_->installEventFilter(this);
    controls->addWidget(search_, 1);
    refresh_ = new QPushButton(this);
    refresh_->setObjectName(QStringLiteral("archiveRefresh"));
    refresh_->setAutoDefault(false);
    connect(refresh_, &QPushButton::clicked, this, [this] { load(false); });
    controls->addWidget(refresh_);
    layout->addLayout(controls);

    failure_ = styledLabel(QString(), TextStyle::Body);
    failure_->setObjectName(QStringLiteral("archiveFailure"));
    failure_->hide();
    layout->addWidget(failure_);

    // The content: the caption list, the sessions list or the empty view.
    content_ = new QStackedWidget(this);
    empty_ = new QWidget(content_);
    empty_->setObjectName(QStringLiteral("archiveEmpty"));
    auto *emptyLayout = new QVBoxLayout(empty_);
    emptyLayout->addStretch(1);
    emptyIcon_ = new QLabel(empty_);
    emptyIcon_->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(emptyIcon_);
    emptyTitle_ = styledLabel(QString(), TextStyle::Title2, QFont::Bold);
    emptyTitle_->setObjectName(QStringLiteral("archiveEmptyTitle"));
    emptyTitle_->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(emptyTitle_);
    emptyLayout->addStretch(1);
    content_->addWidget(empty_);

    const auto makeList = [this](const QString &name, QVBoxLayout *&column, QPushButton *&more, int spacing) {
        auto *scroll = new QScrollArea(content_);
        scroll->setObjectName(name);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        auto *inner = new QWidget(scroll);
        inner->setAutoFillBackground(true);
        auto *innerLayout = new QVBoxLayout(inner);
        innerLayout->setContentsMargins(16, 16, 16, 16);
        innerLayout->setSpacing(spacing);
        column = new QVBoxLayout;
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(spacing);
        innerLayout->addLayout(column);
        more = makeLoadMore(inner);
        innerLayout->addWidget(more, 0, Qt::AlignLeft);
        innerLayout->addStretch(1);
        scroll->setWidget(inner);
        content_->addWidget(scroll);
        return scroll;
    };
    captionList_ = makeList(QStringLiteral("archiveCaptionBlocks"), blockColumn_, captionsMore_, 12);
    sessionList_ = makeList(QStringLiteral("archiveSessions"), rowColumn_, sessionsMore_, 0);
    layout->addWidget(content_, 1);

    // Clear and done.
    auto *bottom = new QHBoxLayout;
    clear_ = new QPushButton(this);
    clear_->setObjectName(QStringLiteral("archiveClear"));
    clear_->setAutoDefault(false);
    connect(clear_, &QPushButton::clicked, this, &ArchiveView::confirmClear);
    bottom->addWidget(clear_);
    bottom->addStretch(1);
    done_ = new QPushButton(this);
    done_->setObjectName(QStringLiteral("archiveDone"));
    done_->setDefault(true);
    connect(done_, &QPushButton::clicked, this, &QDialog::accept);
    bottom->addWidget(done_);
    layout->addLayout(bottom);

    // Typing reloads 0.22 s after the last edit; clearing the field at once.
    debounce_ = new QTimer(this);
    debounce_->setSingleShot(true);
    debounce_->setTimerType(Qt::PreciseTimer);
    debounce_->setInterval(searchDebounceMs);
    connect(debounce_, &QTimer::timeout, this, [this] { load(false); });
    connect(search_, &QLineEdit::textChanged, this, [this](const QString &text) {
        paging_.setQuery(text);
        if (text.isEmpty()) {
            debounce_->stop();
            load(false);
        } else {
            debounce_->start();
            refresh();
        }
    });

    copiedReset_ = new QTimer(this);
    copiedReset_->setSingleShot(true);
    copiedReset_->setInterval(copiedMarkMs);
    connect(copiedReset_, &QTimer::timeout, this, [this] {
        copiedBlockID_.reset();
        refresh();
    });

    refresher_ = new Refresher([this] { refresh(); }, this);
    if (radio_)
        connect(radio_, &RadioStore::archiveFailedChanged, refresher_, &Refresher::schedule);
    connect(&L10n::shared(), &L10n::didChange, this, [this] {
        buildTexts();
        // Dates and numbers follow the display locale: build the lists anew.
        for (BlockView *view : blockViews_)
            delete view;
        blockViews_.clear();
        shownRows_.clear();
        while (QLayoutItem *item = rowColumn_->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        refresh();
    });
    connect(&Appearance::shared(), &Appearance::schemeChanged, this, &ArchiveView::applyScheme);

    buildTexts();
    applyScheme();
    refresh();
}

ArchiveView::~ArchiveView() = default;

QPushButton *ArchiveView::makeLoadMore(QWidget *parent)
{
    auto *more = new QPushButton(parent);
    more->setObjectName(QStringLiteral("archiveLoadMore"));
    more->setAutoDefault(false);
    more->hide();
    connect(more, &QPushButton::clicked, this, [this] { load(true); });
    return more;
}

void ArchiveView::buildTexts()
{
    setWindowTitle(L(QStringLiteral("本机收听档案")));
    heading_->setTitle(L(QStringLiteral("本机收听档案")));
    note_->setText(L(QStringLiteral("档案只保存在这台 Mac。字幕和播放记录保留至你主动清空。")));
    captionsMode_->setText(B(QStringLiteral("实时字幕")));
    sessionsMode_->setText(B(QStringLiteral("收听与连接")));
    search_->setPlaceholderText(L(QStringLiteral("搜索台名或字幕")));
    search_->setToolTip(search_->placeholderText().toHtmlEscaped()); // whole where the field cuts it short
    search_->setAccessibleName(search_->placeholderText());
    refresh_->setText(B(QStringLiteral("刷新")));
    failure_->setText(L(QStringLiteral("无法读取或写入本机档案。")));
    for (QPushButton *more : {captionsMore_, sessionsMore_})
        more->setText(B(QStringLiteral("显示更多记录")));
    clear_->setText(B(QStringLiteral("清空本机档案")));
    done_->setText(B(QStringLiteral("完成")));
}

void ArchiveView::applyScheme()
{
    const bool isDark = dark();
    setPalette(sheetlook::palette(isDark));
    sheetlook::setSecondary(note_, isDark);
    sheetlook::setSecondary(failure_, isDark);
    sheetlook::setSecondary(emptyTitle_, isDark);
    emptyIcon_->setPixmap(symbolPixmap(QStringLiteral("archivebox"), sheetlook::secondaryText(isDark), 44,
                                       devicePixelRatioF()));
    for (QScrollArea *list : {captionList_, sessionList_}) {
        QPalette p = list->widget()->palette();
        p.setColor(QPalette::Window, list == captionList_ ? sheetlook::windowBackground(isDark)
                                                          : palette().color(QPalette::Base));
        list->widget()->setPalette(p);
    }
    // Red only while it can be pressed: disabled, it looks disabled.
    QPalette destructive = clear_->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        destructive.setColor(group, QPalette::ButtonText, isDark ? QColor(0xFF, 0x6B, 0x5E) : QColor(0xC4, 0x2B, 0x1C));
    clear_->setPalette(destructive);
    for (BlockView *view : blockViews_)
        view->applyScheme();
    for (auto *label : sessionList_->widget()->findChildren<QLabel *>(QStringLiteral("archiveSecondary")))
        sheetlook::setSecondary(label, isDark);
    refresh();
}

void ArchiveView::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!shown_) {
        shown_ = true;
        load(false);
    }
}

void ArchiveView::hideEvent(QHideEvent *event)
{
    // Closing the sheet drops a pending search reload and the copied mark.
    debounce_->stop();
    copiedReset_->stop();
    QDialog::hideEvent(event);
}

bool ArchiveView::eventFilter(QObject *watched, QEvent *event)
{
    // Return in the search field loads at once and stays in the sheet.
    if (watched == search_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            load(false);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ArchiveView::load(bool more)
{
    paging_.load(more);
    refresh();
    if (more && paging_.scrollToParagraph())
        scrollToParagraph(*paging_.scrollToParagraph());
    emit pageLoaded();
}

void ArchiveView::copy(qint64 blockID)
{
    const auto &blocks = paging_.blocks();
    const auto it = std::find_if(blocks.begin(), blocks.end(),
                                 [blockID](const ArchiveCaptionBlock &b) { return b.id == blockID; });
    if (it == blocks.end())
        return;
    const ArchiveCaptionBlock block = *it;
    if (const std::optional<QString> text = paging_.copyText(block)) {
        QClipboard *clipboard = QApplication::clipboard();
        clipboard->setText(*text);
        // Only a write the clipboard took shows the mark.
        if (clipboard->text() == *text)
            setCopied(block.id);
    }
    refresh();
}

void ArchiveView::setCopied(std::optional<qint64> id)
{
    // Copying the marked block again neither moves nor extends the mark.
    if (copiedBlockID_ == id)
        return;
    copiedBlockID_ = id;
    if (id)
        copiedReset_->start();
    else
        copiedReset_->stop();
}

void ArchiveView::confirmClear()
{
    auto *box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("archiveClearConfirmation"));
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(L(QStringLiteral("清空本机档案")));
    box->setTextFormat(Qt::PlainText);
    box->setText(L(QStringLiteral("清空本机档案")));
    box->setInformativeText(L(QStringLiteral("将删除已保存的字幕、收听历史和连接记录。继续收听会产生新记录。")));
    QPushButton *confirm = box->addButton(B(QStringLiteral("清空")), QMessageBox::DestructiveRole);
    confirm->setObjectName(QStringLiteral("archiveClearConfirm"));
    QPushButton *cancel = box->addButton(B(QStringLiteral("取消")), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("archiveClearCancel"));
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    connect(box, &QMessageBox::buttonClicked, this, [this, confirm](QAbstractButton *clicked) {
        if (clicked != confirm)
            return;
        try {
            if (!radio_)
                throw FileWriteError();
            radio_->clearLocalArchive();
        } catch (...) {
            paging_.setFailed(true);
            refresh();
            return;
        }
        load(false);
    });
    box->open();
}

void ArchiveView::refresh()
{
    const bool captions = paging_.captions();
    const bool failed = paging_.failed() || (radio_ && radio_->archiveFailed());
    failure_->setVisible(failed);
    clear_->setEnabled(radio_ && radio_->archive());
    captionsMode_->setChecked(captions);
    sessionsMode_->setChecked(!captions);

    const bool hasContent = captions ? !paging_.blocks().empty() : !paging_.rows().empty();
    if (captions)
        syncBlocks();
    else
        syncRows();
    content_->setCurrentWidget(hasContent ? (captions ? captionList_ : sessionList_) : empty_);
    // Without a search nothing can fail to match: the archive is just empty.
    // Without an archive nothing matches, which says no more than is known.
    const bool archive = radio_ && radio_->archive();
    const bool searched = paging_.loadedFilter() && !paging_.loadedFilter()->query.isEmpty();
    emptyTitle_->setText(L(searched || !archive ? QStringLiteral("没有匹配的本机记录") : QStringLiteral("还没有本机记录")));
    // An archive that could not be read has nothing to show but its
    // failure: saying nothing was recorded would be a guess.
    const bool unreadable = archive && paging_.failed();
    emptyIcon_->setVisible(!unreadable);
    emptyTitle_->setVisible(!unreadable);

    const bool stale = paging_.stale();
    for (QPushButton *more : {captionsMore_, sessionsMore_}) {
        more->setVisible(paging_.hasMore());
        more->setEnabled(!stale);
    }
    for (BlockView *view : blockViews_)
        view->setCopyState(copiedBlockID_ == view->id(), !stale);
}

void ArchiveView::syncBlocks()
{
    const auto &blocks = paging_.blocks();
    const auto copyBlock = [this](qint64 id) { copy(id); };
    for (size_t i = 0; i < blocks.size(); ++i) {
        const bool first = i == 0;
        if (i < blockViews_.size() && blockViews_[i]->sync(blocks[i], first))
            continue;
        auto *view = new BlockView(blocks[i], first, copyBlock, captionList_->widget());
        if (i < blockViews_.size()) {
            delete blockColumn_->replaceWidget(blockViews_[i], view); // the old widget's layout item
            delete blockViews_[i];
            blockViews_[i] = view;
        } else {
            blockColumn_->addWidget(view);
            blockViews_.push_back(view);
        }
    }
    while (blockViews_.size() > blocks.size()) {
        delete blockViews_.back();
        blockViews_.pop_back();
    }
}

void ArchiveView::syncRows()
{
    const auto &rows = paging_.rows();
    // Rows already shown stay when the new list starts with them (a load-more).
    const bool prefix = shownRows_.size() <= rows.size() &&
                        std::equal(shownRows_.begin(), shownRows_.end(), rows.begin(),
                                   [](qint64 id, const ListeningArchive::Entry &row) { return id == row.id; });
    if (!prefix) {
        while (QLayoutItem *item = rowColumn_->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        shownRows_.clear();
    }
    for (size_t i = shownRows_.size(); i < rows.size(); ++i) {
        if (i > 0)
            rowColumn_->addWidget(sheetlook::divider(sessionList_->widget()));
        rowColumn_->addWidget(sessionRow(rows[i]));
        shownRows_.push_back(rows[i].id);
    }
}

QWidget *ArchiveView::sessionRow(const ListeningArchive::Entry &row)
{
    auto *widget = new QWidget(sessionList_->widget());
    widget->setObjectName(QStringLiteral("archiveSessionRow"));
    auto *layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 5, 0, 5);
    layout->setSpacing(5);
    layout->addWidget(styledLabel(row.station, TextStyle::Headline, QFont::Bold));
    QLabel *date = styledLabel(Formats::dateTimeWithSeconds(row.date), TextStyle::Caption);
    date->setObjectName(QStringLiteral("archiveSecondary"));
    sheetlook::setSecondary(date, dark());
    layout->addWidget(date);

    const double speed = row.elapsed > 0 ? double(row.bytes) / row.elapsed / 1024.0 : 0.0;
    QStringList lines{
        L10n::format(QStringLiteral("实际播放 %@ · 重连第 %@ 次"),
                     {Formats::duration(row.played), Formats::decimal(row.retry, 0)}),
        L10n::format(QStringLiteral("接收 %@ · 均速 %@ KiB/s"),
                     {Formats::byteCount(row.bytes), Formats::decimal(std::isfinite(speed) ? speed : 0.0, 1)}),
    };
    if (row.firstAudio)
        lines << L10n::format(QStringLiteral("首批音频 %@ 秒"), {Formats::decimal(*row.firstAudio, 2)});
    for (const QString &line : lines) {
        QLabel *label = styledLabel(line, TextStyle::Body);
        label->setObjectName(QStringLiteral("archiveDetail"));
        layout->addWidget(label);
    }
    std::optional<QString> note;
    if (row.interrupted)
        note = L(QStringLiteral("连接失败或中断"));
    else if (!row.startedPlayback)
        note = L(QStringLiteral("未开始播放"));
    if (note) {
        QLabel *label = styledLabel(*note, TextStyle::Body);
        label->setObjectName(QStringLiteral("archiveSecondary"));
        sheetlook::setSecondary(label, dark());
        layout->addWidget(label);
    }
    return widget;
}

void ArchiveView::scrollToParagraph(qint64 id)
{
    QPointer<QWidget> target;
    for (BlockView *view : blockViews_)
        if (QWidget *paragraph = view->paragraph(id))
            target = paragraph;
    if (!target)
        return;
    // After the new paragraphs are laid out, put the first of them at the top.
    QMetaObject::invokeMethod(
        this,
        [this, target] {
            if (!target)
                return;
            QWidget *inner = captionList_->widget();
            inner->layout()->activate();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            captionList_->verticalScrollBar()->setValue(target->mapTo(inner, QPoint(0, 0)).y());
        },
        Qt::QueuedConnection);
}

} // namespace vantuli
