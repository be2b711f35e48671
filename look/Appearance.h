#pragma once

#include <QDBusMessage>
#include <QEvent>
#include <QObject>
#include <QPalette>

#include <optional>

namespace vantuli {

// The desktop's colour scheme and reduce-motion preference.
//
// Read from the desktop portal (org.freedesktop.appearance color-scheme; the
// GNOME enable-animations and KDE AnimationDurationFactor settings), with the
// palette's lightness as the fallback for the scheme. VANTULI_COLOR_SCHEME=
// dark|light and VANTULI_REDUCE_MOTION=1 override; tests set them directly.
//
// When the scheme and the desktop's palette differ (a portal or the override
// asks for the other scheme), the application palette becomes the Studio dark
// palette or the style's light one, so menus, the menu bar, dialogs, scroll
// bars and tool tips follow the scheme too; the desktop's palette returns once
// the scheme matches it again.
class Appearance : public QObject {
    Q_OBJECT
public:
    static Appearance &shared();

    bool reduceMotion() const { return reduceMotion_; }
    bool dark() const { return dark_; }

    void setReduceMotionForTesting(bool reduced);
    void setDarkForTesting(bool dark);
    // Drops what the two calls above set: the desktop decides again, from its
    // next change on.
    void followDesktopForTesting();

signals:
    void reduceMotionChanged();
    void schemeChanged();

private slots:
    // The portal's SettingChanged(group, key, value).
    void portalSignal(const QDBusMessage &message);

private:
    Appearance();
    void readPortal();
    void portalSettingChanged(const QString &group, const QString &key, const QVariant &value);
    void applyScheme(std::optional<bool> portalDark);
    void applyReduceMotion(bool reduced);
    void setDark(bool dark);
    void applyPalette();
    bool desktopPaletteIsDark() const;
    bool eventFilter(QObject *watched, QEvent *event) override;

    bool dark_ = false;
    bool reduceMotion_ = false;
    std::optional<bool> portalDark_;
    bool schemeOverridden_ = false;
    bool motionOverridden_ = false;
    std::optional<QPalette> desktopPalette_; // kept while the Studio dark palette is applied
    QPalette desktopToolTipPalette_;
    bool applyingPalette_ = false;
};

} // namespace vantuli
