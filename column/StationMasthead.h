#pragma once

#include "records/Station.h"

#include <QDeadlineTimer>
#include <QFont>
#include <QPixmap>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <optional>

class QLabel;
class QMenu;
class QTimer;
class QVariantAnimation;
class QVBoxLayout;
class QWindow;

namespace vantuli {

class FitLabel;
class RadioStore;
class Refresher;
class StudioButton;

// The header of the station column: the selected station's name in large
// type over the broadcast artwork, its frequency or region, its place and
// language, and its play, favourite and info-and-share controls.
class StationMasthead : public QWidget {
    Q_OBJECT

public:
    explicit StationMasthead(RadioStore *radio, QWidget *parent = nullptr);
    ~StationMasthead() override;

    // The station shown (the store's selection as last read).
    const std::optional<Station> &station() const { return station_; }

    // The texts and links the masthead derives from a station.
    static QString kickerText(const Station &station);
    static QString factsText(const Station &station);
    // The web site, when it is an http or https address.
    static std::optional<QUrl> websiteLink(const Station &station);
    // The address "分享电台" copies: the product site's page of the station,
    // else the station's web site as stored (any scheme); absent when it
    // does not parse.
    static std::optional<QString> shareLink(const Station &station);

    // The info-and-share menu for the shown station.
    QMenu *stationMenu() const { return menu_; }
    // Copies the shown station's link and says so in a tooltip under the
    // menu button, once the menu has gone, for a moment or until another
    // station is shown.
    void shareStation();
    // How long the confirmation shows (tests shorten it).
    void setShareConfirmationDuration(int milliseconds) { shareConfirmationDuration_ = milliseconds; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();
    void fitName();
    void rebuildMenu();
    void confirmShare();
    void dismissShareConfirmation();

    RadioStore *radio_;
    std::optional<Station> station_;

    QWidget *content_;
    QVBoxLayout *column_;
    QLabel *kickerIcon_;
    FitLabel *kicker_;
    FitLabel *name_;
    QFont nameFont_; // the name's font before the station's language picks its CJK forms
    FitLabel *facts_;
    StudioButton *play_;
    StudioButton *favorite_;
    StudioButton *more_;
    QMenu *menu_;
    QTimer *shareConfirmation_;
    QPointer<QWindow> focusWatched_; // the window whose focus coming back shows the confirmation
    QDeadlineTimer focusAwaited_;
    int shareConfirmationDuration_ = 2000;
    QString shownConfirmation_; // the confirmation's text while it may be showing

    Refresher *refresher_;
    QVariantAnimation *entrance_;
    QVariantAnimation *starSwap_;
    class RiseEffect *nameEffect_;
    QPixmap artworkCache_;
    QSize artworkSize_; // the size the cache was drawn for
    QString playSymbol_;
    QString starSymbol_;
};

} // namespace vantuli
