#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <variant>
#include <vector>

namespace vantuli {

// A failed network transfer or a refused response, as the HLS client reports
// it. The codes are the platform's URL error codes; the live stream shows the
// description to the listener as it stands.
struct UrlError {
    enum Code : int {
        unknown = -1,
        cancelled = -999,
        badURL = -1000,
        timedOut = -1001,
        unsupportedURL = -1002,
        cannotFindHost = -1003,
        cannotConnectToHost = -1004,
        networkConnectionLost = -1005,
        httpTooManyRedirects = -1007,
        notConnectedToInternet = -1009,
        badServerResponse = -1011,
        cannotDecodeContentData = -1016,
        cannotParseResponse = -1017,
        dataLengthExceedsMaximum = -1103,
        secureConnectionFailed = -1200,
        serverCertificateUntrusted = -1202,
        proxyRefused = 310, // the proxy refused the tunnel (as CFNetwork numbers it)
    };

    int code = unknown;
    QString description;

    // The error with the standard description of its code.
    static UrlError make(int code);
    // The standard description of a code (a generic text for codes without one).
    static QString describe(int code);
};

namespace PackedAudioHLS {

// A master playlist, reduced to its first variant stream (absolute, https).
struct Variant {
    QUrl url;
};

// A live media playlist. `first` is the media sequence number of segments[0];
// `segments` are absolute https URLs, never empty; `target` is the target
// duration in whole seconds, at least 1. first + segments.size() fits in qint64.
struct Media {
    qint64 first = 0;
    std::vector<QUrl> segments;
    double target = 0;
};

using Playlist = std::variant<Variant, Media>;

// Understands a downloaded playlist. `base` is the URL the playlist was
// actually fetched from (after redirects); relative URIs resolve against it.
// Throws UrlError: cannotParseResponse (not UTF-8, no header, bad numbers,
// no segments), cannotDecodeContentData (encryption, byte ranges, maps,
// ended lists), unsupportedURL (a URI that does not resolve to https).
Playlist playlist(const QByteArray &data, const QUrl &base);

} // namespace PackedAudioHLS
} // namespace vantuli
