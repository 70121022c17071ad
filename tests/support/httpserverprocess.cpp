// SPDX-License-Identifier: GPL-3.0-or-later
#include "httpserverprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

namespace {

QString sourceFile(const QString &relative)
{
    const QString sourceDir = qEnvironmentVariable("CORVANE_TEST_SOURCE_DIR");
    if (!sourceDir.isEmpty())
        return QDir(sourceDir).filePath(relative);
    // Run by hand from a build directory inside the source tree.
    QDir dir(QCoreApplication::applicationDirPath());
    do {
        if (QFileInfo::exists(dir.filePath(relative)))
            return dir.filePath(relative);
    } while (dir.cdUp());
    return {};
}

} // namespace

HttpServerProcess::HttpServerProcess() = default;

HttpServerProcess::~HttpServerProcess() = default;

bool HttpServerProcess::start(QString *error)
{
    auto failed = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!m_root.isValid())
        return failed(QStringLiteral("no temporary directory"));
    const QString script = sourceFile(QStringLiteral("tools/scripts/catalogue_server.py"));
    if (script.isEmpty() || !QFileInfo::exists(script))
        return failed(
            QStringLiteral("catalogue_server.py not found (set CORVANE_TEST_SOURCE_DIR)"));
    QString why;
    if (!m_process.start(
            script, QStringList { QStringLiteral("--root"), m_root.path() } + m_tlsArguments, &why))
        return failed(QStringLiteral("server did not start: %1").arg(why));

    QByteArray line;
    bool ok = false;
    const uint port = m_process.readLine(&line, 30000) ? line.trimmed().toUInt(&ok) : 0;
    if (!ok || port == 0 || port > 65535)
        return failed(QStringLiteral("server printed no port"));
    m_port = quint16(port);
    return true;
}

bool HttpServerProcess::isRunning() const
{
    return m_process.isRunning() && m_port != 0;
}

quint16 HttpServerProcess::port() const
{
    return m_port;
}

void HttpServerProcess::useTls(const QString &name)
{
    const QString base = QStringLiteral("tests/support/tls/") + name;
    m_tlsArguments = QStringList { QStringLiteral("--tls"),
        sourceFile(base + QLatin1String(".pem")), sourceFile(base + QLatin1String(".key")) };
}

QString HttpServerProcess::testCertificateAuthority()
{
    return sourceFile(QStringLiteral("tests/support/tls/ca.pem"));
}

QUrl HttpServerProcess::baseUrl() const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2")
                    .arg(m_tlsArguments.isEmpty() ? QLatin1String("http") : QLatin1String("https"))
                    .arg(m_port));
}

QUrl HttpServerProcess::url(const QString &path) const
{
    QUrl u = baseUrl();
    u.setPath(path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path);
    return u;
}

bool HttpServerProcess::putFile(const QString &relativePath, const QByteArray &data) const
{
    const QString path = QDir(m_root.path()).filePath(relativePath);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QString HttpServerProcess::rootPath() const
{
    return m_root.path();
}

QStringList HttpServerProcess::requestLog() const
{
    QStringList paths;
    const QJsonArray list
        = QJsonDocument::fromJson(blockingGet(QStringLiteral("/_control/log"))).array();
    for (const QJsonValue &v : list)
        paths.append(v.toString());
    return paths;
}

void HttpServerProcess::clearRequestLog() const
{
    blockingGet(QStringLiteral("/_control/clearlog"));
}

qint64 HttpServerProcess::bytesSent(const QString &path, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        const QJsonObject sent
            = QJsonDocument::fromJson(blockingGet(QStringLiteral("/_control/sent"))).object();
        if (sent.contains(path))
            return qint64(sent.value(path).toDouble());
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    return -1;
}

QByteArray HttpServerProcess::blockingGet(const QString &path) const
{
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkReply *reply = manager.get(QNetworkRequest(url(path)));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    const QByteArray body = reply->isFinished() ? reply->readAll() : QByteArray();
    delete reply;
    return body;
}

quint16 HttpServerProcess::closedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 9; // discard port: nothing listens on it here
    const quint16 port = server.serverPort();
    server.close();
    return port;
}
