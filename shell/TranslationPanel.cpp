#include "shell/TranslationPanel.h"

#include "look/Labels.h"
#include "look/Refresher.h"
#include "look/StudioButton.h"
#include "look/TextStyles.h"
#include "records/Formats.h"
#include "records/L10n.h"
#include "store/RadioStore.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

namespace vantuli {

namespace {

// The ISO 639 codes Apertium names its pairs with, for the two-letter ones.
QString threeLetter(const QString &code)
{
    static const QHash<QString, QString> codes{
        {QStringLiteral("en"), QStringLiteral("eng")}, {QStringLiteral("es"), QStringLiteral("spa")},
        {QStringLiteral("fr"), QStringLiteral("fra")}, {QStringLiteral("de"), QStringLiteral("deu")},
        {QStringLiteral("pt"), QStringLiteral("por")}, {QStringLiteral("ru"), QStringLiteral("rus")},
        {QStringLiteral("id"), QStringLiteral("ind")}, {QStringLiteral("ja"), QStringLiteral("jpn")},
        {QStringLiteral("ko"), QStringLiteral("kor")}, {QStringLiteral("zh"), QStringLiteral("zho")},
        {QStringLiteral("hi"), QStringLiteral("hin")}, {QStringLiteral("bn"), QStringLiteral("ben")},
        {QStringLiteral("it"), QStringLiteral("ita")}, {QStringLiteral("ca"), QStringLiteral("cat")},
        {QStringLiteral("nl"), QStringLiteral("nld")}, {QStringLiteral("uk"), QStringLiteral("ukr")},
        {QStringLiteral("ar"), QStringLiteral("ara")}, {QStringLiteral("gl"), QStringLiteral("glg")},
        {QStringLiteral("eo"), QStringLiteral("epo")}, {QStringLiteral("oc"), QStringLiteral("oci")},
    };
    return codes.value(code, code);
}

// The language part of a tag, lower case: "pt-BR" and "pt_BR" give "pt".
QString languagePart(const QString &tag)
{
    return tag.section(QRegularExpression(QStringLiteral("[-_]")), 0, 0).toLower();
}

} // namespace

ApertiumTranslator::ApertiumTranslator(QString program, int timeoutMs)
    : program_(std::move(program)), timeoutMs_(timeoutMs)
{
}

ApertiumTranslator::~ApertiumTranslator()
{
    if (listing_) {
        listing_->disconnect();
        listing_->kill();
        listing_->waitForFinished(1000);
        delete listing_.data();
    }
}

void ApertiumTranslator::modes(QObject *context, std::function<void(const QStringList &)> done)
{
    waiting_.emplace_back(context, std::move(done));
    if (modes_) {
        // Always later, as when the list had to be made.
        QMetaObject::invokeMethod(context, [this] { finishListing(*modes_); }, Qt::QueuedConnection);
        return;
    }
    if (listing_)
        return;
    if (QStandardPaths::findExecutable(program_).isEmpty()) {
        modes_ = QStringList();
        QMetaObject::invokeMethod(context, [this] { finishListing(*modes_); }, Qt::QueuedConnection);
        return;
    }
    auto *list = new QProcess;
    listing_ = list;
    QObject::connect(list, &QProcess::finished, list, [this, list](int, QProcess::ExitStatus status) {
        QStringList found;
        if (status == QProcess::NormalExit) {
            for (const QString &line : QString::fromUtf8(list->readAllStandardOutput()).split(QLatin1Char('\n'))) {
                const QString mode = line.trimmed();
                if (!mode.isEmpty())
                    found.append(mode);
            }
        }
        list->deleteLater();
        // A listing that crashed or was stopped is tried again next time.
        if (status == QProcess::NormalExit)
            modes_ = found;
        finishListing(found);
    });
    QObject::connect(list, &QProcess::errorOccurred, list, [this, list](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        list->deleteLater();
        modes_ = QStringList();
        finishListing(*modes_);
    });
    list->start(program_, {QStringLiteral("-l")});
    bound(list);
}

void ApertiumTranslator::bound(QProcess *process) const
{
    auto *deadline = new QTimer(process);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, process, [process] {
        if (process->state() != QProcess::NotRunning)
            process->kill(); // finished() follows, as a crash
    });
    deadline->start(timeoutMs_);
}

void ApertiumTranslator::finishListing(const QStringList &modes)
{
    auto waiting = std::exchange(waiting_, {});
    for (auto &[context, done] : waiting) {
        if (context)
            done(modes);
    }
}

QProcess *ApertiumTranslator::translate(const QString &mode, const QString &text,
                                        std::function<void(std::optional<QString>)> done, QObject *parent)
{
    auto *process = new QProcess(parent);
    QObject::connect(process, &QProcess::finished, process,
                     [process, done](int code, QProcess::ExitStatus status) {
                         if (status == QProcess::NormalExit && code == 0)
                             done(QString::fromUtf8(process->readAllStandardOutput()).trimmed());
                         else
                             done(std::nullopt);
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, done](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            done(std::nullopt);
            process->deleteLater();
        }
    });
    // -u: no marks for unknown words.
    process->start(program_, {QStringLiteral("-u"), mode});
    process->write(text.toUtf8());
    process->closeWriteChannel();
    // A pair that hangs would hold its request forever.
    bound(process);
    return process;
}

std::optional<QString> ApertiumTranslator::modeFor(const QStringList &modes, const QString &source,
                                                   const QString &target)
{
    const QString from = languagePart(source);
    const QString to = languagePart(target);
    if (from.isEmpty() || to.isEmpty())
        return std::nullopt;
    const QStringList wanted{from + QLatin1Char('-') + to, threeLetter(from) + QLatin1Char('-') + threeLetter(to)};
    for (const QString &name : wanted) {
        for (const QString &mode : modes) {
            if (mode.compare(name, Qt::CaseInsensitive) == 0)
                return mode;
        }
    }
    return std::nullopt;
}

TranslationPanel::TranslationPanel(RadioStore *radio, QWidget *parent)
    : QFrame(parent), radio_(radio), translator_(std::make_unique<ApertiumTranslator>())
{
    setObjectName(QStringLiteral("translationPanel"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 12);
    layout->setSpacing(8);
    heading_ = new QLabel(this);
    heading_->setFont(textFont(TextStyle::Headline));
    heading_->setTextFormat(Qt::PlainText);
    original_ = new LineSpacedLabel(QString(), this);
    original_->setObjectName(QStringLiteral("translationOriginal"));
    original_->setFont(textFont(TextStyle::Body));
    original_->setLineSpacing(2);
    original_->setSelectable(true);
    auto *rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Plain);
    result_ = new LineSpacedLabel(QString(), this);
    result_->setObjectName(QStringLiteral("translationResult"));
    result_->setFont(textFont(TextStyle::Body));
    result_->setLineSpacing(2);
    result_->setSelectable(true);
    const QColor ink = palette().color(QPalette::WindowText);
    copy_ = new StudioButton(ink, Qt::transparent, 6, this);
    copy_->setObjectName(QStringLiteral("translationCopy"));
    close_ = new StudioButton(ink, Qt::transparent, 6, this);
    close_->setObjectName(QStringLiteral("translationDone"));
    copy_->setElideMode(Qt::ElideNone);
    close_->setElideMode(Qt::ElideNone);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(copy_);
    buttons->addWidget(close_);
    layout->addWidget(heading_);
    layout->addWidget(original_);
    layout->addWidget(rule);
    layout->addWidget(result_);
    layout->addLayout(buttons);

    connect(copy_, &QAbstractButton::clicked, this, &TranslationPanel::copyText);
    connect(close_, &QAbstractButton::clicked, this, [this] {
        radio_->setTranslating(false);
    });
    auto *refresher = new Refresher([this] { follow(); }, this);
    connect(radio_, &RadioStore::translatingChanged, refresher, &Refresher::schedule);
    connect(radio_, &RadioStore::translationTextChanged, refresher, &Refresher::schedule);
    connect(&L10n::shared(), &L10n::didChange, refresher, &Refresher::schedule);
    updateTexts();
    hide();
}

TranslationPanel::~TranslationPanel()
{
    if (running_)
        running_->kill();
}

void TranslationPanel::setTranslator(std::unique_ptr<ApertiumTranslator> translator)
{
    translator_ = std::move(translator);
}

QString TranslationPanel::sourceLanguage() const
{
    // "auto" (recognition detects the language) reads like "station", as the
    // store reads it.
    const QString chosen = radio_->language();
    if (!chosen.isEmpty() && chosen != QLatin1String("station") && chosen != QLatin1String("auto"))
        return chosen;
    const std::optional<Station> station = radio_->active() ? radio_->current() : radio_->selected();
    return station ? station->language : QString();
}

QString TranslationPanel::translation() const
{
    return result_->text();
}

void TranslationPanel::copyText()
{
    // setText replaces the clipboard's contents in one step; it is never
    // cleared first, so a failed write cannot lose what was there.
    QGuiApplication::clipboard()->setText(radio_->translationText());
}

void TranslationPanel::follow()
{
    if (!radio_->translating()) {
        if (running_)
            running_->kill();
        ++generation_;
        stage_ = Stage::Idle;
        if (isVisible()) {
            hide();
            emit closed();
        }
        return;
    }
    original_->setText(radio_->translationText());
    start();
    updateTexts();
    show();
    raise();
}

void TranslationPanel::start()
{
    if (running_)
        running_->kill();
    const int generation = ++generation_;
    translated_.clear();
    const QString text = radio_->translationText();
    const QString source = sourceLanguage();
    const QString target = L10n::shared().code();
    if (!source.isEmpty() && languagePart(source) == languagePart(target)) {
        translated_ = text; // already in the interface language
        stage_ = Stage::Done;
        return;
    }
    if (text.trimmed().isEmpty()) {
        stage_ = Stage::Unavailable;
        return;
    }
    stage_ = Stage::Working;
    translator_->modes(this, [this, generation, text, source, target](const QStringList &modes) {
        if (generation != generation_)
            return;
        const std::optional<QString> mode = ApertiumTranslator::modeFor(modes, source, target);
        if (!mode) {
            stage_ = Stage::Unavailable;
            updateTexts();
            return;
        }
        mode_ = *mode;
        running_ = translator_->translate(*mode, text, [this, generation](std::optional<QString> result) {
            if (generation != generation_)
                return;
            stage_ = result ? Stage::Done : Stage::Failed;
            translated_ = result.value_or(QString());
            updateTexts();
        }, this);
    });
}

void TranslationPanel::updateTexts()
{
    L10n &l10n = L10n::shared();
    heading_->setText(l10n.text(QStringLiteral("翻译")));
    copy_->setText(l10n.text(QStringLiteral("复制原文")));
    close_->setText(l10n.text(QStringLiteral("完成")));
    switch (stage_) {
    case Stage::Idle:
        result_->setText(QString());
        break;
    case Stage::Working:
        result_->setText(l10n.text(QStringLiteral("正在翻译…")));
        break;
    case Stage::Done:
        result_->setText(translated_);
        break;
    case Stage::Unavailable: {
        const QString source = sourceLanguage();
        const QString from = source.isEmpty() ? l10n.text(QStringLiteral("未标注语言")) : Formats::languageName(source);
        const QString to = Formats::languageName(l10n.code());
        result_->setText(L10n::format(QStringLiteral("本机没有安装从%@到%@的离线翻译。可以复制原文，用其他工具翻译。"),
                                      {from, to}));
        break;
    }
    case Stage::Failed:
        result_->setText(l10n.text(QStringLiteral("翻译没有完成。")));
        break;
    }
    adjustSize();
}

} // namespace vantuli
