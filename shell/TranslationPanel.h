#pragma once

#include <QFrame>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QLabel;
class QProcess;

namespace vantuli {

class LineSpacedLabel;
class RadioStore;
class StudioButton;

// On-device translation through Apertium, run as a process: captions never
// leave the machine. Only installed language pairs can be used.
class ApertiumTranslator {
public:
    // A listing or translation that takes longer is stopped and counts as failed.
    static constexpr int defaultTimeoutMs = 20000;

    explicit ApertiumTranslator(QString program = QStringLiteral("apertium"), int timeoutMs = defaultTimeoutMs);
    virtual ~ApertiumTranslator();

    // Hands the installed modes ("en-es", "eng-spa", ...; empty without
    // Apertium) to `done`, in a later turn of the event loop. They are listed
    // once, by a process that runs beside the main thread; calls made while it
    // runs wait for it. `done` is dropped when `context` goes first.
    virtual void modes(QObject *context, std::function<void(const QStringList &)> done);
    // Starts a translation; `done` gets the text, or nothing when it failed
    // or did not finish within the time-out (the process is then killed).
    // The returned process (owned by `parent`) may be killed to cancel.
    virtual QProcess *translate(const QString &mode, const QString &text,
                                std::function<void(std::optional<QString>)> done, QObject *parent);

    // The mode that translates `source` into `target` (language tags), if one
    // of `modes` does; two- and three-letter codes are both understood.
    static std::optional<QString> modeFor(const QStringList &modes, const QString &source, const QString &target);

private:
    void finishListing(const QStringList &modes);
    // Kills `process` unless it has finished within the time-out.
    void bound(QProcess *process) const;

    const QString program_;
    const int timeoutMs_;
    std::optional<QStringList> modes_;
    QPointer<QProcess> listing_;
    std::vector<std::pair<QPointer<QObject>, std::function<void(const QStringList &)>>> waiting_;
};

// The main window's translation panel: the text of RadioStore::translationText
// and its translation into the interface language, or a note that no
// on-device translation is installed for the pair, with the text to copy.
// Shown while RadioStore::translating is true; closing it clears the flag.
class TranslationPanel : public QFrame {
    Q_OBJECT

public:
    TranslationPanel(RadioStore *radio, QWidget *parent = nullptr);
    ~TranslationPanel() override;

    void setTranslator(std::unique_ptr<ApertiumTranslator> translator);

    // The caption's language: the recognition language when one is chosen,
    // else the language of the station in question.
    QString sourceLanguage() const;
    QString translation() const; // what the panel shows below the text
    void copyText();

signals:
    void closed();

private:
    void follow();
    void start();
    void updateTexts();

    RadioStore *radio_;
    std::unique_ptr<ApertiumTranslator> translator_;
    QLabel *heading_;
    LineSpacedLabel *original_;
    LineSpacedLabel *result_;
    StudioButton *copy_;
    StudioButton *close_;
    QPointer<QProcess> running_;
    int generation_ = 0;
    enum class Stage { Idle, Working, Done, Unavailable, Failed } stage_ = Stage::Idle;
    QString translated_;
    QString mode_;
};

} // namespace vantuli
