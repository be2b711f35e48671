#include "platform/LocaleNames.h"
#include "platform/Resources.h"
#include "platform/TextFolding.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace vantuli;

TEST(LocaleNames, RegionAndLanguageNamesInTheGivenLocale)
{
    EXPECT_EQ(LocaleNames::regionName(QStringLiteral("JP"), QStringLiteral("en")), QStringLiteral("Japan"));
    EXPECT_EQ(LocaleNames::regionName(QStringLiteral("JP"), QStringLiteral("ja")), QStringLiteral("日本"));
    EXPECT_EQ(LocaleNames::regionName(QStringLiteral("CN"), QStringLiteral("zh_Hant_HK")),
              QStringLiteral("中國"));
    EXPECT_EQ(LocaleNames::languageName(QStringLiteral("en"), QStringLiteral("de")), QStringLiteral("Englisch"));
    EXPECT_EQ(LocaleNames::languageName(QStringLiteral("ja"), QStringLiteral("zh_Hant_HK")), QStringLiteral("日文"));
    EXPECT_FALSE(LocaleNames::regionName(QStringLiteral("QQ"), QStringLiteral("en")).has_value());
    EXPECT_FALSE(LocaleNames::languageName(QStringLiteral("qqx"), QStringLiteral("en")).has_value());
    EXPECT_FALSE(LocaleNames::regionName(QString(), QStringLiteral("en")).has_value());
    EXPECT_FALSE(LocaleNames::regionName(QStringLiteral("J P\"x"), QStringLiteral("en")).has_value());
}

TEST(LocaleNames, LikelyScriptsOfChineseTags)
{
    EXPECT_EQ(LocaleNames::likelyScript(QStringLiteral("zh-HK")), QStringLiteral("Hant"));
    EXPECT_EQ(LocaleNames::likelyScript(QStringLiteral("zh-TW")), QStringLiteral("Hant"));
    EXPECT_EQ(LocaleNames::likelyScript(QStringLiteral("zh-CN")), QStringLiteral("Hans"));
    EXPECT_EQ(LocaleNames::likelyScript(QStringLiteral("zh")), QStringLiteral("Hans"));
    EXPECT_EQ(LocaleNames::likelyScript(QStringLiteral("zh-Hant-CN")), QStringLiteral("Hant"));
}

TEST(TextFolding, FoldsCaseDiacriticsAndWidth)
{
    EXPECT_EQ(TextFolding::fold(QStringLiteral("Ｊａｚｚ")), QStringLiteral("jazz"));
    EXPECT_EQ(TextFolding::fold(QStringLiteral("Café Müller")), QStringLiteral("cafe muller"));
    EXPECT_EQ(TextFolding::fold(QStringLiteral("STRASSE")), TextFolding::fold(QStringLiteral("strasse")));
    EXPECT_EQ(TextFolding::fold(QStringLiteral("東京")), QStringLiteral("東京"));
    EXPECT_EQ(TextFolding::fold(QStringLiteral("Radio 1 FM\t~")), QStringLiteral("radio 1 fm\t~"));

    // The directory folds the parts of a station's text one by one: joined
    // with a space, they fold as the joined text does, marks and expansions
    // at the joins included.
    const QStringList parts = {QStringLiteral("Straße"), QString(QChar(0x0301)) + QStringLiteral("Éa"),
                               QStringLiteral("ΟΔΟΣ"), QString(), QStringLiteral("ﬁ Ｒadio"), QStringLiteral("ASCII")};
    QStringList folded;
    for (const QString &part : parts)
        folded.append(TextFolding::fold(part));
    EXPECT_EQ(folded.join(QLatin1Char(' ')), TextFolding::fold(parts.join(QLatin1Char(' '))));
}

TEST(Resources, EnvironmentNamesTheDirectory)
{
    {
        test::ScopedEnvironment resources("VANTULI_RESOURCES", "/tmp/vantuli-res/");
        EXPECT_EQ(Resources::directory(), QStringLiteral("/tmp/vantuli-res"));
        EXPECT_EQ(Resources::path(QStringLiteral("catalog.json")), QStringLiteral("/tmp/vantuli-res/catalog.json"));
    }

    // A folder without the catalog or the tables (the models folder, say) is
    // reported, one line for each.
    const QString models = test::temporaryFolder();
    QFile(models + QStringLiteral("/ggml-small-q5_1.bin")).open(QIODevice::WriteOnly);
    EXPECT_EQ(Resources::missing(models).size(), 2);
    QDir(models).mkdir(QStringLiteral("en.lproj"));
    QFile(models + QStringLiteral("/en.lproj/Localizable.json")).open(QIODevice::WriteOnly);
    EXPECT_EQ(Resources::missing(models).size(), 1);
    EXPECT_TRUE(Resources::missing(QStringLiteral(VANTULI_RESOURCE_DIR)).isEmpty());
}
