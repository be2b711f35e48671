#pragma once

#include <QList>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <algorithm>
#include <functional>

namespace vantuli {

// How a listening run talks to the network, handed to the live stream and the
// HLS client. The default value is the production one: the system's trusted
// certificates, real waits and real time-outs. Certificate checks are never
// switched off; tests trust their own local server by adding its CA here.
struct StreamConfiguration {
    // Trusted in addition to the system's certificate authorities.
    QList<QSslCertificate> caCertificates;

    // Turns a wait the streaming code wants (seconds, e.g. an HLS reload
    // delay) into the wait it takes. Empty: waits as asked. Tests shorten
    // waits here so they need not sleep for real target durations, and may
    // record what was asked.
    std::function<double(double seconds)> wait;

    // Same for request and stall time-outs (seconds).
    std::function<double(double seconds)> timeout;

    double waitFor(double seconds) const { return wait ? wait(seconds) : seconds; }
    double timeoutFor(double seconds) const { return timeout ? timeout(seconds) : seconds; }

    // Milliseconds for a Qt timer, kept within what a timer can hold.
    static int milliseconds(double seconds)
    {
        const double ms = std::clamp(seconds * 1000.0, 0.0, 2.0e9);
        return static_cast<int>(ms + 0.5);
    }

    // Makes a request ephemeral and safe: no cookies loaded or saved, nothing
    // cached, redirects followed only when they stay as safe (never from https
    // to http, so no plain-text request is sent), and the extra CAs trusted.
    void prepare(QNetworkRequest &request) const
    {
        request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
        request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::NoLessSafeRedirectPolicy);
        if (!caCertificates.isEmpty())
            request.setSslConfiguration(sslConfiguration());
    }

    // The default TLS configuration, with the extra CAs trusted.
    QSslConfiguration sslConfiguration() const
    {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        if (!caCertificates.isEmpty()) {
            static const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
            QList<QSslCertificate> trusted = system;
            trusted += caCertificates;
            ssl.setCaCertificates(trusted);
        }
        return ssl;
    }
};

} // namespace vantuli
