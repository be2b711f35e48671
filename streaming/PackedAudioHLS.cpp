#include "streaming/PackedAudioHLS.h"

#include "streaming/StreamRequest.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <optional>

namespace vantuli::PackedAudioHLS {

QByteArray audio(const QByteArray &data)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(data[i]); };
    qint64 skip = 0;
    if (data.startsWith("ID3")) {
        if (data.size() < 10)
            throw UrlError::make(UrlError::cannotDecodeContentData);
        for (int i = 6; i <= 9; ++i) {
            if (byte(i) >= 0x80)
                throw UrlError::make(UrlError::cannotDecodeContentData);
        }
        // The tag size is a synchsafe integer: four 7-bit groups.
        const qint64 size = ((qint64(byte(6)) * 128 + byte(7)) * 128 + byte(8)) * 128 + byte(9);
        skip = size + 10;
        if (byte(3) == 4 && (byte(5) & 0x10))
            skip += 10; // a version 4 tag with a footer
    }
    // An ADTS frame header: the 12-bit sync word, layer 00; version and
    // protection bits may take any value.
    if (data.size() - skip < 7 || byte(skip) != 0xFF || (byte(skip + 1) & 0xF6) != 0xF0)
        throw UrlError::make(UrlError::cannotDecodeContentData);
    return skip == 0 ? data : data.mid(skip);
}

double reloadDelay(double target, bool warmStart)
{
    const double half = target * 0.5;
    return std::max(0.5, warmStart ? std::min(half, 2.0) : half);
}

namespace {

struct Fetched {
    std::optional<UrlError> error;
    QByteArray body;
    QUrl url; // the response's final URL, after redirects; empty when no response head arrived
};

// One GET of a playlist or segment, with its size limit and idle time-out.
// The completion is called once, never from start() itself; cancel() (or
// dropping the object) ends the transfer without calling it.
class Fetch : public std::enable_shared_from_this<Fetch> {
public:
    using Done = std::function<void(Fetched)>;

    static std::shared_ptr<Fetch> start(StreamSession *session, const QUrl &url, qint64 limit,
                                        const StreamConfiguration &configuration, Done done)
    {
        auto fetch = std::shared_ptr<Fetch>(new Fetch(std::move(done)));
        fetch->begin(session, url, limit, configuration);
        return fetch;
    }

    ~Fetch() { cancel(); }

    // Whether the response's head arrived.
    bool answered() const { return !url_.isEmpty(); }

    void cancel()
    {
        if (finished_)
            return;
        finished_ = true;
        drop();
    }

private:
    explicit Fetch(Done done) : done_(std::move(done)) {}

    void begin(StreamSession *session, const QUrl &url, qint64 limit, const StreamConfiguration &configuration)
    {
        std::weak_ptr<Fetch> weak = weak_from_this();
        if (url.scheme() != QLatin1String("https")) {
            // Never sent: only https is fetched.
            QTimer::singleShot(0, session, [weak] {
                if (auto self = weak.lock())
                    self->complete(UrlError::make(UrlError::unsupportedURL));
            });
            return;
        }
        StreamRequest::Handlers handlers;
        handlers.responded = [weak](int status, const QUrl &at, const QByteArray &) {
            if (auto self = weak.lock())
                self->responded(status, at);
        };
        handlers.readable = [weak] {
            if (auto self = weak.lock())
                self->readBody();
        };
        handlers.finished = [weak](std::optional<StreamRequest::Failure> failure) {
            if (auto self = weak.lock())
                self->requestFinished(failure);
        };
        // The request holds the body to its limit, an announced one included.
        request_ = new StreamRequest(configuration,
                                     StreamConfiguration::milliseconds(configuration.timeoutFor(requestTimeout)),
                                     std::move(handlers), session, session, limit);
        request_->get(url, {});
    }

    // The response must be an HTTP 2xx whose final URL is https.
    void responded(int status, const QUrl &url)
    {
        url_ = url;
        if (status < 200 || status > 299 || url.scheme() != QLatin1String("https"))
            complete(UrlError::make(UrlError::badServerResponse));
    }

    void readBody()
    {
        while (!finished_ && request_) {
            const QByteArray part = request_->read(StreamRequest::bufferLimit);
            if (part.isEmpty())
                return;
            body_ += part;
        }
    }

    void requestFinished(std::optional<StreamRequest::Failure> failure)
    {
        if (finished_ || !request_)
            return;
        if (!failure) {
            readBody();
            complete(std::nullopt);
            return;
        }
        switch (*failure) {
        // A redirect that would leave https (refused before any request is
        // sent), a head over its limit, or a garbled response.
        case StreamRequest::Failure::refused:
        case StreamRequest::Failure::badResponse:
            complete(UrlError::make(UrlError::badServerResponse));
            return;
        case StreamRequest::Failure::proxyRefused:
            complete(UrlError::make(UrlError::proxyRefused));
            return;
        case StreamRequest::Failure::tooManyRedirects:
            complete(UrlError::make(UrlError::httpTooManyRedirects));
            return;
        case StreamRequest::Failure::tooLarge:
            complete(UrlError::make(UrlError::dataLengthExceedsMaximum));
            return;
        case StreamRequest::Failure::transport:
            complete(UrlError::make(request_->transportError()));
            return;
        }
    }

    void complete(std::optional<UrlError> error)
    {
        if (finished_)
            return;
        finished_ = true;
        drop();
        Fetched result;
        result.url = url_;
        result.error = std::move(error);
        if (!result.error)
            result.body = std::move(body_);
        Done done = std::move(done_);
        done(std::move(result));
    }

    void drop()
    {
        if (request_) {
            request_->cancel();
            request_->deleteLater();
            request_ = nullptr;
        }
    }

    Done done_;
    QPointer<StreamRequest> request_;
    QUrl url_;
    QByteArray body_;
    bool finished_ = false;
};

} // namespace

class Task::Loop : public std::enable_shared_from_this<Loop> {
public:
    Loop(const QUrl &url, const StreamConfiguration &configuration, bool warmStart, Output output, Failure failed,
         Wanted wanted)
        : given_(url), current_(url), configuration_(configuration), warmStart_(warmStart),
          output_(std::move(output)), failed_(std::move(failed)), wanted_(std::move(wanted))
    {
        session_ = new StreamSession(nullptr, 1);
        timer_ = new QTimer(session_);
        timer_->setSingleShot(true);
    }

    // The loop may go from inside a handler of one of the session's
    // requests: the session goes once control is back in the event loop.
    ~Loop()
    {
        cancel();
        if (session_)
            session_->deleteLater();
    }

    void start()
    {
        std::weak_ptr<Loop> weak = weak_from_this();
        QObject::connect(timer_, &QTimer::timeout, timer_, [weak] {
            if (auto self = weak.lock())
                self->reload();
        });
        reload();
    }

    void cancel()
    {
        running_ = false;
        playlistFetch_.reset();
        segmentFetch_.reset();
        earlierFetch_.reset();
        dropWarmSession();
        if (timer_) {
            timer_->stop();
            timer_->deleteLater();
            timer_ = nullptr;
        }
    }

    bool running() const { return running_; }
    double announcedTarget() const { return announced_; }

    void resume()
    {
        if (!held_ || !running_)
            return;
        held_ = false;
        fetchQueued();
    }

private:
    // Fetches the current playlist.
    void reload()
    {
        if (!running_ || !session_)
            return;
        fetch(&Loop::playlistFetch_, session_, current_, playlistLimit, &Loop::playlistFetched);
    }

    // Starts a fetch that `slot` holds. Its result goes to `then` while the
    // loop runs, once `slot` let go of it.
    template <typename Then>
    void fetch(std::shared_ptr<Fetch> Loop::*slot, StreamSession *session, const QUrl &url, qint64 limit, Then then)
    {
        this->*slot = Fetch::start(session, url, limit, configuration_,
                                   [weak = weak_from_this(), slot, then](Fetched fetched) {
                                       auto self = weak.lock();
                                       if (!self || !self->running_)
                                           return;
                                       (self.get()->*slot).reset();
                                       std::invoke(then, *self, std::move(fetched));
                                   });
    }

    void playlistFetched(Fetched fetched)
    {
        if (fetched.error) {
            fail(*fetched.error);
            return;
        }
        Playlist list;
        try {
            list = playlist(fetched.body, fetched.url);
        } catch (const UrlError &error) {
            fail(error);
            return;
        }
        if (const auto *variant = std::get_if<Variant>(&list)) {
            // A master playlist is followed once, and never back to itself.
            if (current_ != given_ || variant->url == given_) {
                fail(UrlError::make(UrlError::cannotParseResponse));
                return;
            }
            current_ = variant->url;
            reload();
            return;
        }
        media(std::get<Media>(std::move(list)));
    }

    void media(Media list)
    {
        const qint64 first = list.first;
        const qint64 count = static_cast<qint64>(list.segments.size());
        const qint64 end = first + count;
        target_ = list.target;
        announced_ = list.target;

        if (!next_ && warmStart_ && count >= 2) {
            warm(list.segments[count - 2], list.segments[count - 1], end);
            return;
        }
        const qint64 wanted = next_ ? *next_ : end - 1;
        if (wanted < first) {
            // The stream moved past segments not yet fetched.
            fail(UrlError::make(UrlError::networkConnectionLost));
            return;
        }
        if (wanted >= end) {
            waitForReload();
            return;
        }
        queue_.assign(list.segments.begin() + (wanted - first), list.segments.end());
        queueEnd_ = end;
        fetchQueued();
    }

    // Fetches the queued segments one after another, in playlist order.
    void fetchQueued()
    {
        if (!running_)
            return;
        if (queue_.empty()) {
            next_ = queueEnd_;
            waitForReload();
            return;
        }
        if (wanted_ && !wanted_()) {
            held_ = true; // resume() goes on
            return;
        }
        const QUrl url = queue_.front();
        queue_.erase(queue_.begin());
        fetch(&Loop::segmentFetch_, session_, url, segmentLimit, &Loop::segmentFetched);
    }

    void segmentFetched(Fetched fetched)
    {
        if (const auto payload = segmentAudio(fetched); payload && deliver(*payload))
            fetchQueued();
    }

    // A segment's audio; nothing when it failed, and then the loop failed.
    std::optional<QByteArray> segmentAudio(const Fetched &fetched)
    {
        if (fetched.error) {
            fail(*fetched.error);
            return std::nullopt;
        }
        try {
            return audio(fetched.body);
        } catch (const UrlError &error) {
            fail(error);
            return std::nullopt;
        }
    }

    // The first playlist with a warm start: the last two segments at the same
    // time, the earlier one optional, handed over together as one block.
    void warm(const QUrl &earlier, const QUrl &last, qint64 end)
    {
        queueEnd_ = end;
        earlierPayload_.reset();
        lastPayload_.reset();
        earlierDone_ = false;
        // The run's session keeps one connection per host, for the playlist
        // reloads and the segments that follow; the last segment goes over
        // it, and the earlier one over a second connection of its own,
        // closed once it is fetched.
        fetch(&Loop::segmentFetch_, session_, last, segmentLimit, [](Loop &self, Fetched fetched) {
            self.lastPayload_ = self.segmentAudio(fetched);
            if (self.lastPayload_)
                self.warmFetched();
        });
        warmSession_ = new StreamSession(nullptr, 1);
        fetch(&Loop::earlierFetch_, warmSession_, earlier, segmentLimit, [earlier](Loop &self, Fetched fetched) {
            self.dropWarmSession();
            if (fetched.url.isEmpty())
                self.fetchEarlierHere(earlier); // never answered
            else
                self.earlierFetched(std::move(fetched));
        });
        // The second connection only saves a round trip or two: where it is
        // not answered soon (a server that serves one connection per
        // client), the segment goes over the run's own, after the last one.
        QTimer::singleShot(StreamConfiguration::milliseconds(configuration_.timeoutFor(secondConnectionWait)), session_,
                           [weak = weak_from_this(), earlier, asked = std::weak_ptr<Fetch>(earlierFetch_)] {
                               auto self = weak.lock();
                               const auto apart = asked.lock();
                               if (!self || !self->running_ || !apart || apart != self->earlierFetch_
                                   || apart->answered())
                                   return;
                               self->earlierFetch_.reset();
                               self->dropWarmSession();
                               self->fetchEarlierHere(earlier);
                           });
    }

    // The earlier warm-start segment over the run's own connection, once the
    // last one is through with it.
    void fetchEarlierHere(const QUrl &earlier)
    {
        fetch(&Loop::earlierFetch_, session_, earlier, segmentLimit, &Loop::earlierFetched);
    }

    void earlierFetched(Fetched fetched)
    {
        earlierDone_ = true;
        if (!fetched.error) {
            try {
                earlierPayload_ = audio(fetched.body);
            } catch (const UrlError &) {
                // A refused payload is left out.
            }
        }
        warmFetched();
    }

    void warmFetched()
    {
        if (!earlierDone_ || !lastPayload_)
            return;
        QByteArray block = earlierPayload_.value_or(QByteArray());
        block += *lastPayload_;
        earlierPayload_.reset();
        lastPayload_.reset();
        if (!deliver(block))
            return;
        next_ = queueEnd_;
        waitForReload();
    }

    // Called from inside a handler of one of its requests, too: the session
    // goes once control is back in the event loop.
    void dropWarmSession()
    {
        if (warmSession_) {
            warmSession_->deleteLater();
            warmSession_ = nullptr;
        }
    }

    void waitForReload()
    {
        if (!running_ || !timer_)
            return;
        const double seconds = configuration_.waitFor(reloadDelay(target_, warmStart_));
        timer_->start(StreamConfiguration::milliseconds(seconds));
    }

    // Hands audio to the owner; answers whether the loop still runs (the owner
    // may cancel it from inside the output).
    bool deliver(const QByteArray &bytes)
    {
        auto keep = shared_from_this();
        output_(bytes);
        return running_;
    }

    void fail(const UrlError &error)
    {
        if (!running_)
            return;
        auto keep = shared_from_this();
        cancel();
        failed_(error);
    }

    const QUrl given_;
    QUrl current_;
    QPointer<StreamSession> session_;
    const StreamConfiguration configuration_;
    const bool warmStart_;
    const Output output_;
    const Failure failed_;
    const Wanted wanted_;

    bool running_ = true;
    bool held_ = false; // a segment waits for room at the owner
    std::optional<qint64> next_; // sequence number of the next segment to fetch
    double target_ = 1;
    double announced_ = 0; // target of the latest media playlist; 0 before the first
    QPointer<QTimer> timer_;

    std::shared_ptr<Fetch> playlistFetch_;
    std::shared_ptr<Fetch> segmentFetch_;
    std::vector<QUrl> queue_;
    qint64 queueEnd_ = 0;

    std::shared_ptr<Fetch> earlierFetch_;
    QPointer<StreamSession> warmSession_; // the earlier segment's, during the warm start only
    std::optional<QByteArray> earlierPayload_;
    std::optional<QByteArray> lastPayload_;
    bool earlierDone_ = false;
};

Task::Task(std::shared_ptr<Loop> loop) : loop_(std::move(loop)) {}

Task::~Task()
{
    cancel();
}

void Task::cancel()
{
    if (loop_)
        loop_->cancel();
}

void Task::resume()
{
    if (loop_)
        loop_->resume();
}

bool Task::running() const
{
    return loop_ && loop_->running();
}

double Task::targetDuration() const
{
    return loop_ ? loop_->announcedTarget() : 0;
}

std::unique_ptr<Task> play(const QUrl &url, const StreamConfiguration &configuration, bool warmStart, Output output,
                           Failure failed, Wanted wanted)
{
    auto loop = std::make_shared<Task::Loop>(url, configuration, warmStart, std::move(output), std::move(failed),
                                             std::move(wanted));
    loop->start();
    return std::make_unique<Task>(std::move(loop));
}

} // namespace vantuli::PackedAudioHLS
