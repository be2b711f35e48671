#include "store/RadioStore.h"
#include "store/StoreKeys.h"

#include "platform/Resources.h"
#include "platform/SettingsStore.h"
#include "records/Json.h"
#include "records/L10n.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QSet>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace vantuli {

namespace {

constexpr double defaultVolume = 0.65;

// A volume the audio output can take: a value that is not a number falls
// back to the default, anything else is held within 0...1.
double usableVolume(double volume)
{
    if (!std::isfinite(volume))
        return defaultVolume;
    return std::clamp(volume, 0.0, 1.0);
}

// Decodes a JSON document kept as settings data; nothing when it does not decode.
template <typename T>
std::optional<T> decodeSetting(const std::optional<QByteArray> &data)
{
    if (!data)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(*data, &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    const QJsonValue value = document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    try {
        return JsonCoding<T>::decode(value);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

// SIGTERM, SIGINT and SIGHUP, turned into work on the main thread through a
// pipe the signal handler writes the signal's number into. While no store
// listens the signals keep their default effect.
class TerminationSignals {
public:
    static TerminationSignals &instance()
    {
        static TerminationSignals instance;
        return instance;
    }

    int add(std::function<void()> handler)
    {
        if (!install())
            return 0;
        const int id = ++lastID_;
        handlers_.emplace_back(id, std::move(handler));
        setDisposition(&TerminationSignals::onSignal);
        return id;
    }

    void remove(int id)
    {
        std::erase_if(handlers_, [id](const auto &entry) { return entry.first == id; });
        if (handlers_.empty())
            setDisposition(SIG_DFL);
    }

private:
    static constexpr int handled[] = {SIGTERM, SIGINT, SIGHUP};
    static inline int pipe_[2] = {-1, -1};

    static void onSignal(int signal)
    {
        const int saved = errno;
        const char byte = static_cast<char>(signal);
        [[maybe_unused]] const ssize_t written = ::write(pipe_[1], &byte, 1);
        errno = saved;
    }

    static void setDisposition(void (*handler)(int))
    {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : handled)
            ::sigaction(signal, &action, nullptr);
    }

    bool install()
    {
        if (notifier_)
            return true;
        if (!QCoreApplication::instance() || ::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
            return false;
        notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] { deliver(); });
        return true;
    }

    void deliver()
    {
        char buffer[64];
        ssize_t count = 0;
        int last = 0;
        while ((count = ::read(pipe_[0], buffer, sizeof buffer)) > 0)
            last = buffer[count - 1];
        if (handlers_.empty()) {
            // Every store has gone since the signal arrived: let it take its usual course.
            if (last != 0)
                ::raise(last);
            return;
        }
        const auto handlers = handlers_; // a handler may remove itself
        for (const auto &entry : handlers)
            entry.second();
    }

    QSocketNotifier *notifier_ = nullptr;
    int lastID_ = 0;
    std::vector<std::pair<int, std::function<void()>>> handlers_;
};

} // namespace

RadioStore::RadioStore() : RadioStore(Dependencies{}) {}

RadioStore::RadioStore(Dependencies dependencies, QObject *parent)
    : QObject(parent)
{
    // Start values, services and constants.
    defaults_ = dependencies.defaults ? dependencies.defaults : SettingsStore::standard();
    captionPacing_ = dependencies.captionPacing
        ? dependencies.captionPacing
        : PacingRule([](const QString &language) { return CaptionPacing::forLanguage(language); });
    timing_ = std::move(dependencies.timing);
    asr_ = dependencies.asr ? dependencies.asr : LocalASR::create(60);
    generation_ = QUuid::createUuid();
    archiveURL_ = std::move(dependencies.archiveURL);
    catalogPath_ = std::move(dependencies.catalogPath);
    streamFactory_ = std::move(dependencies.streamFactory);
    streamConfiguration_ = std::move(dependencies.streamConfiguration);
    mediaSession_ = dependencies.mediaSession ? dependencies.mediaSession : MediaSession::makeDefault();
    clock_ = dependencies.clock ? dependencies.clock : StoreClock::system();
    timers_ = dependencies.timers ? dependencies.timers : StoreTimers::system();
    quit_ = dependencies.quit ? std::move(dependencies.quit) : std::function<void()>([] {
        QCoreApplication::quit();
    });

    readSettings();
    openArchive();
    if (!catalogPath_)
        Resources::reportMissing();
    loadCatalog();
    subscribe();
    installMediaCommands();
    armSchedule();

    termination_ = connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                           [this] { applicationWillTerminate(); });
    if (dependencies.handleTerminationSignals) {
        terminationSignalID_ = TerminationSignals::instance().add([this] {
            applicationWillTerminate();
            quit_();
        });
    }
}

RadioStore::~RadioStore()
{
    if (terminationSignalID_ != 0)
        TerminationSignals::instance().remove(terminationSignalID_);
    disconnect(termination_);
    disconnect(interfaceLanguageChanges_);
    if (mediaSession_) {
        for (const auto &[command, token] : remoteTokens_)
            mediaSession_->removeTarget(command, token);
    }
    remoteTokens_.clear();
    mediaStartSpaced_.reset();
    sleepTask_.reset();
    retryTask_.reset();
    scheduleTimer_.reset();
    if (stream_) {
        stream_->stop();
        stream_.reset();
    }
    asr_->shutdown();
}

void RadioStore::readSettings()
{
    // Entry by entry: one that no longer decodes does not cost the others.
    const std::optional<QByteArray> schedule = defaults_->data(storekeys::schedule);
    schedule_ = schedule ? salvageList<ListeningTime>(*schedule).value : std::vector<ListeningTime>{};

    favoriteOrder_ = defaults_->stringList(storekeys::favorites).value_or(QStringList{});
    favorites_ = QSet<QString>(favoriteOrder_.begin(), favoriteOrder_.end());

    if (auto legacy = decodeSetting<std::vector<ListeningRecord>>(defaults_->data(storekeys::legacyHistory))) {
        history_ = std::move(*legacy);
    } else {
        history_.clear();
        for (const QString &id : defaults_->stringList(storekeys::legacyRecent).value_or(QStringList{}))
            history_.push_back(ListeningRecord{id, std::nullopt, 1});
    }

    failures_ = decodeSetting<Failures>(defaults_->data(storekeys::legacyFailures)).value_or(Failures{});

    captionsOn_ = defaults_->boolean(storekeys::captions).value_or(true);
    volume_ = usableVolume(defaults_->number(storekeys::volume).value_or(defaultVolume));

    const QString language = defaults_->string(storekeys::language).value_or(QStringLiteral("station"));
    if (Caption::isDeferred(language)) {
        language_ = QStringLiteral("station");
        defaults_->setValue(storekeys::language, language_);
    } else {
        language_ = language;
    }
}

void RadioStore::openArchive()
{
    bool damagedRow = false;
    try {
        std::optional<QString> location;
        if (archiveURL_)
            location = archiveURL_;
        else if (defaults_->isStandard())
            location = ListeningArchive::localURL();
        auto archive = std::make_unique<ListeningArchive>(location);

        // A damaged row keeps the records that still decode. Its raw text is
        // copied to a key of its own before the row is written again, and the
        // archive counts as failed so the loss does not go unnoticed; only a
        // failing database costs the archive itself.
        const auto readRow = [&](const QString &key, auto salvage, auto &member) {
            const std::optional<QByteArray> text = archive->stateText(key);
            if (!text) {
                archive->save(member, key);
                return;
            }
            auto salvaged = salvage(*text);
            if (!salvaged.damaged) {
                member = std::move(salvaged.value);
                return;
            }
            damagedRow = true;
            archive->saveText(key + QStringLiteral(".damaged"), *text);
            // Nothing left to keep: what the settings held stands instead.
            if (!salvaged.value.empty())
                member = std::move(salvaged.value);
            archive->save(member, key);
        };
        readRow(storekeys::recentRow, &salvageList<ListeningRecord>, history_);
        readRow(storekeys::failuresRow, &salvageMap<Failures>, failures_);

        defaults_->remove(storekeys::legacyRecent);
        defaults_->remove(storekeys::legacyHistory);
        defaults_->remove(storekeys::legacyFailures);
        archive_ = std::move(archive);
        archiveFailed_ = damagedRow;
    } catch (const std::exception &) {
        archive_.reset();
        archiveFailed_ = true;
    }
}

void RadioStore::loadCatalog()
{
    const QString path = catalogPath_ ? *catalogPath_ : Resources::path(QStringLiteral("catalog.json"));
    std::vector<Station> catalog;
    QHash<QString, qsizetype> positions;
    try {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw std::runtime_error(QStringLiteral("%1: %2").arg(path, file.errorString()).toStdString());
        catalog = Station::decodeCatalog(file.readAll());
        // Every lookup by id would silently take one of two stations that share
        // an id: such a catalog is refused as a whole.
        positions.reserve(static_cast<qsizetype>(catalog.size()));
        for (const Station &station : catalog) {
            if (positions.contains(station.id))
                throw DecodingError(QStringLiteral("The station id \"%1\" is used by more than one station.")
                                        .arg(station.id));
            positions.insert(station.id, positions.size());
        }
    } catch (const DecodingError &error) {
        playbackMessage_ = DisplayMessage::format(QStringLiteral("目录读取失败。%@"), error.description());
        return;
    } catch (const std::exception &error) {
        playbackMessage_ = DisplayMessage::format(QStringLiteral("目录读取失败。%@"), QString::fromStdString(error.what()));
        return;
    }

    // The visible list points into the catalog it replaces.
    visible_ = {};
    stations_ = std::move(catalog);
    featuredGroups_ = FeaturedGroup::groups(stations_);
    stationPositions_ = std::move(positions);

    // A failure of a station whose address changed, or that left the
    // catalog, no longer applies.
    std::erase_if(failures_, [this](const auto &entry) {
        const Station *station = catalogStation(entry.first);
        return !station || station->streamUrl != entry.second.url;
    });

    indexDirectory();

    selected_.reset();
    for (const ListeningRecord &record : history_) {
        const Station *station = catalogStation(record.stationID);
        if (station && !failures_.contains(record.stationID)) {
            selected_ = *station;
            break;
        }
    }
    if (!selected_) {
        for (const Station &station : stations_) {
            if (!failures_.contains(station.id)) {
                selected_ = station;
                break;
            }
        }
    }

    refreshDirectory();
}

const Station *RadioStore::catalogStation(const QString &id) const
{
    const auto position = stationPositions_.constFind(id);
    return position == stationPositions_.constEnd() ? nullptr : &stations_[size_t(*position)];
}

void RadioStore::subscribe()
{
    interfaceLanguageChanges_ = connect(&L10n::shared(), &L10n::didChange, this, [this] {
        indexDirectory();
        refreshDirectory();
        if (state_ == State::Playing && current_)
            setNowPlaying(*current_);
    }, Qt::DirectConnection);
}

void RadioStore::applicationWillTerminate()
{
    emit terminating();
    stop(false);
    // What was set just before quitting is written out before recognition
    // ends (the standard store writes what comes later when the application
    // object goes).
    defaults_->sync();
    // Gives up the window being recognised rather than waiting for it.
    asr_->shutdown();
}

// ---- Settings and plain published members ----

void RadioStore::setSelected(std::optional<Station> station)
{
    publish(selected_, std::move(station), &RadioStore::selectedChanged);
}

void RadioStore::setCaptionsOn(bool on)
{
    const bool old = captionsOn_;
    publish(captionsOn_, on, &RadioStore::captionsOnChanged);
    if (on == old)
        return;
    defaults_->setValue(storekeys::captions, on);
    restartActive();
}

void RadioStore::setLanguage(const QString &language)
{
    const QString old = language_;
    publish(language_, language, &RadioStore::languageChanged);
    if (language == old)
        return;
    defaults_->setValue(storekeys::language, language);
    if (captionsOn_)
        restartActive();
}

void RadioStore::setVolume(double volume)
{
    publish(volume_, usableVolume(volume), &RadioStore::volumeChanged);
    if (stream_)
        stream_->setVolume(static_cast<float>(volume_));
    defaults_->setValue(storekeys::volume, volume_);
}

void RadioStore::setTranslationText(const QString &text)
{
    publish(translationText_, text, &RadioStore::translationTextChanged);
}

void RadioStore::setTranslating(bool translating)
{
    publish(translating_, translating, &RadioStore::translatingChanged);
}

void RadioStore::setArchiveVisible(bool visible)
{
    publish(archiveVisible_, visible, &RadioStore::archiveVisibleChanged);
}

void RadioStore::setSupportVisible(bool visible)
{
    publish(supportVisible_, visible, &RadioStore::supportVisibleChanged);
}

void RadioStore::setScheduleVisible(bool visible)
{
    publish(scheduleVisible_, visible, &RadioStore::scheduleVisibleChanged);
}

// ---- Derived reads ----

QString RadioStore::captionNotice() const
{
    return captionNoticeKey_ ? L10n::shared().text(*captionNoticeKey_) : QString();
}

bool RadioStore::active() const
{
    return state_ == State::Connecting || state_ == State::Playing;
}

std::optional<Station> RadioStore::transportStation() const
{
    return state_ == State::Stopped ? selected_ : current_;
}

bool RadioStore::captionsDeferred() const
{
    const std::optional<Station> &station = active() ? current_ : selected_;
    return Caption::isDeferred(station ? station->language : QString());
}

QStringList RadioStore::recent() const
{
    QStringList ids;
    ids.reserve(static_cast<qsizetype>(history_.size()));
    for (const ListeningRecord &record : history_)
        ids.append(record.stationID);
    return ids;
}

QStringList RadioStore::captionLanguageCodes() const
{
    QStringList codes;
    auto add = [&codes](const QString &tag) {
        if (!Caption::isDeferred(tag) && !codes.contains(tag))
            codes.append(tag);
    };
    for (const FeaturedGroup &group : featuredGroups_)
        for (const Station &station : group.stations)
            add(station.language);
    add(QStringLiteral("de"));
    return codes;
}

QString RadioStore::captionsLanguage() const
{
    if (language_ == QLatin1String("auto"))
        return {};
    if (language_ == QLatin1String("station"))
        return current_ ? current_->language : QString();
    return language_;
}

} // namespace vantuli
