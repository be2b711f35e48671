#include "records/ListeningArchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QStandardPaths>

#include <sqlite3.h>

#include <cmath>
#include <limits>

#include <fcntl.h>
#include <unistd.h>

namespace vantuli {

namespace {

// Read-write, create, and SQLite's serialised threading mode.
constexpr int openFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
static_assert(openFlags == 0x10006);

constexpr int busyTimeoutMs = 1000;

// Foreign keys and secure deletion are per connection, so they are set on
// every open; the tables of an existing file are left as they are.
constexpr const char *schemaScript =
    "PRAGMA foreign_keys=ON;\n"
    "PRAGMA secure_delete=ON;\n"
    "CREATE TABLE IF NOT EXISTS sessions("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "station_id TEXT NOT NULL, "
    "station TEXT NOT NULL, "
    "attempted REAL NOT NULL, "
    "started REAL, "
    "updated REAL NOT NULL, "
    "played REAL NOT NULL DEFAULT 0, "
    "bytes INTEGER NOT NULL DEFAULT 0, "
    "elapsed REAL NOT NULL DEFAULT 0, "
    "first_audio REAL, "
    "interrupted INTEGER NOT NULL DEFAULT 0, "
    "retry INTEGER NOT NULL DEFAULT 0);\n"
    "CREATE TABLE IF NOT EXISTS captions("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "session_id INTEGER NOT NULL REFERENCES sessions(id) ON DELETE CASCADE, "
    "recognized REAL NOT NULL, "
    "media_start REAL NOT NULL, "
    "media_end REAL NOT NULL, "
    "language TEXT NOT NULL, "
    "text TEXT NOT NULL);\n"
    "CREATE TABLE IF NOT EXISTS local_state("
    "key TEXT PRIMARY KEY, "
    "value TEXT NOT NULL);\n"
    "CREATE INDEX IF NOT EXISTS captions_session ON captions(session_id);\n";

constexpr const char *insertSession =
    "INSERT INTO sessions(station_id,station,attempted,updated,retry) VALUES(?,?,?,?,?)";
constexpr const char *insertCaption =
    "INSERT INTO captions(session_id,recognized,media_start,media_end,language,text) VALUES(?,?,?,?,?,?)";
constexpr const char *saveState = "INSERT OR REPLACE INTO local_state(key,value) VALUES(?,?)";
constexpr const char *selectState = "SELECT value FROM local_state WHERE key=?";
constexpr const char *captionPage =
    "SELECT c.id, s.station, c.recognized, c.text, c.language, s.station_id, s.id\n"
    "FROM captions c JOIN sessions s ON s.id=c.session_id WHERE c.id < ?\n"
    "AND (s.station LIKE '%' || ?2 || '%' ESCAPE '\\' OR c.text LIKE '%' || ?2 || '%' ESCAPE '\\')\n"
    "ORDER BY c.id DESC LIMIT ?3";
constexpr const char *sessionPage =
    "SELECT id, station, coalesce(started,attempted), played, bytes, elapsed, first_audio, interrupted, retry, "
    "started\n"
    "FROM sessions WHERE id < ? AND station LIKE '%' || ?2 || '%' ESCAPE '\\' ORDER BY id DESC LIMIT ?3";
constexpr const char *otherStationBetween =
    "SELECT 1 FROM sessions WHERE id > ? AND id < ? AND station_id <> ? AND started IS NOT NULL LIMIT 1";
constexpr const char *deleteAll = "DELETE FROM sessions; DELETE FROM local_state;";

// A text column as a string; NULL reads as the empty text.
QString columnText(sqlite3_stmt *stmt, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
    if (!text)
        return QString();
    return QString::fromUtf8(text, sqlite3_column_bytes(stmt, column));
}

// The search text escaped for LIKE with backslash as the escape character,
// so that it matches literally.
QString likeEscaped(const QString &query)
{
    QString escaped = query;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('%'), QLatin1String("\\%"));
    escaped.replace(QLatin1Char('_'), QLatin1String("\\_"));
    return escaped;
}

// JSON has no form for infinities and NaN; Qt would quietly write them as
// null, which then fails (or silently changes meaning) when read back.
void requireFinite(const QJsonValue &value)
{
    if (value.isDouble() && !std::isfinite(value.toDouble()))
        throw EncodingError(QStringLiteral("The data couldn't be written because a number is not finite."));
    if (value.isArray()) {
        for (const QJsonValue &element : value.toArray())
            requireFinite(element);
    } else if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it)
            requireFinite(it.value());
    }
}

// Compact JSON text of any JSON value, including a single string, number,
// boolean or null.
QByteArray jsonText(const QJsonValue &value)
{
    if (value.isArray() || value.isObject())
        return json::compact(value);
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

} // namespace

QString ListeningArchive::localURL()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        throw FileWriteError();
    const QString folder = base + QStringLiteral("/Vantuli");
    if (!QDir().mkpath(folder))
        throw FileWriteError();
    return folder + QStringLiteral("/Listening.sqlite3");
}

ListeningArchive::ListeningArchive(const std::optional<QString> &path)
{
    QByteArray name = QByteArrayLiteral(":memory:");
    if (path) {
        // A link at the archive's place is refused (SQLite would follow it
        // and create its target readable by everyone), but SQLite refuses a
        // link anywhere on the path: the folders are resolved first, so that
        // a home reached through a link still has its archive.
        const QFileInfo file(*path);
        const QString folder = QFileInfo(file.path()).canonicalFilePath();
        name = QFile::encodeName(folder.isEmpty() ? *path : folder + QLatin1Char('/') + file.fileName());
        // Listening history is private: a new archive is created readable by
        // its owner only, and SQLite gives its journal the file's mode.
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    sqlite3 *handle = nullptr;
    const int rc = sqlite3_open_v2(name.constData(), &handle, openFlags | SQLITE_OPEN_NOFOLLOW, nullptr);
    if (rc != SQLITE_OK || !handle) {
        if (handle)
            sqlite3_close(handle);
        throw FileWriteError();
    }
    // A file that may only be read opens all the same, and would look
    // healthy until the first write failed: it counts as not opened, and is
    // left as it is.
    if (sqlite3_db_readonly(handle, "main") == 1) {
        sqlite3_close(handle);
        throw FileWriteError();
    }
    db = handle;
    sqlite3_busy_timeout(db, busyTimeoutMs);
    try {
        // A damaged file would take new sessions and captions into pages
        // that may be lost or may damage it further: it counts as not
        // opened, before anything is written into it.
        requireIntact();
        execute(schemaScript);
    } catch (...) {
        sqlite3_close(db);
        db = nullptr;
        throw;
    }
}

void ListeningArchive::requireIntact()
{
    // The quick check reads every page once and answers a single "ok", or
    // one row per fault; a file too damaged to be read fails the statement.
    QString fault;
    statement(QStringLiteral("PRAGMA quick_check(1)"), {}, [&](sqlite3_stmt *stmt) {
        const int rc = sqlite3_step(stmt);
        if (rc != SQLITE_ROW)
            throw error();
        fault = columnText(stmt, 0);
    });
    if (fault != QLatin1String("ok"))
        throw ArchiveError(SQLITE_CORRUPT, fault);
}

ListeningArchive::~ListeningArchive()
{
    if (db)
        sqlite3_close_v2(db);
}

ArchiveError ListeningArchive::error() const
{
    return ArchiveError(sqlite3_errcode(db) & 0xff, QString::fromUtf8(sqlite3_errmsg(db)));
}

void ListeningArchive::statement(const QString &sql, const std::vector<Value> &values,
                                 const std::function<void(sqlite3_stmt *)> &body)
{
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, text.constData(), static_cast<int>(text.size()), &stmt, nullptr) != SQLITE_OK) {
        const ArchiveError failure = error();
        sqlite3_finalize(stmt);
        throw failure;
    }
    if (!stmt) // only blanks or comments: nothing to run
        throw ArchiveError(SQLITE_MISUSE, QString::fromUtf8(sqlite3_errstr(SQLITE_MISUSE)));

    struct Finalizer {
        sqlite3_stmt *stmt;
        ~Finalizer() { sqlite3_finalize(stmt); }
    } finalizer{stmt};

    int position = 1;
    for (const Value &value : values) {
        int rc = SQLITE_OK;
        const auto &v = value.get();
        if (const auto *t = std::get_if<QString>(&v)) {
            // Text ends at its first NUL; SQLite takes its own copy.
            const QByteArray utf8 = t->toUtf8();
            const qsizetype end = utf8.indexOf('\0');
            const int length = static_cast<int>(end < 0 ? utf8.size() : end);
            rc = sqlite3_bind_text(stmt, position, utf8.constData(), length, SQLITE_TRANSIENT);
        } else if (const auto *n = std::get_if<double>(&v)) {
            rc = sqlite3_bind_double(stmt, position, *n);
        } else if (const auto *i = std::get_if<qint64>(&v)) {
            rc = sqlite3_bind_int64(stmt, position, *i);
        } else {
            rc = sqlite3_bind_null(stmt, position);
        }
        if (rc != SQLITE_OK)
            throw error();
        ++position;
    }
    body(stmt);
}

void ListeningArchive::write(const QString &sql, const std::vector<Value> &values)
{
    statement(sql, values, [this](sqlite3_stmt *stmt) {
        if (sqlite3_step(stmt) != SQLITE_DONE)
            throw error();
    });
}

void ListeningArchive::execute(const char *script)
{
    char *message = nullptr;
    const int rc = sqlite3_exec(db, script, nullptr, nullptr, &message);
    if (rc == SQLITE_OK)
        return;
    const QString description = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
    sqlite3_free(message);
    throw ArchiveError(rc & 0xff, description);
}

void ListeningArchive::transaction(const std::function<void()> &body)
{
    execute("BEGIN IMMEDIATE");
    try {
        body();
        execute("COMMIT");
    } catch (...) {
        // The error of the body or of COMMIT is the one reported.
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

qint64 ListeningArchive::begin(const QString &stationID, const QString &stationName, int retry, Date date)
{
    write(QString::fromLatin1(insertSession),
          {Value::text(stationID), Value::text(stationName), Value::number(date.secondsSince1970),
           Value::number(date.secondsSince1970), Value::integer(retry)});
    return sqlite3_last_insert_rowid(db);
}

void ListeningArchive::append(const std::vector<Caption> &captions, qint64 session, const QString &language,
                              Date date)
{
    if (captions.empty())
        return;
    transaction([&] {
        const QString sql = QString::fromLatin1(insertCaption);
        for (const Caption &caption : captions)
            write(sql, {Value::integer(session), Value::number(date.secondsSince1970), Value::number(caption.start),
                        Value::number(caption.end), Value::text(language), Value::text(caption.text)});
    });
}

void ListeningArchive::checkpoint(qint64 session, std::optional<Date> started, Date updated, double played,
                                  qint64 bytes, double elapsed, std::optional<double> firstAudio, bool interrupted)
{
    write(QString::fromLatin1(checkpointStatement),
          {started ? Value::number(started->secondsSince1970) : Value::null(), Value::number(updated.secondsSince1970),
           Value::number(played), Value::integer(bytes), Value::number(elapsed),
           firstAudio ? Value::number(*firstAudio) : Value::null(), Value::integer(interrupted ? 1 : 0),
           Value::integer(session)});
}

void ListeningArchive::saveJson(const QJsonValue &json, const QString &key)
{
    requireFinite(json);
    const QString text = QString::fromUtf8(jsonText(json));
    write(QString::fromLatin1(saveState), {Value::text(key), Value::text(text)});
}

void ListeningArchive::saveText(const QString &key, const QByteArray &text)
{
    write(QString::fromLatin1(saveState), {Value::text(key), Value::text(QString::fromUtf8(text))});
}

std::optional<QByteArray> ListeningArchive::stateText(const QString &key)
{
    std::optional<QByteArray> text;
    statement(QString::fromLatin1(selectState), {Value::text(key)}, [&](sqlite3_stmt *stmt) {
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE)
            return;
        if (rc != SQLITE_ROW)
            throw error();
        const auto *value = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
        text = value ? QByteArray(value, sqlite3_column_bytes(stmt, 0)) : QByteArray();
    });
    return text;
}

QJsonValue ListeningArchive::parseJson(const QByteArray &text)
{
    QJsonParseError status{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &status);
    if (status.error == QJsonParseError::NoError && (document.isArray() || document.isObject()))
        return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    // A single string, number, boolean or null at the top level.
    const QJsonDocument wrapped = QJsonDocument::fromJson('[' + text + ']', &status);
    if (status.error == QJsonParseError::NoError && wrapped.array().size() == 1)
        return wrapped.array().first();
    return json::parse(text); // throws the decoding error
}

std::vector<ListeningArchive::Entry> ListeningArchive::entries(bool captions, const QString &query,
                                                               std::optional<qint64> before, qint64 limit)
{
    const std::vector<Value> values{Value::integer(before.value_or(std::numeric_limits<qint64>::max())),
                                    Value::text(likeEscaped(query)), Value::integer(limit)};
    std::vector<Entry> rows;
    statement(QString::fromLatin1(captions ? captionPage : sessionPage), values, [&](sqlite3_stmt *stmt) {
        for (;;) {
            const int rc = sqlite3_step(stmt);
            if (rc == SQLITE_DONE)
                return;
            if (rc != SQLITE_ROW) {
                rows.clear();
                throw error();
            }
            Entry entry;
            entry.id = sqlite3_column_int64(stmt, 0);
            entry.station = columnText(stmt, 1);
            entry.date = Date{sqlite3_column_double(stmt, 2)};
            if (captions) {
                entry.text = columnText(stmt, 3);
                entry.language = columnText(stmt, 4);
                entry.stationID = columnText(stmt, 5);
                entry.sessionID = sqlite3_column_int64(stmt, 6);
            } else {
                entry.played = sqlite3_column_double(stmt, 3);
                entry.bytes = sqlite3_column_int64(stmt, 4);
                entry.elapsed = sqlite3_column_double(stmt, 5);
                if (sqlite3_column_type(stmt, 6) != SQLITE_NULL)
                    entry.firstAudio = sqlite3_column_double(stmt, 6);
                entry.interrupted = sqlite3_column_int64(stmt, 7) != 0;
                entry.retry = sqlite3_column_int(stmt, 8);
                entry.startedPlayback = sqlite3_column_type(stmt, 9) != SQLITE_NULL;
            }
            rows.push_back(std::move(entry));
        }
    });
    return rows;
}

bool ListeningArchive::separatesCaptions(const Entry &newer, const Entry &older)
{
    if (!newer.sessionID || !older.sessionID)
        return false;
    const qint64 newerID = *newer.sessionID;
    const qint64 olderID = *older.sessionID;
    // Same or adjacent sessions: nothing can lie between them. The distance is
    // taken without overflow for any pair of ids.
    if (olderID >= newerID || static_cast<quint64>(newerID) - static_cast<quint64>(olderID) < 2)
        return false;
    bool found = false;
    statement(QString::fromLatin1(otherStationBetween),
              {Value::integer(olderID), Value::integer(newerID), Value::text(newer.stationID.value_or(QString()))},
              [&](sqlite3_stmt *stmt) {
                  const int rc = sqlite3_step(stmt);
                  if (rc == SQLITE_ROW)
                      found = true;
                  else if (rc != SQLITE_DONE)
                      throw error();
              });
    return found;
}

void ListeningArchive::clear()
{
    // Two statements: run as a script, since a prepared statement would only
    // take the first. Captions go with their sessions by the cascade.
    transaction([this] { execute(deleteAll); });
}

} // namespace vantuli
