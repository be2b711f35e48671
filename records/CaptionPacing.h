#pragma once

#include <QString>

#include <optional>

namespace vantuli {

// How the audio of one language is cut into recognition windows and how long
// the listener waits before the captions keep up.
class CaptionPacing {
public:
    enum Value { Short, Sentence, Conversational };

    constexpr CaptionPacing(Value v = Short) : value_(v) {}
    // The pacing of a language tag; never fails.
    static CaptionPacing forLanguage(const QString &language);
    // Exactly "short", "sentence" or "conversational" (case-sensitive).
    static std::optional<CaptionPacing> fromRawValue(const QString &raw);
    QString rawValue() const;

    // The shared language-tag normaliser: "EN-us", "en_GB", "eng" and "-en" all give "en".
    static QString languageCode(const QString &tag);

    constexpr Value value() const { return value_; }
    constexpr operator Value() const { return value_; }
    friend constexpr bool operator==(CaptionPacing a, CaptionPacing b) { return a.value_ == b.value_; }

private:
    Value value_;
};

} // namespace vantuli
