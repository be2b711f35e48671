#pragma once

#include "records/Date.h"

#include <QString>

namespace vantuli::Formats {

// Names and formats for the windows. Names, numbers, dates, times, durations
// and byte counts follow the interface language's display locale (L10n: the
// interface language with the system's region), never the system's language:
// an English window on an Arabic system writes "43", not Arabic-Indic digits.

// The region's name ("JP" gives "Japan" in English); the code itself when
// ICU has no name for it, empty for an empty code.
QString regionName(const QString &regionCode);
// The language's name ("pt-BR" gives "Portuguese" in English, the language
// part only); the tag itself when ICU has no name for it.
QString languageName(const QString &languageTag);

// 12345 gives "12,345" in an English locale.
QString wholeNumber(qint64 value);
// A decimal with the given number of fraction digits, grouped.
QString decimal(double value, int fractionDigits);

// "Dec 9, 2026" (abbreviated date).
QString abbreviatedDate(const QDateTime &time);
QString abbreviatedDate(Date date);
// "3:05 PM" / "15:05" (short time).
QString shortTime(const QDateTime &time);
QString shortTime(Date date);
// "07:05": hour and minute, two digits each, whatever the locale's clock.
QString hourMinute(int hour, int minute);
// The abbreviated date and the short time together.
QString dateTime(Date date);

// "1 hr, 5 min, 3 sec" (abbreviated units, zero units left out; "0 sec").
QString duration(double seconds);
// "12.3 MB" (decimal units, as file sizes are counted).
QString byteCount(qint64 bytes);
// "128 kB/s".
QString byteRate(double bytesPerSecond);

// The abbreviated date and the time with seconds ("Dec 9, 2026, 3:05:09 PM").
QString dateTimeWithSeconds(Date date);

} // namespace vantuli::Formats
