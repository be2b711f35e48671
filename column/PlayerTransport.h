#pragma once

#include "records/Date.h"
#include "records/Station.h"

#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QMenu;
class QSlider;
class QTimer;
class QToolButton;

namespace vantuli {

class BroadcastIndicator;
class FitLabel;
class RadioStore;
class Refresher;
class StoreClock;
class StudioButton;

// The dark bar under the station column: play/stop for the station the
// transport acts on, its name with the playback status and the buffer fill,
// the volume, and the sleep timer (a menu to set it, a countdown to cancel it).
// It keeps no state of its own beyond the station its play button acts on.
class PlayerTransport : public QWidget {
    Q_OBJECT

public:
    explicit PlayerTransport(RadioStore *radio, QWidget *parent = nullptr);
    ~PlayerTransport() override;

    // The clock the countdown counts against; it must be the store's clock
    // (the store sets the timer's end time by it). The system's by default.
    void setClock(std::shared_ptr<StoreClock> clock);

    // "14:59" for the seconds left: rounded up to a whole second, never below 0.
    static QString countdownText(double remainingSeconds);

    StudioButton *playButton() const { return play_; }

private:
    void refresh();
    void refreshBuffer();
    void refreshCountdown();
    void rebuildSleepMenu();
    void playOrStop();

    RadioStore *radio_;
    std::shared_ptr<StoreClock> clock_;
    std::optional<Station> station_; // the station the play button starts, as last shown

    StudioButton *play_;
    FitLabel *title_;
    BroadcastIndicator *indicator_;
    FitLabel *status_;
    QLabel *buffer_;
    QLabel *speaker_;
    QSlider *volume_;
    StudioButton *countdown_;
    QToolButton *sleepButton_;
    QMenu *sleepMenu_;
    QTimer *tick_;

    Refresher *refresher_;
    Refresher *bufferRefresher_;
    Refresher *menuRefresher_;
    QString playSymbol_;
    QString speakerSymbol_;
    QString sleepSymbol_;
};

} // namespace vantuli
