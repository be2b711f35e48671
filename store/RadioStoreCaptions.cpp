#include "store/RadioStore.h"

#include "platform/MainThread.h"

#include <QPointer>

#include <algorithm>

namespace vantuli {

namespace {

const QString modelFailedKey = QStringLiteral("本机字幕模型载入失败。");
const QString skippedKey = QStringLiteral("识别暂时落后，已跳过一段。");

constexpr size_t futureLimit = 200;
constexpr size_t shownLimit = 100;

} // namespace

PlaybackStream::WindowHandler RadioStore::windowHandler(const QUuid &run, const QString &language)
{
    // Runs on the stream's queue: it touches nothing of the store, only the
    // recognition service, whose admission never waits. It holds the service
    // weakly: the store owns it and releases it on the main thread, never a
    // stream's closure or a result that is still on its way.
    struct Delivery {
        QPointer<RadioStore> store;
        QUuid run;
        QString language;
    };
    auto delivery = std::make_shared<const Delivery>(Delivery{this, run, language});
    std::weak_ptr<LocalASR> service = asr_;
    return [service, delivery](std::vector<SpeechWindow> windows) {
        const std::shared_ptr<LocalASR> asr = service.lock();
        if (!asr)
            return;
        asr->accept(std::move(windows), delivery->run, delivery->language,
                    [delivery](std::optional<std::vector<Caption>> captions, bool skipped) {
                        MainThread::post([delivery, captions = std::move(captions), skipped] {
                            if (RadioStore *store = delivery->store.data())
                                store->deliverCaptions(delivery->run, delivery->language, captions, skipped);
                        });
                    });
    };
}

void RadioStore::deliverCaptions(const QUuid &run, const QString &language,
                                 const std::optional<std::vector<Caption>> &captions, bool skipped)
{
    if (generation_ != run)
        return;
    if (!captions) {
        publish(captionNoticeKey_, modelFailedKey, &RadioStore::captionNoticeKeyChanged);
        return;
    }

    if (archiveID_ && archive_) {
        // Captions of audio heard before a mid-run clear stay out of the new row.
        std::vector<Caption> kept;
        std::copy_if(captions->begin(), captions->end(), std::back_inserter(kept),
                     [this](const Caption &caption) { return caption.start >= archivePositionOffset_; });
        if (!kept.empty()) {
            try {
                archive_->append(kept, *archiveID_, language, clock_->now());
            } catch (const std::exception &) {
                setArchiveFailed(true);
            }
        }
    }

    enqueueCaptions(*captions);

    if (skipped)
        publish(captionNoticeKey_, skippedKey, &RadioStore::captionNoticeKeyChanged);
}

void RadioStore::enqueueCaptions(const std::vector<Caption> &captions)
{
    if (captions.empty())
        return;

    bool needsSort = !future_.empty()
        && std::any_of(captions.begin(), captions.end(),
                       [last = future_.back().start](const Caption &caption) { return caption.start < last; });
    for (size_t i = 1; i < captions.size() && !needsSort; ++i)
        needsSort = captions[i].start < captions[i - 1].start;

    future_.insert(future_.end(), captions.begin(), captions.end());
    if (needsSort)
        std::stable_sort(future_.begin(), future_.end(),
                         [](const Caption &a, const Caption &b) { return a.start < b.start; });

    if (future_.size() > futureLimit)
        future_.erase(future_.begin(), future_.end() - futureLimit);

    if (state_ == State::Playing && position_ > 0)
        advance(position_);
}

void RadioStore::advance(double position)
{
    position_ = position;

    const auto firstPending = std::find_if(future_.begin(), future_.end(),
                                           [position](const Caption &caption) { return caption.start > position; });
    if (firstPending == future_.begin())
        return;

    std::vector<Caption> shown = subtitles_;
    shown.insert(shown.end(), future_.begin(), firstPending);
    if (shown.size() > shownLimit)
        shown.erase(shown.begin(), shown.end() - shownLimit);
    future_.erase(future_.begin(), firstPending);

    publish(subtitles_, std::move(shown), &RadioStore::subtitlesChanged);
    publish(captionNoticeKey_, std::nullopt, &RadioStore::captionNoticeKeyChanged);
}

} // namespace vantuli
