// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "instanceblock.h"
#include "instancehandshake.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;
class QSharedMemory;
class SingleApplication;

// What the primary knows about one accepted socket.
struct PeerConnection
{
    enum Stage : quint8 {
        Stage_AwaitHeader = 0,
        Stage_AwaitBody = 1,
        Stage_Connected = 2,
    };

    qint64 messageLength = 0;
    quint32 instanceId = 0;
    quint8 stage = Stage_AwaitHeader;
};

// State and work of SingleApplication: the shared block, the primary's server and the
// secondary's socket towards it.
class SingleApplicationPrivate : public QObject
{
    Q_OBJECT

public:
    explicit SingleApplicationPrivate(SingleApplication *application);
    ~SingleApplicationPrivate() override;

    void computeInstanceKey();
    // Sleeps 8 to 18 ms so that processes started together drift apart.
    static void randomSleep();

    // Finds the private directory, takes the guard's lock and prepares the block's key
    // file there. Returns why the guard cannot be trusted, or "" with the lock held.
    QString openGuard();
    // Makes the key file that names the block (0600). False when it cannot be made.
    bool prepareKeyFile();
    // Why the block of the key file, if there is one, is not this user's own; "" when it is.
    QString foreignBlock() const;
    // Logs one line and goes on as a primary without block, lock or server.
    void startUnguarded(const QString &reason);
    // Removes a block that no process holds any more (left behind by a process that died
    // without detaching), so that it cannot pose as a running primary. Returns true when a
    // block of the key existed.
    bool discardOrphanedBlock();
    // The guard's file in the private directory (its lock, and on Linux the block's key).
    QString guardFile(const char *suffix) const;
    // The local server's name, which secondaries connect to.
    QString socketName() const;
    // Whether the process at the other end of a local socket runs as this user; the
    // secondary asks it of the server (isServer), the primary of each client.
    static bool peerIsThisUser(qintptr descriptor, bool isServer);
    bool lockBlock();
    // Closes the guard's lock file, which also gives up its lock.
    void closeLock();
    InstanceBlock readBlock() const;
    void writeBlock(const InstanceBlock &block);
    void resetBlock();
    void startPrimary();
    void startSecondary();
    bool connectToPrimary(int timeoutMs, qint8 kind);
    bool writeToPrimary(const QByteArray &data, int timeoutMs);
    void unlockMemory(const char *context);
    // Logs, gives up the private part and ends the process with code 1.
    [[noreturn]] void abortStart(const char *what, const QString &detail = QString());

    SingleApplication *owner;
    QSharedMemory *memory = nullptr;
    QLocalSocket *clientSocket = nullptr;
    QLocalServer *server = nullptr;
    quint32 instanceNumber = 0;
    QString instanceKey;
    QString userName;
    // The user's private runtime directory holding the key file, the lock and the socket.
    QString directory;
    int lockFd = -1;
    bool unguarded = false;
    int options = 0;
    QMap<QLocalSocket *, PeerConnection> connections;
    QStringList userData;

public slots:
    void slotConnectionEstablished();
    void slotDataAvailable(QLocalSocket *socket, uint instanceId);
    void slotClientConnectionClosed(QLocalSocket *socket, uint instanceId);

private:
    void readFromPeer(QLocalSocket *socket);
    void readHeader(QLocalSocket *socket);
    void readBody(QLocalSocket *socket);
};
