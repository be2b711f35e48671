#include "platform/LocaleNames.h"

#include <QLocale>

#include <unicode/uloc.h>
#include <unicode/ustring.h>

namespace vantuli::LocaleNames {

namespace {

QString fromUChars(const UChar *s, int32_t len)
{
    return QString(reinterpret_cast<const QChar *>(s), len);
}

bool plausibleCode(const QString &code)
{
    if (code.isEmpty() || code.size() > 16)
        return false;
    for (QChar c : code) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('-') && c != QLatin1Char('_'))
            return false;
    }
    return true;
}

} // namespace

std::optional<QString> regionName(const QString &regionCode, const QString &localeId)
{
    if (!plausibleCode(regionCode))
        return std::nullopt;
    const QByteArray probe = QByteArray("und_") + regionCode.toUpper().toLatin1();
    UChar buf[256];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t len = uloc_getDisplayCountry(probe.constData(), localeId.toLatin1().constData(), buf, 256, &status);
    if (U_FAILURE(status) || status == U_USING_DEFAULT_WARNING || len <= 0)
        return std::nullopt;
    const QString name = fromUChars(buf, len);
    if (name.compare(regionCode, Qt::CaseInsensitive) == 0)
        return std::nullopt;
    return name;
}

std::optional<QString> languageName(const QString &languageCode, const QString &localeId)
{
    if (!plausibleCode(languageCode))
        return std::nullopt;
    const QByteArray probe = languageCode.toLatin1();
    UChar buf[256];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t len = uloc_getDisplayLanguage(probe.constData(), localeId.toLatin1().constData(), buf, 256, &status);
    if (U_FAILURE(status) || status == U_USING_DEFAULT_WARNING || len <= 0)
        return std::nullopt;
    const QString name = fromUChars(buf, len);
    if (name.compare(languageCode, Qt::CaseInsensitive) == 0)
        return std::nullopt;
    return name;
}

std::optional<QString> localeName(const QString &namedLocaleId, const QString &localeId)
{
    if (!plausibleCode(namedLocaleId))
        return std::nullopt;
    UChar buf[256];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t len = uloc_getDisplayName(namedLocaleId.toLatin1().constData(), localeId.toLatin1().constData(), buf,
                                            256, &status);
    if (U_FAILURE(status) || status == U_USING_DEFAULT_WARNING || len <= 0)
        return std::nullopt;
    return fromUChars(buf, len);
}

QString systemRegion()
{
    const QLocale system = QLocale::system();
    if (system.territory() == QLocale::AnyTerritory)
        return QString();
    // "C" and "POSIX" locales have no region of their own.
    if (system.language() == QLocale::C)
        return QString();
    return QLocale::territoryToCode(system.territory());
}

QString likelyScript(const QString &tag)
{
    const QString id = localeIdFromTag(tag);
    char max[ULOC_FULLNAME_CAPACITY];
    UErrorCode status = U_ZERO_ERROR;
    uloc_addLikelySubtags(id.toLatin1().constData(), max, ULOC_FULLNAME_CAPACITY, &status);
    if (U_FAILURE(status))
        return QString();
    char script[ULOC_SCRIPT_CAPACITY];
    status = U_ZERO_ERROR;
    const int32_t len = uloc_getScript(max, script, ULOC_SCRIPT_CAPACITY, &status);
    if (U_FAILURE(status) || len <= 0)
        return QString();
    return QString::fromLatin1(script, len);
}

QString localeIdFromTag(const QString &tag)
{
    char id[ULOC_FULLNAME_CAPACITY];
    UErrorCode status = U_ZERO_ERROR;
    int32_t parsed = 0;
    const QByteArray t = tag.toLatin1();
    const int32_t len = uloc_forLanguageTag(t.constData(), id, ULOC_FULLNAME_CAPACITY, &parsed, &status);
    if (U_FAILURE(status) || len <= 0)
        return QString(tag).replace(QLatin1Char('-'), QLatin1Char('_'));
    return QString::fromLatin1(id, len);
}

} // namespace vantuli::LocaleNames
