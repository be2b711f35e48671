#pragma once

// Small pieces the benchmarks share.

#include "records/Station.h"
#include "store/MediaSession.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <vector>

namespace vantuli::bench {

// Media keys and now playing stay off the desktop while a benchmark runs.
class SilentSession final : public MediaSession {
public:
    qint64 addTarget(Command, Handler) override { return 0; }
    void removeTarget(Command, qint64) override {}
    void setNowPlaying(const std::optional<NowPlaying> &) override {}
    void setPlaybackState(PlaybackState) override {}
};

// The median (the mean of the middle two for an even count); 0 for none.
inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// Writes a catalog of one station, "Bench Radio", streaming from `streamUrl`,
// to `path`; answers the path.
inline QString oneStationCatalog(const QString &path, const QString &streamUrl)
{
    Station radio;
    radio.id = QStringLiteral("bench");
    radio.name = QStringLiteral("Bench Radio");
    radio.city = QStringLiteral("London");
    radio.country = QStringLiteral("GB");
    radio.frequency = QStringLiteral("FM 94.9");
    radio.language = QStringLiteral("en");
    radio.streamUrl = streamUrl;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(QJsonArray{radio.toJson()}).toJson());
    return path;
}

} // namespace vantuli::bench
