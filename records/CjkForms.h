#pragma once

#include <QString>
#include <QStringList>

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
// `families` with the CJK family `cjk` put first, where it is installed. Qt
// keeps one font for a first family and size whatever fallbacks follow it,
// so a CJK family listed after a Latin one would keep the glyph forms of
// whichever language was drawn first at that size; first, it decides. Latin
// letters in such text take the CJK family's own. Without that family the
// list stays as it is.
QStringList cjkFamilyFirst(QStringList families, const QString &cjk);

} // namespace vantuli
