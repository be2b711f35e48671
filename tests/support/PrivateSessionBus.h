#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <memory>

namespace vantuli::test {

// A session bus of the test process's own: a test executable that includes
// this header starts one dbus-daemon before anything connects to a bus, and
// DBUS_SESSION_BUS_ADDRESS points at it. `available` is false where no
// dbus-daemon could be started.
class PrivateSessionBus final : public ::testing::Environment {
public:
    static inline bool available = false;

    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            return;
        daemon_ = std::make_unique<QProcess>();
        daemon_->setProcessChannelMode(QProcess::SeparateChannels);
        daemon_->start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!daemon_->waitForStarted(10000))
            return;
        QByteArray address;
        while (!address.contains('\n') && daemon_->waitForReadyRead(10000))
            address += daemon_->readAllStandardOutput();
        address = address.trimmed();
        if (address.isEmpty())
            return;
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        available = true;
    }

    void TearDown() override
    {
        if (!daemon_)
            return;
        daemon_->terminate();
        if (!daemon_->waitForFinished(10000)) {
            daemon_->kill();
            daemon_->waitForFinished();
        }
    }

private:
    std::unique_ptr<QProcess> daemon_;
};

inline ::testing::Environment *const privateSessionBus = ::testing::AddGlobalTestEnvironment(new PrivateSessionBus);

} // namespace vantuli::test
