#include "captioning/LocalASR.h"
#include "captioning/SpeechModelFile.h"
#include "platform/MainThread.h"
#include "support/TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>

using namespace vantuli;
using namespace std::chrono_literals;

namespace {

// Shared between a test and the recognisers its service makes: counts loads,
// releases and recognitions, and can hold every recognition at a gate.
struct Probe {
    std::atomic<int> created{0};
    std::atomic<int> destroyed{0};
    std::atomic<int> calls{0};
    std::atomic<int> failingLoads{0}; // loads that answer no recogniser
    std::atomic<int> aborted{0};      // recognitions given up at the abort flag

    std::mutex mutex;
    std::condition_variable changed;
    bool gateClosed = false;
    int entered = 0;

    void closeGate()
    {
        std::lock_guard lock(mutex);
        gateClosed = true;
    }
    void openGate()
    {
        {
            std::lock_guard lock(mutex);
            gateClosed = false;
        }
        changed.notify_all();
    }
    bool waitEntered(int count)
    {
        return test::waitUntil([&] {
            std::lock_guard lock(mutex);
            return entered >= count;
        });
    }
};

class FakeRecognizer final : public SpeechRecognizer {
public:
    explicit FakeRecognizer(std::shared_ptr<Probe> probe) : probe_(std::move(probe)) { probe_->created++; }
    ~FakeRecognizer() override
    {
        probe_->destroyed++;
        std::fprintf(stderr, "fake model released\n");
    }

    std::vector<RecognizedSegment> segmentsForSamples(const float *, qsizetype count, const QString &language) override
    {
        probe_->calls++;
        std::unique_lock lock(probe_->mutex);
        probe_->entered++;
        // The abort flag is set without a notification, as the speech library sees it: between steps.
        while (!probe_->changed.wait_for(lock, 5ms, [&] { return !probe_->gateClosed; })) {
            if (abort_ && *abort_) {
                probe_->aborted++;
                return {};
            }
        }
        return {{language + QLatin1Char(' ') + QString::number(count), 0.0, 0.5}};
    }
    void abortWhen(const std::atomic<bool> *flag) override { abort_ = flag; }

private:
    std::shared_ptr<Probe> probe_;
    const std::atomic<bool> *abort_ = nullptr;
};

// What one batch's completion saw, call by call.
struct Outcome {
    std::optional<std::vector<Caption>> captions;
    bool skipped = false;
    bool onMainThread = false;
};

struct Recorder {
    std::mutex mutex;
    std::vector<Outcome> outcomes;

    LocalASR::Completion completion()
    {
        return [this](std::optional<std::vector<Caption>> captions, bool skipped) {
            std::lock_guard lock(mutex);
            outcomes.push_back({std::move(captions), skipped, MainThread::isCurrent()});
        };
    }
    size_t count()
    {
        std::lock_guard lock(mutex);
        return outcomes.size();
    }
    Outcome at(size_t i)
    {
        std::lock_guard lock(mutex);
        return outcomes.at(i);
    }
    bool waitFor(size_t n)
    {
        return test::waitUntil([&] { return count() >= n; });
    }
};

std::vector<SpeechWindow> windows(int count, qint64 offset = 16000)
{
    std::vector<SpeechWindow> result;
    for (int i = 0; i < count; ++i)
        result.push_back({offset + i * 32000, std::vector<float>(32000, 0.1f)});
    return result;
}

class LocalASRTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        modelPath = test::temporaryFolder() + QStringLiteral("/model.bin");
        QFile file(modelPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("model");
    }

    std::shared_ptr<LocalASR> makeService(double idleSeconds = 60)
    {
        return LocalASR::create(idleSeconds, modelPath, [probe = probe](const QString &) {
            if (probe->failingLoads > 0) {
                probe->failingLoads--;
                return std::unique_ptr<SpeechRecognizer>();
            }
            return std::unique_ptr<SpeechRecognizer>(new FakeRecognizer(probe));
        });
    }

    // Processes main-thread events for a short while: for checks that something did NOT happen.
    static void settle() { test::waitUntil([] { return false; }, 200ms); }

    QString modelPath;
    std::shared_ptr<Probe> probe = std::make_shared<Probe>();
    const QString language = QStringLiteral("en");
};

} // namespace

TEST_F(LocalASRTest, RecognisesEachWindowOnItsQueueInOrder)
{
    auto service = makeService();
    const QUuid run = QUuid::createUuid();
    service->activate(run, false);
    Recorder recorder;
    service->accept(windows(3, 48000), run, language, recorder.completion());
    ASSERT_TRUE(recorder.waitFor(3));
    for (size_t i = 0; i < 3; ++i) {
        const Outcome outcome = recorder.at(i);
        EXPECT_FALSE(outcome.skipped);
        EXPECT_FALSE(outcome.onMainThread);
        ASSERT_TRUE(outcome.captions.has_value());
        ASSERT_EQ(outcome.captions->size(), 1u);
        EXPECT_EQ(outcome.captions->front().text, QStringLiteral("en 32000"));
        EXPECT_DOUBLE_EQ(outcome.captions->front().start, 3.0 + 2.0 * double(i)); // offset 48000 + i * 32000
    }
    EXPECT_EQ(probe->created, 1);
}

TEST_F(LocalASRTest, BatchesOfRunsThatAreNotCurrentAreDropped)
{
    auto service = makeService();
    const QUuid run = QUuid::createUuid();
    Recorder early;
    service->accept(windows(1), run, language, early.completion()); // before any activation
    service->activate(run, false);
    Recorder stale;
    service->accept(windows(1), QUuid::createUuid(), language, stale.completion());
    Recorder current;
    service->accept(windows(1), run, language, current.completion());
    ASSERT_TRUE(current.waitFor(1));
    settle();
    EXPECT_EQ(early.count(), 0u);
    EXPECT_EQ(stale.count(), 0u);
    EXPECT_EQ(probe->calls, 1);
}

TEST_F(LocalASRTest, FourthBatchIsSkippedAndReportedOnTheMainThread)
{
    auto service = makeService();
    const QUuid run = QUuid::createUuid();
    service->activate(run, false);
    probe->closeGate();
    Recorder batches[4];
    service->accept(windows(1), run, language, batches[0].completion());
    ASSERT_TRUE(probe->waitEntered(1));
    service->accept(windows(1), run, language, batches[1].completion());
    service->accept(windows(1), run, language, batches[2].completion());
    service->accept(windows(1), run, language, batches[3].completion());
    EXPECT_EQ(batches[3].count(), 0u); // reported through the main thread's queue, not from inside accept
    ASSERT_TRUE(batches[3].waitFor(1));
    const Outcome skipped = batches[3].at(0);
    EXPECT_TRUE(skipped.skipped);
    EXPECT_TRUE(skipped.onMainThread);
    ASSERT_TRUE(skipped.captions.has_value());
    EXPECT_TRUE(skipped.captions->empty());

    probe->openGate();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(batches[i].waitFor(1));
        EXPECT_FALSE(batches[i].at(0).skipped);
        EXPECT_FALSE(batches[i].at(0).onMainThread);
    }
    settle();
    EXPECT_EQ(batches[3].count(), 1u);

    // The slots came back: the next batch is recognised.
    Recorder later;
    service->accept(windows(1), run, language, later.completion());
    ASSERT_TRUE(later.waitFor(1));
    EXPECT_FALSE(later.at(0).skipped);
    EXPECT_EQ(probe->calls, 4);
}

// A model that fails to load answers no captions; the same file is not tried
// again in this run (each try would cost its size in memory), a replaced one is.
TEST_F(LocalASRTest, FailedModelAnswersNoCaptionsAndIsTriedAgainOnlyWhenReplaced)
{
    auto service = makeService();
    const QUuid run = QUuid::createUuid();
    service->activate(run, false);
    probe->failingLoads = 1;
    Recorder first;
    service->accept(windows(2), run, language, first.completion());
    ASSERT_TRUE(first.waitFor(1));
    EXPECT_FALSE(first.at(0).captions.has_value());
    EXPECT_FALSE(first.at(0).skipped);

    Recorder again;
    service->accept(windows(1), run, language, again.completion());
    ASSERT_TRUE(again.waitFor(1));
    EXPECT_FALSE(again.at(0).captions.has_value());
    EXPECT_EQ(probe->created, 0); // the factory was not asked a second time

    {
        QFile file(modelPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("a whole new model");
    }
    Recorder second;
    service->accept(windows(1), run, language, second.completion());
    ASSERT_TRUE(second.waitFor(1));
    EXPECT_TRUE(second.at(0).captions.has_value());
    EXPECT_EQ(first.count(), 1u); // one answer for the whole batch without a model
    EXPECT_EQ(probe->created, 1);

    // No model file at all: the factory is never asked.
    auto without = LocalASR::create(60, test::temporaryFolder() + QStringLiteral("/absent.bin"),
                                    [probe = probe](const QString &) {
                                        return std::unique_ptr<SpeechRecognizer>(new FakeRecognizer(probe));
                                    });
    without->activate(run, false);
    Recorder none;
    without->accept(windows(1), run, language, none.completion());
    ASSERT_TRUE(none.waitFor(1));
    EXPECT_FALSE(none.at(0).captions.has_value());
    EXPECT_EQ(probe->created, 1);
}

TEST_F(LocalASRTest, ReleasesTheModelAfterTheIdleTimeAndLoadsItAgainOrAtAPrewarmingActivation)
{
    auto service = makeService(0.05);
    const QUuid first = QUuid::createUuid();
    service->activate(first, false);
    Recorder one;
    service->accept(windows(1), first, language, one.completion());
    ASSERT_TRUE(one.waitFor(1));
    service->idle();
    ASSERT_TRUE(test::waitUntil([&] { return probe->destroyed == 1; }));

    // An activation that asks for it loads the model before any window comes.
    const QUuid second = QUuid::createUuid();
    service->activate(second, true);
    ASSERT_TRUE(test::waitUntil([&] { return probe->created == 2; }));
    EXPECT_EQ(probe->calls, 1);
    Recorder two;
    service->accept(windows(1), second, language, two.completion());
    ASSERT_TRUE(two.waitFor(1));
    EXPECT_TRUE(two.at(0).captions.has_value());
    EXPECT_EQ(probe->created, 2);
}

TEST_F(LocalASRTest, ActivationWithinTheIdleTimeKeepsTheModel)
{
    auto service = makeService(0.05);
    const QUuid first = QUuid::createUuid();
    service->activate(first, false);
    // Hold the queue inside a window so that the idle call and the new
    // activation are both queued before the release could be armed.
    probe->closeGate();
    Recorder one;
    service->accept(windows(1), first, language, one.completion());
    ASSERT_TRUE(probe->waitEntered(1));
    service->idle();
    const QUuid second = QUuid::createUuid();
    service->activate(second, false);
    probe->openGate();

    Recorder two;
    service->accept(windows(1), second, language, two.completion());
    ASSERT_TRUE(two.waitFor(1));
    settle(); // well past the idle time
    Recorder three;
    service->accept(windows(1), second, language, three.completion());
    ASSERT_TRUE(three.waitFor(1));
    EXPECT_EQ(probe->created, 1);
    EXPECT_EQ(probe->destroyed, 0);
    EXPECT_EQ(one.count(), 0u); // the stopped run's window was discarded
}

TEST_F(LocalASRTest, StoppingDuringAWindowDiscardsItAndTheRest)
{
    auto service = makeService();
    const QUuid first = QUuid::createUuid();
    service->activate(first, false);
    probe->closeGate();
    Recorder running;
    service->accept(windows(3), first, language, running.completion());
    ASSERT_TRUE(probe->waitEntered(1));
    Recorder queued;
    service->accept(windows(2), first, language, queued.completion());
    service->idle(); // the run stops while its first window is being recognised
    const QUuid second = QUuid::createUuid();
    service->activate(second, false);
    probe->openGate();

    Recorder next;
    service->accept(windows(1), second, language, next.completion());
    ASSERT_TRUE(next.waitFor(1));
    settle();
    EXPECT_EQ(running.count(), 0u);
    EXPECT_EQ(queued.count(), 0u);
    EXPECT_EQ(probe->calls, 2); // the window in progress and the new run's window, nothing else
}

// Quitting must not wait for a long recognition: the window in progress is
// given up, and nothing of the run is delivered.
TEST_F(LocalASRTest, ShutdownGivesUpTheWindowInProgressAndEndsEverything)
{
    auto service = makeService();
    const QUuid run = QUuid::createUuid();
    service->activate(run, false);
    probe->closeGate();
    Recorder running;
    service->accept(windows(2), run, language, running.completion());
    ASSERT_TRUE(probe->waitEntered(1));

    auto done = std::async(std::launch::async, [&] { service->shutdown(); });
    const bool ended = done.wait_for(20s) == std::future_status::ready;
    probe->openGate(); // lets a recognition that was not given up end the test
    ASSERT_TRUE(ended);
    EXPECT_EQ(probe->aborted, 1);
    EXPECT_EQ(running.count(), 0u);
    EXPECT_EQ(probe->destroyed, 1);

    service->shutdown(); // a second time changes nothing
    service->activate(run, true);
    Recorder after;
    service->accept(windows(1), run, language, after.completion());
    settle();
    EXPECT_EQ(after.count(), 0u);
    EXPECT_EQ(probe->created, 1);
    EXPECT_EQ(probe->calls, 1);
}

TEST_F(LocalASRTest, ServiceStillAliveAtExitIsShutDown)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // Never released: only the exit hook can release this model. Held
            // from a static, so a leak checker sees it as reachable at exit.
            static auto *kept = new std::shared_ptr<LocalASR>(makeService());
            const QUuid run = QUuid::createUuid();
            (*kept)->activate(run, true);
            // A recognised window proves the model loaded (and the hook went in) before exit.
            Recorder recorder;
            (*kept)->accept(windows(1), run, language, recorder.completion());
            if (!recorder.waitFor(1))
                std::_Exit(3);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "fake model released");
}

// The speech library keeps what a failed load allocated, so a damaged model
// file is recognised before it is handed over: cut anywhere, or with a
// foreign header, it is turned away; the whole file passes.
TEST(SpeechModelFile, OnlyAWholeModelPasses)
{
    QFile source(QStringLiteral(VANTULI_TINY_MODEL));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray model = source.readAll();
    ASSERT_GT(model.size(), 1000000);
    QByteArray foreign = model;
    foreign[0] = 'x';
    const struct {
        const char *name;
        QByteArray bytes;
        bool whole;
    } cases[] = {
        {"whole", model, true},
        {"header only", model.left(60), false},
        {"inside the vocabulary", model.left(200000), false},
        {"half", model.left(model.size() / 2), false},
        {"last byte missing", model.left(model.size() - 1), false},
        // Cut between two tensors: the last one ("decoder.ln.bias", 64 floats)
        // is missing whole.
        {"one tensor short", model.left(model.size() - (12 + 4 + 15 + 64 * 4)), false},
        {"foreign magic", foreign, false},
        {"empty", QByteArray(), false},
    };
    for (const auto &c : cases) {
        const QString path = test::temporaryFolder() + QStringLiteral("/model.bin");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.bytes);
        file.close();
        EXPECT_EQ(SpeechModelFile::isComplete(path), c.whole) << c.name;
    }
    EXPECT_FALSE(SpeechModelFile::isComplete(QStringLiteral("/nonexistent/model.bin")));
}
