#pragma once

#include <QString>

#include <optional>

namespace vantuli::LocaleNames {

// Locale ids are ICU ids such as "en", "ja_JP" or "zh_Hant_HK" (script kept).
// Each answers nothing when ICU has no name of its own for the code.
std::optional<QString> regionName(const QString &regionCode, const QString &localeId);
std::optional<QString> languageName(const QString &languageCode, const QString &localeId);
// The whole locale's name, script and region included ("zh_Hant" gives
// "Chinese (Traditional)" in English).
std::optional<QString> localeName(const QString &namedLocaleId, const QString &localeId);

// The region of the system's current locale (e.g. "HK"), empty when it has none.
QString systemRegion();

// The likely script of a language tag, through ICU's likely subtags ("zh-HK" gives "Hant").
QString likelyScript(const QString &tag);

// ICU's canonical id of a BCP 47 tag ("zh-Hant-HK" gives "zh_Hant_HK").
QString localeIdFromTag(const QString &tag);

} // namespace vantuli::LocaleNames
