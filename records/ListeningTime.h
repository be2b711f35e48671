#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUuid>

#include <optional>

namespace vantuli {

// One scheduled listening time: at a local hour and minute, every day or on
// workdays only, the application switches to a station. Two entries are equal
// when all five fields are equal.
struct ListeningTime {
    QUuid id;
    QString stationID;
    int hour = 0;   // 0-23
    int minute = 0; // 0-59
    bool workdaysOnly = false;

    bool operator==(const ListeningTime &) const = default;

    // {"id": upper-case 8-4-4-4-12 text, "stationID", "hour", "minute", "workdaysOnly"}.
    QJsonObject toJson() const;
    // Every key is required; "id" is read in either letter case; an hour
    // outside 0-23 or a minute outside 0-59 is refused. Throws DecodingError.
    static ListeningTime fromJson(const QJsonValue &value);

    // "07:05 · " followed by the localised "every day" or "workdays".
    QString label() const;
};

} // namespace vantuli
