#include "store/RadioStore.h"

#include <algorithm>

namespace vantuli {

void RadioStore::openArchiveSession(const Station &station, int retry)
{
    reopenArchive_ = false;
    if (!archive_)
        return;
    try {
        archiveID_ = archive_->begin(station, retry, clock_->now());
    } catch (const std::exception &) {
        setArchiveFailed(true);
    }
}

void RadioStore::checkpointArchive(bool interrupted)
{
    // A run whose stream could not even be made still closes its row, so
    // that the archive shows it as interrupted.
    if (!archiveID_)
        return;
    archivedAt_ = position_;

    StreamTransfer transfer = stream_ ? stream_->transfer() : StreamTransfer{};
    if (archiveTransferOffset_.bytes >= 1) {
        transfer.bytes = std::max<qint64>(transfer.bytes - archiveTransferOffset_.bytes, 0);
        transfer.elapsed = std::max(transfer.elapsed - archiveTransferOffset_.elapsed, 0.0);
        transfer.firstAudio.reset();
    }

    if (!archive_)
        return;

    using Value = ListeningArchive::Value;
    const std::vector<Value> values{
        playbackStartedAt_ ? Value::number(playbackStartedAt_->secondsSince1970) : Value::null(),
        Value::number(clock_->now().secondsSince1970),
        Value::number(std::max(position_ - archivePositionOffset_, 0.0)),
        Value::integer(transfer.bytes),
        Value::number(transfer.elapsed),
        transfer.firstAudio ? Value::number(*transfer.firstAudio) : Value::null(),
        Value::integer(interrupted ? 1 : 0),
        Value::integer(*archiveID_),
    };
    try {
        archive_->write(QString::fromLatin1(ListeningArchive::checkpointStatement), values);
    } catch (const std::exception &) {
        setArchiveFailed(true);
    }
}

void RadioStore::clearLocalArchive()
{
    if (!archive_)
        throw FileWriteError();
    archive_->clear(); // an error leaves everything as it was

    archiveID_.reset();
    setArchiveFailed(false);
    publish(history_, std::vector<ListeningRecord>{}, &RadioStore::historyChanged);
    publish(failures_, Failures{}, &RadioStore::failuresChanged);
    refreshDirectory();

    reopenArchive_ = static_cast<bool>(stream_);
    archivePositionOffset_ = position_;
    archiveTransferOffset_ = stream_ ? stream_->transfer() : StreamTransfer{};
    playbackStartedAt_.reset();

    publish(subtitles_, std::vector<Caption>{}, &RadioStore::subtitlesChanged);
    future_.clear();
}

} // namespace vantuli
