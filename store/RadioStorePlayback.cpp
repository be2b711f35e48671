#include "store/RadioStore.h"

#include "platform/MainThread.h"
#include "records/L10n.h"

#include <QPointer>

#include <cmath>

namespace vantuli {

namespace {

const QString notHttpsKey = QStringLiteral("这家电台目前提供官网收听入口。");
const QString reconnectingKey = QStringLiteral("正在重新连接（第 %@ 次）…");
const QString noStreamKey = QStringLiteral("连接失败");

// Seconds of audio a run collects before it plays, by caption pacing.
int bufferDelay(CaptionPacing pacing)
{
    switch (pacing.value()) {
    case CaptionPacing::Short:
        return 5;
    case CaptionPacing::Sentence:
        return 14;
    case CaptionPacing::Conversational:
        return 12;
    }
    return 0;
}

// Only stream addresses whose own scheme text is exactly "https" are played.
// QUrl lower-cases the scheme it parses, so the text itself is compared.
std::optional<QUrl> httpsAddress(const QString &address)
{
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return std::nullopt;
    const qsizetype colon = address.indexOf(QLatin1Char(':'));
    if (colon < 0 || address.left(colon) != QLatin1String("https"))
        return std::nullopt;
    return url;
}

} // namespace

bool RadioStore::canStart(const Station &station)
{
    return httpsAddress(station.streamUrl).has_value();
}

void RadioStore::start(const Station &station, int retry, bool recordVisit)
{
    // One chain of reconnects records at most one visit.
    auto visit = std::make_shared<bool>(recordVisit);

    stop(false);
    if (retry == 0)
        publish(selected_, station, &RadioStore::selectedChanged);
    publish(current_, station, &RadioStore::currentChanged);

    const std::optional<QUrl> url = httpsAddress(station.streamUrl);
    if (!url) {
        publish(state_, State::Failed, &RadioStore::stateChanged);
        publish(playbackMessage_, DisplayMessage::key(notHttpsKey), &RadioStore::playbackMessageChanged);
        return;
    }

    openArchiveSession(station, retry);
    const QUuid run = generation_;

    QString recognitionLanguage = language_ == QLatin1String("station")
        ? CaptionPacing::languageCode(station.language)
        : CaptionPacing::languageCode(language_);
    if (recognitionLanguage.isEmpty())
        recognitionLanguage = QStringLiteral("auto");

    CaptionPacing runPacing = CaptionPacing::Short;
    double delay = 0;
    if (captionsOn_ && !Caption::isDeferred(station.language)) {
        runPacing = pacing(station);
        asr_->activate(run, runPacing.value() == CaptionPacing::Conversational);
        delay = bufferDelay(runPacing);
    }
    publish(state_, State::Connecting, &RadioStore::stateChanged);
    // A reconnect says so while it connects, until the station answers (the
    // stop above cleared the message the failure set).
    if (retry > 0)
        publish(playbackMessage_, DisplayMessage::format(reconnectingKey, QString::number(retry)),
                &RadioStore::playbackMessageChanged);

    PlaybackStream::Parameters parameters;
    parameters.delay = delay;
    parameters.pacing = runPacing;
    parameters.timing = timing_;
    parameters.window = windowHandler(run, recognitionLanguage);
    parameters.event = eventHandler(run, station, retry, visit);
    const PlaybackStream::EventHandler events = parameters.event;

    stream_ = streamFactory_ ? streamFactory_(std::move(parameters)) : makeLiveStream(std::move(parameters));
    if (!stream_) {
        // A stream that cannot be made fails like one that cannot connect.
        events(StreamEvent::failed(DisplayMessage::key(noStreamKey)));
        return;
    }
    stream_->start(*url, static_cast<float>(volume_), streamConfiguration_);
}

void RadioStore::stop(bool interrupted)
{
    checkpointArchive(interrupted);

    archiveID_.reset();
    playbackStartedAt_.reset();
    archivedAt_ = 0;
    reopenArchive_ = false;
    archivePositionOffset_ = 0;
    archiveTransferOffset_ = StreamTransfer{};

    asr_->idle();
    generation_ = QUuid::createUuid();

    retryTask_.reset(); // dropping the handle cancels the wait
    publish(bufferSeconds_, 0, &RadioStore::bufferSecondsChanged);

    if (stream_) {
        stream_->stop();
        stream_.reset();
    }

    future_.clear();
    publish(subtitles_, std::vector<Caption>{}, &RadioStore::subtitlesChanged);
    position_ = 0;

    publish(state_, State::Stopped, &RadioStore::stateChanged);
    publish(playbackMessage_, std::nullopt, &RadioStore::playbackMessageChanged);
    publish(captionNoticeKey_, std::nullopt, &RadioStore::captionNoticeKeyChanged);

    if (mediaSession_) {
        mediaSession_->setPlaybackState(MediaSession::PlaybackState::Stopped);
        mediaSession_->setNowPlaying(std::nullopt);
    }
}

void RadioStore::toggle(const Station &station)
{
    if (current_ && current_->id == station.id && active())
        stop(false);
    else
        start(station, 0, true);
}

CaptionPacing RadioStore::pacing(const Station &station) const
{
    if (language_ == QLatin1String("station") || language_ == QLatin1String("auto"))
        return captionPacing_(station.language);
    return captionPacing_(language_);
}

void RadioStore::restartActive()
{
    if (active() && !captionsDeferred() && current_) {
        const Station station = *current_; // start assigns current_ itself
        start(station, 0, state_ != State::Playing);
    }
}

QString RadioStore::status() const
{
    switch (state_) {
    case State::Stopped:
        return L10n::shared().text(QStringLiteral("已停止"));
    case State::Playing:
        return L10n::shared().text(QStringLiteral("正在直播"));
    case State::Failed:
        return L10n::shared().text(QStringLiteral("连接失败"));
    case State::Connecting:
        break;
    }
    // While connecting the only message is a reconnect's, until the station answers.
    if (playbackMessage_)
        return playbackMessage_->text();
    if (!captionsOn_ || captionsDeferred())
        return L10n::shared().text(QStringLiteral("正在连接…"));
    if (current_) {
        const CaptionPacing runPacing = pacing(*current_);
        if (runPacing.value() == CaptionPacing::Sentence || runPacing.value() == CaptionPacing::Conversational)
            return L10n::format(QStringLiteral("正在准备同步字幕（目标缓冲 %@ 秒）…"),
                                {QString::number(bufferDelay(runPacing))});
    }
    return L10n::shared().text(QStringLiteral("正在连接并准备同步字幕…"));
}

PlaybackStream::EventHandler RadioStore::eventHandler(const QUuid &run, const Station &station, int retry,
                                                      const std::shared_ptr<bool> &visit)
{
    // Everything the handler needs, made once on the main thread, so that the
    // stream's queue only copies a pointer and the event.
    struct Run {
        QPointer<RadioStore> store;
        QUuid run;
        Station station;
        int retry;
        std::shared_ptr<bool> visit;
    };
    auto context = std::make_shared<const Run>(Run{this, run, station, retry, visit});
    return [context](const StreamEvent &event) {
        MainThread::post([context, event] {
            RadioStore *store = context->store.data();
            if (!store || store->generation_ != context->run)
                return;
            store->handleEvent(event, context->station, context->retry, context->visit);
        });
    };
}

void RadioStore::handleEvent(const StreamEvent &event, const Station &station, int retry,
                             const std::shared_ptr<bool> &visit)
{
    switch (event.kind) {
    case StreamEvent::Kind::Position: {
        const double rounded = std::round(event.buffered);
        const int seconds = std::isfinite(rounded) && rounded > 0 ? static_cast<int>(std::min(rounded, 1.0e9)) : 0;
        if (seconds != bufferSeconds_)
            publish(bufferSeconds_, seconds, &RadioStore::bufferSecondsChanged);
        advance(event.played);
        if (reopenArchive_) {
            openArchiveSession(station, retry);
            playbackStartedAt_ = clock_->now();
        }
        if (event.played - archivedAt_ >= 5)
            checkpointArchive(false);
        break;
    }
    case StreamEvent::Kind::Answered:
        // The station answered: from now on the status line tells the buffering.
        if (state_ == State::Connecting && playbackMessage_)
            publish(playbackMessage_, std::nullopt, &RadioStore::playbackMessageChanged);
        break;
    case StreamEvent::Kind::Playing:
        if (reopenArchive_)
            openArchiveSession(station, retry);
        playbackStartedAt_ = clock_->now();
        checkpointArchive(false);
        publish(state_, State::Playing, &RadioStore::stateChanged);
        if (playbackMessage_) // a reconnect's message
            publish(playbackMessage_, std::nullopt, &RadioStore::playbackMessageChanged);
        setUnavailable(false, station);
        if (*visit) {
            recordListening(station, clock_->now());
            *visit = false;
        }
        setNowPlaying(station);
        break;
    case StreamEvent::Kind::Failed: {
        stop(true);
        const DisplayMessage message = event.message.value_or(DisplayMessage::key(noStreamKey));
        // A failure no reconnect can mend ends the chain at once; it is not
        // the station's.
        if (retry > 1 || !event.worthRetrying) {
            if (event.worthRetrying)
                setUnavailable(true, station);
            publish(state_, State::Failed, &RadioStore::stateChanged);
            publish(playbackMessage_, message, &RadioStore::playbackMessageChanged);
            return;
        }
        publish(state_, State::Connecting, &RadioStore::stateChanged);
        publish(playbackMessage_, DisplayMessage::format(reconnectingKey, QString::number(retry + 1)),
                &RadioStore::playbackMessageChanged);
        QPointer<RadioStore> self(this);
        retryTask_ = timers_->after(retry + 2, [self, station, retry, visit] {
            if (!self)
                return;
            // The wait is over; the handle goes with the stop that start makes.
            self->start(station, retry + 1, *visit);
        });
        break;
    }
    }
}

} // namespace vantuli
