#pragma once

// Fills a real archive file with sessions and captions at chosen times.

#include "records/ListeningArchive.h"
#include "support/TestSupport.h"

#include <QUuid>

#include <memory>
#include <vector>

namespace vantuli::test {

class ArchiveFile {
public:
    ArchiveFile()
    {
        static int counter = 0;
        path = temporaryFolder() + QStringLiteral("/archive-%1.sqlite3").arg(++counter);
        archive = std::make_unique<ListeningArchive>(path);
        // A real file; only the waits for the disk are left out.
        archive->write(QStringLiteral("PRAGMA synchronous=OFF"), {});
    }

    // A session of a station; `played` marks that playback began.
    qint64 session(const QString &stationID, double attempted, bool played = true)
    {
        const qint64 id = archive->begin(stationID, QStringLiteral("Station ") + stationID, 0, Date{attempted});
        if (played)
            archive->checkpoint(id, Date{attempted + 1}, Date{attempted + 2}, 60, 4096, 2, 0.5, false);
        return id;
    }

    // One caption row per text, all recognised at `date`.
    void captions(qint64 session, const QStringList &texts, double date, const QString &language = QStringLiteral("en"))
    {
        std::vector<Caption> batch;
        for (const QString &text : texts)
            batch.push_back(Caption{QUuid::createUuid(), text, 0, 1});
        archive->append(batch, session, language, Date{date});
    }

    // `count` numbered captions ("<prefix>0" oldest), one per second from `date`.
    void numbered(qint64 session, int count, double date, const QString &prefix = QStringLiteral("w"))
    {
        for (int i = 0; i < count; ++i)
            captions(session, {prefix + QString::number(i)}, date + i);
    }

    QString path;
    std::unique_ptr<ListeningArchive> archive;
};

} // namespace vantuli::test
