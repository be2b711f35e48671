#pragma once

#include <QString>

#include <utility>

namespace vantuli {

// A user-visible message that stays unlocalised until it is shown, so that a
// message already on screen follows a later change of interface language.
// It has no equality.
class DisplayMessage {
public:
    enum class Kind {
        Key,      // a localisation key
        Format,   // a localisation key whose text has one "%@", and its argument
        Verbatim, // text shown unchanged (platform error descriptions)
    };

    static DisplayMessage key(const QString &key) { return DisplayMessage(Kind::Key, key, QString()); }
    static DisplayMessage format(const QString &key, const QString &argument)
    {
        return DisplayMessage(Kind::Format, key, argument);
    }
    static DisplayMessage verbatim(const QString &text) { return DisplayMessage(Kind::Verbatim, text, QString()); }

    Kind kind() const { return kind_; }
    // The key (Key, Format) or the text (Verbatim).
    const QString &content() const { return content_; }
    // The format argument (Format only; empty otherwise).
    const QString &argument() const { return argument_; }

    // The text as shown now, through L10n::shared().
    QString text() const;

private:
    DisplayMessage(Kind kind, QString content, QString argument)
        : kind_(kind), content_(std::move(content)), argument_(std::move(argument)) {}

    Kind kind_;
    QString content_;
    QString argument_;
};

} // namespace vantuli
