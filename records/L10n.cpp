#include "records/L10n.h"

#include "platform/LocaleNames.h"
#include "platform/Resources.h"
#include "platform/SettingsStore.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <unicode/uloc.h>
#include <unicode/upluralrules.h>

#include <map>
#include <memory>

namespace vantuli {

namespace {

L10n *installedShared = nullptr;
L10n *standardShared = nullptr;

// The parts of a language tag that matching looks at.
struct TagParts {
    QString language;
    QString script;
    QString region;
};

std::optional<TagParts> parseTag(QString tag)
{
    // POSIX locale names ("pt_BR.UTF-8@euro") become tags ("pt-BR").
    for (qsizetype i = 0; i < tag.size(); ++i) {
        if (tag[i] == QLatin1Char('.') || tag[i] == QLatin1Char('@')) {
            tag.truncate(i);
            break;
        }
    }
    tag.replace(QLatin1Char('_'), QLatin1Char('-'));
    tag = tag.trimmed();
    if (tag.isEmpty() || tag == QLatin1String("C") || tag == QLatin1String("POSIX"))
        return std::nullopt;

    const QByteArray id = LocaleNames::localeIdFromTag(tag).toLatin1();
    char buffer[ULOC_FULLNAME_CAPACITY];
    TagParts parts;

    UErrorCode status = U_ZERO_ERROR;
    int32_t len = uloc_getLanguage(id.constData(), buffer, sizeof buffer, &status);
    if (U_FAILURE(status) || len <= 0)
        return std::nullopt;
    parts.language = QString::fromLatin1(buffer, len).toLower();

    status = U_ZERO_ERROR;
    len = uloc_getScript(id.constData(), buffer, sizeof buffer, &status);
    if (U_SUCCESS(status) && len > 0)
        parts.script = QString::fromLatin1(buffer, len);
    else
        parts.script = LocaleNames::likelyScript(tag);

    status = U_ZERO_ERROR;
    len = uloc_getCountry(id.constData(), buffer, sizeof buffer, &status);
    if (U_SUCCESS(status) && len > 0)
        parts.region = QString::fromLatin1(buffer, len).toUpper();
    return parts;
}

bool plausibleRegion(const QString &region)
{
    if (region.size() == 2)
        return region[0].isLetter() && region[1].isLetter() && region[0].unicode() < 128 && region[1].unicode() < 128;
    if (region.size() == 3)
        return region[0].isDigit() && region[1].isDigit() && region[2].isDigit();
    return false;
}

// The ICU id of a code's language (and script) with the given region.
QString displayLocaleIdFor(const QString &code, const QString &region)
{
    QString id = code;
    id.replace(QLatin1Char('-'), QLatin1Char('_'));
    const QString r = region.trimmed().toUpper();
    if (plausibleRegion(r))
        id += QLatin1Char('_') + r;
    return id;
}

// The plural rules of an ICU locale id, opened once per id (main thread).
const UPluralRules *pluralRules(const QString &localeId)
{
    struct Close {
        void operator()(UPluralRules *rules) const { uplrules_close(rules); }
    };
    static std::map<QString, std::unique_ptr<UPluralRules, Close>> opened;
    auto found = opened.find(localeId);
    if (found == opened.end()) {
        UErrorCode status = U_ZERO_ERROR;
        UPluralRules *rules = uplrules_open(localeId.toLatin1().constData(), &status);
        if (U_FAILURE(status)) {
            uplrules_close(rules);
            rules = nullptr;
        }
        found = opened.emplace(localeId, std::unique_ptr<UPluralRules, Close>(rules)).first;
    }
    return found->second.get();
}

// The number a formatted count stands for: read in the display locale (which
// whole numbers are formatted in), the system's or plainly; else its digits
// alone, whatever separates them.
std::optional<double> countValue(const QString &text, const QLocale &display)
{
    const QString trimmed = text.trimmed();
    for (const QLocale &locale : {display, QLocale(), QLocale::c()}) {
        bool ok = false;
        const double value = locale.toDouble(trimmed, &ok);
        if (ok)
            return value;
    }
    double value = 0;
    bool any = false;
    for (const QChar c : trimmed) {
        const int digit = c.digitValue();
        if (digit >= 0) {
            value = value * 10 + digit;
            any = true;
        } else if (!c.isSpace() && !c.isPunct()) {
            return std::nullopt;
        }
    }
    return any ? std::optional<double>(value) : std::nullopt;
}

QStringList languageCodes()
{
    QStringList codes;
    for (const L10n::Language &l : L10n::languages())
        codes << l.code;
    return codes;
}

} // namespace

L10n::L10n(std::shared_ptr<SettingsStore> defaults, PreferredLanguages preferredLanguages, RegionSource region,
           QString tableFolder, QObject *parent)
    : QObject(parent), defaults_(std::move(defaults)), preferredLanguages_(std::move(preferredLanguages)),
      region_(std::move(region)), tableFolder_(std::move(tableFolder))
{
    if (!preferredLanguages_)
        preferredLanguages_ = &L10n::systemPreferredLanguages;
    if (!region_)
        region_ = &LocaleNames::systemRegion;
    displayLocaleId_ = LocaleNames::localeIdFromTag(QLocale::system().bcp47Name());

    // A stored value that is not one of the codes counts as no choice; it stays stored.
    if (defaults_) {
        const std::optional<QString> stored = defaults_->string(QString::fromLatin1(settingsKey));
        if (stored && isValidCode(*stored))
            selection_ = *stored;
    }
    refresh();
}

L10n::~L10n()
{
    if (installedShared == this)
        installedShared = nullptr;
    if (standardShared == this)
        standardShared = nullptr;
}

L10n &L10n::shared()
{
    if (installedShared)
        return *installedShared;
    if (!standardShared) {
        // Lives for the whole run.
        standardShared = new L10n(SettingsStore::standard(), &L10n::systemPreferredLanguages);
    }
    return *standardShared;
}

void L10n::setShared(L10n *instance)
{
    installedShared = instance;
}

const std::vector<L10n::Language> &L10n::languages()
{
    static const std::vector<Language> table = {
        {QStringLiteral("en"), QStringLiteral("English")},
        {QStringLiteral("zh-Hans"), QStringLiteral("简体中文")},
        {QStringLiteral("zh-Hant"), QStringLiteral("繁體中文")},
        {QStringLiteral("ja"), QStringLiteral("日本語")},
        {QStringLiteral("ko"), QStringLiteral("한국어")},
        {QStringLiteral("es"), QStringLiteral("Español")},
        {QStringLiteral("fr"), QStringLiteral("Français")},
        {QStringLiteral("de"), QStringLiteral("Deutsch")},
        {QStringLiteral("pt"), QStringLiteral("Português")},
        {QStringLiteral("hi"), QStringLiteral("हिन्दी")},
        {QStringLiteral("bn"), QStringLiteral("বাংলা")},
        {QStringLiteral("id"), QStringLiteral("Bahasa Indonesia")},
        {QStringLiteral("ru"), QStringLiteral("Русский")},
        {QStringLiteral("pcm"), QStringLiteral("Naijá")},
    };
    return table;
}

bool L10n::isValidCode(const QString &code)
{
    for (const Language &l : languages()) {
        if (l.code == code)
            return true;
    }
    return false;
}

QStringList L10n::systemPreferredLanguages()
{
    return QLocale::system().uiLanguages();
}

QString L10n::bestMatch(const QStringList &available, const QStringList &preferred)
{
    std::vector<std::optional<TagParts>> offered;
    offered.reserve(available.size());
    for (const QString &code : available)
        offered.push_back(parseTag(code));

    for (const QString &tag : preferred) {
        const std::optional<TagParts> wanted = parseTag(tag);
        if (!wanted)
            continue;
        int bestScore = -1;
        qsizetype best = -1;
        for (qsizetype i = 0; i < available.size(); ++i) {
            const std::optional<TagParts> &o = offered[static_cast<size_t>(i)];
            if (!o || o->language != wanted->language)
                continue;
            int score = 0;
            if (!o->script.isEmpty() && o->script == wanted->script)
                score += 2;
            if (!o->region.isEmpty() && o->region == wanted->region)
                score += 1;
            if (score > bestScore) {
                bestScore = score;
                best = i;
            }
        }
        if (best >= 0)
            return available[best];
    }
    return QString();
}

QLocale L10n::displayLocale() const
{
    return QLocale(displayLocaleId_);
}

void L10n::select(const std::optional<QString> &code)
{
    if (code && !isValidCode(*code))
        return;
    if (defaults_) {
        if (code)
            defaults_->setValue(QString::fromLatin1(settingsKey), *code);
        else
            defaults_->remove(QString::fromLatin1(settingsKey));
    }
    setSelection(code);
    refresh();
}

void L10n::setSelection(const std::optional<QString> &code)
{
    if (selection_ == code)
        return;
    selection_ = code;
    emit selectionChanged();
}

QString L10n::currentRegion() const
{
    return region_ ? region_() : QString();
}

void L10n::refresh()
{
    QString candidate;
    if (selection_)
        candidate = *selection_;
    else
        candidate = bestMatch(languageCodes(), preferredLanguages_());
    if (candidate.isEmpty())
        candidate = QStringLiteral("en");

    const QString localeId = displayLocaleIdFor(candidate, currentRegion());
    if (candidate == code_ && localeId == displayLocaleId_)
        return;

    const bool codeDiffers = candidate != code_;
    const bool localeDiffers = localeId != displayLocaleId_;
    code_ = candidate;
    displayLocaleId_ = localeId;

    const QString folder = tableFolder_.isEmpty() ? Resources::directory() : tableFolder_;
    Table table = loadTable(folder, code_);
    const bool tableDiffers = !(table == strings_);
    strings_ = std::move(table);

    // Every value is in place before anyone hears of the change.
    if (codeDiffers)
        emit codeChanged();
    if (localeDiffers)
        emit displayLocaleChanged();
    if (tableDiffers)
        emit stringsChanged();
    emit didChange();
}

QString L10n::Table::lookup(const QString &key, const QString &category) const
{
    const auto counted = forms.constFind(key);
    if (counted != forms.constEnd()) {
        const auto form = counted->constFind(category);
        if (form != counted->constEnd())
            return *form;
    }
    return lookup(key);
}

QString L10n::format(const QString &key, const QStringList &args)
{
    const L10n &l10n = shared();
    if (args.isEmpty() || !l10n.strings_.forms.contains(key))
        return substitute(l10n.text(key), args);
    return substitute(l10n.strings_.lookup(key, l10n.pluralCategory(args.front())), args);
}

QString L10n::pluralCategory(const QString &count) const
{
    const QString other = QStringLiteral("other");
    const std::optional<double> value = countValue(count, displayLocale());
    const UPluralRules *rules = pluralRules(displayLocaleId_);
    if (!value || !rules)
        return other;
    UChar keyword[32];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = uplrules_select(rules, *value, keyword, 32, &status);
    if (U_FAILURE(status) || length <= 0 || length > 32)
        return other;
    return QString(reinterpret_cast<const QChar *>(keyword), length);
}

QHash<QString, QString> L10n::parseForms(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("\\s*(zero|one|two|few|many|other)\\s*\\{([^{}]*)\\}\\s*"));
    QHash<QString, QString> forms;
    qsizetype at = 0;
    while (at < text.size()) {
        const QRegularExpressionMatch match = form.match(text, at, QRegularExpression::NormalMatch,
                                                         QRegularExpression::AnchorAtOffsetMatchOption);
        if (!match.hasMatch() || forms.contains(match.captured(1)))
            return {};
        forms.insert(match.captured(1), match.captured(2));
        at = match.capturedEnd();
    }
    if (!forms.contains(QStringLiteral("other")))
        return {};
    return forms;
}

QString L10n::substitute(const QString &format, const QStringList &args)
{
    QString out;
    out.reserve(format.size() + 16);
    qsizetype next = 0;
    const qsizetype n = format.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = format[i];
        if (c != QLatin1Char('%') || i + 1 >= n) {
            out += c;
            ++i;
            continue;
        }
        const QChar d = format[i + 1];
        if (d == QLatin1Char('@')) {
            if (next < args.size())
                out += args[next++];
            else
                out += QLatin1String("%@");
            i += 2;
            continue;
        }
        if (d == QLatin1Char('%')) {
            out += QLatin1Char('%');
            i += 2;
            continue;
        }
        // Positional "%N$@".
        qsizetype j = i + 1;
        while (j < n && format[j].isDigit() && format[j].unicode() < 128)
            ++j;
        if (j > i + 1 && j + 1 < n && format[j] == QLatin1Char('$') && format[j + 1] == QLatin1Char('@')) {
            bool ok = false;
            const qsizetype index = format.mid(i + 1, j - i - 1).toLongLong(&ok);
            if (ok && index >= 1 && index <= args.size())
                out += args[index - 1];
            else
                out += format.mid(i, j + 2 - i);
            i = j + 2;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

L10n::Table L10n::loadTable(const QString &folder, const QString &code)
{
    const QString path = folder + QLatin1Char('/') + code + QStringLiteral(".lproj/Localizable.json");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Table{};
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return Table{};
    Table table;
    table.source = path;
    const QJsonObject object = doc.object();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!it.value().isString())
            continue;
        const QString text = it.value().toString();
        QHash<QString, QString> forms = parseForms(text);
        if (forms.isEmpty()) {
            table.entries.insert(it.key(), text);
        } else {
            table.entries.insert(it.key(), forms.value(QStringLiteral("other")));
            table.forms.insert(it.key(), std::move(forms));
        }
    }
    return table;
}

} // namespace vantuli
