#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>

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

    // Host names answered without asking the resolver, each entry as
    // "host:port:address[,address...]". Tests point a name at addresses of
    // their own choice here.
    QList<QByteArray> hostAddresses;

    // Turns a wait the streaming code wants (seconds, e.g. an HLS reload
    // delay) into the wait it takes. Empty: waits as asked. Tests shorten
    // waits here so they need not sleep for real target durations, and may
    // record what was asked.
    std::function<double(double seconds)> wait;

    // Same for request, connect and stall time-outs (seconds).
    std::function<double(double seconds)> timeout;

    double waitFor(double seconds) const { return wait ? wait(seconds) : seconds; }
    double timeoutFor(double seconds) const { return timeout ? timeout(seconds) : seconds; }

    // Milliseconds for a Qt timer, kept within what a timer can hold.
    static int milliseconds(double seconds)
    {
        const double ms = std::clamp(seconds * 1000.0, 0.0, 2.0e9);
        return static_cast<int>(ms + 0.5);
    }
};

} // namespace vantuli
