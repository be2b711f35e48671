#pragma once

#include "captioning/RadioRecognizer.h"
#include "captioning/SpeechModelFile.h"
#include "captioning/SpeechWindow.h"
#include "platform/SerialQueue.h"
#include "records/Caption.h"

#include <QString>
#include <QUuid>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <vector>

namespace vantuli {

// The application's one recognition service. It loads the speech model
// lazily, recognises the windows of the current run one after the other on
// its own queue, bounds the backlog to three batches, drops work of runs that
// are no longer current, and releases the model after an idle time.
//
// Create it with `create` (the process-exit hook holds it weakly). It must be
// released off its own queue; its destructor shuts it down and waits.
class LocalASR : public std::enable_shared_from_this<LocalASR> {
public:
    // Captions of one recognised window and false; no captions and false when
    // the model is not available; an empty list and true when the batch was
    // skipped for want of a free slot.
    using Completion = std::function<void(std::optional<std::vector<Caption>> captions, bool skipped)>;
    // Makes a recogniser from a model file; null when the model does not load.
    // A file that failed is not tried again in this run unless its size or
    // modification time changed. The default factory checks the file before
    // the speech library sees it.
    using RecognizerFactory = std::function<std::unique_ptr<SpeechRecognizer>(const QString &modelPath)>;

    static constexpr int slotCount = 3;

    // The speech model's file name in the resource directory.
    static QString modelFileName();

    // `modelPath` empty: the model file in the resource directory. A null
    // factory makes `RadioRecognizer`s.
    static std::shared_ptr<LocalASR> create(double idleSeconds, QString modelPath = {},
                                            RecognizerFactory factory = {});
    ~LocalASR();
    LocalASR(const LocalASR &) = delete;
    LocalASR &operator=(const LocalASR &) = delete;

    // A run with captions starts (main thread); with `prewarm` the model is
    // loaded at once rather than with the first batch.
    void activate(const QUuid &session, bool prewarm);
    // Hands over windows of a run (the live stream's queue). Never waits: a
    // stale run is dropped at once, a full backlog is reported as skipped on
    // the main thread; otherwise the completion is called on the recognition
    // queue once per window, in order, while the run stays current.
    void accept(std::vector<SpeechWindow> windows, const QUuid &session, const QString &language,
                Completion completion);
    // The run stopped (main thread): the model is released after the idle
    // time unless a new run activates the service first.
    void idle();
    // Stops the service for good and frees the model. A window in progress
    // is given up (the recogniser aborts it) and waited for. May run more
    // than once. Never call it on the recognition queue.
    void shutdown();

private:
    struct Token {};

public:
    LocalASR(Token, double idleSeconds, QString modelPath, RecognizerFactory factory);

private:
    bool isCurrent(const QUuid &session) const; // stateLock_ held
    bool stillCurrent(const QUuid &session);
    void loadIfNeeded(); // on the queue
    void recognizeBatch(const std::vector<SpeechWindow> &windows, const QUuid &session, const QString &language,
                        const Completion &completion); // on the queue
    void installExitHook(); // on the queue

    std::unique_ptr<SerialQueue> queue_;
    std::counting_semaphore<slotCount> slots_{slotCount};

    mutable std::mutex stateLock_;
    std::optional<QUuid> activeSession_; // guarded by stateLock_
    bool activeShutDown_ = false;        // guarded by stateLock_
    std::atomic<bool> aborting_ = false; // set once, by shutdown(); read by the recogniser

    // Touched only on the queue.
    std::unique_ptr<SpeechRecognizer> engine_;
    bool shutDown_ = false;
    std::optional<QUuid> session_;
    SerialQueue::Token releaseWork_;
    bool registeredExit_ = false;
    std::vector<SpeechModelFile::Identity> failedModels_;

    const double idleSeconds_;
    const QString modelPath_;
    const RecognizerFactory factory_;
};

} // namespace vantuli
