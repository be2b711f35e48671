#include "look/Appearance.h"

#include "look/Studio.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QEvent>
#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QToolTip>

#include <cstdio>

namespace vantuli {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString portalInterface = QStringLiteral("org.freedesktop.portal.Settings");

// Portal values arrive wrapped in one or two variants.
QVariant unwrap(QVariant value)
{
    for (int i = 0; i < 3 && value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>(); ++i)
        value = qvariant_cast<QDBusVariant>(value).variant();
    return value;
}

bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

} // namespace

Appearance &Appearance::shared()
{
    static Appearance *instance = new Appearance();
    return *instance;
}

Appearance::Appearance()
{
    const QByteArray scheme = qgetenv("VANTULI_COLOR_SCHEME").toLower();
    if (scheme == "dark" || scheme == "light") {
        schemeOverridden_ = true;
        dark_ = scheme == "dark";
    } else {
        dark_ = desktopPaletteIsDark();
    }
    const QByteArray motion = qgetenv("VANTULI_REDUCE_MOTION");
    if (!motion.isEmpty()) {
        motionOverridden_ = true;
        reduceMotion_ = motion != "0";
    }
    if (qGuiApp)
        qGuiApp->installEventFilter(this);
    applyPalette();
    readPortal();
}

void Appearance::readPortal()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "vantuli: no session bus; changes of the desktop's colour scheme and motion setting are "
                             "not followed\n");
        return;
    }
    // The signal is matched by path and interface, not by the portal's bus
    // name: naming the service would make the bus connection ask, and wait
    // for, the name's owner. The slot takes the message whole, so any
    // signature of the arguments connects and the value arrives as sent.
    if (!bus.connect(QString(), portalPath, portalInterface, QStringLiteral("SettingChanged"), this,
                     SLOT(portalSignal(QDBusMessage)))) {
        std::fprintf(stderr, "vantuli: cannot subscribe to the settings portal (%s); changes of the desktop's colour "
                             "scheme and motion setting are not followed\n",
                     qPrintable(bus.lastError().message()));
    }
    auto read = [this, &bus](const QString &group, const QString &key) {
        QDBusMessage message = QDBusMessage::createMethodCall(portalService, portalPath, portalInterface,
                                                              QStringLiteral("Read"));
        message << group << key;
        auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, 2000), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, group, key] {
            watcher->deleteLater();
            QDBusPendingReply<QVariant> reply = *watcher;
            if (reply.isError())
                return;
            portalSettingChanged(group, key, reply.value());
        });
    };
    read(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"));
    read(QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("enable-animations"));
    read(QStringLiteral("org.kde.kdeglobals.KDE"), QStringLiteral("AnimationDurationFactor"));
}

void Appearance::portalSignal(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 3)
        return;
    portalSettingChanged(arguments[0].toString(), arguments[1].toString(), arguments[2]);
}

void Appearance::portalSettingChanged(const QString &group, const QString &key, const QVariant &value)
{
    const QVariant v = unwrap(value);
    if (group == QLatin1String("org.freedesktop.appearance") && key == QLatin1String("color-scheme")) {
        const uint scheme = v.toUInt();
        applyScheme(scheme == 1 ? std::optional<bool>(true) : scheme == 2 ? std::optional<bool>(false) : std::nullopt);
    } else if (group == QLatin1String("org.gnome.desktop.interface") && key == QLatin1String("enable-animations")) {
        if (!motionOverridden_)
            applyReduceMotion(!v.toBool());
    } else if (group == QLatin1String("org.kde.kdeglobals.KDE") && key == QLatin1String("AnimationDurationFactor")) {
        if (!motionOverridden_)
            applyReduceMotion(v.toDouble() <= 0);
    }
}

void Appearance::applyScheme(std::optional<bool> portalDark)
{
    portalDark_ = portalDark;
    if (schemeOverridden_)
        return;
    setDark(portalDark_.value_or(desktopPaletteIsDark()));
}

void Appearance::setDark(bool dark)
{
    if (dark == dark_)
        return;
    dark_ = dark;
    applyPalette();
    emit schemeChanged();
}

bool Appearance::desktopPaletteIsDark() const
{
    if (desktopPalette_)
        return isDark(*desktopPalette_);
    return qGuiApp && isDark(QGuiApplication::palette());
}

void Appearance::applyPalette()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    applyingPalette_ = true;
    if (desktopPalette_ && isDark(*desktopPalette_) == dark_) {
        // The desktop's own palette matches the scheme again.
        QApplication::setPalette(*desktopPalette_);
        QToolTip::setPalette(desktopToolTipPalette_);
        desktopPalette_.reset();
    } else if (!desktopPalette_ && isDark(QApplication::palette()) != dark_) {
        // Dark: the Studio dark palette; light on a dark desktop: the style's
        // own light palette. Tool tips keep a palette of their own.
        desktopPalette_ = QApplication::palette();
        desktopToolTipPalette_ = QToolTip::palette();
        const QPalette palette =
            dark_ ? Studio::darkPalette(Studio::sheetBackground(true)) : QApplication::style()->standardPalette();
        QApplication::setPalette(palette);
        QToolTip::setPalette(palette);
    }
    applyingPalette_ = false;
}

void Appearance::applyReduceMotion(bool reduced)
{
    if (reduced != reduceMotion_) {
        reduceMotion_ = reduced;
        emit reduceMotionChanged();
    }
}

bool Appearance::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == qGuiApp && event->type() == QEvent::ApplicationPaletteChange && !applyingPalette_ &&
        !desktopPalette_ && !schemeOverridden_ && !portalDark_)
        applyScheme(std::nullopt);
    return QObject::eventFilter(watched, event);
}

void Appearance::setReduceMotionForTesting(bool reduced)
{
    motionOverridden_ = true;
    applyReduceMotion(reduced);
}

void Appearance::setDarkForTesting(bool dark)
{
    schemeOverridden_ = true;
    setDark(dark);
}

void Appearance::followDesktopForTesting()
{
    schemeOverridden_ = false;
    motionOverridden_ = false;
}

} // namespace vantuli
