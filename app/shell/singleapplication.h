// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QString>

class SingleApplicationPrivate;

// The application object, which decides while it is constructed whether this process is
// the primary instance for its key (per user with Option_PerUser) or a secondary one.
// The primary listens on a local server; secondaries can send it bytes, which arrive as
// receivedMessage(). Block, lock and server live in the user's private runtime directory;
// when that directory or the block is not the user's own, the process starts as a primary
// without the guard. If the shared block cannot be set up the process ends with code 1;
// when secondaries are not allowed, a later start tells the primary and ends with code 0.
class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    enum Option {
        Option_PerUser = 1,
        Option_NotifySecondary = 4,
        Option_IgnoreVersion = 8,
        Option_IgnorePath = 16,
    };
    Q_ENUM(Option)

    SingleApplication(int &argc, char *argv[], bool allowSecondary = false,
        int options = Option_PerUser, int timeoutMs = 1000, const QString &userData = QString());
    ~SingleApplication() override;

    bool isSecondaryInstance() const;
    // 0 for the primary, otherwise the number of secondaries started so far including this one.
    quint32 instanceNumber() const;
    // The derived key naming the shared block and the local server.
    QString instanceKey() const;
    // Full path of the primary's local server; empty when the guard is off.
    QString serverName() const;

    // Sends raw bytes to the primary; true when all of them were written within timeoutMs.
    // Always false in the primary itself.
    bool sendToPrimary(const QByteArray &message, int timeoutMs = 100);

signals:
    void instanceStarted();
    void receivedMessage(uint instanceId, QByteArray message);

private:
    Q_DISABLE_COPY(SingleApplication)
    friend class SingleApplicationPrivate;
    SingleApplicationPrivate *d;
};
