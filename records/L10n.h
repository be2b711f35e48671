#pragma once

#include <QHash>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vantuli {

class SettingsStore;

// The interface-language service: the fourteen interface languages, the
// user's explicit choice, the language actually in use, its table of
// localised texts and the locale used to name regions and languages.
// Every user-visible text is a Chinese source text that is also the key into
// the table; a key without an entry shows as itself.
//
// Used on the main thread only.
class L10n : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString code READ code NOTIFY codeChanged)
    Q_PROPERTY(QString displayLocaleId READ displayLocaleId NOTIFY displayLocaleChanged)

public:
    struct Language {
        QString code;
        QString name; // written in its own language, never translated
    };

    // One language's table of localised texts, read from
    // <folder>/<code>.lproj/Localizable.json (a flat JSON object key -> text).
    //
    // A counted text gives its forms by plural category of the language
    // (CLDR: zero, one, two, few, many, other), each form in braces after its
    // category, "other" always among them:
    //     "%@ 家": "one {%@ station} other {%@ stations}"
    // Such a key's entry holds its "other" form; `forms` holds them all.
    struct Table {
        QString source; // the file it was read from; empty for no table
        QHash<QString, QString> entries;
        QHash<QString, QHash<QString, QString>> forms; // counted texts: key -> category -> form

        // The localised text of a key, or the key itself when there is none.
        QString lookup(const QString &key) const { return entries.value(key, key); }
        // The form of a key for a plural category: the "other" form, or the
        // plain text, when the table has no such form.
        QString lookup(const QString &key, const QString &category) const;
        bool operator==(const Table &) const = default;
    };

    using PreferredLanguages = std::function<QStringList()>;
    using RegionSource = std::function<QString()>;

    // The name of the change announcement; the didChange() signal stands for it.
    static constexpr const char *didChangeNotification = "VantuliInterfaceLanguageDidChange";
    // The settings key of the explicit choice.
    static constexpr const char *settingsKey = "interfaceLanguage";

    // `preferredLanguages` gives the user's preferred language tags, asked at
    // every refresh. `region` gives the region of the system's current locale
    // ("HK"; empty for none), by default LocaleNames::systemRegion.
    // `tableFolder` holds the <code>.lproj folders; empty means the
    // application's resource directory, looked up at every refresh.
    L10n(std::shared_ptr<SettingsStore> defaults, PreferredLanguages preferredLanguages,
         RegionSource region = {}, QString tableFolder = {}, QObject *parent = nullptr);
    ~L10n() override;

    // The instance serving the whole run; created on first use with the
    // standard settings store and the system's preferred languages.
    static L10n &shared();
    // Installs another instance as the shared one (not owned; tests use this
    // so that they never touch the user's settings). nullptr goes back to the
    // standard instance.
    static void setShared(L10n *instance);

    // The fourteen languages in menu order.
    static const std::vector<Language> &languages();
    // True when the code equals one of the fourteen codes exactly.
    static bool isValidCode(const QString &code);
    // The system's preferred languages as language tags ("pt-BR", "zh-Hant-HK").
    static QStringList systemPreferredLanguages();
    // The available code that best serves the user's preferred tags: the first
    // preferred tag with any available code of the same language decides; among
    // those, a matching script, then a matching region wins, then the earlier
    // available code. A tag without a script takes its likely script
    // ("zh-HK" is written in Hant). Empty when nothing matches.
    static QString bestMatch(const QStringList &available, const QStringList &preferred);

    std::optional<QString> selection() const { return selection_; }
    QString code() const { return code_; }
    const Table &strings() const { return strings_; }
    // The ICU locale id of the display locale, such as "zh_Hant_HK" or "en".
    QString displayLocaleId() const { return displayLocaleId_; }
    // The display locale as a QLocale, for number formatting.
    QLocale displayLocale() const;

    // Sets the explicit interface language (absent: follow the system). A code
    // that is not one of the fourteen is ignored entirely.
    void select(const std::optional<QString> &code);
    // Re-resolves the language; notifies only when the code, the display
    // locale or the table changed.
    void refresh();

    // Plain lookup in this instance's table.
    QString text(const QString &key) const { return strings_.lookup(key); }
    // The localised text of `key` on the shared instance with each "%@"
    // replaced by the next argument. For a counted text the first argument is
    // the count, as formatted for display; it picks the form.
    static QString format(const QString &key, const QStringList &args);
    // The plural category ("one", "few", "other"...) of a formatted count in
    // this instance's language; "other" for a text that is no number.
    QString pluralCategory(const QString &count) const;
    // Reads a counted text's forms; empty when `text` is not one.
    static QHash<QString, QString> parseForms(const QString &text);
    // Fills a format text in one pass: "%@" takes the next argument, "%N$@"
    // argument N (from 1), "%%" is a percent sign. Substituted text is never
    // scanned again; a placeholder without an argument stays as written.
    static QString substitute(const QString &format, const QStringList &args);

    // Reads <folder>/<code>.lproj/Localizable.json; a missing or unreadable
    // table gives an empty table. Entries whose values are not text are skipped.
    static Table loadTable(const QString &folder, const QString &code);

signals:
    void selectionChanged();
    void codeChanged();
    void stringsChanged();
    void displayLocaleChanged();
    // "VantuliInterfaceLanguageDidChange": emitted synchronously after a refresh changed something.
    void didChange();

private:
    void setSelection(const std::optional<QString> &code);
    QString currentRegion() const;

    std::shared_ptr<SettingsStore> defaults_;
    PreferredLanguages preferredLanguages_;
    RegionSource region_;
    QString tableFolder_;

    std::optional<QString> selection_;
    QString code_;
    Table strings_;
    QString displayLocaleId_;
};

} // namespace vantuli
