#include "records/DisplayMessage.h"
#include "records/L10n.h"
#include "records/ScopedL10n.h"

#include "platform/SettingsStore.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace vantuli;
using test::ScopedL10n;
using test::writeTables;

namespace {

const QString kReconnect = QStringLiteral("正在重新连接（第 %@ 次）…");

QStringList allCodes()
{
    QStringList codes;
    for (const auto &l : L10n::languages())
        codes << l.code;
    return codes;
}

// Counts every signal of one instance.
struct Spies {
    struct Counter {
        int n = 0;
        int count() const { return n; }
    };
    explicit Spies(L10n &l)
    {
        QObject::connect(&l, &L10n::selectionChanged, [this] { ++selection.n; });
        QObject::connect(&l, &L10n::codeChanged, [this] { ++code.n; });
        QObject::connect(&l, &L10n::stringsChanged, [this] { ++strings.n; });
        QObject::connect(&l, &L10n::displayLocaleChanged, [this] { ++locale.n; });
        QObject::connect(&l, &L10n::didChange, [this] { ++didChange.n; });
    }
    int total() const { return selection.n + code.n + strings.n + locale.n + didChange.n; }
    Counter selection, code, strings, locale, didChange;
};

// A service over a memory store whose preferred languages and region the test controls.
struct Harness {
    explicit Harness(QStringList preferred = {}, QString region = {}, const QString &folder = {})
        : store(std::make_shared<MemorySettingsStore>()), preferred(std::move(preferred)), region(std::move(region)),
          folder(folder)
    {
    }
    std::unique_ptr<L10n> make()
    {
        return std::make_unique<L10n>(
            store, [this] { return preferred; }, [this] { return region; }, folder);
    }
    std::shared_ptr<MemorySettingsStore> store;
    QStringList preferred;
    QString region;
    QString folder;
};

} // namespace

TEST(L10n, BestMatchFollowsLanguageScriptRegionAndUserOrder)
{
    struct Row {
        QStringList preferred;
        const char *expected; // empty: nothing matches
    };
    const Row rows[] = {
        {{"en-GB"}, "en"},
        {{"zh-HK"}, "zh-Hant"},
        {{"zh-TW"}, "zh-Hant"},
        {{"zh-MO"}, "zh-Hant"},
        {{"zh-CN"}, "zh-Hans"},
        {{"zh"}, "zh-Hans"},
        {{"zh-SG"}, "zh-Hans"},
        {{"zh-Hant-CN"}, "zh-Hant"},
        {{"zh-Hans-HK"}, "zh-Hans"},
        {{"zh_TW.UTF-8"}, "zh-Hant"},
        {{"pcm-NG"}, "pcm"},
        {{"id-ID"}, "id"},
        {{"bn-IN"}, "bn"},
        {{"pt-BR"}, "pt"},
        {{"es-419"}, "es"},
        {{"sv-SE", "fr-CA", "de"}, "fr"},
        {{"de", "ja"}, "de"},
        {{"sv", "fi"}, ""},
        {{}, ""},
        {{"C", ""}, ""},
    };
    // The fourteen languages in menu order; a match is always one of them.
    EXPECT_EQ(allCodes(), (QStringList{"en", "zh-Hans", "zh-Hant", "ja", "ko", "es", "fr", "de", "pt", "hi", "bn", "id",
                                       "ru", "pcm"}));
    for (const Row &r : rows)
        EXPECT_EQ(L10n::bestMatch(allCodes(), r.preferred), QString::fromLatin1(r.expected)) << r.preferred.join(',').toStdString();
    EXPECT_EQ(L10n::languages()[2].name, QStringLiteral("繁體中文"));
}

TEST(L10n, ResolvesFromStoredChoiceElsePreferredLanguagesElseEnglish)
{
    struct Row {
        QStringList preferred;
        const char *region;
        const char *stored; // null: nothing stored
        const char *selection; // null: no choice
        const char *code;
        const char *locale;
    };
    const Row rows[] = {
        {{"sv-SE", "ja-JP"}, "JP", nullptr, nullptr, "ja", "ja_JP"},
        {{"sv-SE"}, "SE", nullptr, nullptr, "en", "en_SE"},
        {{"zh-HK"}, "", nullptr, nullptr, "zh-Hant", "zh_Hant"}, // no region: the language alone
        {{"ja"}, "DE", "ko", "ko", "ko", "ko_DE"},
        // A stored value that is not a code counts as no choice and stays stored.
        {{"ja"}, "JP", "KO", nullptr, "ja", "ja_JP"},
    };
    for (const Row &r : rows) {
        Harness h(r.preferred, QString::fromLatin1(r.region));
        if (r.stored)
            h.store->setValue(QStringLiteral("interfaceLanguage"), QString::fromLatin1(r.stored));
        auto l = h.make();
        const std::string what = r.preferred.join(',').toStdString();
        const auto text = [](const char *t) { return t ? std::optional(QString::fromLatin1(t)) : std::nullopt; };
        EXPECT_EQ(l->selection(), text(r.selection)) << what;
        EXPECT_EQ(l->code(), QString::fromLatin1(r.code)) << what;
        EXPECT_EQ(l->displayLocaleId(), QString::fromLatin1(r.locale)) << what;
        EXPECT_EQ(h.store->string(QStringLiteral("interfaceLanguage")), text(r.stored)) << what;
    }
}

TEST(L10n, SelectStoresValidCodesAndIgnoresOthers)
{
    Harness h({"ja-JP"}, "HK");
    auto l = h.make();
    Spies spies(*l);

    for (const char *bad : {"ZH-HANT", "zh-hant", "EN", "en-US", "zh", "", " en", "klingon"}) {
        l->select(QString::fromLatin1(bad));
        EXPECT_FALSE(h.store->contains(QStringLiteral("interfaceLanguage"))) << bad;
        EXPECT_FALSE(l->selection().has_value()) << bad;
        EXPECT_EQ(l->code(), "ja") << bad;
    }
    EXPECT_EQ(spies.total(), 0);

    l->select(QStringLiteral("zh-Hant"));
    EXPECT_EQ(h.store->string(QStringLiteral("interfaceLanguage")), QStringLiteral("zh-Hant"));
    EXPECT_EQ(l->selection(), QStringLiteral("zh-Hant"));
    EXPECT_EQ(l->code(), "zh-Hant");
    EXPECT_EQ(l->displayLocaleId(), "zh_Hant_HK");
    EXPECT_EQ(spies.selection.count(), 1);
    EXPECT_EQ(spies.code.count(), 1);
    EXPECT_EQ(spies.locale.count(), 1);
    EXPECT_EQ(spies.didChange.count(), 1);

    // An invalid code after a valid one leaves the stored choice alone.
    l->select(QStringLiteral("ZH-HANT"));
    EXPECT_EQ(h.store->string(QStringLiteral("interfaceLanguage")), QStringLiteral("zh-Hant"));
    EXPECT_EQ(spies.didChange.count(), 1);

    // Absent: the key goes and the system's language comes back.
    l->select(std::nullopt);
    EXPECT_FALSE(h.store->contains(QStringLiteral("interfaceLanguage")));
    EXPECT_FALSE(l->selection().has_value());
    EXPECT_EQ(l->code(), "ja");
    EXPECT_EQ(spies.selection.count(), 2);
    EXPECT_EQ(spies.didChange.count(), 2);
}

TEST(L10n, NotifiesOnlyWhenSomethingChanged)
{
    Harness h({"fr-FR"}, "FR");
    auto l = h.make();
    Spies spies(*l);

    l->refresh();
    l->refresh();
    EXPECT_EQ(spies.total(), 0);

    // Choosing what the system already gives changes the choice, nothing else.
    l->select(QStringLiteral("fr"));
    EXPECT_EQ(spies.selection.count(), 1);
    EXPECT_EQ(spies.didChange.count(), 0);
    EXPECT_EQ(spies.code.count(), 0);

    // A change of region alone announces a change, without a new code.
    h.region = QStringLiteral("CA");
    l->refresh();
    l->refresh();
    EXPECT_EQ(l->displayLocaleId(), "fr_CA");
    EXPECT_EQ(spies.locale.count(), 1);
    EXPECT_EQ(spies.code.count(), 0);
    EXPECT_EQ(spies.strings.count(), 0);
    EXPECT_EQ(spies.didChange.count(), 1);

    // Observers see the new values when they hear of the change.
    QString seenCode;
    QObject::connect(l.get(), &L10n::didChange, [&] { seenCode = l->code(); });
    l->select(QStringLiteral("de"));
    EXPECT_EQ(seenCode, "de");
}

TEST(L10n, TablesComeFromTheCodesFolderAndFallBackToKeys)
{
    const QString folder = writeTables({
        {"en", {{kReconnect, "Reconnecting (attempt %@)…"}, {"每天", "Every day"}}},
        {"ja", {{"每天", "毎日"}}},
    });
    // A table that is not JSON, and a folder without a table.
    QDir(folder).mkpath(QStringLiteral("de.lproj"));
    QDir(folder).mkpath(QStringLiteral("fr.lproj"));
    {
        QFile f(folder + QStringLiteral("/de.lproj/Localizable.json"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{\"每天\": ");
    }

    Harness h({"en"}, "US", folder);
    auto l = h.make();
    Spies spies(*l);
    EXPECT_EQ(l->text(QStringLiteral("每天")), "Every day");
    EXPECT_EQ(l->text(QStringLiteral("工作日")), "工作日");

    l->select(QStringLiteral("ja"));
    EXPECT_EQ(l->text(QStringLiteral("每天")), "毎日");
    EXPECT_EQ(spies.strings.count(), 1);

    for (const char *code : {"de", "fr", "ko"}) {
        l->select(QString::fromLatin1(code));
        EXPECT_EQ(l->code(), QString::fromLatin1(code));
        EXPECT_EQ(l->text(QStringLiteral("每天")), "每天") << code;
        EXPECT_TRUE(l->strings().entries.isEmpty()) << code;
    }
    // Three empty tables in a row are one change of table.
    EXPECT_EQ(spies.strings.count(), 2);
    EXPECT_EQ(spies.didChange.count(), 4);
}

TEST(L10n, TablesComeFromTheResourceDirectoryByDefault)
{
    test::ScopedEnvironment resources("VANTULI_RESOURCES",
                                      writeTables({{"es", {{"每天", "Cada día"}}}}).toLocal8Bit());
    Harness h({"es-MX"}, "MX");
    EXPECT_EQ(h.make()->text(QStringLiteral("每天")), "Cada día");
}

TEST(L10n, SubstitutesInOnePass)
{
    struct Row {
        const char *format;
        QStringList args;
        const char *expected;
    };
    const Row rows[] = {
        {"正在重新连接（第 %@ 次）…", {"1"}, "正在重新连接（第 1 次）…"},
        {"%@ and %@", {"%@", "x"}, "%@ and x"},
        {"[%@]", {"%1$@ %%"}, "[%1$@ %%]"},
        {"%@ %@ %@", {"a"}, "a %@ %@"},
        {"%2$@ before %1$@", {"a", "b"}, "b before a"},
        {"%3$@!", {"a"}, "%3$@!"},
        {"100%% of %@", {"it"}, "100% of it"},
        {"ends with %", {}, "ends with %"},
        {"%d stays", {"x"}, "%d stays"},
        {"", {"x"}, ""},
    };
    for (const Row &r : rows)
        EXPECT_EQ(L10n::substitute(QString::fromUtf8(r.format), r.args), QString::fromUtf8(r.expected)) << r.format;
}

TEST(L10n, SharedInstanceFormatsAndRendersMessages)
{
    ScopedL10n scoped("en", "GB",
                      {{"en", {{kReconnect, "Reconnecting (attempt %@)…"}, {"目录读取失败。%@", "Catalog unreadable. %@"}}},
                       {"fr", {{kReconnect, "Reconnexion (essai %@)…"}}}});
    EXPECT_EQ(&L10n::shared(), &scoped.l10n());
    EXPECT_EQ(L10n::format(kReconnect, {"1"}), "Reconnecting (attempt 1)…");

    const DisplayMessage keyed = DisplayMessage::key(kReconnect);
    const DisplayMessage formatted = DisplayMessage::format(kReconnect, QStringLiteral("2"));
    const DisplayMessage plain = DisplayMessage::verbatim(QStringLiteral("SSL error %@"));
    EXPECT_EQ(keyed.text(), "Reconnecting (attempt %@)…");
    EXPECT_EQ(formatted.text(), "Reconnecting (attempt 2)…");
    EXPECT_EQ(plain.text(), "SSL error %@");
    // An argument that carries a placeholder is shown as it is.
    EXPECT_EQ(DisplayMessage::format(QStringLiteral("目录读取失败。%@"), QStringLiteral("bad %@ data")).text(),
              "Catalog unreadable. bad %@ data");

    // A message already made follows a later change of language.
    scoped.l10n().select(QStringLiteral("fr"));
    EXPECT_EQ(formatted.text(), "Reconnexion (essai 2)…");
    scoped.l10n().select(QStringLiteral("ru"));
    EXPECT_EQ(formatted.text(), "正在重新连接（第 2 次）…");
}

TEST(L10n, CountedTextsTakeTheFormOfTheirCount)
{
    const QString stations = QStringLiteral("%@ 家");
    const QString broken = QStringLiteral("%@ 行");
    ScopedL10n scoped("en", "",
                      {{"en", {{stations, "one {%@ station} other {%@ stations}"}, {broken, "one {%@ line} few {%@}"}}},
                       {"fr", {{stations, "one {%@ station} other {%@ stations}"}}},
                       {"ru", {{stations, "one {%@ станция} few {%@ станции} many {%@ станций} other {%@ станции}"}}},
                       {"ja", {{stations, "%@ 局"}}}});
    struct Row {
        const char *code;
        const char *count;
        const char *expected;
    };
    const Row rows[] = {
        {"en", "1", "1 station"},
        {"en", "0", "0 stations"},
        {"en", "1,001", "1,001 stations"},
        {"en", "many", "many stations"}, // no number: the other form
        {"fr", "0", "0 station"},
        {"fr", "2", "2 stations"},
        {"ru", "1", "1 станция"},
        {"ru", "21", "21 станция"},
        {"ru", "3", "3 станции"},
        {"ru", "11", "11 станций"},
        {"ru", "1\u202f234", "1\u202f234 станции"},
        {"ru", "1,5", "1,5 станции"},
        {"ja", "1", "1 局"},
    };
    for (const Row &r : rows) {
        scoped.l10n().select(QString::fromUtf8(r.code));
        EXPECT_EQ(L10n::format(stations, {QString::fromUtf8(r.count)}), QString::fromUtf8(r.expected))
            << r.code << " " << r.count;
    }
    // A plain lookup reads the other form; forms without "other" are not forms.
    scoped.l10n().select(QStringLiteral("en"));
    EXPECT_EQ(DisplayMessage::key(stations).text(), "%@ stations");
    EXPECT_EQ(L10n::format(broken, {"1"}), "one {1 line} few {%@}");
}
