// The smaller control paths that start or stop playback without a click on a
// station: scheduled listening times, the sleep timer, the media keys with the
// now-playing display, and links that bring a station into the directory.
#include "store/RadioStore.h"
#include "store/StoreKeys.h"

#include "platform/MainThread.h"
#include "platform/Resources.h"
#include "platform/SettingsStore.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonDocument>
#include <QPointer>
#include <QTimeZone>

#include <algorithm>

namespace vantuli {

namespace {

const QString linkScheme = QStringLiteral("vantuli");
const QString linkHost = QStringLiteral("station");
const QString webScheme = QStringLiteral("https");

constexpr double scheduleInterval = 10;

// The settings key of an entry's once-a-day mark.
QString lastSlotKey(const QUuid &id)
{
    return storekeys::lastSlotPrefix + id.toString(QUuid::WithoutBraces).toUpper();
}

// A path without its leading and trailing slashes.
QString trimSlashes(const QString &path)
{
    qsizetype begin = 0;
    qsizetype end = path.size();
    while (begin < end && path[begin] == QLatin1Char('/'))
        ++begin;
    while (end > begin && path[end - 1] == QLatin1Char('/'))
        --end;
    return path.mid(begin, end - begin);
}

} // namespace

// ---- Schedule ----

void RadioStore::addTime(const Station &station, Date date, bool workdays)
{
    const QDateTime local = date.toQDateTime().toLocalTime();
    if (!local.isValid())
        return;
    const int hour = local.time().hour();
    const int minute = local.time().minute();

    std::vector<ListeningTime> schedule = schedule_;
    // A replaced entry's once-a-day mark stays behind; the new entry has a new id.
    std::erase_if(schedule, [hour, minute](const ListeningTime &t) { return t.hour == hour && t.minute == minute; });
    schedule.push_back(ListeningTime{QUuid::createUuid(), station.id, hour, minute, workdays});
    std::stable_sort(schedule.begin(), schedule.end(), [](const ListeningTime &a, const ListeningTime &b) {
        return a.hour != b.hour ? a.hour < b.hour : a.minute < b.minute;
    });
    publish(schedule_, std::move(schedule), &RadioStore::scheduleChanged);
    saveSchedule();
}

void RadioStore::removeTime(const ListeningTime &time)
{
    std::vector<ListeningTime> schedule = schedule_;
    std::erase_if(schedule, [&time](const ListeningTime &t) { return t.id == time.id; });
    publish(schedule_, std::move(schedule), &RadioStore::scheduleChanged);
    defaults_->remove(lastSlotKey(time.id));
    saveSchedule();
}

void RadioStore::saveSchedule()
{
    try {
        const QJsonValue json = JsonCoding<std::vector<ListeningTime>>::encode(schedule_);
        defaults_->setValue(storekeys::schedule, QJsonDocument(json.toArray()).toJson(QJsonDocument::Compact));
    } catch (const std::exception &) {
        // Not saved; the timer still follows the schedule in memory.
    }
    armSchedule();
}

void RadioStore::armSchedule()
{
    scheduleTimer_.reset();
    if (schedule_.empty())
        return;
    scheduleTimer_ = timers_->every(scheduleInterval, [this] { checkSchedule(clock_->now()); });
}

void RadioStore::checkSchedule(Date date)
{
    const QDateTime local = date.toQDateTime().toLocalTime();
    if (!local.isValid())
        return;
    const QDate day = local.date();
    // The local day as its start in seconds since 1970: the once-a-day mark.
    const double dayMark = static_cast<double>(day.startOfDay().toMSecsSinceEpoch()) / 1000.0;
    const int hour = local.time().hour();
    const int minute = local.time().minute();
    const bool workday = day.dayOfWeek() >= Qt::Monday && day.dayOfWeek() <= Qt::Friday;

    const std::vector<ListeningTime> schedule = schedule_; // a start may lead to changes
    for (const ListeningTime &time : schedule) {
        if (time.hour != hour || time.minute != minute)
            continue;
        if (time.workdaysOnly && !workday)
            continue;
        const QString markKey = lastSlotKey(time.id);
        if (defaults_->number(markKey) == dayMark)
            continue; // already fired today
        const Station *found = catalogStation(time.stationID);
        if (!found)
            continue; // left the catalog: looked up again at the next tick, never marked
        const Station station = *found;
        defaults_->setValue(markKey, dayMark);
        if (!current_ || current_->id != station.id) {
            start(station, 0, true);
        } else if (state_ != State::Playing && state_ != State::Connecting) {
            start(station, 0, true);
        }
    }
}

// ---- Sleep timer ----

void RadioStore::sleep(int minutes)
{
    sleepTask_.reset(); // dropping the handle cancels the wait
    if (minutes < 1) {
        publish(sleepUntil_, std::nullopt, &RadioStore::sleepUntilChanged);
        return;
    }
    const double seconds = static_cast<double>(minutes) * 60.0;
    publish(sleepUntil_, Date{clock_->now().secondsSince1970 + seconds}, &RadioStore::sleepUntilChanged);
    // The system timers count on the boot-time clock, so the deadline holds
    // across a suspend of the machine.
    sleepTask_ = timers_->after(seconds, [this] { sleepFired(); });
}

void RadioStore::cancelSleep()
{
    sleepTask_.reset();
    publish(sleepUntil_, std::nullopt, &RadioStore::sleepUntilChanged);
}

void RadioStore::sleepFired()
{
    // The timer that runs this is finished; forgetting it here is safe.
    sleepTask_.reset();
    // Also when nothing plays: a failed state returns to stopped and its message goes.
    stop(false);
    publish(sleepUntil_, std::nullopt, &RadioStore::sleepUntilChanged);
}

// ---- Media keys and now playing ----

void RadioStore::installMediaCommands()
{
    if (!mediaSession_)
        return;
    const std::pair<MediaSession::Command, MediaAction> commands[] = {
        {MediaSession::Command::Play, MediaAction::Play},
        {MediaSession::Command::Pause, MediaAction::Pause},
        {MediaSession::Command::TogglePlayPause, MediaAction::Toggle},
    };
    for (const auto &[command, action] : commands) {
        // The handler only queues the action (see queueMediaAction), and does
        // nothing once the store is gone.
        const QPointer<RadioStore> store(this);
        const qint64 token = mediaSession_->addTarget(command, [store, action = action] {
            if (store)
                store->queueMediaAction(action);
        });
        remoteTokens_.emplace_back(command, token);
    }
}

namespace {

// How long after a stream start that a media command made the next such
// start waits: keys pressed faster than a station answers, or a client that
// floods the bus, cost at most one connection in this time.
constexpr double mediaStartSpacing = 0.5;

} // namespace

void RadioStore::queueMediaAction(MediaAction action)
{
    if (!mediaWaiting_)
        mediaWaiting_.emplace(MediaOutcome{false, false}, MediaOutcome{true, false});
    for (MediaOutcome *outcome : {&mediaWaiting_->first, &mediaWaiting_->second}) {
        const bool stops = action == MediaAction::Pause || (action == MediaAction::Toggle && outcome->plays);
        outcome->stopped = outcome->stopped || stops;
        outcome->plays = !stops;
    }
    if (mediaPosted_)
        return;
    mediaPosted_ = true;
    MainThread::post([store = QPointer<RadioStore>(this)] {
        if (store) {
            store->mediaPosted_ = false;
            store->runMediaActions();
        }
    });
}

void RadioStore::runMediaActions()
{
    if (!mediaWaiting_)
        return;
    const bool playing = active();
    const MediaOutcome outcome = playing ? mediaWaiting_->second : mediaWaiting_->first;
    if (!playing && outcome.plays && transportStation()) {
        if (mediaStartSpaced_) {
            // Too soon after the last start: this one waits for the spacing
            // to pass. The commands that come meanwhile count from the start
            // it will make, so one that stops drops it, and so does a station
            // started another way.
            mediaWaiting_.emplace(MediaOutcome{true, false}, MediaOutcome{true, false});
            return;
        }
        mediaWaiting_.reset();
        performMediaAction(MediaAction::Play);
        mediaStartSpaced_ = timers_->after(mediaStartSpacing, [this] { mediaStartSpacingEnded(); });
        return;
    }
    mediaWaiting_.reset();
    // A station that plays and plays again at the end is left playing.
    if (playing && !outcome.plays)
        performMediaAction(MediaAction::Pause);
    else if (state_ == State::Failed && outcome.stopped)
        performMediaAction(MediaAction::Pause); // a failed run returns to stopped
}

void RadioStore::mediaStartSpacingEnded()
{
    // The timer that runs this is finished; forgetting it here is safe.
    mediaStartSpaced_.reset();
    runMediaActions();
}

void RadioStore::performMediaAction(MediaAction action)
{
    const bool playing = active();
    if (action == MediaAction::Pause || (action == MediaAction::Toggle && playing)) {
        stop(false);
        return;
    }
    if (playing)
        return; // play while a station plays or connects: nothing
    if (const std::optional<Station> station = transportStation())
        start(*station, 0, true);
}

std::optional<QString> RadioStore::broadcastArtwork()
{
    static const std::optional<QString> artwork = []() -> std::optional<QString> {
        const QFileInfo file(Resources::path(QStringLiteral("RadioCover.png")));
        if (!file.isFile() || file.size() == 0)
            return std::nullopt;
        return QUrl::fromLocalFile(file.absoluteFilePath()).toString();
    }();
    return artwork;
}

void RadioStore::setNowPlaying(const Station &station)
{
    if (!mediaSession_)
        return;
    MediaSession::NowPlaying info;
    info.title = station.name;
    info.artist = station.place();
    info.liveStream = true;
    info.playbackRate = 1.0;
    info.artworkUrl = broadcastArtwork();
    mediaSession_->setNowPlaying(info);
    mediaSession_->setPlaybackState(MediaSession::PlaybackState::Playing);
}

// ---- Station links ----

void RadioStore::openStationLink(const QUrl &url)
{
    std::optional<Station> station;
    if (url.scheme() == linkScheme) {
        if (url.host() != linkHost)
            return;
        const QStringList segments = url.path(QUrl::FullyDecoded).split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (segments.isEmpty())
            return;
        const Station *found = catalogStation(segments.last());
        if (!found)
            return;
        station = *found;
    } else if (url.scheme() == webScheme) {
        if (url.host() != QLatin1String(productSiteHost))
            return;
        const QString path = trimSlashes(url.path(QUrl::FullyDecoded));
        if (path.isEmpty())
            return;
        const auto found = std::find_if(stations_.begin(), stations_.end(), [&path](const Station &s) {
            return !s.path.isEmpty() && trimSlashes(s.path) == path;
        });
        if (found == stations_.end())
            return;
        station = *found;
    } else {
        return;
    }

    resetFilters();
    // The featured and all tabs hide a station that failed here; it is
    // listed on the unavailable tab instead.
    if (failures_.contains(station->id))
        setFilter(LibraryFilter::Unavailable);
    else
        setFilter(station->featuredLabel ? LibraryFilter::Featured : LibraryFilter::All);
    setQuery(station->name);
    setSelected(station);
}

} // namespace vantuli
