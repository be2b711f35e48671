#pragma once

// The application object over the store's test fakes: settings in memory,
// scripted streams, timers fired by hand, the English interface.

#include "support/WidgetHarness.h"

#include "shell/VantuliApp.h"

#include <gtest/gtest.h>

namespace vantuli::test {

class ShellFixture : public ::testing::Test {
protected:
    // The catalog: six stations, one of them in Bengali (captions deferred).
    static std::vector<Station> catalog(int count = 6)
    {
        std::vector<Station> stations = testCatalog(count);
        stations.back().language = QStringLiteral("bn-IN");
        return stations;
    }

    void SetUp() override
    {
        l10n_ = std::make_unique<L10n>(std::make_shared<MemorySettingsStore>(),
                                       [] { return QStringList{QStringLiteral("en")}; }, [] { return QString(); },
                                       QStringLiteral(VANTULI_RESOURCE_DIR));
        L10n::setShared(l10n_.get());
        Appearance::shared().setReduceMotionForTesting(true);
        Appearance::shared().setDarkForTesting(false);
        settings = std::make_shared<MemorySettingsStore>();
    }

    void TearDown() override
    {
        probe.reset();
        app.reset();
        if (recognizer)
            recognizer->release();
        L10n::setShared(nullptr);
        l10n_.reset();
    }

    VantuliApp &make(std::vector<Station> stations = catalog(), std::shared_ptr<MediaSession> media = nullptr)
    {
        recognizer = std::make_shared<CannedRecognizer::Probe>();
        RadioStore::Dependencies d;
        d.defaults = settings;
        d.catalogPath = writeCatalog(stations);
        d.streamFactory = farm.factory();
        d.asr = makeCannedASR(recognizer);
        d.mediaSession = media ? media : std::make_shared<RecordingMediaSession>();
        d.clock = std::make_shared<FakeClock>();
        d.timers = std::make_shared<FakeTimers>();
        d.handleTerminationSignals = false;
        VantuliApp::Options options;
        options.settings = settings;
        options.dependencies = std::move(d);
        options.quit = [this] { ++quits; };
        options.tray = false;
        app = std::make_unique<VantuliApp>(std::move(options));
        probe = std::make_unique<StoreProbe>(*app->radio());
        return *app;
    }

    static void settle() { WidgetHarness::settle(); }

    std::shared_ptr<MemorySettingsStore> settings;
    std::shared_ptr<CannedRecognizer::Probe> recognizer;
    StreamFarm farm;
    std::unique_ptr<VantuliApp> app;
    std::unique_ptr<StoreProbe> probe;
    int quits = 0;

private:
    std::unique_ptr<L10n> l10n_;
};

} // namespace vantuli::test
