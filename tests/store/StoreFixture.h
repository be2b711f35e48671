#pragma once

#include "StoreTestSupport.h"

#include "records/L10n.h"

#include <gtest/gtest.h>

namespace vantuli::test {

// A store over fakes: scripted streams, timers fired by hand, a fixed clock,
// an in-memory archive (unless a test names a file), the English interface.
class StoreFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        l10n_ = std::make_unique<L10n>(std::make_shared<MemorySettingsStore>(),
                                       [] { return QStringList{QStringLiteral("en")}; },
                                       [] { return QString(); }, QStringLiteral(VANTULI_RESOURCE_DIR));
        L10n::setShared(l10n_.get());
        settings = std::make_shared<MemorySettingsStore>();
        timers = std::make_shared<FakeTimers>();
        clock = std::make_shared<FakeClock>();
        media = std::make_shared<RecordingMediaSession>();
        probe = std::make_shared<CannedRecognizer::Probe>();
        catalog = {station(QStringLiteral("zh1"), QStringLiteral("zh-CN")),
                   station(QStringLiteral("en1"), QStringLiteral("en-GB")),
                   station(QStringLiteral("fr1"), QStringLiteral("fr")),
                   station(QStringLiteral("bn1"), QStringLiteral("bn-IN"))};
    }

    void TearDown() override
    {
        if (probe)
            probe->release();
        store.reset();
        L10n::setShared(nullptr);
        l10n_.reset();
    }

    RadioStore::Dependencies dependencies()
    {
        RadioStore::Dependencies d;
        d.defaults = settings;
        d.archiveURL = archivePath;
        d.catalogPath = catalogPath ? *catalogPath : writeCatalog(catalog);
        d.streamFactory = farm.factory();
        d.asr = asr ? asr : makeCannedASR(probe, modelLoads);
        d.mediaSession = media;
        d.clock = clock;
        d.timers = timers;
        d.handleTerminationSignals = false;
        return d;
    }

    RadioStore &make()
    {
        store = std::make_unique<RadioStore>(dependencies());
        return *store;
    }

    const Station &find(const QString &id)
    {
        return *store->catalogStation(id);
    }

    // Session rows, newest first.
    std::vector<ListeningArchive::Entry> sessions()
    {
        return store->archive()->entries(false, QString(), std::nullopt, 1000);
    }
    std::vector<ListeningArchive::Entry> archivedCaptions()
    {
        return store->archive()->entries(true, QString(), std::nullopt, 1000);
    }

    std::shared_ptr<MemorySettingsStore> settings;
    std::shared_ptr<FakeTimers> timers;
    std::shared_ptr<FakeClock> clock;
    std::shared_ptr<RecordingMediaSession> media;
    std::shared_ptr<CannedRecognizer::Probe> probe;
    std::shared_ptr<LocalASR> asr;
    bool modelLoads = true;
    std::vector<Station> catalog;
    std::optional<QString> catalogPath;
    std::optional<QString> archivePath;
    StreamFarm farm;
    std::unique_ptr<RadioStore> store;

private:
    std::unique_ptr<L10n> l10n_;
};

} // namespace vantuli::test
