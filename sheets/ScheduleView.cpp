#include "sheets/ScheduleView.h"

#include "look/Appearance.h"
#include "look/Icons.h"
#include "look/Labels.h"
#include "look/Refresher.h"
#include "look/Studio.h"
#include "look/StudioButton.h"
#include "look/StudioSheetHeading.h"
#include "look/TextStyles.h"
#include "look/ToggleSwitch.h"
#include "records/L10n.h"
#include "sheets/SheetLook.h"
#include "store/RadioStore.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace vantuli {

namespace {

constexpr int columnWidth = 420;
constexpr int inset = 26;
constexpr int listMaximumHeight = 180;

QString L(const QString &key)
{
    return L10n::shared().text(key);
}

bool dark()
{
    return Appearance::shared().dark();
}

QLabel *styledLabel(const QString &text, TextStyle style, QFont::Weight weight = QFont::Normal)
{
    QLabel *label = sheetlook::plainLabel(text);
    label->setFont(textFont(style, weight));
    return label;
}

// A station's name, of any length, on one line: cut short where the sheet's
// width ends (the whole name as the tooltip).
FitLabel *nameLabel(const QString &text, TextStyle style, QFont::Weight weight = QFont::Normal)
{
    auto *label = new FitLabel(text);
    label->setFont(textFont(style, weight));
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

// A local date and time on `day` at the hour and minute, moved to another day
// when that clock time does not exist on `day` (a daylight-saving gap), so
// that the store reads back the same hour and minute.
QDateTime localClockTime(QDate day, int hour, int minute)
{
    const QTime clock(hour, minute);
    for (int offset = 0; offset < 8; ++offset) {
        const QDateTime candidate(day.addDays(offset), clock);
        if (candidate.isValid() && candidate.time().hour() == hour && candidate.time().minute() == minute)
            return candidate;
    }
    return QDateTime(day, clock);
}

} // namespace

ScheduleView::ScheduleView(RadioStore *radio, QDateTime time, bool workdays, QWidget *parent)
    : QDialog(parent), radio_(radio), time_(std::move(time)), workdays_(workdays)
{
    setWindowModality(Qt::WindowModal);
    setAutoFillBackground(true);
    if (!time_.isValid())
        time_ = QDateTime::currentDateTime();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(inset, inset, inset, inset);
    layout->setSpacing(16);

    heading_ = new StudioSheetHeading(QString(), QStringLiteral("calendar.badge.clock"), this);
    layout->addWidget(heading_);
    layout->addWidget(sheetlook::divider(this));
    explanation_ = styledLabel(QString(), TextStyle::Callout);
    explanation_->setWordWrap(true);
    layout->addWidget(explanation_);

    // The stored times.
    list_ = new QScrollArea(this);
    list_->setObjectName(QStringLiteral("scheduleList"));
    list_->setWidgetResizable(true);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab goes to each row's remove button (the area scrolls it into view),
    // not to the area itself.
    list_->setFocusPolicy(Qt::NoFocus);
    auto *inner = new QWidget(list_);
    inner->setAutoFillBackground(false);
    rows_ = new QVBoxLayout(inner);
    rows_->setContentsMargins(0, 0, 0, 0);
    rows_->setSpacing(0);
    list_->setWidget(inner);
    list_->viewport()->setAutoFillBackground(false);
    layout->addWidget(list_);
    listDivider_ = sheetlook::divider(this);
    layout->addWidget(listDivider_);

    // The add form for the selected station, or the hint.
    form_ = new QWidget(this);
    form_->setObjectName(QStringLiteral("scheduleForm"));
    auto *formLayout = new QVBoxLayout(form_);
    formLayout->setContentsMargins(0, 0, 0, 0);
    formLayout->setSpacing(10);
    formStation_ = nameLabel(QString(), TextStyle::Headline, QFont::Bold);
    formStation_->setObjectName(QStringLiteral("scheduleStation"));
    formLayout->addWidget(formStation_);
    auto *timeRow = new QHBoxLayout;
    timeLabel_ = styledLabel(QString(), TextStyle::Body);
    timeRow->addWidget(timeLabel_);
    timeEdit_ = new QTimeEdit(form_);
    timeEdit_->setObjectName(QStringLiteral("scheduleTime"));
    timeEdit_->setDisplayFormat(QStringLiteral("HH:mm"));
    timeEdit_->setTime(QTime(time_.time().hour(), time_.time().minute()));
    timeLabel_->setBuddy(timeEdit_);
    connect(timeEdit_, &QTimeEdit::timeChanged, this, [this](QTime t) {
        time_ = QDateTime(time_.date(), QTime(t.hour(), t.minute()));
    });
    timeRow->addWidget(timeEdit_);
    timeRow->addStretch(1);
    formLayout->addLayout(timeRow);
    auto *switchRow = new QHBoxLayout;
    workdaysSwitch_ = new ToggleSwitch(form_);
    workdaysSwitch_->setObjectName(QStringLiteral("scheduleWorkdays"));
    workdaysSwitch_->setChecked(workdays_);
    connect(workdaysSwitch_, &ToggleSwitch::toggled, this, [this](bool on) { workdays_ = on; });
    workdaysLabel_ = styledLabel(QString(), TextStyle::Body);
    workdaysLabel_->setBuddy(workdaysSwitch_);
    switchRow->addWidget(workdaysLabel_);
    switchRow->addWidget(workdaysSwitch_);
    switchRow->addStretch(1);
    formLayout->addLayout(switchRow);
    add_ = new StudioButton(Studio::pine(), Studio::gold(), 7, form_);
    add_->setObjectName(QStringLiteral("scheduleAdd"));
    connect(add_, &StudioButton::clicked, this, &ScheduleView::add);
    formLayout->addWidget(add_, 0, Qt::AlignLeft);
    layout->addWidget(form_);

    hint_ = styledLabel(QString(), TextStyle::Body);
    hint_->setObjectName(QStringLiteral("scheduleHint"));
    hint_->setWordWrap(true);
    layout->addWidget(hint_);

    auto *bottom = new QHBoxLayout;
    bottom->addStretch(1);
    done_ = new QPushButton(this);
    done_->setObjectName(QStringLiteral("scheduleDone"));
    done_->setDefault(true);
    connect(done_, &QPushButton::clicked, this, &QDialog::accept);
    bottom->addWidget(done_);
    layout->addLayout(bottom);

    refresher_ = new Refresher([this] { refresh(); }, this);
    if (radio_) {
        connect(radio_, &RadioStore::scheduleChanged, refresher_, &Refresher::schedule);
        connect(radio_, &RadioStore::selectedChanged, refresher_, &Refresher::schedule);
        connect(radio_, &RadioStore::stationsChanged, refresher_, &Refresher::schedule);
    }
    connect(&L10n::shared(), &L10n::didChange, this, [this] {
        buildTexts();
        refresh();
    });
    connect(&Appearance::shared(), &Appearance::schemeChanged, this, &ScheduleView::applyScheme);

    buildTexts();
    applyScheme();
    refresh();
}

ScheduleView::~ScheduleView() = default;

void ScheduleView::buildTexts()
{
    setWindowTitle(L(QStringLiteral("广播日程")));
    heading_->setTitle(L(QStringLiteral("广播日程")));
    explanation_->setText(L(QStringLiteral("按 Mac 的当地时间切到直播。到点时需要 Mac 已唤醒，Vantuli 正在运行。")));
    timeLabel_->setText(L(QStringLiteral("开播时间")));
    timeEdit_->setAccessibleName(timeLabel_->text());
    // The time's digits are those of the interface language, not the system's.
    timeEdit_->setLocale(L10n::shared().displayLocale());
    workdaysLabel_->setText(L(QStringLiteral("仅周一至周五")));
    workdaysSwitch_->setAccessibleName(workdaysLabel_->text());
    add_->setText(L(QStringLiteral("添加这个收听时间")));
    hint_->setText(L(QStringLiteral("先在目录中选一家可直播的电台。")));
    done_->setText(L(QStringLiteral("完成")).replace(QLatin1Char('&'), QLatin1String("&&")));
}

void ScheduleView::applyScheme()
{
    setPalette(sheetlook::palette(dark()));
    sheetlook::setSecondary(explanation_, dark());
    refresh();
}

void ScheduleView::refresh()
{
    const bool isDark = dark();
    const std::vector<ListeningTime> schedule = radio_ ? radio_->schedule() : std::vector<ListeningTime>{};

    while (QLayoutItem *item = rows_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const ListeningTime &time : schedule) {
        auto *row = new QWidget(list_->widget());
        row->setObjectName(QStringLiteral("scheduleRow"));
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 4, 0, 4);
        auto *names = new QVBoxLayout;
        names->setSpacing(2);
        const Station *station = radio_->catalogStation(time.stationID);
        FitLabel *name = nameLabel(station ? station->name : L(QStringLiteral("已移除的电台")), TextStyle::Body);
        name->setObjectName(QStringLiteral("scheduleRowStation"));
        QLabel *label = styledLabel(time.label(), TextStyle::Caption);
        label->setObjectName(QStringLiteral("scheduleRowLabel"));
        sheetlook::setSecondary(label, isDark);
        names->addWidget(name);
        names->addWidget(label);
        rowLayout->addLayout(names, 1);
        auto *remove = new QToolButton(row);
        remove->setObjectName(QStringLiteral("scheduleRemove"));
        remove->setAutoRaise(true);
        remove->setIcon(symbolIcon(QStringLiteral("minus.circle"), sheetlook::primaryText(isDark)));
        remove->setAccessibleName(L(QStringLiteral("删除这个时间")));
        remove->setToolTip(remove->accessibleName());
        const ListeningTime removed = time;
        connect(remove, &QToolButton::clicked, this, [this, removed] {
            if (radio_)
                radio_->removeTime(removed);
        });
        rowLayout->addWidget(remove, 0, Qt::AlignVCenter);
        rows_->addWidget(row);
        // Shown now, not when the layout would get round to it, so that the
        // list's height below counts the new rows.
        row->show();
    }
    list_->setVisible(!schedule.empty());
    listDivider_->setVisible(!schedule.empty());
    if (!schedule.empty()) {
        const int height = rows_->sizeHint().height();
        list_->setFixedHeight(std::min(height, listMaximumHeight));
    }

    const std::optional<Station> selected = radio_ ? radio_->selected() : std::nullopt;
    // Only a station the store can start may be scheduled.
    const bool schedulable = selected && !selected->streamUrl.isEmpty() && RadioStore::canStart(*selected);
    form_->setVisible(schedulable);
    hint_->setVisible(!schedulable);
    if (schedulable)
        formStation_->setText(selected->name);

    // As tall as the content, at the column's width.
    layout()->activate();
    const int width = columnWidth + 2 * inset;
    const int height = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width)
                                                     : layout()->totalSizeHint().height();
    setFixedSize(width, std::max(height, layout()->totalMinimumSize().height()));
}

void ScheduleView::add()
{
    if (!radio_ || !radio_->selected() || !RadioStore::canStart(*radio_->selected()))
        return;
    const QTime clock = timeEdit_->time();
    const QDateTime when = localClockTime(time_.date(), clock.hour(), clock.minute());
    radio_->addTime(*radio_->selected(), Date::fromQDateTime(when), workdays_);
}

} // namespace vantuli
