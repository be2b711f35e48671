#pragma once

#include <QDateTime>

#include <compare>

namespace vantuli {

// A point in time, kept as seconds (with fraction) since 1970-01-01 00:00:00 UTC
// so that values read from JSON or the archive round-trip exactly.
// JSON values count from 2001-01-01 00:00:00 UTC instead.
struct Date {
    static constexpr double referenceOffset = 978307200.0; // 2001-01-01 in seconds since 1970

    double secondsSince1970 = 0;

    static Date now();
    static Date fromSince2001(double s) { return Date{s + referenceOffset}; }
    static Date fromQDateTime(const QDateTime &t) { return Date{t.toMSecsSinceEpoch() / 1000.0}; }
    double since2001() const { return secondsSince1970 - referenceOffset; }
    QDateTime toQDateTime() const;

    auto operator<=>(const Date &) const = default;
};

} // namespace vantuli
