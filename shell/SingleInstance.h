#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

class QLocalServer;
class QLocalSocket;

namespace vantuli {

// One application per user session. The first instance listens on a local
// socket in the user's runtime folder; a later launch hands its links (or,
// without links, a plain activation) to it and ends.
//
// The wire format is one line per request: "activate" or "open <url>".
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // `socketPath` empty: $XDG_RUNTIME_DIR/vantuli.socket, else a per-user
    // name in the temporary folder.
    explicit SingleInstance(QString socketPath = QString(), QObject *parent = nullptr);
    ~SingleInstance() override;

    static QString defaultSocketPath();

    // Hands the requests to a running instance: true when one took them.
    bool handOver(const QStringList &links, int timeoutMs = 3000) const;
    // Becomes the running instance; a socket left behind by a crashed one is
    // removed first. False when another instance answers or listening fails.
    bool listen();

    QString socketPath() const { return socketPath_; }

signals:
    void activationRequested();
    void linkReceived(const QUrl &url);

private:
    void readFrom(QLocalSocket *socket);

    QString socketPath_;
    QLocalServer *server_ = nullptr;
};

} // namespace vantuli
