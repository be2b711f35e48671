#include "captioning/LocalASR.h"

#include "platform/MainThread.h"
#include "platform/Resources.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdlib>

namespace vantuli {

namespace {

// Services whose model has loaded once; each is shut down at process exit if
// it still exists then. One trampoline is registered with the C library.
std::mutex exitLock;
std::vector<std::weak_ptr<LocalASR>> exitServices;

void shutDownAtExit()
{
    std::vector<std::weak_ptr<LocalASR>> services;
    {
        std::lock_guard lock(exitLock);
        services.swap(exitServices);
    }
    for (const auto &weak : services) {
        if (auto service = weak.lock())
            service->shutdown();
    }
}

} // namespace

QString LocalASR::modelFileName()
{
    return QStringLiteral("ggml-small-q5_1.bin");
}

std::shared_ptr<LocalASR> LocalASR::create(double idleSeconds, QString modelPath, RecognizerFactory factory)
{
    return std::make_shared<LocalASR>(Token{}, idleSeconds, std::move(modelPath), std::move(factory));
}

LocalASR::LocalASR(Token, double idleSeconds, QString modelPath, RecognizerFactory factory)
    : queue_(std::make_unique<SerialQueue>(QStringLiteral("app.vantuli.asr"))),
      idleSeconds_(idleSeconds),
      modelPath_(std::move(modelPath)),
      factory_(factory ? std::move(factory) : RecognizerFactory([](const QString &path) {
          // The speech library keeps what it allocated for a model that fails
          // to load: a damaged file is turned away before it gets there.
          if (!SpeechModelFile::isComplete(path))
              return std::unique_ptr<SpeechRecognizer>();
          return std::unique_ptr<SpeechRecognizer>(RadioRecognizer::create(path));
      }))
{
}

LocalASR::~LocalASR()
{
    // Work items on the queue refer to the service: finish them and end the
    // queue's thread before any other member goes.
    shutdown();
    queue_.reset();
}

bool LocalASR::isCurrent(const QUuid &session) const
{
    return !activeShutDown_ && activeSession_ == session;
}

bool LocalASR::stillCurrent(const QUuid &session)
{
    std::lock_guard lock(stateLock_);
    return isCurrent(session) && !shutDown_;
}

void LocalASR::activate(const QUuid &session, bool prewarm)
{
    {
        std::lock_guard lock(stateLock_);
        if (!activeShutDown_)
            activeSession_ = session;
    }
    queue_->async([this, session, prewarm] {
        if (shutDown_)
            return;
        releaseWork_.cancel();
        releaseWork_ = {};
        session_ = session;
        if (prewarm)
            loadIfNeeded();
    });
}

void LocalASR::accept(std::vector<SpeechWindow> windows, const QUuid &session, const QString &language,
                      Completion completion)
{
    {
        std::lock_guard lock(stateLock_);
        if (!isCurrent(session))
            return;
    }
    if (!slots_.try_acquire()) {
        MainThread::post([completion = std::move(completion)] { completion(std::vector<Caption>{}, true); });
        return;
    }
    queue_->async([this, windows = std::move(windows), session, language, completion = std::move(completion)] {
        recognizeBatch(windows, session, language, completion);
        slots_.release();
    });
}

void LocalASR::recognizeBatch(const std::vector<SpeechWindow> &windows, const QUuid &session,
                              const QString &language, const Completion &completion)
{
    if (session_ != session)
        return;
    if (!stillCurrent(session))
        return;
    loadIfNeeded();
    if (!engine_) {
        completion(std::nullopt, false);
        return;
    }
    for (const SpeechWindow &window : windows) {
        if (!stillCurrent(session))
            return;
        std::vector<Caption> captions = recognize(window, *engine_, language);
        if (!stillCurrent(session))
            return; // the run ended while this window was recognised: its captions go too
        completion(std::move(captions), false);
    }
}

void LocalASR::loadIfNeeded()
{
    if (shutDown_ || engine_)
        return;
    const QString path = modelPath_.isEmpty() ? Resources::path(modelFileName()) : modelPath_;
    const std::optional<SpeechModelFile::Identity> file = SpeechModelFile::Identity::of(path);
    if (!file)
        return;
    // Each try of a damaged file costs memory for the rest of the run: the
    // same file is tried once; a replaced or repaired one again.
    if (std::find(failedModels_.begin(), failedModels_.end(), *file) != failedModels_.end())
        return;
    engine_ = factory_(path);
    if (!engine_)
        failedModels_.push_back(*file);
    else
        engine_->abortWhen(&aborting_);
    if (engine_ && !registeredExit_) {
        registeredExit_ = true;
        installExitHook();
    }
}

void LocalASR::installExitHook()
{
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(shutDownAtExit); });
    std::lock_guard lock(exitLock);
    std::erase_if(exitServices, [](const std::weak_ptr<LocalASR> &weak) { return weak.expired(); });
    exitServices.push_back(weak_from_this());
}

void LocalASR::idle()
{
    {
        std::lock_guard lock(stateLock_);
        activeSession_.reset();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(idleSeconds_);
    queue_->async([this, deadline] {
        session_.reset();
        if (!engine_ || releaseWork_)
            return;
        const double wait = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        releaseWork_ = queue_->asyncAfter(std::max(0.0, wait), [this] {
            // A new activation cancels this item; the checks keep it harmless anyway.
            if (session_ || shutDown_)
                return;
            engine_.reset();
            releaseWork_ = {};
        });
    });
}

void LocalASR::shutdown()
{
    {
        std::lock_guard lock(stateLock_);
        activeShutDown_ = true;
        activeSession_.reset();
    }
    // The window in progress would hold up the end of the application for
    // seconds: its result is dropped anyway, so it is given up.
    aborting_ = true;
    queue_->sync([this] {
        releaseWork_.cancel();
        releaseWork_ = {};
        session_.reset();
        shutDown_ = true;
        engine_.reset();
    });
}

} // namespace vantuli
