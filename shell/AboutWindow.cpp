#include "shell/AboutWindow.h"

#include "look/Appearance.h"
#include "look/Icons.h"
#include "look/TextStyles.h"
#include "store/RadioStore.h"

#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QUrl>
#include <QVBoxLayout>

#ifndef VANTULI_VERSION
#define VANTULI_VERSION ""
#endif
#ifndef VANTULI_BUILD_NUMBER
#define VANTULI_BUILD_NUMBER ""
#endif

namespace vantuli {

namespace {

std::optional<QString> buildValue(const char *value)
{
    const QString text = QString::fromUtf8(value);
    return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
}

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

} // namespace

QString aboutVersionLine(const std::optional<QString> &shortVersion, const std::optional<QString> &build)
{
    return QStringLiteral("Version ") + shortVersion.value_or(QString()) + QStringLiteral(" (") +
           build.value_or(QString()) + QStringLiteral(")");
}

AboutVantuliView::AboutVantuliView(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("about"));
    setWindowTitle(QStringLiteral("About Vantuli"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAutoFillBackground(true);
    setLocale(QLocale(QLocale::English));

    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(28, 28, 28, 28);
    stack->setSpacing(15);
    stack->setSizeConstraint(QLayout::SetFixedSize);

    auto *identity = new QHBoxLayout;
    identity->setSpacing(16);
    auto *art = new QLabel(this);
    art->setFixedSize(66, 66);
    {
        const qreal ratio = devicePixelRatioF();
        QPixmap rounded(QSize(66, 66) * ratio);
        rounded.setDevicePixelRatio(ratio);
        rounded.fill(Qt::transparent);
        QPainter painter(&rounded);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath clip;
        clip.addRoundedRect(QRectF(0, 0, 66, 66), 15, 15);
        painter.setClipPath(clip);
        painter.drawPixmap(QRect(0, 0, 66, 66), artwork(QStringLiteral("RadioCover"), QSize(66, 66), ratio));
        painter.end();
        art->setPixmap(rounded);
    }
    auto *names = new QVBoxLayout;
    names->setSpacing(4);
    auto *name = plainLabel(QStringLiteral("Vantuli"), this);
    name->setFont(textFont(TextStyle::LargeTitle, QFont::Bold));
    auto *version = plainLabel(aboutVersionLine(buildValue(VANTULI_VERSION), buildValue(VANTULI_BUILD_NUMBER)), this);
    version->setObjectName(QStringLiteral("aboutVersion"));
    version->setForegroundRole(QPalette::PlaceholderText);
    names->addWidget(name);
    names->addWidget(version);
    identity->addWidget(art);
    identity->addLayout(names, 1);
    stack->addLayout(identity);

    auto *rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Plain);
    stack->addWidget(rule);

    auto addText = [this, stack](const QString &text, std::optional<TextStyle> style, bool secondary) {
        QLabel *label = plainLabel(text, this);
        label->setFixedWidth(445);
        label->setFont(textFont(style.value_or(TextStyle::Body), style == TextStyle::Headline ? QFont::Bold : QFont::Normal));
        if (secondary)
            label->setForegroundRole(QPalette::PlaceholderText);
        stack->addWidget(label);
    };
    addText(QStringLiteral("Free to use"), TextStyle::Headline, false);
    addText(QStringLiteral("Listen to live radio with on-device captions. Vantuli is free and inserts no ads of its own."),
            std::nullopt, false);
    addText(QStringLiteral("Station sources"), TextStyle::Headline, false);
    addText(QStringLiteral("Our directory draws on broadcaster information, editorial entries, public directories "
                           "such as Radio Browser, and broadcast regulator records such as the FCC\u2019s. Audio comes "
                           "from the stations\u2019 own or publicly listed streams."),
            std::nullopt, false);
    addText(QStringLiteral("Captions and listening records stay on this computer."), std::nullopt, true);

    auto *links = new QHBoxLayout;
    links->setSpacing(16);
    const QString host = QString::fromLatin1(RadioStore::productSiteHost);
    const std::pair<QString, QString> destinations[] = {
        {host, QStringLiteral("/")},
        {QStringLiteral("Directory sources"), QStringLiteral("/about/#sources")},
        {QStringLiteral("Privacy Policy"), QStringLiteral("/privacy/")},
    };
    for (const auto &[label, path] : destinations) {
        QUrl url;
        url.setScheme(QStringLiteral("https"));
        url.setHost(host);
        const qsizetype hash = path.indexOf(QLatin1Char('#'));
        url.setPath(hash < 0 ? path : path.left(hash));
        if (hash >= 0)
            url.setFragment(path.mid(hash + 1));
        auto *link = new QLabel(this);
        link->setTextFormat(Qt::RichText);
        link->setProperty("href", url.toString(QUrl::FullyEncoded));
        link->setProperty("label", label);
        link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        link->setObjectName(QStringLiteral("aboutLink"));
        connect(link, &QLabel::linkActivated, this, [](const QString &href) { QDesktopServices::openUrl(QUrl(href)); });
        links->addWidget(link);
    }
    links->addStretch(1);
    stack->addLayout(links);

    connect(&Appearance::shared(), &Appearance::schemeChanged, this, &AboutVantuliView::applyScheme);
    applyScheme();
}

void AboutVantuliView::applyScheme()
{
    const bool dark = Appearance::shared().dark();
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window,
                     dark ? QColor::fromRgbF(0.075f, 0.11f, 0.12f) : QColor::fromRgbF(0.971f, 0.964f, 0.94f));
    const QColor text = dark ? QColor::fromRgbF(0.94f, 0.94f, 0.89f) : QColor::fromRgbF(0.08f, 0.17f, 0.17f);
    palette.setColor(QPalette::WindowText, text);
    QColor secondary = text;
    secondary.setAlphaF(0.62f);
    palette.setColor(QPalette::PlaceholderText, secondary);
    const QColor link = dark ? QColor::fromRgbF(1.0f, 0.76f, 0.38f) : QColor::fromRgbF(0.055f, 0.40f, 0.42f);
    palette.setColor(QPalette::Link, link);
    setPalette(palette);
    // Rich-text anchors take their colour from the markup.
    for (QLabel *label : findChildren<QLabel *>(QStringLiteral("aboutLink"))) {
        label->setText(QStringLiteral("<a href=\"%1\" style=\"color:%2\">%3</a>")
                           .arg(label->property("href").toString().toHtmlEscaped(), link.name(),
                                label->property("label").toString().toHtmlEscaped()));
    }
}

} // namespace vantuli
