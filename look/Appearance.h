#pragma once

#include <QDBusVariant>
#include <QEvent>
#include <QObject>

#include <optional>

namespace vantuli {

// The desktop's colour scheme and reduce-motion preference.
//
// Read from the desktop portal (org.freedesktop.appearance color-scheme; the
// GNOME enable-animations and KDE AnimationDurationFactor settings), with the
// palette's lightness as the fallback for the scheme. VANTULI_COLOR_SCHEME=
// dark|light and VANTULI_REDUCE_MOTION=1 override; tests set them directly.
class Appearance : public QObject {
    Q_OBJECT
public:
    static Appearance &shared();

    bool reduceMotion() const { return reduceMotion_; }
    bool dark() const { return dark_; }

    void setReduceMotionForTesting(bool reduced);
    void setDarkForTesting(bool dark);

signals:
    void reduceMotionChanged();
    void schemeChanged();

private slots:
    void portalSettingChanged(const QString &group, const QString &key, const QDBusVariant &value);

private:
    Appearance();
    void readPortal();
    void applyScheme(std::optional<bool> portalDark);
    void applyReduceMotion(bool reduced);
    bool eventFilter(QObject *watched, QEvent *event) override;

    bool dark_ = false;
    bool reduceMotion_ = false;
    std::optional<bool> portalDark_;
    bool schemeOverridden_ = false;
    bool motionOverridden_ = false;
};

} // namespace vantuli
