// SPDX-License-Identifier: GPL-3.0-or-later
#include "singleapplication.h"
#include "singleapplication_p.h"

#include "filelock.h"
#include "privatefiles.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QSharedMemory>
#include <QThread>
#include <QtDebug>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// An inconsistent block older than this is taken as the remains of a dead writer.
constexpr qint64 InconsistentBlockGraceMs = 5000;

int remainingMs(int timeoutMs, const QElapsedTimer &timer)
{
    return int(qMax<qint64>(0, qint64(timeoutMs) - timer.elapsed()));
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

SingleApplication::SingleApplication(int &argc, char *argv[], bool allowSecondary, int options,
    int timeoutMs, const QString &userData)
    : QApplication(argc, argv), d(new SingleApplicationPrivate(this))
{
    d->options = options;
    if (!userData.isEmpty())
        d->userData.append(userData);
    d->computeInstanceKey();

    // Nothing another user could have made is trusted: without a private directory of
    // this user's, or with a block of someone else's, the process starts without the guard.
    const QString untrusted = d->openGuard();
    if (!untrusted.isEmpty()) {
        d->startUnguarded(untrusted);
        return;
    }
    // From here on the guard's own lock is held (Qt has none for a block named by a file).
    // Only a start that meets another instance's block pauses, so that starts which come
    // together drift apart; the first start of the tool does not wait.
    if (d->discardOrphanedBlock())
        SingleApplicationPrivate::randomSleep();
    // Any block that cannot be made or joined (the system's table full, a size limit, a key
    // file that cannot be made) costs the guard, never the window.
    if (!d->prepareKeyFile()) {
        d->startUnguarded(
            QStringLiteral("the shared block's key file cannot be made: ") + systemError());
        return;
    }
    if (d->memory->create(InstanceBlock::Size, QSharedMemory::ReadWrite)) {
        d->resetBlock();
    } else if (d->memory->error() == QSharedMemory::AlreadyExists) {
        // After a failed create Qt keeps an error that fails every attach of the same
        // object when the key is a file name; a fresh object attaches.
        const QString keyFile = d->memory->nativeKey();
        delete d->memory;
        d->memory = new QSharedMemory();
        d->memory->setNativeKey(keyFile);
        if (!d->memory->attach(QSharedMemory::ReadWrite)) {
            d->startUnguarded(QStringLiteral("the shared block cannot be attached"));
            return;
        }
    } else {
        d->startUnguarded(
            QStringLiteral("the shared block cannot be created: ") + d->memory->errorString());
        return;
    }
    const QString foreign = d->foreignBlock();
    if (!foreign.isEmpty() || d->memory->size() < InstanceBlock::Size) {
        d->startUnguarded(
            foreign.isEmpty() ? QStringLiteral("the shared block is too small") : foreign);
        return;
    }

    QElapsedTimer timer;
    timer.start();
    while (!d->readBlock().isConsistent()) {
        if (timer.elapsed() > InconsistentBlockGraceMs) {
            qWarning("SingleApplication: Shared memory block has been in an inconsistent state "
                     "from more than 5s. Assuming primary instance failure.");
            d->resetBlock();
        }
        d->unlockMemory("SingleApplication: Unable to unlock memory for random wait.");
        SingleApplicationPrivate::randomSleep();
        if (!d->lockBlock())
            d->abortStart("SingleApplication: Unable to lock memory after random wait.");
    }

    if (d->readBlock().hasPrimary == 0) {
        d->startPrimary();
        d->unlockMemory("SingleApplication: Unable to unlock memory after primary start.");
        return;
    }

    if (allowSecondary) {
        d->startSecondary();
        if (d->options & Option_NotifySecondary)
            d->connectToPrimary(timeoutMs, ConnectKind_Secondary);
        d->unlockMemory("SingleApplication: Unable to unlock memory after secondary start.");
        return;
    }

    d->unlockMemory("SingleApplication: Unable to unlock memory at end of execution.");
    d->connectToPrimary(timeoutMs, ConnectKind_Duplicate);
    delete d;
    d = nullptr;
    std::exit(0);
}

SingleApplication::~SingleApplication()
{
    delete d;
}

bool SingleApplication::isSecondaryInstance() const
{
    return d->server == nullptr && !d->unguarded;
}

quint32 SingleApplication::instanceNumber() const
{
    return d->instanceNumber;
}

QString SingleApplication::instanceKey() const
{
    return d->instanceKey;
}

QString SingleApplication::serverName() const
{
    return d->unguarded ? QString() : d->socketName();
}

bool SingleApplication::sendToPrimary(const QByteArray &message, int timeoutMs)
{
    if (!isSecondaryInstance())
        return false;
    if (!d->connectToPrimary(timeoutMs, ConnectKind_Message))
        return false;
    return d->writeToPrimary(message, timeoutMs);
}

SingleApplicationPrivate::SingleApplicationPrivate(SingleApplication *application)
    : owner(application)
{ }

SingleApplicationPrivate::~SingleApplicationPrivate()
{
    if (clientSocket) {
        clientSocket->close();
        delete clientSocket;
        clientSocket = nullptr;
    }
    if (!memory) {
        closeLock();
        return;
    }

    lockBlock();
    if (server) {
        // The accepted sockets die with the server; none of them may report any more.
        const QList<QLocalSocket *> sockets = connections.keys();
        for (QLocalSocket *socket : sockets)
            disconnect(socket, nullptr, this, nullptr);
        connections.clear();
        server->close();
        delete server;
        server = nullptr;
        if (memory->isAttached()) {
            InstanceBlock block = readBlock();
            block.clearPrimary();
            writeBlock(block);
        }
    }
    // Detached under the lock: the last one out removes the block and its key file, which
    // must not happen while another process is about to create or attach it.
    delete memory;
    memory = nullptr;
    FileLock::unlock(lockFd);
    closeLock();
}

void SingleApplicationPrivate::computeInstanceKey()
{
    userName = currentUserName();

    InstanceKeyInputs inputs;
    inputs.applicationName = QCoreApplication::applicationName();
    inputs.organizationName = QCoreApplication::organizationName();
    inputs.organizationDomain = QCoreApplication::organizationDomain();
    inputs.userData = userData;
    inputs.applicationVersion = QCoreApplication::applicationVersion();
    inputs.applicationFilePath = QCoreApplication::applicationFilePath();
    inputs.userName = userName;
    inputs.includeVersion = !(options & SingleApplication::Option_IgnoreVersion);
    inputs.includePath = !(options & SingleApplication::Option_IgnorePath);
    inputs.includeUser = (options & SingleApplication::Option_PerUser) != 0;
    instanceKey = deriveInstanceKey(inputs);
}

void SingleApplicationPrivate::randomSleep()
{
    // Time-seeded as usual; the process id keeps processes started in the same
    // millisecond from drawing the same pause.
    const quint32 timeSeed = quint32(QDateTime::currentMSecsSinceEpoch() % 4294967295LL);
    QRandomGenerator generator(
        timeSeed ^ (quint32(QCoreApplication::applicationPid()) * 2654435761u));
    const quint32 r = generator.bounded(32768u);
    QThread::msleep(8 + static_cast<unsigned long>(r / 32767.0 * 10));
}

void SingleApplicationPrivate::startUnguarded(const QString &reason)
{
    qWarning().noquote() << "SingleApplication:" << reason
                         << "- starting without the single-instance guard";
    delete memory;
    memory = nullptr;
    closeLock();
    unguarded = true;
}

bool SingleApplicationPrivate::lockBlock()
{
    return FileLock::lockExclusive(lockFd, -1) == 0;
}

void SingleApplicationPrivate::closeLock()
{
    if (lockFd >= 0)
        PrivateFiles::close(lockFd);
    lockFd = -1;
}

bool SingleApplicationPrivate::discardOrphanedBlock()
{
    // System V segments outlive a process that dies without detaching. Detaching the last
    // attachment removes such a segment; a block in use by anybody else stays.
    if (!memory->attach(QSharedMemory::ReadWrite))
        return false;
    memory->detach();
    return true;
}

InstanceBlock SingleApplicationPrivate::readBlock() const
{
    return InstanceBlock::load(memory->constData());
}

void SingleApplicationPrivate::writeBlock(const InstanceBlock &block)
{
    block.store(memory->data());
}

void SingleApplicationPrivate::resetBlock()
{
    InstanceBlock block = readBlock();
    block.reset();
    writeBlock(block);
}

void SingleApplicationPrivate::startPrimary()
{
    InstanceBlock block = readBlock();
    block.registerPrimary(QCoreApplication::applicationPid(), userName.toUtf8());
    writeBlock(block);
    instanceNumber = 0;

    const QString socketPath = socketName();
    QLocalServer::removeServer(socketPath);
    server = new QLocalServer();
    server->setSocketOptions((options & SingleApplication::Option_PerUser)
            ? QLocalServer::UserAccessOption
            : QLocalServer::WorldAccessOption);
    if (!server->listen(socketPath))
        qWarning().noquote() << "SingleApplication: Unable to listen on" << socketPath
                             << server->errorString();
    connect(server, &QLocalServer::newConnection, this,
        &SingleApplicationPrivate::slotConnectionEstablished);
}

void SingleApplicationPrivate::startSecondary()
{
    InstanceBlock block = readBlock();
    instanceNumber = block.registerSecondary();
    writeBlock(block);
}

bool SingleApplicationPrivate::connectToPrimary(int timeoutMs, qint8 kind)
{
    if (!clientSocket)
        clientSocket = new QLocalSocket();
    if (clientSocket->state() == QLocalSocket::ConnectedState)
        return true;

    QElapsedTimer timer;
    timer.start();
    for (;;) {
        randomSleep();
        if (clientSocket->state() != QLocalSocket::ConnectingState)
            clientSocket->connectToServer(socketName(), QIODevice::ReadWrite);
        if (clientSocket->state() == QLocalSocket::ConnectingState)
            clientSocket->waitForConnected(remainingMs(timeoutMs, timer));
        if (clientSocket->state() == QLocalSocket::ConnectedState)
            break;
        if (timer.elapsed() >= timeoutMs)
            return false;
    }
    // Our notice goes to nobody but this user's own primary.
    if (!peerIsThisUser(clientSocket->socketDescriptor(), true)) {
        clientSocket->abort();
        return false;
    }

    return writeToPrimary(
        InstanceHandshake::build(instanceKey, kind, instanceNumber), remainingMs(timeoutMs, timer));
}

bool SingleApplicationPrivate::writeToPrimary(const QByteArray &data, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    if (clientSocket->write(data) != data.size())
        return false;
    // A single wait may write only part of the data; keep going until all of it is out.
    while (clientSocket->bytesToWrite() > 0) {
        const int remaining = remainingMs(timeoutMs, timer);
        if (remaining <= 0 || !clientSocket->waitForBytesWritten(remaining))
            break;
    }
    clientSocket->flush();
    return clientSocket->bytesToWrite() == 0;
}

void SingleApplicationPrivate::unlockMemory(const char *context)
{
    if (FileLock::unlock(lockFd))
        return;
    qDebug("%s", context);
    qDebug().noquote() << systemError();
}

void SingleApplicationPrivate::abortStart(const char *what, const QString &detail)
{
    qCritical("%s", what);
    if (!detail.isEmpty())
        qCritical().noquote() << "SingleApplication:" << detail;
    else
        qCritical().noquote() << "SingleApplication:" << int(memory ? memory->error() : 0)
                              << (memory ? memory->errorString() : QString());
    SingleApplication *application = owner;
    application->d = nullptr;
    delete this;
    std::exit(1);
}

void SingleApplicationPrivate::slotConnectionEstablished()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        if (!peerIsThisUser(socket->socketDescriptor(), false)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connections.insert(socket, PeerConnection());
        connect(socket, &QLocalSocket::aboutToClose, this, [this, socket] {
            slotClientConnectionClosed(socket, connections.value(socket).instanceId);
        });
        // A peer that leaves: Qt 5 closes the socket (about-to-close, above) with the unread
        // bytes still there; Qt 6 only reports the disconnection and keeps them. Either way
        // they are handed on once.
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            slotClientConnectionClosed(socket, connections.value(socket).instanceId);
            socket->deleteLater();
        });
        connect(socket, &QObject::destroyed, this, [this, socket] { connections.remove(socket); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFromPeer(socket); });
    }
}

void SingleApplicationPrivate::slotDataAvailable(QLocalSocket *socket, uint instanceId)
{
    emit owner->receivedMessage(instanceId, socket->readAll());
}

void SingleApplicationPrivate::slotClientConnectionClosed(QLocalSocket *socket, uint instanceId)
{
    if (socket->bytesAvailable() > 0)
        emit owner->receivedMessage(instanceId, socket->readAll());
}

void SingleApplicationPrivate::readFromPeer(QLocalSocket *socket)
{
    const auto it = connections.constFind(socket);
    if (it == connections.constEnd())
        return;
    switch (it->stage) {
    case PeerConnection::Stage_AwaitHeader:
        readHeader(socket);
        break;
    case PeerConnection::Stage_AwaitBody:
        readBody(socket);
        break;
    case PeerConnection::Stage_Connected:
        slotDataAvailable(socket, it->instanceId);
        break;
    }
}

void SingleApplicationPrivate::readHeader(QLocalSocket *socket)
{
    if (socket->bytesAvailable() < InstanceHandshake::HeaderSize)
        return;
    const qint64 length
        = InstanceHandshake::parseHeader(socket->read(InstanceHandshake::HeaderSize));
    if (!InstanceHandshake::isAcceptableBodyLength(length)) {
        socket->close();
        return;
    }
    PeerConnection &peer = connections[socket];
    peer.messageLength = length;
    peer.stage = PeerConnection::Stage_AwaitBody;
    if (socket->bytesAvailable() >= length)
        readBody(socket);
}

void SingleApplicationPrivate::readBody(QLocalSocket *socket)
{
    const auto it = connections.find(socket);
    if (it == connections.end() || socket->bytesAvailable() < it->messageLength)
        return;
    InstanceHandshake::Body body;
    if (!InstanceHandshake::parseBody(socket->read(it->messageLength), instanceKey, &body)) {
        socket->close();
        return;
    }
    it->instanceId = body.instanceNumber;
    it->stage = PeerConnection::Stage_Connected;

    if (body.kind == ConnectKind_Duplicate
        || (body.kind == ConnectKind_Secondary
            && (options & SingleApplication::Option_NotifySecondary)))
        emit owner->instanceStarted();
    // A receiver may have run an event loop meanwhile; only go on while the socket lives.
    if (connections.contains(socket) && socket->bytesAvailable() > 0)
        emit owner->receivedMessage(body.instanceNumber, socket->readAll());
}
