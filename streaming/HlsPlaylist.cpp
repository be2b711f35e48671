#include "streaming/HlsPlaylist.h"

#include <QStringDecoder>

#include <limits>
#include <optional>

namespace vantuli {

QString UrlError::describe(int code)
{
    switch (code) {
    case cancelled:
        return QStringLiteral("The request was cancelled.");
    case badURL:
        return QStringLiteral("The URL is not valid.");
    case timedOut:
        return QStringLiteral("The request timed out.");
    case unsupportedURL:
        return QStringLiteral("The URL is not supported.");
    case cannotFindHost:
        return QStringLiteral("A server with the specified hostname could not be found.");
    case cannotConnectToHost:
        return QStringLiteral("Could not connect to the server.");
    case networkConnectionLost:
        return QStringLiteral("The network connection was lost.");
    case httpTooManyRedirects:
        return QStringLiteral("There were too many redirects.");
    case notConnectedToInternet:
        return QStringLiteral("The Internet connection appears to be offline.");
    case badServerResponse:
        return QStringLiteral("The server returned a bad response.");
    case cannotDecodeContentData:
        return QStringLiteral("The content of the response could not be decoded.");
    case cannotParseResponse:
        return QStringLiteral("The response could not be parsed.");
    case dataLengthExceedsMaximum:
        return QStringLiteral("The response is larger than the maximum allowed size.");
    case secureConnectionFailed:
        return QStringLiteral("A secure connection to the server could not be made.");
    case serverCertificateUntrusted:
        return QStringLiteral("The certificate for this server is not trusted.");
    case proxyRefused:
        return QStringLiteral("The proxy refused the connection.");
    default:
        return QStringLiteral("An unknown network error occurred.");
    }
}

UrlError UrlError::make(int code)
{
    return UrlError{code, describe(code)};
}

namespace PackedAudioHLS {
namespace {

[[noreturn]] void fail(int code)
{
    throw UrlError::make(code);
}

bool isLineBreak(char16_t c)
{
    return c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' || c == u'\u0085' || c == u'\u2028'
        || c == u'\u2029';
}

// Lines split at every kind of line break (CR LF counts as one), empty stretches
// dropped, then spaces and tabs trimmed from both ends; a line of blanks stays
// as an empty line.
std::vector<QString> splitLines(const QString &text)
{
    std::vector<QString> lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    auto take = [&](qsizetype end) {
        if (end > start) {
            QStringView span = QStringView(text).mid(start, end - start);
            qsizetype a = 0;
            qsizetype b = span.size();
            while (a < b && (span[a] == u' ' || span[a] == u'\t'))
                ++a;
            while (b > a && (span[b - 1] == u' ' || span[b - 1] == u'\t'))
                --b;
            lines.push_back(span.mid(a, b - a).toString());
        }
    };
    for (qsizetype i = 0; i < n; ++i) {
        if (isLineBreak(text[i].unicode())) {
            take(i);
            start = i + 1;
        }
    }
    take(n);
    return lines;
}

// A decimal integer: an optional sign and ASCII digits, nothing else; absent
// when the text is anything more or the value does not fit in 64 bits.
std::optional<qint64> decimal(QStringView s)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    if (i == s.size())
        return std::nullopt;
    // Accumulate negatively so that the most negative value fits too.
    qint64 value = 0;
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    for (; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == lowest)
        return std::nullopt;
    return -value;
}

QUrl resolve(const QString &line, const QUrl &base)
{
    const QUrl relative(line, QUrl::StrictMode);
    if (!relative.isValid())
        fail(UrlError::unsupportedURL);
    // The scheme must be written exactly "https"; QUrl would lower-case it.
    if (!relative.scheme().isEmpty() && !line.startsWith(QLatin1String("https:")))
        fail(UrlError::unsupportedURL);
    const QUrl absolute = base.resolved(relative);
    if (!absolute.isValid() || absolute.scheme() != QLatin1String("https") || absolute.host().isEmpty())
        fail(UrlError::unsupportedURL);
    return absolute;
}

bool startsWith(const QString &line, QLatin1String prefix)
{
    return line.startsWith(prefix, Qt::CaseSensitive);
}

} // namespace

Playlist playlist(const QByteArray &data, const QUrl &base)
{
    // A leading byte-order mark is kept, so such a file fails the header check.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    const QString text = decoder.decode(data);
    if (decoder.hasError())
        fail(UrlError::cannotParseResponse);

    const std::vector<QString> lines = splitLines(text);
    if (lines.empty() || lines.front() != QLatin1String("#EXTM3U"))
        fail(UrlError::cannotParseResponse);

    // A master playlist is reduced to its first variant; everything else in it is ignored.
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!startsWith(lines[i], QLatin1String("#EXT-X-STREAM-INF:")))
            continue;
        if (i + 1 >= lines.size() || lines[i + 1].startsWith(u'#'))
            fail(UrlError::cannotParseResponse);
        return Variant{resolve(lines[i + 1], base)};
    }

    static const QLatin1String sequenceTag("#EXT-X-MEDIA-SEQUENCE:");
    static const QLatin1String targetTag("#EXT-X-TARGETDURATION:");
    qint64 sequence = 0;
    qint64 target = 0;
    std::vector<QUrl> segments;
    for (const QString &line : lines) {
        if (startsWith(line, sequenceTag)) {
            const auto value = decimal(QStringView(line).mid(sequenceTag.size()));
            if (!value || *value < 0)
                fail(UrlError::cannotParseResponse);
            sequence = *value;
        } else if (startsWith(line, targetTag)) {
            target = decimal(QStringView(line).mid(targetTag.size())).value_or(0);
        } else if (startsWith(line, QLatin1String("#EXT-X-KEY:"))
                   || startsWith(line, QLatin1String("#EXT-X-BYTERANGE:"))
                   || startsWith(line, QLatin1String("#EXT-X-MAP:"))
                   || line == QLatin1String("#EXT-X-ENDLIST")) {
            fail(UrlError::cannotDecodeContentData);
        } else if (line.isEmpty() || line.startsWith(u'#')) {
            continue;
        } else {
            segments.push_back(resolve(line, base));
        }
    }

    if (target < 1 || segments.empty())
        fail(UrlError::cannotParseResponse);
    if (sequence > std::numeric_limits<qint64>::max() - static_cast<qint64>(segments.size()))
        fail(UrlError::cannotParseResponse);
    return Media{sequence, std::move(segments), static_cast<double>(target)};
}

} // namespace PackedAudioHLS
} // namespace vantuli
