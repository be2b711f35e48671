#pragma once

// Small pieces the benchmarks share.

#include "records/Station.h"
#include "store/MediaSession.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

// Writes a catalog of `count` stations made from the shipped one to `path`:
// its stations, then copies of them under new ids (the copies are not
// featured, so the featured tab stays as shipped); answers whether it was written.
inline bool grownCatalog(const QString &path, qsizetype count)
{
    QFile shipped(QStringLiteral(VANTULI_RESOURCE_DIR "/catalog.json"));
    if (!shipped.open(QIODevice::ReadOnly))
        return false;
    const QJsonArray stations = QJsonDocument::fromJson(shipped.readAll()).array();
    if (stations.isEmpty())
        return false;
    QJsonArray grown;
    for (qsizetype i = 0; i < count; ++i) {
        QJsonObject station = stations.at(i % stations.size()).toObject();
        if (i >= stations.size()) {
            const QString copy = QStringLiteral("-%1").arg(i / stations.size() + 1);
            station.insert(QStringLiteral("id"), station.value(QStringLiteral("id")).toString() + copy);
            station.insert(QStringLiteral("name"), station.value(QStringLiteral("name")).toString() + copy);
            station.remove(QStringLiteral("featuredLabel"));
            station.remove(QStringLiteral("featuredGroup"));
        }
        grown.append(station);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(grown).toJson(QJsonDocument::Compact)) > 0;
}

} // namespace vantuli::bench
