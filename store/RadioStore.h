#pragma once

#include "captioning/LocalASR.h"
#include "records/Caption.h"
#include "records/CaptionPacing.h"
#include "records/Date.h"
#include "records/DisplayMessage.h"
#include "records/ListeningArchive.h"
#include "records/ListeningTime.h"
#include "records/Station.h"
#include "records/StreamTransfer.h"
#include "store/MediaSession.h"
#include "store/StationRefs.h"
#include "store/StoreTime.h"
#include "streaming/PlaybackStream.h"
#include "streaming/StreamConfiguration.h"

#include <QHash>
#include <QMetaObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace vantuli {

class SettingsStore;
namespace test {
class StoreProbe;
}

// The application's single observable store and coordinator: the catalog,
// the user's library and settings, the playback state machine with its
// reconnects, the caption queue timed against the playback position, archive
// sessions, the directory's search and facets, the schedule, the sleep timer,
// media keys and the now-playing display.
//
// Lives on the main thread. Every published member has one NOTIFY signal,
// emitted on every assignment, equal value or not; callbacks from other
// threads are posted back to the main thread before they touch the store.
class RadioStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::vector<vantuli::Station> stations READ stations NOTIFY stationsChanged)
    Q_PROPERTY(std::optional<vantuli::Station> selected READ selected WRITE setSelected NOTIFY selectedChanged)
    Q_PROPERTY(std::optional<vantuli::Station> current READ current NOTIFY currentChanged)
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(std::vector<vantuli::Caption> subtitles READ subtitles NOTIFY subtitlesChanged)
    Q_PROPERTY(std::optional<QString> captionNoticeKey READ captionNoticeKey NOTIFY captionNoticeKeyChanged)
    Q_PROPERTY(int bufferSeconds READ bufferSeconds NOTIFY bufferSecondsChanged)
    Q_PROPERTY(QSet<QString> favorites READ favorites NOTIFY favoritesChanged)
    Q_PROPERTY(QStringList favoriteOrder READ favoriteOrder NOTIFY favoriteOrderChanged)
    Q_PROPERTY(std::vector<vantuli::ListeningRecord> history READ history NOTIFY historyChanged)
    Q_PROPERTY(Failures failures READ failures NOTIFY failuresChanged)
    Q_PROPERTY(vantuli::LibraryFilter filter READ filter WRITE setFilter NOTIFY filterChanged)
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(QString countryFilter READ countryFilter WRITE setCountryFilter NOTIFY countryFilterChanged)
    Q_PROPERTY(QString genreFilter READ genreFilter WRITE setGenreFilter NOTIFY genreFilterChanged)
    Q_PROPERTY(QString languageFilter READ languageFilter WRITE setLanguageFilter NOTIFY languageFilterChanged)
    Q_PROPERTY(vantuli::StationRefs visible READ visible NOTIFY visibleChanged)
    Q_PROPERTY(bool captionsOn READ captionsOn WRITE setCaptionsOn NOTIFY captionsOnChanged)
    Q_PROPERTY(double volume READ volume WRITE setVolume NOTIFY volumeChanged)
    Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(std::optional<vantuli::Date> sleepUntil READ sleepUntil NOTIFY sleepUntilChanged)
    Q_PROPERTY(QString translationText READ translationText WRITE setTranslationText NOTIFY translationTextChanged)
    Q_PROPERTY(bool translating READ translating WRITE setTranslating NOTIFY translatingChanged)
    Q_PROPERTY(bool archiveVisible READ archiveVisible WRITE setArchiveVisible NOTIFY archiveVisibleChanged)
    Q_PROPERTY(bool archiveFailed READ archiveFailed NOTIFY archiveFailedChanged)
    Q_PROPERTY(bool supportVisible READ supportVisible WRITE setSupportVisible NOTIFY supportVisibleChanged)
    Q_PROPERTY(bool scheduleVisible READ scheduleVisible WRITE setScheduleVisible NOTIFY scheduleVisibleChanged)
    Q_PROPERTY(std::vector<vantuli::ListeningTime> schedule READ schedule NOTIFY scheduleChanged)

public:
    enum class State { Stopped, Connecting, Playing, Failed };
    Q_ENUM(State)

    using Failures = std::map<QString, StationFailure>;
    using PacingRule = std::function<CaptionPacing(const QString &language)>;

    // The media-key actions (what each does: see performMediaAction).
    enum class MediaAction { Play, Pause, Toggle };

    // What the store is built from. Every member may be left empty for the
    // production choice.
    struct Dependencies {
        // Settings; null: the standard store.
        std::shared_ptr<SettingsStore> defaults;
        // Caption pacing of a language tag; null: CaptionPacing::forLanguage.
        PacingRule captionPacing;
        // The archive file; absent: the user's archive with the standard
        // settings store, an in-memory archive with any other.
        std::optional<QString> archiveURL;
        // Handed to every stream; receives each playback sample.
        PlaybackStream::TimingHook timing;
        // The catalog file; absent: "catalog.json" in the resource directory.
        std::optional<QString> catalogPath;
        // Makes the stream of each run; null: the live stream. A null stream
        // counts as a failed start.
        StreamFactory streamFactory;
        // How streams reach the network.
        StreamConfiguration streamConfiguration;
        // The recognition service; null: one with an idle time of 60 s.
        std::shared_ptr<LocalASR> asr;
        // Media keys and now playing; null: MediaSession::makeDefault().
        std::shared_ptr<MediaSession> mediaSession;
        // Clock and timers; null: the system's.
        std::shared_ptr<StoreClock> clock;
        std::shared_ptr<StoreTimers> timers;
        // Turn SIGTERM, SIGINT and SIGHUP into a clean quit.
        bool handleTerminationSignals = true;
        // How a termination signal quits the application; null: QCoreApplication::quit.
        std::function<void()> quit;
    };

    // The application's store: every dependency the production one.
    RadioStore();
    explicit RadioStore(Dependencies dependencies, QObject *parent = nullptr);
    ~RadioStore() override;
    RadioStore(const RadioStore &) = delete;
    RadioStore &operator=(const RadioStore &) = delete;

    // ---- Published members (declaration order of the store's state) ----
    const std::vector<Station> &stations() const { return stations_; }
    const std::optional<Station> &selected() const { return selected_; }
    void setSelected(std::optional<Station> station);
    const std::optional<Station> &current() const { return current_; }
    State state() const { return state_; }
    const std::optional<DisplayMessage> &playbackMessage() const { return playbackMessage_; }
    const std::vector<Caption> &subtitles() const { return subtitles_; }
    const std::optional<QString> &captionNoticeKey() const { return captionNoticeKey_; }
    int bufferSeconds() const { return bufferSeconds_; }
    const QSet<QString> &favorites() const { return favorites_; }
    const QStringList &favoriteOrder() const { return favoriteOrder_; }
    const std::vector<ListeningRecord> &history() const { return history_; }
    const Failures &failures() const { return failures_; }
    LibraryFilter filter() const { return filter_; }
    void setFilter(LibraryFilter filter);
    const QString &query() const { return query_; }
    void setQuery(const QString &query);
    const QString &countryFilter() const { return countryFilter_; }
    void setCountryFilter(const QString &id);
    const QString &genreFilter() const { return genreFilter_; }
    void setGenreFilter(const QString &id);
    const QString &languageFilter() const { return languageFilter_; }
    void setLanguageFilter(const QString &id);
    const StationRefs &visible() const { return visible_; }
    bool captionsOn() const { return captionsOn_; }
    void setCaptionsOn(bool on);
    double volume() const { return volume_; }
    void setVolume(double volume);
    const QString &language() const { return language_; }
    void setLanguage(const QString &language);
    const std::optional<Date> &sleepUntil() const { return sleepUntil_; }
    const QString &translationText() const { return translationText_; }
    void setTranslationText(const QString &text);
    bool translating() const { return translating_; }
    void setTranslating(bool translating);
    bool archiveVisible() const { return archiveVisible_; }
    void setArchiveVisible(bool visible);
    bool archiveFailed() const { return archiveFailed_; }
    bool supportVisible() const { return supportVisible_; }
    void setSupportVisible(bool visible);
    bool scheduleVisible() const { return scheduleVisible_; }
    void setScheduleVisible(bool visible);
    const std::vector<ListeningTime> &schedule() const { return schedule_; }

    // ---- Plain reads ----
    const std::vector<FeaturedGroup> &featuredGroups() const { return featuredGroups_; }
    const std::vector<DirectoryChoice> &genres() const { return genres_; }
    const std::vector<DirectoryChoice> &countries() const { return countries_; }
    const std::vector<DirectoryChoice> &languages() const { return languages_; }
    // The catalog station with the id; null when there is none.
    const Station *catalogStation(const QString &id) const;
    // The folded search text of every station, by id (built on request: the
    // store keeps the texts only in the one run the search scans).
    QHash<QString, QString> searchIndex() const;
    // The open archive; null when it could not be opened.
    ListeningArchive *archive() const { return archive_.get(); }
    // Seconds played in the current run.
    double position() const { return position_; }
    // A sleep timer is pending.
    bool sleepPending() const { return static_cast<bool>(sleepTask_); }

    // ---- Derived reads ----
    // The localised caption notice, empty without one.
    QString captionNotice() const;
    // Connecting or playing.
    bool active() const;
    // The selected station while stopped, otherwise the current one.
    std::optional<Station> transportStation() const;
    // The transport's localised status line.
    QString status() const;
    // Whether the station in question (current while active, else selected)
    // gets no captions because of its language.
    bool captionsDeferred() const;
    // Station ids of the history, newest first.
    QStringList recent() const;
    // The languages offered for recognition: the featured stations' tags
    // followed by "de", deferred ones left out, each once.
    QStringList captionLanguageCodes() const;
    // The language tag the live captions are recognised in: the chosen one,
    // the captioned station's while following the station, empty while the
    // language is detected or no station is captioned.
    QString captionsLanguage() const;

    // ---- Playback ----
    // Starts a station. `retry` is 0 except for reconnects; `recordVisit`
    // records a listen once the run plays.
    void start(const Station &station, int retry = 0, bool recordVisit = true);
    // Whether start() can play the station: its stream address parses and
    // its scheme is exactly "https".
    static bool canStart(const Station &station);
    // Ends the run; `interrupted` marks its session as ended by a failure.
    void stop(bool interrupted = false);
    // Stops the station when it is the active one, otherwise starts it.
    void toggle(const Station &station);
    // Moves the captions that are due at `position` into the shown list.
    void advance(double position);

    // ---- Archive ----
    // Empties the archive and the history and failure lists; a running stream
    // goes on and gets a new session row. Throws FileWriteError without an
    // archive, and passes on the archive's error (nothing changed then).
    void clearLocalArchive();

    // ---- Directory ----
    void indexDirectory();
    void refreshDirectory();
    void resetFilters();

    // ---- Favourites, history and failures ----
    void favorite(const Station &station);
    void recordListening(const Station &station, Date date);
    void clearHistory();
    void removeFromHistory(const Station &station);
    void removeRecent(const Station &station) { removeFromHistory(station); }
    void setUnavailable(bool unavailable, const Station &station);

    // ---- Schedule, sleep timer, media keys, links ----
    void addTime(const Station &station, Date date, bool workdays);
    void removeTime(const ListeningTime &time);
    // (Re)arms the 10 s schedule tick while the schedule is not empty.
    void armSchedule();
    // One tick of the schedule at the given date.
    void checkSchedule(Date date);
    // Sets (minutes >= 1) or clears the sleep timer.
    void sleep(int minutes);
    // Cancels a pending sleep timer and clears sleepUntil.
    void cancelSleep();
    // Registers the media-key handlers with the media session.
    void installMediaCommands();
    // A media command as its handler hands it over: it runs on the next pass
    // of the main thread, reading the state then. Commands that come before
    // it runs fold into their net effect, and a stream start that would
    // follow the last one within a short time waits for it to pass (a stop
    // never waits), so a flood of commands costs a few state changes and
    // a connection per short time at most, never a start per command.
    void queueMediaAction(MediaAction action);
    void performMediaAction(MediaAction action);
    // Brings a station named by a link into view; never starts playback.
    void openStationLink(const QUrl &url);
    // The host of the product web site: its https links name stations by path.
    static constexpr const char *productSiteHost = "vantuli.app";

    // The application is ending: `terminating`, a last checkpoint, the
    // settings written out, then the recogniser shut down.
    void applicationWillTerminate();

signals:
    void stationsChanged();
    void selectedChanged();
    void currentChanged();
    void stateChanged();
    void playbackMessageChanged();
    void subtitlesChanged();
    void captionNoticeKeyChanged();
    void bufferSecondsChanged();
    void favoritesChanged();
    void favoriteOrderChanged();
    void historyChanged();
    void failuresChanged();
    void filterChanged();
    void queryChanged();
    void countryFilterChanged();
    void genreFilterChanged();
    void languageFilterChanged();
    void visibleChanged();
    void captionsOnChanged();
    void volumeChanged();
    void languageChanged();
    void sleepUntilChanged();
    void translationTextChanged();
    void translatingChanged();
    void archiveVisibleChanged();
    void archiveFailedChanged();
    void supportVisibleChanged();
    void scheduleVisibleChanged();
    void scheduleChanged();
    // The application is ending (a quit or a termination signal); sent
    // before the last checkpoint, so that windows can go at once.
    void terminating();

private:
    // Widget tests set published state directly through the probe.
    friend class test::StoreProbe;

    // Assigns a published member and announces it (every time).
    template <typename T, typename U>
    void publish(T &member, U &&value, void (RadioStore::*changed)())
    {
        member = std::forward<U>(value);
        emit(this->*changed)();
    }

    // Start-up steps.
    void readSettings();
    void openArchive();
    void loadCatalog();
    void subscribe();

    // Playback.
    CaptionPacing pacing(const Station &station) const;
    void restartActive();
    void handleEvent(const StreamEvent &event, const Station &station, int retry,
                     const std::shared_ptr<bool> &visit);
    PlaybackStream::WindowHandler windowHandler(const QUuid &run, const QString &language);
    PlaybackStream::EventHandler eventHandler(const QUuid &run, const Station &station, int retry,
                                              const std::shared_ptr<bool> &visit);

    // Captions.
    void deliverCaptions(const QUuid &run, const QString &language,
                         const std::optional<std::vector<Caption>> &captions, bool skipped);
    void enqueueCaptions(const std::vector<Caption> &captions);

    // Archive sessions.
    void openArchiveSession(const Station &station, int retry);
    void checkpointArchive(bool interrupted);
    void setArchiveFailed(bool failed) { publish(archiveFailed_, failed, &RadioStore::archiveFailedChanged); }

    // Library.
    void saveHistory();
    void saveSchedule();
    void setNowPlaying(const Station &station);

    // Stored members, in declaration order.
    std::vector<Station> stations_;
    std::vector<FeaturedGroup> featuredGroups_;
    std::optional<Station> selected_;
    std::optional<Station> current_;
    State state_ = State::Stopped;
    std::optional<DisplayMessage> playbackMessage_;
    std::vector<Caption> subtitles_;
    std::optional<QString> captionNoticeKey_;
    int bufferSeconds_ = 0;
    QSet<QString> favorites_;
    QStringList favoriteOrder_;
    std::vector<ListeningRecord> history_;
    Failures failures_;
    LibraryFilter filter_ = LibraryFilter::Featured;
    QString query_;
    QString countryFilter_;
    QString genreFilter_;
    std::vector<DirectoryChoice> genres_;
    QString languageFilter_;
    StationRefs visible_; // stations of stations_
    std::vector<DirectoryChoice> countries_;
    std::vector<DirectoryChoice> languages_;
    QHash<QString, qsizetype> stationPositions_; // station id -> position in stations_
    bool captionsOn_ = true;
    double volume_ = 0.65;
    QString language_ = QStringLiteral("station");
    std::optional<Date> sleepUntil_;
    QString translationText_;
    bool translating_ = false;
    bool archiveVisible_ = false;
    bool archiveFailed_ = false;
    std::unique_ptr<ListeningArchive> archive_;
    std::optional<qint64> archiveID_;
    std::optional<Date> playbackStartedAt_;
    double archivedAt_ = 0;
    double archivePositionOffset_ = 0;
    bool reopenArchive_ = false;
    StreamTransfer archiveTransferOffset_;
    bool supportVisible_ = false;
    bool scheduleVisible_ = false;
    std::vector<ListeningTime> schedule_;
    std::unique_ptr<StoreTimer> scheduleTimer_;
    PacingRule captionPacing_;
    PlaybackStream::TimingHook timing_;
    std::shared_ptr<SettingsStore> defaults_;
    std::shared_ptr<LocalASR> asr_;
    QMetaObject::Connection termination_;
    QMetaObject::Connection interfaceLanguageChanges_;
    std::unique_ptr<PlaybackStream> stream_;
    QUuid generation_;
    std::vector<Caption> future_;
    std::unique_ptr<StoreTimer> sleepTask_;
    std::vector<std::pair<MediaSession::Command, qint64>> remoteTokens_;
    // Media commands waiting to run, folded: for each state they may find
    // (index 0: not active, 1: active), whether a station plays at the end
    // and whether a stop came on the way.
    struct MediaOutcome {
        bool plays = false;
        bool stopped = false;
    };
    std::optional<std::pair<MediaOutcome, MediaOutcome>> mediaWaiting_;
    bool mediaPosted_ = false;
    // Armed by a start a media command made, for the short time in which
    // another such start waits.
    std::unique_ptr<StoreTimer> mediaStartSpaced_;
    double position_ = 0;
    std::unique_ptr<StoreTimer> retryTask_;

    // Injected services.
    std::optional<QString> archiveURL_;
    std::optional<QString> catalogPath_;
    StreamFactory streamFactory_;
    StreamConfiguration streamConfiguration_;
    std::shared_ptr<MediaSession> mediaSession_;
    std::shared_ptr<StoreClock> clock_;
    std::shared_ptr<StoreTimers> timers_;
    std::function<void()> quit_;
    int terminationSignalID_ = 0; // registration for the termination signals

    // ---- Private helpers of the directory, library and schedule code ----
    // (kept here by their owner)
    // The sleep timer ran out: stop and forget the deadline.
    void sleepFired();
    // Runs the waiting media commands' net effect, unless it is a start too
    // soon after the last one.
    void runMediaActions();
    void mediaStartSpacingEnded();
    // The file URL of the broadcast artwork, looked up once; absent without one.
    static std::optional<QString> broadcastArtwork();
    // What the directory filters on, per catalog station (by position in
    // `stations_`), computed with the search index so that a keystroke costs
    // no lookups or language normalisation.
    struct DirectoryEntry {
        QString language;     // the language value: normalised code, "und" when unstated
        qsizetype offset = 0; // the folded search text, in directoryText_
        qsizetype length = 0;
    };
    std::vector<DirectoryEntry> directoryEntries_;
    QString directoryText_; // every folded search text, one after another, for a fast scan
};

} // namespace vantuli
