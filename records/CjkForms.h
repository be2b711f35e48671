#pragma once

#include <QString>

namespace vantuli {

// Which CJK glyph forms text in `language` (a BCP 47 tag) is drawn in, as the
// Noto CJK family suffix: "JP" for ja, "KR" for ko, "TC" for Traditional
// Chinese (zh-Hant, zh-TW, zh-HK, zh-MO), "SC" otherwise. Without a CJK
// language the text decides: kana gives "JP", hangul "KR".
QString cjkForms(const QString &language, const QString &text = {});
// Whether text in `language` needs a CJK face: the language is Chinese,
// Japanese or Korean, or the text holds Han, kana, hangul, CJK punctuation or
// full-width forms.
bool needsCjkFace(const QString &language, const QString &text);
// Whether `c` is Han, kana, hangul, CJK punctuation or a full-width form: the
// characters a CJK face draws one em wide.
bool isCjkCharacter(QChar c);

} // namespace vantuli
