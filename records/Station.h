#pragma once

#include "records/Date.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace vantuli {

// One catalog entry, also the element of the catalog file. The JSON keys are
// the field names; the ten text fields are required, the four optional ones
// may be missing or null. Equality is over every field: an absent genre list
// and an empty one differ.
struct Station {
    QString id;        // unique within the catalog
    QString name;
    QString city;      // may be empty
    QString country;   // a region code such as "CN"
    QString frequency;
    QString keywords;
    QString language;  // a language tag; empty means unknown
    QString website;
    QString path;      // the station's path on the product web site
    QString streamUrl;
    std::optional<QStringList> genreIDs;
    std::optional<QString> verifiedAt;
    std::optional<QString> featuredLabel; // present on featured stations only
    std::optional<QString> featuredGroup; // a region code grouping featured stations

    bool operator==(const Station &) const = default;

    // Absent optional fields are left out.
    QJsonObject toJson() const;
    // Throws DecodingError on a missing required key or a wrong type.
    static Station fromJson(const QJsonValue &value);
    // The catalog file: a JSON array of stations. Any bad entry fails the
    // whole catalog with a DecodingError that names the entry.
    static std::vector<Station> decodeCatalog(const QByteArray &json);

    // Where the station is, as the masthead and the rows show it: the city
    // (or the region code) and the region's name, in the interface language.
    QString place() const;
    // The name of a language code in the interface language; "und" is the
    // localised "not stated"; the code itself when there is no name.
    static QString languageName(const QString &code);
    // The display locale's name of a region code, or the code itself.
    static QString regionName(const QString &code);
};

size_t qHash(const Station &station, size_t seed = 0) noexcept;

// One entry of the listening history.
struct ListeningRecord {
    QString stationID;
    std::optional<Date> lastPlayed;
    qint64 visits = 0;

    QJsonObject toJson() const;
    static ListeningRecord fromJson(const QJsonValue &value);
};

// One station that failed on this machine.
struct StationFailure {
    QString url; // the stream address that failed
    Date date;

    QJsonObject toJson() const;
    static StationFailure fromJson(const QJsonValue &value);
};

// A run of consecutive featured stations shown under one heading. The same
// id may head two separate runs.
struct FeaturedGroup {
    QString id; // the grouping key: a region code or a language tag
    std::vector<Station> stations;

    // The featured stations in catalog order, grouped into runs that share
    // featuredGroup (or, lacking it, language).
    static std::vector<FeaturedGroup> groups(const std::vector<Station> &stations);
    // The heading: a region with its languages, or a language.
    QString label() const;
};

// The directory's five tabs; the raw values are their localisation keys.
class LibraryFilter {
public:
    enum Value { Featured, All, Favorites, Recent, Unavailable };

    constexpr LibraryFilter(Value v = Featured) : value_(v) {}
    // Exactly one of the five raw values, else nothing.
    static std::optional<LibraryFilter> fromRawValue(const QString &raw);
    static constexpr std::array<Value, 5> allCases() { return {Featured, All, Favorites, Recent, Unavailable}; }

    QString rawValue() const;
    QString id() const { return rawValue(); }
    // The localised title.
    QString title() const;

    constexpr Value value() const { return value_; }
    constexpr operator Value() const { return value_; }
    friend constexpr bool operator==(LibraryFilter a, LibraryFilter b) { return a.value_ == b.value_; }

private:
    Value value_;
};

// One entry of a country, language or genre facet.
struct DirectoryChoice {
    QString id;    // the facet value: a region code, a language code or a genre id
    QString label; // the text shown
    qint64 count = 0; // stations carrying the value

    bool operator==(const DirectoryChoice &) const = default;
};

} // namespace vantuli

template <>
struct std::hash<vantuli::Station> {
    size_t operator()(const vantuli::Station &s) const noexcept { return vantuli::qHash(s); }
};
