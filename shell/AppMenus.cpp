#include "shell/AppMenus.h"

#include "look/Refresher.h"
#include "shell/AppLanguageMenu.h"
#include "overlay/FloatingCaptions.h"
#include "records/L10n.h"
#include "store/RadioStore.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTextDocument>

namespace vantuli {

QString actionText(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString Mnemonics::operator()(const QString &text, QChar hint)
{
    const QString escaped = actionText(text);
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        const QChar c = escaped.at(i);
        if (c == QLatin1Char('&')) {
            ++i; // an escaped ampersand
            continue;
        }
        const bool cased = c.isLetter() && (c.isUpper() || c.isLower());
        if (cased && !used_.contains(c.toLower())) {
            used_.append(c.toLower());
            return escaped.left(i) + QLatin1Char('&') + escaped.mid(i);
        }
    }
    if (used_.contains(hint.toLower()))
        return escaped;
    used_.append(hint.toLower());
    return escaped + QStringLiteral(" (&") + hint.toUpper() + QLatin1Char(')');
}

namespace {

QString text(const char *key)
{
    return L10n::shared().text(QString::fromUtf8(key));
}

QString localized(const char *key)
{
    return actionText(L10n::shared().text(QString::fromUtf8(key)));
}

// The full name of a station item that its menu has still to measure.
constexpr char unmeasuredName[] = "vantuliUnmeasuredName";

// A station's name as a tray item, cut short at a bounded width so that a
// long name does not widen the menu to the screen, and then given whole as
// the item's tooltip. Measuring a name loads its font (a CJK face is large),
// so it waits until the item's menu is about to show: elideStationNames().
QAction *addStationName(QMenu *menu, const QString &name)
{
    menu->setToolTipsVisible(true);
    QAction *item = menu->addAction(actionText(name));
    item->setProperty(unmeasuredName, name);
    return item;
}

// Cuts the names of `menu`'s station items short, each once.
void elideStationNames(QMenu *menu)
{
    for (QAction *item : menu->actions()) {
        const QVariant name = item->property(unmeasuredName);
        if (!name.isValid())
            continue;
        item->setProperty(unmeasuredName, QVariant());
        const QString whole = name.toString();
        const QString shown = menu->fontMetrics().elidedText(whole, Qt::ElideRight, trayNameWidth);
        if (shown == whole)
            continue;
        item->setText(actionText(shown));
        item->setToolTip(Qt::convertFromPlainText(whole, Qt::WhiteSpaceNormal));
    }
}

// A submenu of station items, measured when it is about to show.
QMenu *addStationSubmenu(QMenu &menu, const QString &title)
{
    QMenu *submenu = menu.addMenu(title);
    QObject::connect(submenu, &QMenu::aboutToShow, submenu, [submenu] { elideStationNames(submenu); });
    return submenu;
}

void addStationItem(QMenu *menu, RadioStore &radio, const Station &station)
{
    QAction *item = addStationName(menu, station.name);
    QObject::connect(item, &QAction::triggered, &radio, [&radio, station] { radio.start(station, 0, true); });
}

// A submenu of the stations of `ids` that still resolve; none when empty.
void addStationMenu(QMenu &menu, RadioStore &radio, const QString &title, const QStringList &ids)
{
    std::vector<Station> stations;
    for (const QString &id : ids) {
        const Station *found = radio.catalogStation(id);
        if (found)
            stations.push_back(*found);
    }
    if (stations.empty())
        return;
    QMenu *submenu = addStationSubmenu(menu, title);
    for (const Station &station : stations)
        addStationItem(submenu, radio, station);
}

} // namespace

void fillTrayMenu(QMenu &menu, RadioStore &radio, const OverlayControls &overlay, QAction *open, QAction *quit)
{
    // clear() drops the menu's own actions but not the submenus that
    // addMenu made (children of the menu, with their items): they go first.
    qDeleteAll(menu.findChildren<QMenu *>(Qt::FindDirectChildrenOnly));
    menu.clear();
    if (const std::optional<Station> station = radio.transportStation()) {
        QAction *label = addStationName(&menu, station->name);
        label->setEnabled(false);
        QAction *toggle = menu.addAction(localized(radio.active() ? "停止播放" : "收听直播"));
        QObject::connect(toggle, &QAction::triggered, &radio, [&radio, station = *station] { radio.toggle(station); });
    }
    menu.addSeparator();
    QMenu *featured = menu.addMenu(localized("精选电台"));
    for (const FeaturedGroup &group : radio.featuredGroups()) {
        QMenu *groupMenu = addStationSubmenu(*featured, actionText(group.label()));
        for (const Station &station : group.stations)
            addStationItem(groupMenu, radio, station);
    }
    addStationMenu(menu, radio, localized("收藏"), radio.favoriteOrder());
    addStationMenu(menu, radio, localized("最近收听"), radio.recent().mid(0, 10));
    menu.addSeparator();
    menu.addAction(overlay.toggle);
    menu.addAction(overlay.appearance);
    menu.addAction(overlay.clickThrough);
    menu.addSeparator();
    menu.addAction(open);
    menu.addAction(quit);
    // The menu itself is about to show (submenus measure theirs when they are).
    elideStationNames(&menu);
}

AppMenus::AppMenus(RadioStore *radio, FloatingCaptions *floating, Commands commands, QObject *parent)
    : QObject(parent), radio_(radio), floating_(floating), commands_(std::move(commands))
{
    auto action = [this](const char *name, const std::function<void()> &run) {
        auto *item = new QAction(this);
        item->setObjectName(QString::fromLatin1(name));
        connect(item, &QAction::triggered, this, [run] {
            if (run)
                run();
        });
        return item;
    };
    about_ = action("commandAbout", commands_.about);
    about_->setMenuRole(QAction::AboutRole);
    archive_ = action("commandArchive", commands_.archive);
    search_ = action("commandSearch", commands_.search);
    search_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    support_ = action("commandSupport", commands_.support);
    open_ = action("commandOpen", commands_.openMain);
    quit_ = action("commandQuit", commands_.quit);
    quit_->setMenuRole(QAction::QuitRole);
    // Ctrl+Q from every window of the application, through the normal end.
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit_->setShortcutContext(Qt::ApplicationShortcut);

    overlay_.toggle = action("overlayToggle", commands_.toggleFloating);
    overlay_.toggle->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    overlay_.appearance = action("overlayAppearance", [this] {
        if (floating_)
            floating_->openMenu();
    });
    overlay_.clickThrough = action("overlayClickThrough", [this] {
        if (!floating_)
            return;
        FloatingCaptionStyle style = floating_->style();
        style.clickThrough = !style.clickThrough;
        floating_->update(style);
    });
    overlay_.clickThrough->setCheckable(true);

    tray_ = new QMenu;
    tray_->setObjectName(QStringLiteral("trayMenu"));

    overlayRefresh_ = new Refresher([this] { updateOverlay(); }, this);
    trayRefresh_ = new Refresher([this] { rebuildTray(); }, this);
    textRefresh_ = new Refresher([this] { updateTexts(); }, this);
    // The overlay toggle's rule reads the captions switch and whether the
    // station in question is deferred (selected, current, state, language).
    for (auto signal : {&RadioStore::captionsOnChanged, &RadioStore::selectedChanged, &RadioStore::currentChanged,
                        &RadioStore::stateChanged, &RadioStore::languageChanged})
        connect(radio_, signal, overlayRefresh_, &Refresher::schedule);
    // The tray menu is filled when it is about to show, and again while it
    // shows when what it lists changes; while closed a change only marks it.
    connect(tray_, &QMenu::aboutToShow, this, [this] {
        if (trayStale_)
            rebuildTray();
    });
    for (auto signal : {&RadioStore::selectedChanged, &RadioStore::currentChanged, &RadioStore::stateChanged,
                        &RadioStore::stationsChanged, &RadioStore::favoriteOrderChanged, &RadioStore::historyChanged})
        connect(radio_, signal, this, &AppMenus::trayChanged);
    if (floating_) {
        connect(floating_, &FloatingCaptions::enabledChanged, overlayRefresh_, &Refresher::schedule);
        connect(floating_, &FloatingCaptions::styleChanged, overlayRefresh_, &Refresher::schedule);
    }
    connect(&L10n::shared(), &L10n::didChange, textRefresh_, &Refresher::schedule);
    connect(&L10n::shared(), &L10n::didChange, this, &AppMenus::trayChanged);
    updateTexts();
}

AppMenus::~AppMenus()
{
    delete tray_;
}

void AppMenus::install(QMenuBar *bar)
{
    bar_ = bar;
    appMenu_ = bar->addMenu(QString());
    appMenu_->setObjectName(QStringLiteral("menuVantuli"));
    appMenu_->addAction(about_);
    appMenu_->addSeparator();
    languageMenu_ = new AppLanguageMenu(appMenu_);
    connect(languageMenu_, &AppLanguageMenu::rebuilt, textRefresh_, &Refresher::schedule);
    appMenu_->addMenu(languageMenu_);
    appMenu_->addAction(archive_);
    appMenu_->addSeparator();
    appMenu_->addAction(search_);
    appMenu_->addSeparator();
    appMenu_->addAction(support_);
    appMenu_->addSeparator();
    appMenu_->addAction(quit_);
    captionMenu_ = bar->addMenu(QString());
    captionMenu_->setObjectName(QStringLiteral("menuCaptions"));
    captionMenu_->addAction(overlay_.toggle);
    captionMenu_->addAction(overlay_.appearance);
    captionMenu_->addAction(overlay_.clickThrough);
    updateTexts();
}

void AppMenus::flush()
{
    textRefresh_->flush();
    overlayRefresh_->flush();
    trayRefresh_->flush();
}

void AppMenus::updateOverlay()
{
    const bool on = floating_ && floating_->enabled();
    Mnemonics mnemonics;
    overlay_.toggle->setText(mnemonics(text(on ? "关闭字幕浮窗" : "显示字幕浮窗"), QLatin1Char('C')));
    overlay_.appearance->setText(mnemonics(text("浮窗外观与位置…"), QLatin1Char('A')));
    overlay_.clickThrough->setText(mnemonics(text("鼠标穿透"), QLatin1Char('T')));
    // The same conditions under which the overlay would refuse to show; the
    // shortcut follows the action, so it is gated too.
    overlay_.toggle->setEnabled(on || (radio_->captionsOn() && !radio_->captionsDeferred()));
    overlay_.appearance->setVisible(on);
    overlay_.clickThrough->setVisible(on);
    overlay_.clickThrough->setChecked(floating_ && floating_->style().clickThrough);
}

void AppMenus::updateTexts()
{
    // Menu titles and items carry mnemonics (Alt+letter, or F10 then the
    // letter), distinct within each menu.
    Mnemonics items;
    about_->setText(items(text("About Vantuli"), QLatin1Char('A')));
    if (languageMenu_)
        languageMenu_->setTitle(items(text("界面语言"), QLatin1Char('L')));
    archive_->setText(items(text("本机收听档案"), QLatin1Char('R')));
    search_->setText(items(text("搜索电台"), QLatin1Char('S')));
    support_->setText(items(text("支持 Vantuli"), QLatin1Char('U')));
    quit_->setText(items(text("退出"), QLatin1Char('Q')));
    open_->setText(localized("打开 Vantuli"));
    if (bar_) {
        Mnemonics titles;
        appMenu_->setTitle(titles(QStringLiteral("Vantuli"), QLatin1Char('V')));
        captionMenu_->setTitle(titles(text("字幕"), QLatin1Char('C')));
    }
    updateOverlay();
}

void AppMenus::trayChanged()
{
    trayStale_ = true;
    if (tray_->isVisible())
        trayRefresh_->schedule();
}

void AppMenus::rebuildTray()
{
    trayStale_ = false;
    fillTrayMenu(*tray_, *radio_, overlay_, open_, quit_);
}

} // namespace vantuli
