// Checks the shipped resources: the fourteen localisation tables agree with
// each other, with the station catalog and with the texts the product's source
// code looks up; and the catalog has the shape the station records read.

#include "records/L10n.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QStringList>

#include <gtest/gtest.h>

#include <map>
#include <vector>

using namespace vantuli;

namespace {

const QString kResources = QStringLiteral(VANTULI_RESOURCE_DIR);
const QString kSources = QStringLiteral(VANTULI_SOURCE_DIR);

// The folders whose code shows user-visible texts.
const QStringList kProductFolders = {
    QStringLiteral("records"), QStringLiteral("captioning"), QStringLiteral("streaming"),
    QStringLiteral("store"),   QStringLiteral("app"),        QStringLiteral("directory"),
    QStringLiteral("sheets"),  QStringLiteral("overlay"),    QStringLiteral("tipjar"),
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QString tablePath(const QString &code)
{
    return kResources + QLatin1Char('/') + code + QStringLiteral(".lproj/Localizable.json");
}

QStringList languageCodes()
{
    QStringList codes;
    for (const auto &l : L10n::languages())
        codes << l.code;
    return codes;
}

// Counts the JSON string tokens of a text. In a flat object of strings every
// entry is two of them, so fewer entries than half the count means a key was
// written twice (the JSON reader silently keeps one of them).
int stringTokens(const QByteArray &json)
{
    int count = 0;
    for (qsizetype i = 0; i < json.size(); ++i) {
        if (json[i] != '"')
            continue;
        ++count;
        for (++i; i < json.size() && json[i] != '"'; ++i) {
            if (json[i] == '\\')
                ++i;
        }
    }
    return count;
}

struct LoadedTable {
    QMap<QString, QString> entries;
    QString problem; // empty when the file is a flat object of strings
};

LoadedTable loadTable(const QString &code)
{
    LoadedTable t;
    const QByteArray bytes = readFile(tablePath(code));
    if (bytes.isEmpty()) {
        t.problem = QStringLiteral("missing or empty file");
        return t;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        t.problem = QStringLiteral("not JSON: ") + error.errorString();
        return t;
    }
    if (!doc.isObject()) {
        t.problem = QStringLiteral("not a JSON object");
        return t;
    }
    const QJsonObject o = doc.object();
    for (auto it = o.constBegin(); it != o.constEnd(); ++it) {
        if (!it.value().isString()) {
            t.problem = QStringLiteral("value of \"") + it.key() + QStringLiteral("\" is not a string");
            return t;
        }
        t.entries.insert(it.key(), it.value().toString());
    }
    if (stringTokens(bytes) != 2 * o.size())
        t.problem = QStringLiteral("a key appears more than once");
    return t;
}

// The format directives of a text in order: "%@" for each placeholder, and
// any other use of "%" as itself so that a stray one shows up as a mismatch.
QStringList formatDirectives(const QString &text)
{
    QStringList out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('%'))
            continue;
        if (i + 1 < text.size() && text[i + 1] == QLatin1Char('@')) {
            out << QStringLiteral("%@");
            ++i;
        } else {
            out << text.mid(i, 2);
            ++i;
        }
    }
    return out;
}

bool isCjk(char32_t c)
{
    return (c >= 0x1100 && c <= 0x11FF)      // Hangul Jamo
           || (c >= 0x2E80 && c <= 0x2FDF)   // radicals
           || (c >= 0x3000 && c <= 0x318F)   // CJK punctuation, kana, Bopomofo, Hangul letters
           || (c >= 0x3400 && c <= 0x4DBF)   // ideographs, extension A
           || (c >= 0x4E00 && c <= 0x9FFF)   // unified ideographs
           || (c >= 0xAC00 && c <= 0xD7AF)   // Hangul syllables
           || (c >= 0xF900 && c <= 0xFAFF)   // compatibility ideographs
           || (c >= 0xFF00 && c <= 0xFFEF)   // full-width forms
           || (c >= 0x20000 && c <= 0x3FFFF); // ideographs, extensions B and later
}

bool containsCjk(const QString &text)
{
    for (char32_t c : text.toUcs4()) {
        if (isCjk(c))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// A small reader of C++ string literals, enough to find the texts the code
// looks up: it skips comments and character literals (and digit separators),
// decodes escapes, reads raw strings, and joins adjacent literals as the
// compiler does.

struct Literal {
    QString text;
    int line = 0;
};

bool isIdentifierChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// The identifier or number token that ends right before `at`.
QString tokenBefore(const QString &s, qsizetype at)
{
    qsizetype b = at;
    while (b > 0 && isIdentifierChar(s[b - 1]))
        --b;
    return s.mid(b, at - b);
}

qsizetype skipSpaceAndComments(const QString &s, qsizetype i)
{
    while (i < s.size()) {
        if (s[i].isSpace()) {
            ++i;
        } else if (s.mid(i, 2) == QLatin1String("//")) {
            const qsizetype end = s.indexOf(QLatin1Char('\n'), i);
            i = end < 0 ? s.size() : end + 1;
        } else if (s.mid(i, 2) == QLatin1String("/*")) {
            const qsizetype end = s.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? s.size() : end + 2;
        } else {
            break;
        }
    }
    return i;
}

uint hexValue(const QString &s, qsizetype &i, int maxDigits)
{
    uint v = 0;
    for (int n = 0; n < maxDigits && i < s.size(); ++n, ++i) {
        const int d = QStringLiteral("0123456789abcdef").indexOf(s[i].toLower());
        if (d < 0)
            break;
        v = v * 16 + uint(d);
    }
    return v;
}

// Reads the ordinary literal whose opening quote is at `i`; answers the index
// after its closing quote.
qsizetype readQuoted(const QString &s, qsizetype i, QString &text)
{
    ++i;
    while (i < s.size() && s[i] != QLatin1Char('"') && s[i] != QLatin1Char('\n')) {
        if (s[i] != QLatin1Char('\\') || i + 1 >= s.size()) {
            text += s[i++];
            continue;
        }
        const QChar e = s[i + 1];
        i += 2;
        switch (e.unicode()) {
        case 'n': text += QLatin1Char('\n'); break;
        case 't': text += QLatin1Char('\t'); break;
        case 'r': text += QLatin1Char('\r'); break;
        case 'a': text += QChar(7); break;
        case 'b': text += QChar(8); break;
        case 'f': text += QChar(12); break;
        case 'v': text += QChar(11); break;
        case '\n': break; // line continuation
        case 'x': text += QChar(char16_t(hexValue(s, i, 8))); break;
        case 'u': {
            const char32_t c = hexValue(s, i, 4);
            text += QString::fromUcs4(&c, 1);
            break;
        }
        case 'U': {
            const char32_t c = hexValue(s, i, 8);
            text += QString::fromUcs4(&c, 1);
            break;
        }
        default:
            if (e >= QLatin1Char('0') && e <= QLatin1Char('7')) {
                uint v = uint(e.unicode() - '0');
                for (int n = 1; n < 3 && i < s.size() && s[i] >= QLatin1Char('0') && s[i] <= QLatin1Char('7'); ++n, ++i)
                    v = v * 8 + uint(s[i].unicode() - '0');
                text += QChar(char16_t(v));
            } else {
                text += e; // \\ \" \' \?
            }
        }
    }
    return i < s.size() ? i + 1 : i;
}

// Reads the raw literal whose opening quote is at `i`.
qsizetype readRaw(const QString &s, qsizetype i, QString &text)
{
    const qsizetype open = s.indexOf(QLatin1Char('('), i + 1);
    if (open < 0)
        return s.size();
    const QString closing = QLatin1Char(')') + s.mid(i + 1, open - i - 1) + QLatin1Char('"');
    const qsizetype close = s.indexOf(closing, open + 1);
    if (close < 0)
        return s.size();
    text = s.mid(open + 1, close - open - 1);
    return close + closing.size();
}

std::vector<Literal> stringLiterals(const QString &s)
{
    static const QSet<QString> encodings = {QStringLiteral("u8"), QStringLiteral("u"), QStringLiteral("U"),
                                            QStringLiteral("L")};
    std::vector<Literal> out;
    qsizetype previousEnd = -1;
    qsizetype i = 0;
    while (i < s.size()) {
        const QChar c = s[i];
        if (c == QLatin1Char('/') && (s.mid(i, 2) == QLatin1String("//") || s.mid(i, 2) == QLatin1String("/*"))) {
            i = skipSpaceAndComments(s, i);
        } else if (c == QLatin1Char('\'')) {
            const QString before = tokenBefore(s, i);
            if (!before.isEmpty() && !encodings.contains(before)) {
                ++i; // a digit separator such as 1'000
            } else {
                // A character literal: skip it, escapes included.
                qsizetype j = i + 1;
                while (j < s.size() && s[j] != QLatin1Char('\'') && s[j] != QLatin1Char('\n'))
                    j += s[j] == QLatin1Char('\\') ? 2 : 1;
                i = j + 1;
            }
        } else if (c == QLatin1Char('"')) {
            const QString prefix = tokenBefore(s, i);
            const bool raw = prefix.endsWith(QLatin1Char('R')) && (prefix.size() == 1 || encodings.contains(prefix.chopped(1)));
            const qsizetype begin = (raw || encodings.contains(prefix)) ? i - prefix.size() : i;
            QString text;
            const qsizetype end = raw ? readRaw(s, i, text) : readQuoted(s, i, text);
            if (previousEnd >= 0 && skipSpaceAndComments(s, previousEnd) == begin) {
                out.back().text += text;
            } else {
                out.push_back({text, int(s.left(begin).count(QLatin1Char('\n'))) + 1});
            }
            previousEnd = end;
            i = end;
        } else {
            ++i;
        }
    }
    return out;
}

struct CodeText {
    QString text;
    QString where; // file:line
};

// Every string literal with CJK characters in the product's source files.
std::vector<CodeText> chineseTextsInCode()
{
    std::vector<CodeText> out;
    for (const QString &folder : kProductFolders) {
        const QString root = kSources + QLatin1Char('/') + folder;
        if (!QDir(root).exists())
            continue;
        QDirIterator it(root, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            for (const Literal &l : stringLiterals(QString::fromUtf8(readFile(path)))) {
                if (containsCjk(l.text))
                    out.push_back({l.text, QDir(kSources).relativeFilePath(path) + QLatin1Char(':') + QString::number(l.line)});
            }
        }
    }
    return out;
}

QJsonArray catalog()
{
    return QJsonDocument::fromJson(readFile(kResources + QStringLiteral("/catalog.json"))).array();
}

} // namespace

// ---------------------------------------------------------------------------

// Every table is a flat object of non-empty texts with the same keys as every
// other: those of the other tables, a label for each genre of the catalog, and
// each Chinese text the product's code looks up.
TEST(LocalizationTables, EveryTableHasEveryKeyTheOthersTheCatalogAndTheCodeUse)
{
    ASSERT_EQ(languageCodes().size(), 14);
    QMap<QString, QMap<QString, QString>> tables;
    std::map<QString, QString> required; // key -> where it comes from
    for (const QString &code : languageCodes()) {
        const LoadedTable t = loadTable(code);
        EXPECT_TRUE(t.problem.isEmpty()) << code.toStdString() << ": " << t.problem.toStdString();
        EXPECT_FALSE(t.entries.isEmpty()) << code.toStdString();
        for (auto it = t.entries.constBegin(); it != t.entries.constEnd(); ++it) {
            EXPECT_FALSE(it.value().trimmed().isEmpty())
                << code.toStdString() << ": empty text for " << it.key().toStdString();
            required.emplace(it.key(), code + QStringLiteral(" table"));
        }
        tables[code] = t.entries;
    }
    QSet<QString> genres;
    for (const QJsonValue &station : catalog()) {
        for (const QJsonValue &genre : station.toObject().value(QStringLiteral("genreIDs")).toArray())
            genres.insert(QStringLiteral("genre.") + genre.toString());
    }
    ASSERT_FALSE(genres.isEmpty());
    for (const QString &genre : genres)
        required[genre] = QStringLiteral("catalog");
    // The interface-language names are shown in their own language, never looked up.
    QSet<QString> fixed;
    for (const auto &l : L10n::languages())
        fixed.insert(l.name);
    const std::vector<CodeText> texts = chineseTextsInCode();
    ASSERT_FALSE(texts.empty()) << "no source files found under " << kSources.toStdString();
    for (const CodeText &t : texts) {
        if (!fixed.contains(t.text))
            required[t.text] = t.where;
    }

    for (const QString &code : languageCodes()) {
        for (const auto &[key, where] : required) {
            EXPECT_TRUE(tables[code].contains(key)) << code.toStdString() << " lacks \"" << key.toStdString()
                                                    << "\" used by " << where.toStdString();
        }
        // A genre label that stays the bare key would show "genre.x" in the facet menu.
        for (const QString &genre : genres)
            EXPECT_NE(tables[code].value(genre), genre) << code.toStdString();
    }
}

TEST(LocalizationTables, TextsKeepThePlaceholdersOfTheirKey)
{
    for (const QString &code : languageCodes()) {
        const auto entries = loadTable(code).entries;
        // The plural categories the language's whole counts fall into, and
        // "other", which every counted text has.
        L10n language(nullptr, [] { return QStringList(); }, [] { return QString(); }, kResources);
        language.select(code);
        QSet<QString> categories{QStringLiteral("other")};
        for (int n = 0; n <= 1000; ++n)
            categories.insert(language.pluralCategory(QString::number(n)));
        for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
            // A counted text gives a form for every category of its language,
            // and each form keeps the key's placeholders.
            const QHash<QString, QString> forms = L10n::parseForms(it.value());
            EXPECT_TRUE(!forms.isEmpty() || !it.value().contains(QLatin1Char('{')))
                << code.toStdString() << ": malformed counted text for \"" << it.key().toStdString() << "\"";
            if (!forms.isEmpty()) {
                EXPECT_EQ(QSet<QString>(forms.keyBegin(), forms.keyEnd()), categories)
                    << code.toStdString() << ": forms of \"" << it.key().toStdString() << "\"";
            }
            for (const QString &text : forms.isEmpty() ? QStringList{it.value()} : forms.values()) {
                EXPECT_EQ(formatDirectives(text).join(QLatin1Char(' ')).toStdString(),
                          formatDirectives(it.key()).join(QLatin1Char(' ')).toStdString())
                    << code.toStdString() << ": \"" << it.key().toStdString() << "\" -> \"" << text.toStdString()
                    << "\"";
            }
            // Simplified Chinese is the source language: its texts are the keys,
            // except where a key speaks of another platform's machine or store,
            // and for the English keys of the menu texts.
            const bool otherPlatform = it.key().contains(QLatin1String("Mac")) ||
                                       it.key() == QStringLiteral("当前商店暂未提供赞助项目。你可以继续使用全部功能。");
            if (code == QLatin1String("zh-Hans") && !it.key().startsWith(QLatin1String("genre.")) && !otherPlatform &&
                it.key() != QLatin1String("About Vantuli")) {
                EXPECT_EQ(it.value(), it.key());
            }
        }
    }
}

// The words of a text, case-folded: runs of letters, marks and digits.
QStringList foldedWords(const QString &text)
{
    QStringList words{QString()};
    for (char32_t c : text.toCaseFolded().toUcs4()) {
        const QChar::Category category = QChar::category(c);
        const bool inWord = (category >= QChar::Mark_NonSpacing && category <= QChar::Number_Other) ||
                            (category >= QChar::Letter_Uppercase && category <= QChar::Letter_Other);
        if (inWord)
            words.back() += QString::fromUcs4(&c, 1);
        else if (!words.back().isEmpty())
            words << QString();
    }
    words.removeAll(QString());
    return words;
}

qsizetype commonBeginning(const QString &a, const QString &b)
{
    qsizetype n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n])
        ++n;
    return n;
}

// Two words that begin with the same five letters read as one word (an
// ending apart), whether they are or not.
constexpr qsizetype kAlike = 5;

// A place in the interface says a thing by one word: the directory's tab and
// title, the tray's menu and the row's actions name Featured and Favorites as
// each other do, and no name of one list reads like the name of another.
TEST(LocalizationTables, EachListIsNamedByOneWordUnlikeTheOthers)
{
    // The keys naming each list: the tab's short name first.
    const std::vector<QStringList> lists = {
        {QStringLiteral("精选"), QStringLiteral("精选电台")},
        {QStringLiteral("全部"), QStringLiteral("所有电台")},
        {QStringLiteral("收藏"), QStringLiteral("我的收藏"), QStringLiteral("加入收藏"), QStringLiteral("取消收藏")},
        {QStringLiteral("历史"), QStringLiteral("最近收听")},
        {QStringLiteral("失效"), QStringLiteral("暂不可用")},
    };
    for (const QString &code : languageCodes()) {
        const auto table = loadTable(code).entries;
        auto text = [&](const QString &key) { return table.value(key, key); };
        for (const QStringList &keys : lists) {
            // Where the source language repeats the short name, so does the table.
            for (const QString &key : keys.mid(1)) {
                if (!key.contains(keys.front()))
                    continue;
                const QString name = text(keys.front()).toCaseFolded();
                const QString other = text(key).toCaseFolded();
                bool shared = other.contains(name);
                for (const QString &a : foldedWords(name)) {
                    for (const QString &b : foldedWords(other))
                        shared = shared || commonBeginning(a, b) >= kAlike;
                }
                EXPECT_TRUE(shared) << code.toStdString() << ": \"" << text(keys.front()).toStdString() << "\" and \""
                                    << text(key).toStdString() << "\" name one list";
            }
        }
        for (size_t i = 0; i < lists.size(); ++i) {
            for (size_t j = i + 1; j < lists.size(); ++j) {
                for (const QString &keyA : lists[i]) {
                    for (const QString &keyB : lists[j]) {
                        for (const QString &a : foldedWords(text(keyA))) {
                            for (const QString &b : foldedWords(text(keyB))) {
                                EXPECT_FALSE(a != b && commonBeginning(a, b) >= kAlike)
                                    << code.toStdString() << ": \"" << text(keyA).toStdString() << "\" reads like \""
                                    << text(keyB).toStdString() << "\"";
                            }
                        }
                    }
                }
            }
        }
    }
}

TEST(LocalizationTables, SourceReaderFindsLiteralsAsTheCompilerSeesThem)
{
    struct Row {
        const char *source;
        std::vector<const char *> literals;
    };
    const Row rows[] = {
        {R"(show(QStringLiteral("正在直播"));)", {"正在直播"}},
        {"// say \"注释\"\nshow(\"已停止\");", {"已停止"}},
        {R"(/* "a" */ f("b"); /* "c)", {"b"}},
        {R"(f("a\"b\\"); g("c");)", {"a\"b\\", "c"}},
        {R"(f("正在" "直播");)", {"正在直播"}},
        {"f(\"a\" /* joined */ // still\n \"b\");", {"ab"}},
        {R"(f(u8"中" u"文", L"x");)", {"中文", "x"}},
        {R"x(f(R"(含 "引号" 的)");)x", {"含 \"引号\" 的"}},
        {R"x(f(R"d(a)" b)d", u8R"(c)");)x", {"a)\" b", "c"}},
        {R"(c == '"' ? f("是") : f("否");)", {"是", "否"}},
        {R"(auto n = 1'000'000; f("值"); char q = '\'';  g("x");)", {"值", "x"}},
        {R"(f("\u6BCF\u5929", "\x41\101\n");)", {"每天", "AA\n"}},
        {R"(#include "records/L10n.h")", {"records/L10n.h"}},
    };
    for (const Row &r : rows) {
        const std::vector<Literal> found = stringLiterals(QString::fromUtf8(r.source));
        QStringList texts;
        for (const Literal &l : found)
            texts << l.text;
        QStringList expected;
        for (const char *l : r.literals)
            expected << QString::fromUtf8(l);
        EXPECT_EQ(texts.join(QStringLiteral(" | ")).toStdString(), expected.join(QStringLiteral(" | ")).toStdString())
            << r.source;
    }
    const std::vector<Literal> lines = stringLiterals(QStringLiteral("a\n\"x\";\n\n\"y\"+\n\"z\""));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].line, 2);
    EXPECT_EQ(lines[2].line, 5);
}
