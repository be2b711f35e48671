#include "platform/SettingsStore.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vantuli;

TEST(SettingsStore, MemoryStoreTypedReadsFallBackOnWrongTypes)
{
    MemorySettingsStore s;
    EXPECT_FALSE(s.isStandard());
    EXPECT_FALSE(s.number(QStringLiteral("volume")).has_value());
    s.setValue(QStringLiteral("volume"), 0.3);
    EXPECT_DOUBLE_EQ(*s.number(QStringLiteral("volume")), 0.3);
    s.setValue(QStringLiteral("volume"), QStringLiteral("loud"));
    EXPECT_FALSE(s.number(QStringLiteral("volume")).has_value());
    s.setValue(QStringLiteral("captions"), QByteArray("xyz"));
    EXPECT_FALSE(s.boolean(QStringLiteral("captions")).has_value());
    EXPECT_FALSE(s.string(QStringLiteral("captions")).has_value());
    EXPECT_EQ(*s.data(QStringLiteral("captions")), QByteArray("xyz"));
    s.remove(QStringLiteral("captions"));
    EXPECT_FALSE(s.contains(QStringLiteral("captions")));
}

TEST(SettingsStore, IniFileRoundTripsEveryKindOfValue)
{
    const QString file = test::temporaryFolder() + QStringLiteral("/settings.ini");
    {
        QSettingsStore s(file);
        EXPECT_FALSE(s.isStandard());
        s.setValue(QStringLiteral("captions"), false);
        s.setValue(QStringLiteral("volume"), 0.25);
        s.setValue(QStringLiteral("language"), QStringLiteral("station"));
        s.setValue(QStringLiteral("schedule"), QByteArray("[{\"a\":1}]\n\x01"));
        s.setValue(QStringLiteral("favorites"), QStringList{QStringLiteral("one")});
        s.setValue(QStringLiteral("lastSlot.0A1B"), 1733616000.0);
        s.setValue(QStringLiteral("ratio"), QStringLiteral("nan"));
    }
    QSettingsStore s(file);
    EXPECT_EQ(s.boolean(QStringLiteral("captions")), std::optional<bool>(false));
    EXPECT_DOUBLE_EQ(*s.number(QStringLiteral("volume")), 0.25);
    EXPECT_EQ(*s.string(QStringLiteral("language")), QStringLiteral("station"));
    EXPECT_EQ(*s.data(QStringLiteral("schedule")), QByteArray("[{\"a\":1}]\n\x01"));
    EXPECT_EQ(*s.stringList(QStringLiteral("favorites")), QStringList{QStringLiteral("one")});
    EXPECT_DOUBLE_EQ(*s.number(QStringLiteral("lastSlot.0A1B")), 1733616000.0);
    // A text that reads as a non-finite number is reported as such; callers decide.
    auto ratio = s.number(QStringLiteral("ratio"));
    EXPECT_TRUE(!ratio || !std::isfinite(*ratio));
    EXPECT_FALSE(s.boolean(QStringLiteral("language")).has_value());
}
