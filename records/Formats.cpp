#include "records/Formats.h"

#include "records/L10n.h"
#include "records/Station.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/measfmt.h>
#include <unicode/measunit.h>
#include <unicode/measure.h>
#include <unicode/numberformatter.h>
#include <unicode/unistr.h>

#include <cmath>
#include <memory>

namespace vantuli::Formats {

namespace {

icu::Locale displayLocale()
{
    return icu::Locale(L10n::shared().displayLocaleId().toUtf8().constData());
}

QString toQString(const icu::UnicodeString &text)
{
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

QString formatDate(const QDateTime &time, icu::DateFormat::EStyle dateStyle, icu::DateFormat::EStyle timeStyle)
{
    if (!time.isValid())
        return {};
    std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createDateTimeInstance(dateStyle, timeStyle, displayLocale()));
    if (!format)
        return time.toString(Qt::ISODate);
    icu::UnicodeString text;
    format->format(UDate(time.toMSecsSinceEpoch()), text);
    return toQString(text);
}

QString formatUnit(double value, const icu::MeasureUnit &unit, int fractionDigits,
                   UNumberUnitWidth width = UNUM_UNIT_WIDTH_SHORT)
{
    UErrorCode status = U_ZERO_ERROR;
    const auto formatted = icu::number::NumberFormatter::withLocale(displayLocale())
                               .unit(unit)
                               .unitWidth(width)
                               .precision(icu::number::Precision::maxFraction(fractionDigits))
                               .formatDouble(value, status);
    const icu::UnicodeString text = formatted.toString(status);
    if (U_FAILURE(status))
        return QString::number(value, 'f', fractionDigits);
    return toQString(text);
}

} // namespace

QString regionName(const QString &regionCode)
{
    if (regionCode.isEmpty())
        return {};
    return Station::regionName(regionCode);
}

QString languageName(const QString &languageTag)
{
    if (languageTag.isEmpty())
        return {};
    return Station::languageName(languageTag.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0));
}

QString wholeNumber(qint64 value)
{
    UErrorCode status = U_ZERO_ERROR;
    const auto formatted = icu::number::NumberFormatter::withLocale(displayLocale())
                               .grouping(UNUM_GROUPING_AUTO)
                               .formatInt(value, status);
    const icu::UnicodeString text = formatted.toString(status);
    if (U_FAILURE(status))
        return QString::number(value);
    return toQString(text);
}

QString decimal(double value, int fractionDigits)
{
    UErrorCode status = U_ZERO_ERROR;
    const auto formatted = icu::number::NumberFormatter::withLocale(displayLocale())
                               .precision(icu::number::Precision::fixedFraction(fractionDigits))
                               .formatDouble(value, status);
    const icu::UnicodeString text = formatted.toString(status);
    if (U_FAILURE(status))
        return QString::number(value, 'f', fractionDigits);
    return toQString(text);
}

QString abbreviatedDate(const QDateTime &time)
{
    return formatDate(time, icu::DateFormat::kMedium, icu::DateFormat::kNone);
}

QString abbreviatedDate(Date date)
{
    return abbreviatedDate(date.toQDateTime());
}

QString shortTime(const QDateTime &time)
{
    return formatDate(time, icu::DateFormat::kNone, icu::DateFormat::kShort);
}

QString shortTime(Date date)
{
    return shortTime(date.toQDateTime());
}

QString hourMinute(int hour, int minute)
{
    return QStringLiteral("%1:%2").arg(hour, 2, 10, QLatin1Char('0')).arg(minute, 2, 10, QLatin1Char('0'));
}

QString dateTime(Date date)
{
    return formatDate(date.toQDateTime(), icu::DateFormat::kMedium, icu::DateFormat::kShort);
}

QString duration(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    const qint64 total = qint64(std::llround(seconds));
    const qint64 hours = total / 3600;
    const qint64 minutes = total % 3600 / 60;
    const qint64 secs = total % 60;
    UErrorCode status = U_ZERO_ERROR;
    icu::MeasureFormat format(displayLocale(), UMEASFMT_WIDTH_SHORT, status);
    if (U_FAILURE(status))
        return QStringLiteral("%1 s").arg(total);
    std::vector<icu::Measure> measures;
    auto add = [&](qint64 value, icu::MeasureUnit *unit) {
        UErrorCode s = U_ZERO_ERROR;
        measures.emplace_back(icu::Formattable(double(value)), unit, s);
    };
    if (hours > 0)
        add(hours, icu::MeasureUnit::createHour(status));
    if (minutes > 0)
        add(minutes, icu::MeasureUnit::createMinute(status));
    if (secs > 0 || measures.empty())
        add(secs, icu::MeasureUnit::createSecond(status));
    icu::UnicodeString text;
    icu::FieldPosition position;
    format.formatMeasures(measures.data(), int32_t(measures.size()), text, position, status);
    if (U_FAILURE(status))
        return QStringLiteral("%1 s").arg(total);
    return toQString(text);
}

QString byteCount(qint64 bytes)
{
    const double value = double(qMax<qint64>(0, bytes));
    // Bytes by their full name: the short one does not take the plural in
    // every language ("0 byte" in English).
    if (value < 1000)
        return formatUnit(value, icu::MeasureUnit::getByte(), 0, UNUM_UNIT_WIDTH_FULL_NAME);
    if (value < 1e6)
        return formatUnit(value / 1e3, icu::MeasureUnit::getKilobyte(), value < 1e4 ? 1 : 0);
    if (value < 1e9)
        return formatUnit(value / 1e6, icu::MeasureUnit::getMegabyte(), 1);
    return formatUnit(value / 1e9, icu::MeasureUnit::getGigabyte(), 2);
}

QString byteRate(double bytesPerSecond)
{
    if (!std::isfinite(bytesPerSecond) || bytesPerSecond < 0)
        bytesPerSecond = 0;
    UErrorCode status = U_ZERO_ERROR;
    const bool kilo = bytesPerSecond >= 1000;
    const icu::MeasureUnit unit = icu::MeasureUnit::forIdentifier(kilo ? "kilobyte-per-second" : "byte-per-second", status);
    if (U_FAILURE(status))
        return QStringLiteral("%1 B/s").arg(qint64(bytesPerSecond));
    return formatUnit(kilo ? bytesPerSecond / 1000 : bytesPerSecond, unit, kilo && bytesPerSecond < 10000 ? 1 : 0);
}

QString dateTimeWithSeconds(Date date)
{
    return formatDate(date.toQDateTime(), icu::DateFormat::kMedium, icu::DateFormat::kMedium);
}

} // namespace vantuli::Formats
