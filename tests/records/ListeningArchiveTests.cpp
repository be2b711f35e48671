#include "records/ListeningArchive.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <limits>

using namespace vantuli;
using Archive = ListeningArchive;

namespace {

struct TestStation {
    QString id;
    QString name;
    QString homepage;
};

// A record decoded from an object.
struct Mark {
    QString url;
    Date date;

    QJsonObject toJson() const { return {{"url", url}, {"date", date.since2001()}}; }
    static Mark fromJson(const QJsonObject &o)
    {
        return {json::requiredString(o, "url"), Date::fromSince2001(json::requiredNumber(o, "date"))};
    }
};

// A record decoded from any JSON value.
struct Visit {
    QString stationID;
    qint64 visits = 0;

    QJsonObject toJson() const { return {{"stationID", stationID}, {"visits", visits}}; }
    static Visit fromJson(const QJsonValue &v)
    {
        const QJsonObject o = json::requireObject(v, "visit");
        return {json::requiredString(o, "stationID"), json::requiredInteger(o, "visits")};
    }
};

std::vector<Caption> captions(std::initializer_list<const char *> texts, double start = 0)
{
    std::vector<Caption> list;
    for (const char *text : texts) {
        list.push_back(Caption{QUuid::createUuid(), QString::fromUtf8(text), start, start + 1.5});
        start += 2;
    }
    return list;
}

std::vector<qint64> ids(const std::vector<Archive::Entry> &entries)
{
    std::vector<qint64> list;
    for (const auto &e : entries)
        list.push_back(e.id);
    return list;
}

std::vector<QString> texts(const std::vector<Archive::Entry> &entries)
{
    std::vector<QString> list;
    for (const auto &e : entries)
        list.push_back(e.text.value_or(QString()));
    return list;
}

// Rows of a table, counted over a connection of the test's own.
int countRows(const QString &path, const char *table)
{
    sqlite3 *db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt *stmt = nullptr;
    const QByteArray sql = QByteArray("SELECT count(*) FROM ") + table;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    const int count = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return count;
}

QString freshPath(const char *name)
{
    return test::temporaryFolder() + QLatin1Char('/') + QLatin1String(name);
}

} // namespace

TEST(ListeningArchive, SessionRowsFollowBeginAndCheckpoints)
{
    Archive archive;
    const qint64 id = archive.begin(TestStation{"fm1", "Radio One", "x"}, 2, Date{1000.25});

    auto page = archive.entries(false, "", std::nullopt, 10);
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page[0].id, id);
    EXPECT_EQ(page[0].station, "Radio One");
    EXPECT_EQ(page[0].date.secondsSince1970, 1000.25); // never played: the attempt
    EXPECT_EQ(page[0].retry, 2);
    EXPECT_FALSE(page[0].startedPlayback);
    EXPECT_FALSE(page[0].firstAudio.has_value());
    EXPECT_FALSE(page[0].interrupted);
    EXPECT_EQ(page[0].bytes, 0);
    EXPECT_FALSE(page[0].stationID || page[0].sessionID || page[0].text || page[0].language);

    archive.checkpoint(id, Date{1003.5}, Date{1010}, 6.5, 123456, 9.75, 0.4, false);
    page = archive.entries(false, "", std::nullopt, 10);
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page[0].date.secondsSince1970, 1003.5); // playback start wins
    EXPECT_TRUE(page[0].startedPlayback);
    EXPECT_EQ(page[0].played, 6.5);
    EXPECT_EQ(page[0].bytes, 123456);
    EXPECT_EQ(page[0].elapsed, 9.75);
    EXPECT_EQ(page[0].firstAudio, 0.4);

    // The same statement through write, with NULLs: the row reads as never started.
    archive.write(Archive::checkpointStatement,
                  {Archive::Value::null(), Archive::Value::number(1020), Archive::Value::number(0),
                   Archive::Value::integer(std::numeric_limits<qint64>::max()), Archive::Value::number(1),
                   Archive::Value::null(), Archive::Value::integer(1), Archive::Value::integer(id)});
    page = archive.entries(false, "", std::nullopt, 10);
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page[0].date.secondsSince1970, 1000.25);
    EXPECT_FALSE(page[0].startedPlayback);
    EXPECT_FALSE(page[0].firstAudio.has_value());
    EXPECT_TRUE(page[0].interrupted);
    EXPECT_EQ(page[0].bytes, std::numeric_limits<qint64>::max());

    // A checkpoint of a row that does not exist changes nothing and is no error.
    EXPECT_NO_THROW(archive.checkpoint(id + 7, Date{1}, Date{2}, 3, 4, 5, 6, true));
    EXPECT_EQ(archive.entries(false, "", std::nullopt, 10).size(), 1u);

    // Another archive in memory is a database of its own.
    Archive other;
    EXPECT_TRUE(other.entries(false, "", std::nullopt, 10).empty());
    EXPECT_EQ(other.begin(TestStation{"c", "Gamma", ""}, 0, Date{300}), 1);
    EXPECT_EQ(archive.begin(TestStation{"b", "Beta", ""}, 0, Date{2000}), id + 1);
    EXPECT_EQ(ids(archive.entries(false, "", std::nullopt, 10)), (std::vector<qint64>{id + 1, id}));
}

TEST(ListeningArchive, WriteReportsSQLiteErrorsAndStaysUsable)
{
    Archive archive;
    try {
        archive.write("UPDATE nowhere SET x=1", {});
        FAIL() << "no error";
    } catch (const ArchiveError &e) {
        EXPECT_EQ(e.domain(), "Vantuli.SQLite");
        EXPECT_EQ(e.code(), SQLITE_ERROR);
        EXPECT_EQ(e.description(), "no such table: nowhere");
    }
    // A statement that yields a row is not a write.
    EXPECT_THROW(archive.write("SELECT 1", {}), ArchiveError);
    // More values than parameters.
    EXPECT_THROW(archive.write("DELETE FROM sessions WHERE id=?", {Archive::Value::integer(1), Archive::Value::integer(2)}),
                 ArchiveError);
    EXPECT_THROW(archive.write("  ", {}), ArchiveError);
    EXPECT_EQ(archive.begin(TestStation{"a", "A", ""}, 0, Date{1}), 1);
}

TEST(ListeningArchive, CaptionPagesAreNewestFirstAndPageByKeyset)
{
    Archive archive;
    const qint64 one = archive.begin(TestStation{"s1", "First", ""}, 0, Date{10});
    const qint64 two = archive.begin(TestStation{"s2", "Second", ""}, 1, Date{20});
    archive.append(captions({"a", "b", "c"}, 4), one, "en", Date{11.5});
    archive.append({}, two, "fr", Date{21}); // nothing
    archive.append(captions({"d", "e"}), two, "fr", Date{22});

    const auto newest = archive.entries(true, "", std::nullopt, 3);
    EXPECT_EQ(texts(newest), (std::vector<QString>{"e", "d", "c"}));
    EXPECT_EQ(ids(newest), (std::vector<qint64>{5, 4, 3}));
    const auto &e = newest[0];
    EXPECT_EQ(e.station, "Second");
    EXPECT_EQ(e.stationID, "s2");
    EXPECT_EQ(e.sessionID, two);
    EXPECT_EQ(e.language, "fr");
    EXPECT_EQ(e.date.secondsSince1970, 22);
    EXPECT_EQ(e.played, 0);
    EXPECT_EQ(e.retry, 0);
    EXPECT_FALSE(e.startedPlayback || e.interrupted || e.firstAudio);
    EXPECT_EQ(newest[2].sessionID, one);
    EXPECT_EQ(newest[2].date.secondsSince1970, 11.5);

    EXPECT_EQ(texts(archive.entries(true, "", newest.back().id, 3)), (std::vector<QString>{"b", "a"}));
    EXPECT_TRUE(archive.entries(true, "", 1, 3).empty());
    EXPECT_EQ(ids(archive.entries(false, "", two, 5)), (std::vector<qint64>{one}));
}

TEST(ListeningArchive, SearchMatchesTextLiterally)
{
    Archive archive;
    const qint64 uno = archive.begin(TestStation{"u", "Radio Uno", ""}, 0, Date{1});
    const qint64 jazz = archive.begin(TestStation{"j", "Jazz_FM 100%", ""}, 0, Date{2});
    archive.append(captions({"100% sure", "1005 sure", "snake_case", "snakeXcase", "back\\slash", "backslash"}),
                   uno, "en", Date{3});
    archive.append(captions({"smooth"}), jazz, "en", Date{4});

    struct Row {
        const char *query;
        std::vector<QString> captionTexts;
        std::vector<qint64> sessions;
    };
    const Row rows[] = {
        {"0%", {"smooth", "100% sure"}, {jazz}},
        {"%", {"smooth", "100% sure"}, {jazz}},
        {"e_c", {"snake_case"}, {}},
        {"_", {"smooth", "snake_case"}, {jazz}},
        {"\\", {"back\\slash"}, {}},
        {"K\\S", {"back\\slash"}, {}},
        {"uno", {"backslash", "back\\slash", "snakeXcase", "snake_case", "1005 sure", "100% sure"}, {uno}},
        {"SURE", {"1005 sure", "100% sure"}, {}},
        {"smooth", {"smooth"}, {}}, // sessions match by station name only
        {"", {"smooth", "backslash", "back\\slash", "snakeXcase", "snake_case", "1005 sure", "100% sure"},
         {jazz, uno}},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(texts(archive.entries(true, r.query, std::nullopt, 100)), r.captionTexts) << r.query;
        EXPECT_EQ(ids(archive.entries(false, r.query, std::nullopt, 100)), r.sessions) << r.query;
    }
}

TEST(ListeningArchive, FailedAppendLeavesNoCaptionOfTheBatch)
{
    Archive archive;
    const qint64 session = archive.begin(TestStation{"a", "A", ""}, 0, Date{1});
    archive.clear();
    try {
        archive.append(captions({"x", "y"}), session, "en", Date{2});
        FAIL() << "no error";
    } catch (const ArchiveError &e) {
        EXPECT_EQ(e.code(), SQLITE_CONSTRAINT);
        EXPECT_EQ(e.description(), "FOREIGN KEY constraint failed");
    }

    // A batch that fails part-way is rolled back as a whole.
    const qint64 live = archive.begin(TestStation{"b", "B", ""}, 0, Date{3});
    archive.write("CREATE TEMP TRIGGER refuse BEFORE INSERT ON captions WHEN NEW.text='bad' "
                  "BEGIN SELECT RAISE(ABORT,'refused'); END",
                  {});
    EXPECT_THROW(archive.append(captions({"good", "fine", "bad", "late"}), live, "en", Date{4}), ArchiveError);
    EXPECT_TRUE(archive.entries(true, "", std::nullopt, 10).empty());

    // The connection is usable afterwards and a new transaction starts cleanly.
    archive.append(captions({"good"}), live, "en", Date{5});
    EXPECT_EQ(texts(archive.entries(true, "", std::nullopt, 10)), (std::vector<QString>{"good"}));
}

TEST(ListeningArchive, ClearEmptiesAllTablesAndKeepsCounting)
{
    const QString path = freshPath("clear.sqlite3");
    Archive archive(path);
    qint64 last = 0;
    for (int i = 0; i < 3; ++i) {
        last = archive.begin(TestStation{"s", "S", ""}, i, Date{double(i)});
        archive.append(captions({"one", "two"}), last, "en", Date{double(i)});
    }
    archive.save(std::vector<Visit>{{"s", 3}}, "recent");
    archive.save(std::map<QString, Mark>{{"s", {"https://x", Date{5}}}}, "failures");
    ASSERT_EQ(countRows(path, "captions"), 6);

    archive.clear();
    EXPECT_EQ(countRows(path, "sessions"), 0);
    EXPECT_EQ(countRows(path, "captions"), 0);
    EXPECT_EQ(countRows(path, "local_state"), 0);
    EXPECT_FALSE(archive.state<std::vector<Visit>>("recent"));
    EXPECT_FALSE((archive.state<std::map<QString, Mark>>("failures")));
    EXPECT_GT(archive.begin(TestStation{"s", "S", ""}, 0, Date{9}), last);
    archive.clear(); // clearing twice is fine
    EXPECT_EQ(countRows(path, "sessions"), 0);
}

TEST(ListeningArchive, StateKeepsRecordsAsJson)
{
    Archive archive;
    EXPECT_FALSE(archive.state<std::vector<Visit>>("recent").has_value());

    const std::vector<Visit> recent{{"b", 2}, {"a", 7}};
    archive.save(recent, "recent");
    const auto readRecent = archive.state<std::vector<Visit>>("recent");
    ASSERT_TRUE(readRecent);
    ASSERT_EQ(readRecent->size(), 2u);
    EXPECT_EQ((*readRecent)[0].stationID, "b");
    EXPECT_EQ((*readRecent)[1].visits, 7);

    QMap<QString, Mark> failures;
    failures.insert("x", {"https://x/a", Date::fromSince2001(700000000.5)});
    archive.save(failures, "failures");
    const auto asMap = archive.state<std::map<QString, Mark>>("failures");
    ASSERT_TRUE(asMap);
    EXPECT_EQ(asMap->at("x").url, "https://x/a");
    EXPECT_EQ(asMap->at("x").date.since2001(), 700000000.5);
    EXPECT_EQ((archive.state<QMap<QString, Mark>>("failures")->size()), 1);

    // Saving again replaces the value.
    archive.save(Visit{"z", 1}, "recent");
    EXPECT_EQ(archive.state<Visit>("recent")->stationID, "z");

    // Text that is not JSON for the type throws the decoding error.
    EXPECT_THROW(archive.state<std::vector<Visit>>("recent"), DecodingError);
    archive.write("INSERT OR REPLACE INTO local_state(key,value) VALUES('broken','[{\"stationID\":')", {});
    EXPECT_THROW(archive.state<std::vector<Visit>>("broken"), DecodingError);
    archive.write("INSERT OR REPLACE INTO local_state(key,value) VALUES('empty','')", {});
    EXPECT_THROW(archive.state<Visit>("empty"), DecodingError);
}

TEST(ListeningArchive, RecordsWithoutJsonFormAreNotSaved)
{
    Archive archive;
    archive.save(std::vector<Mark>{{"https://ok", Date{1}}}, "failures");
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
        EXPECT_THROW(archive.save(std::vector<Mark>{{"https://bad", Date{bad}}}, "failures"), EncodingError);
        const auto kept = archive.state<std::vector<Mark>>("failures");
        ASSERT_TRUE(kept);
        ASSERT_EQ(kept->size(), 1u);
        EXPECT_EQ(kept->front().url, "https://ok");
    }
}

TEST(ListeningArchive, SeparatesCaptionsOnlyForAnotherStartedStationBetween)
{
    // Sessions 1-9; session 6 belongs to another station and its playback flag is set per case.
    struct Row {
        const char *between;     // station id of session 6
        bool started;            // whether session 6 reached playback
        qint64 newer, older;
        bool separated;
    };
    const Row rows[] = {
        {"other", true, 9, 4, true},   {"other", false, 9, 4, false}, {"same", true, 9, 4, false},
        {"other", true, 5, 4, false},  {"other", true, 7, 6, false},  {"other", true, 9, 6, false},
        {"other", true, 7, 5, true},   {"other", true, 4, 9, false},
    };
    for (const Row &r : rows) {
        Archive archive;
        for (int i = 1; i <= 9; ++i) {
            const bool other = i == 6;
            const qint64 id = archive.begin(TestStation{other ? r.between : "same", "Station", ""}, 0, Date{double(i)});
            if (!other || r.started)
                archive.checkpoint(id, Date{double(i)}, Date{double(i)}, 1, 1, 1, 1, false);
        }
        Archive::Entry newer;
        newer.sessionID = r.newer;
        newer.stationID = "same";
        Archive::Entry older = newer;
        older.sessionID = r.older;
        EXPECT_EQ(archive.separatesCaptions(newer, older), r.separated)
            << r.between << r.started << r.newer << "/" << r.older;
    }
}

TEST(ListeningArchive, SeparatesCaptionsAsksNothingForNeighbours)
{
    Archive archive;
    archive.write("DROP TABLE captions", {});
    archive.write("DROP TABLE sessions", {});
    Archive::Entry newer;
    newer.sessionID = 5;
    newer.stationID = "s";
    Archive::Entry older = newer;
    older.sessionID = 4;
    EXPECT_FALSE(archive.separatesCaptions(newer, older));
    older.sessionID = std::numeric_limits<qint64>::max();
    EXPECT_FALSE(archive.separatesCaptions(newer, older));
    newer.sessionID = std::numeric_limits<qint64>::max();
    older.sessionID = std::numeric_limits<qint64>::min();
    EXPECT_THROW(archive.separatesCaptions(newer, older), ArchiveError); // far apart: the table is asked
    older.sessionID.reset();
    EXPECT_FALSE(archive.separatesCaptions(newer, older));
}

TEST(ListeningArchive, FileKeepsRowsAcrossConnections)
{
    const QString path = freshPath("kept.sqlite3");
    qint64 session = 0;
    {
        Archive archive(path);
        session = archive.begin(TestStation{"k", "Kept", ""}, 1, Date{42});
        archive.append(captions({"still here"}), session, "de", Date{43});
        archive.save(Visit{"k", 4}, "recent");
    }
    Archive reopened(path);
    const auto sessions = reopened.entries(false, "", std::nullopt, 10);
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].station, "Kept");
    EXPECT_EQ(sessions[0].retry, 1);
    EXPECT_EQ(texts(reopened.entries(true, "", std::nullopt, 10)), (std::vector<QString>{"still here"}));
    EXPECT_EQ(reopened.state<Visit>("recent")->visits, 4);
    // Foreign keys are enforced on the new connection too.
    EXPECT_THROW(reopened.append(captions({"orphan"}), session + 1, "de", Date{44}), ArchiveError);
}

TEST(ListeningArchive, OpeningFailsWithAnErrorForUnusableFiles)
{
    const QString garbage = freshPath("garbage.sqlite3");
    {
        QFile file(garbage);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'G'));
    }
    try {
        Archive archive(garbage);
        FAIL() << "opened a file that is not a database";
    } catch (const ArchiveError &e) {
        EXPECT_EQ(e.code(), SQLITE_NOTADB);
        EXPECT_EQ(e.domain(), "Vantuli.SQLite");
    }

    // A database with one damaged page is refused before anything is
    // written into it, and stays byte for byte as it was.
    const QString damaged = freshPath("damaged.sqlite3");
    {
        Archive archive(damaged);
        const qint64 session = archive.begin(QStringLiteral("a"), QStringLiteral("A"), 0, Date{1});
        for (int i = 0; i < 40; ++i)
            archive.append(captions({"a caption long enough to fill the pages of the table in a few batches",
                                     "and its neighbour, just as long, so that the table spans many pages"}),
                           session, "en", Date{2});
    }
    QByteArray pages;
    {
        QFile file(damaged);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_GE(file.size(), 8 * 4096);
        ASSERT_TRUE(file.seek(file.size() - 2 * 4096 + 8));
        file.write(QByteArray(1000, '\x5a'));
        file.close();
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        pages = file.readAll();
    }
    try {
        Archive archive(damaged);
        FAIL() << "opened a damaged database";
    } catch (const ArchiveError &e) {
        EXPECT_EQ(e.code(), SQLITE_CORRUPT);
    }
    {
        QFile file(damaged);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll() == pages);
    }

    try {
        Archive archive(freshPath("missing/folder/x.sqlite3"));
        FAIL() << "opened a file in a missing folder";
    } catch (const FileWriteError &e) {
        EXPECT_EQ(e.code(), 512);
    }

    // A link at the archive's place is refused and left as it is, whether it
    // dangles (SQLite would create its target, readable by everyone) or leads
    // to an archive; a folder reached through a link is fine.
    const QString links = test::temporaryFolder();
    const QString elsewhere = links + QStringLiteral("/elsewhere.sqlite3");
    const QString kept = freshPath("kept.sqlite3");
    Archive(kept).begin(QStringLiteral("a"), QStringLiteral("A"), 0, Date{1});
    for (const QString &target : {elsewhere, kept}) {
        const QString link = links + QStringLiteral("/Listening.sqlite3");
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(target, link));
        EXPECT_THROW(Archive archive(link), FileWriteError) << target.toStdString();
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), target);
    }
    EXPECT_FALSE(QFileInfo::exists(elsewhere));
    const QString through = test::temporaryFolder() + QStringLiteral("/through");
    ASSERT_TRUE(QFile::link(links, through));
    Archive reached(through + QStringLiteral("/Archive.sqlite3"));
    EXPECT_EQ(reached.begin(QStringLiteral("a"), QStringLiteral("A"), 0, Date{1}), 1);

    // A file this user may only read would look healthy until the first
    // write: it is refused at once and left as it was. (As root every file
    // is writable, so the check runs in a child that gave up root.)
    const QString folder = test::temporaryFolder();
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                      | QFileDevice::ReadOther | QFileDevice::ExeOther);
    const QString readOnly = folder + QStringLiteral("/read-only.sqlite3");
    Archive(readOnly).begin(QStringLiteral("a"), QStringLiteral("A"), 0, Date{1});
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ReadOther));
    const auto bytes = [&] {
        QFile file(readOnly);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray before = bytes();
    const auto refused = [&] {
        try {
            Archive archive(readOnly);
            return false;
        } catch (const FileWriteError &) {
            return true;
        }
    };
    if (::geteuid() != 0) {
        EXPECT_TRUE(refused());
    } else {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(2);
            ::_exit(refused() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_EQ(bytes(), before);
}

TEST(ListeningArchive, BusyDatabaseIsReportedAfterWaiting)
{
    const QString path = freshPath("busy.sqlite3");
    Archive holder(path);
    Archive other(path);
    holder.write("BEGIN IMMEDIATE", {});
    holder.begin(TestStation{"h", "Holder", ""}, 0, Date{1});
    try {
        other.begin(TestStation{"o", "Other", ""}, 0, Date{2});
        FAIL() << "no busy error";
    } catch (const ArchiveError &e) {
        EXPECT_EQ(e.code(), SQLITE_BUSY);
    }
    EXPECT_THROW(other.clear(), ArchiveError);
    holder.write("COMMIT", {});
    EXPECT_EQ(other.begin(TestStation{"o", "Other", ""}, 0, Date{2}), 2);
    other.clear();
    EXPECT_TRUE(holder.entries(false, "", std::nullopt, 10).empty());
}

TEST(ListeningArchive, LocalURLMakesItsFolder)
{
    const QString base = test::temporaryFolder() + "/data/home";
    test::ScopedEnvironment data("XDG_DATA_HOME", QFile::encodeName(base));
    const QString url = Archive::localURL();
    EXPECT_EQ(url, base + "/Vantuli/Listening.sqlite3");
    EXPECT_TRUE(QFileInfo(base + "/Vantuli").isDir());
    EXPECT_EQ(Archive::localURL(), url); // an existing folder is fine
    Archive archive(url);
    EXPECT_TRUE(QFileInfo::exists(url));
    // Listening history is private: the file and its journal are the owner's only.
    archive.write("BEGIN IMMEDIATE", {});
    archive.begin(TestStation{"p", "Private", ""}, 0, Date{1});
    for (const QString &file : {url, url + "-journal"}) {
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &info), 0) << file.toStdString();
        EXPECT_EQ(info.st_mode & 0777, 0600u) << file.toStdString();
    }
    archive.write("COMMIT", {});
}
