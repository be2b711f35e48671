#include "records/Caption.h"
#include "records/CaptionPacing.h"

#include <gtest/gtest.h>

using namespace vantuli;

TEST(CaptionPacing, NormalisesTagsAndPicksPacing)
{
    struct Row {
        const char *tag;
        const char *code;
        CaptionPacing::Value pacing;
    };
    const Row rows[] = {
        {"EN-us", "en", CaptionPacing::Conversational}, {"en_GB", "en", CaptionPacing::Conversational},
        {"eng", "en", CaptionPacing::Conversational},   {"-en", "en", CaptionPacing::Conversational},
        {"FRE", "fr", CaptionPacing::Short},            {"DEU-AT", "de", CaptionPacing::Sentence},
        {"ger", "de", CaptionPacing::Sentence},         {"spa", "es", CaptionPacing::Sentence},
        {"ja-JP", "ja", CaptionPacing::Sentence},       {"vi", "vi", CaptionPacing::Sentence},
        {"th", "th", CaptionPacing::Sentence},          {"zh-Hant", "zh", CaptionPacing::Short},
        {"pt_BR", "pt", CaptionPacing::Short},          {"yue", "yue", CaptionPacing::Short},
        {"ita", "ita", CaptionPacing::Short},           {"", "", CaptionPacing::Short},
        {"-_-", "", CaptionPacing::Short},              {"ara", "ar", CaptionPacing::Short},
    };
    for (const Row &r : rows) {
        const QString tag = QString::fromUtf8(r.tag);
        EXPECT_EQ(CaptionPacing::languageCode(tag), QString::fromUtf8(r.code)) << r.tag;
        EXPECT_EQ(CaptionPacing::forLanguage(tag).value(), r.pacing) << r.tag;
    }
}

TEST(CaptionPacing, RawValuesAreExact)
{
    EXPECT_FALSE(CaptionPacing::fromRawValue(QStringLiteral("Short")).has_value());
    EXPECT_FALSE(CaptionPacing::fromRawValue(QStringLiteral("")).has_value());
    for (auto v : {CaptionPacing::Short, CaptionPacing::Sentence, CaptionPacing::Conversational}) {
        const CaptionPacing p(v);
        EXPECT_EQ(CaptionPacing::fromRawValue(p.rawValue()), p);
    }
    EXPECT_EQ(CaptionPacing::fromRawValue(QStringLiteral("conversational"))->value(), CaptionPacing::Conversational);
}

TEST(Caption, BengaliIsDeferred)
{
    for (const char *tag : {"bn-IN", "BEN", "ben_BD", "bn"})
        EXPECT_TRUE(Caption::isDeferred(QString::fromUtf8(tag))) << tag;
    for (const char *tag : {"bengali", "", "--", "en", "hi-bn"})
        EXPECT_FALSE(Caption::isDeferred(QString::fromUtf8(tag))) << tag;
}
