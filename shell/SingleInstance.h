#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <QList>
#include <QTimer>

#include <optional>

class QLocalServer;
class QLocalSocket;

namespace vantuli {

// One application per user session. The first instance takes a unique name
// on the session bus and answers the desktop's application interface
// (org.freedesktop.Application: Activate, Open); a later launch hands its
// links (or, without links, a plain activation) to it over the bus and ends.
//
// Without a session bus the first instance listens on a local socket, but
// only in a folder that the user owns and no one else may enter (mode 0700,
// checked with lstat, never followed through a link): the runtime folder, or
// one of the guard's own in the user's cache folder. The wire format is one line per request,
// "activate" or "open <url>", then "done", which the instance answers with
// "ok". Where no such folder can be had, the application runs without the
// single-instance guard. A socket is taken over only when connecting to it is
// refused: one whose owner is alive, however slow, is left alone.
//
// A launch whose request goes unanswered waits (as long again as it waited
// for the answer) for the running instance to let go of the channel, which it
// does as soon as it starts to quit (`release`), and then runs itself.
//
// What one request may carry is capped: a link longer than `maximumLinkBytes`
// is dropped, and at most `maximumLinks` are taken from one call or one
// connection (a socket connection is closed after that, or as soon as a line
// grows past the cap without ending). At most `maximumConnections` socket
// connections are held (a new one closes the oldest), each for
// `idleMilliseconds` without a line. Requests are handed on one per pass of
// the event loop, and at most `maximumLinks` wait: a flood of calls cannot
// hold the main thread, and what arrives beyond that is dropped with a
// warning.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    static constexpr const char *busName = "app.vantuli.Vantuli";
    static constexpr const char *objectPath = "/app/vantuli/Vantuli";
    static constexpr int maximumLinks = 64;
    static constexpr int maximumLinkBytes = 8192;
    static constexpr int maximumConnections = 8;
    static constexpr int idleMilliseconds = 2000;

    struct Channel {
        // Use the session bus when one answers.
        bool bus = true;
        // The socket without a bus; empty: fallbackSocketPath().
        QString socketPath;
    };

    enum class Claim {
        First,      // this is the running instance now
        HandedOver, // a running instance took the requests; this one ends
        Unanswered, // another instance holds the channel but does not answer
        Unguarded,  // no safe channel: this one runs without the guard
    };

    SingleInstance();
    explicit SingleInstance(Channel channel, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Becomes the running instance, or hands `links` to the one that runs.
    Claim claim(const QStringList &links, int timeoutMs = 3000);
    // Lets go of the channel, so that a launch from now on runs itself;
    // nothing is handed on any more. Called when quitting starts.
    void release();

    // True when `path` is a folder (not a link to one) owned by this user
    // that no one else may read, write or enter.
    static bool privateFolder(const QString &path);
    // The socket in $XDG_RUNTIME_DIR when that is an absolute path to a
    // private folder, else in a private "vantuli/instance" folder of the
    // cache folder ($XDG_CACHE_HOME, or ~/.cache; each made when missing),
    // named after the machine, as a home folder may be shared between
    // machines. Nothing when neither is private, or when the cache folder or
    // its "vantuli" folder is not the user's own or others may write to it.
    static std::optional<QString> fallbackSocketPath();

    // The channel in use: the bus name, or the socket's path.
    QString channelName() const;

signals:
    void activationRequested();
    void linkReceived(const QUrl &url);

private:
    friend class ApplicationAdaptor;

    bool listenOnBus();
    bool handOverOnBus(const QStringList &links, int timeoutMs) const;
    bool listenOnSocket();
    bool handOverOnSocket(const QStringList &links, int timeoutMs) const;
    void accept(QLocalSocket *socket);
    void forget(QLocalSocket *socket);
    void readFrom(QLocalSocket *socket);
    // Queues one request per acceptable link, or an activation for none.
    void deliver(const QStringList &links);
    // Hands on the oldest waiting request.
    void handOn();

    Channel channel_;
    bool onBus_ = false;
    bool released_ = false;
    QString socketPath_;
    QLocalServer *server_ = nullptr;
    QList<QLocalSocket *> connections_;
    // Waiting requests; an empty address stands for an activation.
    QList<QUrl> waiting_;
    int dropped_ = 0;
    QTimer handOnTimer_;
};

} // namespace vantuli
