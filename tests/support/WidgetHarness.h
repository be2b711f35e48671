#pragma once

// Widget tests: a real RadioStore over the store's test fakes (settings in
// memory, scripted streams, timers fired by hand, a fixed clock, an in-memory
// archive, a canned recogniser), the English interface, a small catalog, and
// a probe that sets the store's published state directly.

#include "store/StoreTestSupport.h"

#include "look/Appearance.h"
#include "records/L10n.h"
#include "store/RadioStore.h"

#include <QApplication>

#include <memory>
#include <vector>

namespace vantuli::test {

// Sets published members of a store and announces them, as the store would.
class StoreProbe {
public:
    explicit StoreProbe(RadioStore &store) : s_(store) {}

    void setCurrent(std::optional<Station> station) { s_.publish(s_.current_, std::move(station), &RadioStore::currentChanged); }
    void setState(RadioStore::State state) { s_.publish(s_.state_, state, &RadioStore::stateChanged); }
    void setPlaybackMessage(std::optional<DisplayMessage> message)
    {
        s_.publish(s_.playbackMessage_, std::move(message), &RadioStore::playbackMessageChanged);
    }
    void setSubtitles(std::vector<Caption> captions) { s_.publish(s_.subtitles_, std::move(captions), &RadioStore::subtitlesChanged); }
    void setCaptionNoticeKey(std::optional<QString> key)
    {
        s_.publish(s_.captionNoticeKey_, std::move(key), &RadioStore::captionNoticeKeyChanged);
    }
    void setBufferSeconds(int seconds) { s_.publish(s_.bufferSeconds_, seconds, &RadioStore::bufferSecondsChanged); }
    void setHistory(std::vector<ListeningRecord> history) { s_.publish(s_.history_, std::move(history), &RadioStore::historyChanged); }
    void setFailures(RadioStore::Failures failures) { s_.publish(s_.failures_, std::move(failures), &RadioStore::failuresChanged); }
    void setSleepUntil(std::optional<Date> date) { s_.publish(s_.sleepUntil_, std::move(date), &RadioStore::sleepUntilChanged); }
    void setArchiveFailed(bool failed) { s_.publish(s_.archiveFailed_, failed, &RadioStore::archiveFailedChanged); }
    void setSchedule(std::vector<ListeningTime> schedule) { s_.publish(s_.schedule_, std::move(schedule), &RadioStore::scheduleChanged); }
    // The playback position (a plain read of the store, no signal).
    void setPosition(double position) { s_.position_ = position; }
    // Playing `station`: current, state and (optionally) captions at once.
    void play(const Station &station, RadioStore::State state = RadioStore::State::Playing)
    {
        setCurrent(station);
        setState(state);
    }

private:
    RadioStore &s_;
};

// A caption of `text` shown from `start` for `length` seconds.
inline Caption caption(const QString &text, double start, double length = 2)
{
    Caption c;
    c.id = QUuid::createUuid();
    c.text = text;
    c.start = start;
    c.end = start + length;
    return c;
}

// `count` stations "s1".."sN" in a few countries and languages.
inline std::vector<Station> testCatalog(int count = 6)
{
    static const char *languages[] = {"en-GB", "zh-CN", "ja", "fr", "de", "ko"};
    static const char *countries[] = {"GB", "CN", "JP", "FR", "DE", "KR"};
    std::vector<Station> stations;
    for (int i = 1; i <= count; ++i) {
        Station s = station(QStringLiteral("s%1").arg(i), QString::fromLatin1(languages[(i - 1) % 6]));
        s.country = QString::fromLatin1(countries[(i - 1) % 6]);
        s.name = QStringLiteral("Station %1").arg(i);
        s.city = QStringLiteral("City %1").arg(i);
        stations.push_back(s);
    }
    return stations;
}

class WidgetHarness {
public:
    explicit WidgetHarness(std::vector<Station> catalog = testCatalog(), std::optional<QString> archivePath = std::nullopt)
    {
        l10n_ = std::make_unique<L10n>(std::make_shared<MemorySettingsStore>(),
                                       [] { return QStringList{QStringLiteral("en")}; },
                                       [] { return QString(); }, QStringLiteral(VANTULI_RESOURCE_DIR));
        L10n::setShared(l10n_.get());
        Appearance::shared().setReduceMotionForTesting(false);
        Appearance::shared().setDarkForTesting(false);
        settings = std::make_shared<MemorySettingsStore>();
        timers = std::make_shared<FakeTimers>();
        clock = std::make_shared<FakeClock>();
        media = std::make_shared<RecordingMediaSession>();
        recognizer = std::make_shared<CannedRecognizer::Probe>();
        RadioStore::Dependencies d;
        d.defaults = settings;
        d.archiveURL = archivePath;
        d.catalogPath = writeCatalog(catalog);
        d.streamFactory = farm.factory();
        d.asr = makeCannedASR(recognizer);
        d.mediaSession = media;
        d.clock = clock;
        d.timers = timers;
        d.handleTerminationSignals = false;
        store = std::make_unique<RadioStore>(std::move(d));
        probe = std::make_unique<StoreProbe>(*store);
    }

    ~WidgetHarness()
    {
        recognizer->release();
        probe.reset();
        store.reset();
        L10n::setShared(nullptr);
    }

    WidgetHarness(const WidgetHarness &) = delete;
    WidgetHarness &operator=(const WidgetHarness &) = delete;

    const Station &find(const QString &id) const { return *store->catalogStation(id); }
    // Lets queued work (coalesced refreshes, posted hand-offs) run.
    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }

    std::shared_ptr<MemorySettingsStore> settings;
    std::shared_ptr<FakeTimers> timers;
    std::shared_ptr<FakeClock> clock;
    std::shared_ptr<RecordingMediaSession> media;
    std::shared_ptr<CannedRecognizer::Probe> recognizer;
    StreamFarm farm;
    std::unique_ptr<RadioStore> store;
    std::unique_ptr<StoreProbe> probe;

private:
    std::unique_ptr<L10n> l10n_;
};

} // namespace vantuli::test
