#pragma once

#include <QString>

// The settings keys and archive rows the store reads and writes.
namespace vantuli::storekeys {

inline const QString schedule = QStringLiteral("schedule");
inline const QString favorites = QStringLiteral("favorites");
inline const QString captions = QStringLiteral("captions");
inline const QString volume = QStringLiteral("volume");
inline const QString language = QStringLiteral("language");
inline const QString lastSlotPrefix = QStringLiteral("lastSlot.");

// Kept in the settings by earlier versions; moved into the archive at start.
inline const QString legacyHistory = QStringLiteral("listeningHistory");
inline const QString legacyRecent = QStringLiteral("recent");
inline const QString legacyFailures = QStringLiteral("stationFailures");

// Rows of the archive's local state.
inline const QString recentRow = QStringLiteral("recent");
inline const QString failuresRow = QStringLiteral("failures");

} // namespace vantuli::storekeys
