#pragma once

#include "records/Caption.h"
#include "records/Date.h"
#include "records/Json.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QString>

#include <concepts>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vantuli {

// An error reported by SQLite: domain "Vantuli.SQLite", the primary result
// code and SQLite's English message.
class ArchiveError : public std::runtime_error {
public:
    static constexpr const char *errorDomain = "Vantuli.SQLite";

    ArchiveError(int code, const QString &description)
        : std::runtime_error(description.toStdString()), code_(code), description_(description) {}
    QString domain() const { return QString::fromLatin1(errorDomain); }
    int code() const { return code_; }
    const QString &description() const { return description_; }

private:
    int code_;
    QString description_;
};

// The generic "could not write the file" error (Cocoa error code 512, no
// further information): the archive file could not be opened or its folder
// could not be made.
class FileWriteError : public std::runtime_error {
public:
    static constexpr int fileWriteUnknown = 512;
    static constexpr const char *errorDomain = "NSCocoaErrorDomain";

    FileWriteError() : std::runtime_error("The file couldn't be saved.") {}
    QString domain() const { return QString::fromLatin1(errorDomain); }
    int code() const { return fileWriteUnknown; }
    QString description() const { return QString::fromUtf8(what()); }
};

// Thrown when a record cannot be written as JSON (a number that is not
// finite has no JSON form).
class EncodingError : public std::runtime_error {
public:
    explicit EncodingError(const QString &description)
        : std::runtime_error(description.toStdString()), description_(description) {}
    const QString &description() const { return description_; }

private:
    QString description_;
};

// How a record kept in the archive's local state turns into JSON and back.
// A record provides `toJson()` (an object, array or value) and a static
// `fromJson` taking a QJsonValue or a QJsonObject; lists and string-keyed maps
// of such records are coded as JSON arrays and objects.
template <typename T>
struct JsonCoding {
    static QJsonValue encode(const T &value) { return QJsonValue(value.toJson()); }
    static T decode(const QJsonValue &json)
    {
        if constexpr (requires { T::fromJson(json); })
            return T::fromJson(json);
        else
            return T::fromJson(json::requireObject(json, QStringLiteral("value")));
    }
};

template <typename T>
struct JsonCoding<std::vector<T>> {
    static QJsonValue encode(const std::vector<T> &list)
    {
        QJsonArray array;
        for (const T &element : list)
            array.append(JsonCoding<T>::encode(element));
        return array;
    }
    static std::vector<T> decode(const QJsonValue &json)
    {
        const QJsonArray array = json::requireArray(json, QStringLiteral("value"));
        std::vector<T> list;
        list.reserve(static_cast<size_t>(array.size()));
        for (const QJsonValue &element : array)
            list.push_back(JsonCoding<T>::decode(element));
        return list;
    }
};

namespace detail {
template <typename Map>
struct JsonMapCoding {
    using Element = typename Map::mapped_type;
    static QJsonValue encode(const Map &map)
    {
        QJsonObject object;
        if constexpr (requires { map.constKeyValueBegin(); }) {
            for (auto it = map.constKeyValueBegin(); it != map.constKeyValueEnd(); ++it)
                object.insert(it->first, JsonCoding<Element>::encode(it->second));
        } else {
            for (const auto &[key, element] : map)
                object.insert(key, JsonCoding<Element>::encode(element));
        }
        return object;
    }
    static Map decode(const QJsonValue &json)
    {
        const QJsonObject object = json::requireObject(json, QStringLiteral("value"));
        Map map;
        for (auto it = object.constBegin(); it != object.constEnd(); ++it)
            if constexpr (requires { map.insert_or_assign(it.key(), std::declval<Element>()); })
                map.insert_or_assign(it.key(), JsonCoding<Element>::decode(it.value()));
            else
                map.insert(it.key(), JsonCoding<Element>::decode(it.value()));
        return map;
    }
};
} // namespace detail

template <typename T>
struct JsonCoding<std::map<QString, T>> : detail::JsonMapCoding<std::map<QString, T>> {};

template <typename T>
struct JsonCoding<QMap<QString, T>> : detail::JsonMapCoding<QMap<QString, T>> {};

template <typename T>
struct JsonCoding<QHash<QString, T>> : detail::JsonMapCoding<QHash<QString, T>> {};

// A list or a string-keyed map of records read record by record: the records
// that decode are kept and the others dropped, so one damaged record does not
// cost the rest. `damaged` tells that something was dropped, or that the text
// was no list (map) at all. A text cut short keeps the records before the cut.
template <typename T>
struct Salvaged {
    T value{};
    bool damaged = false;
};

namespace detail {
// The JSON document of a text, or of its longest prefix that closes as one
// once `closer` is appended after one of its last `tries` "}".
inline std::optional<QJsonDocument> salvageDocument(const QByteArray &text, char closer, bool &cut)
{
    QJsonParseError status{};
    QJsonDocument document = QJsonDocument::fromJson(text, &status);
    if (status.error == QJsonParseError::NoError)
        return document;
    constexpr int tries = 1000;
    qsizetype at = text.size();
    for (int i = 0; i < tries; ++i) {
        at = text.lastIndexOf('}', at - 1);
        if (at < 0)
            break;
        document = QJsonDocument::fromJson(text.left(at + 1) + closer, &status);
        if (status.error == QJsonParseError::NoError) {
            cut = true;
            return document;
        }
    }
    return std::nullopt;
}
} // namespace detail

template <typename T>
Salvaged<std::vector<T>> salvageList(const QByteArray &text)
{
    Salvaged<std::vector<T>> out;
    const std::optional<QJsonDocument> document = detail::salvageDocument(text, ']', out.damaged);
    if (!document || !document->isArray()) {
        out.damaged = true;
        return out;
    }
    for (const QJsonValue &element : document->array()) {
        try {
            out.value.push_back(JsonCoding<T>::decode(element));
        } catch (const std::exception &) {
            out.damaged = true;
        }
    }
    return out;
}

template <typename Map>
Salvaged<Map> salvageMap(const QByteArray &text)
{
    using Element = typename Map::mapped_type;
    Salvaged<Map> out;
    const std::optional<QJsonDocument> document = detail::salvageDocument(text, '}', out.damaged);
    if (!document || !document->isObject()) {
        out.damaged = true;
        return out;
    }
    const QJsonObject object = document->object();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        try {
            out.value.insert_or_assign(it.key(), JsonCoding<Element>::decode(it.value()));
        } catch (const std::exception &) {
            out.damaged = true;
        }
    }
    return out;
}

// The local record of listening: one SQLite database with the listening
// sessions, the captions recognised in them and a small key-value table of
// application state. Every operation runs on the caller's thread, throws
// ArchiveError on a database failure and leaves the connection usable.
// Statements are prepared anew on every call; nothing is cached.
class ListeningArchive {
public:
    // One statement parameter.
    class Value {
    public:
        static Value text(const QString &t) { return Value(t); }
        static Value number(double n) { return Value(n); }
        static Value integer(qint64 i) { return Value(i); }
        static Value null() { return Value(std::monostate{}); }

        bool isNull() const { return std::holds_alternative<std::monostate>(value_); }
        const std::variant<QString, double, qint64, std::monostate> &get() const { return value_; }
        bool operator==(const Value &) const = default;

    private:
        template <typename V>
        explicit Value(V v) : value_(std::move(v)) {}
        std::variant<QString, double, qint64, std::monostate> value_;
    };

    // One row of a caption page or a session page.
    struct Entry {
        qint64 id = 0;              // caption row id, or session row id
        QString station;            // the session's station name
        Date date;                  // caption: recognised; session: playback start, else attempt
        std::optional<QString> stationID; // captions only
        std::optional<qint64> sessionID;  // captions only
        std::optional<QString> text;      // captions only
        std::optional<QString> language;  // captions only
        double played = 0;          // sessions only (seconds)
        qint64 bytes = 0;           // sessions only
        double elapsed = 0;         // sessions only (seconds)
        std::optional<double> firstAudio; // sessions only (seconds)
        bool interrupted = false;   // sessions only
        int retry = 0;              // sessions only
        bool startedPlayback = false; // sessions only
    };

    static constexpr const char *checkpointStatement =
        "UPDATE sessions SET started=?, updated=?, played=?, bytes=?, elapsed=?, first_audio=?, "
        "interrupted=? WHERE id=?";

    // Where the archive lives: <user data>/Vantuli/Listening.sqlite3. Makes
    // the folder when missing; throws FileWriteError when that fails.
    static QString localURL();

    // Opens (creating when needed) the database file at `path`, or a private
    // in-memory database without a path. Throws FileWriteError when SQLite
    // cannot open the file, or can open it only for reading, and ArchiveError
    // when the file is damaged (SQLite's quick check finds a fault; the file
    // is left untouched) or the schema cannot be set up (for instance when
    // the file is not an SQLite database).
    explicit ListeningArchive(const std::optional<QString> &path = std::nullopt);
    ~ListeningArchive();
    ListeningArchive(const ListeningArchive &) = delete;
    ListeningArchive &operator=(const ListeningArchive &) = delete;

    // Inserts a session row for a run and answers its row id.
    qint64 begin(const QString &stationID, const QString &stationName, int retry, Date date);
    template <typename Station>
        requires requires(const Station &s) {
            { s.id } -> std::convertible_to<QString>;
            { s.name } -> std::convertible_to<QString>;
        }
    qint64 begin(const Station &station, int retry, Date date)
    {
        return begin(QString(station.id), QString(station.name), retry, date);
    }

    // Writes the captions of one recognised batch, all or none.
    void append(const std::vector<Caption> &captions, qint64 session, const QString &language, Date date);

    // Brings a session row up to date (the checkpoint statement).
    void checkpoint(qint64 session, std::optional<Date> started, Date updated, double played, qint64 bytes,
                    double elapsed, std::optional<double> firstAudio, bool interrupted);

    // Runs one statement with its values; it must finish without a result row.
    void write(const QString &sql, const std::vector<Value> &values);

    // Keeps one record as JSON in the local state under `key`.
    template <typename T>
    void save(const T &value, const QString &key)
    {
        saveJson(JsonCoding<T>::encode(value), key);
    }

    // The record kept under `key`, or nothing when none was saved. Throws
    // DecodingError when the kept text does not decode as T.
    template <typename T>
    std::optional<T> state(const QString &key)
    {
        const std::optional<QByteArray> text = stateText(key);
        if (!text)
            return std::nullopt;
        return JsonCoding<T>::decode(parseJson(*text));
    }

    // The text kept under `key` as it stands, or nothing when none was saved.
    std::optional<QByteArray> stateText(const QString &key);
    // Keeps a text as it stands under `key` (a copy of a damaged row).
    void saveText(const QString &key, const QByteArray &text);

    // A page of captions or sessions, newest first, whose station name (or,
    // for captions, text) contains `query` literally; only rows with an id
    // below `before` when given; at most `limit` rows.
    std::vector<Entry> entries(bool captions, const QString &query, std::optional<qint64> before, qint64 limit);

    // Whether another station's playback lies between two captions of the
    // same station.
    bool separatesCaptions(const Entry &newer, const Entry &older);

    // Removes every session, caption and local-state row. Row ids are not reused.
    void clear();

private:
    void saveJson(const QJsonValue &json, const QString &key);
    static QJsonValue parseJson(const QByteArray &text);

    ArchiveError error() const;
    void statement(const QString &sql, const std::vector<Value> &values,
                   const std::function<void(sqlite3_stmt *)> &body);
    void execute(const char *script);
    // Throws ArchiveError (SQLITE_CORRUPT) when SQLite's quick check finds a fault.
    void requireIntact();
    void transaction(const std::function<void()> &body);

    sqlite3 *db = nullptr;
};

} // namespace vantuli
