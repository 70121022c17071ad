// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "hostprogram.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

// The catalogue test server (tools/scripts/catalogue_server.py) as a real process on a
// free loopback port, serving a temporary directory (under Wine, on the Linux side: see
// HostProgram). Stopped by the destructor.
class HttpServerProcess
{
public:
    HttpServerProcess();
    ~HttpServerProcess();
    HttpServerProcess(const HttpServerProcess &) = delete;
    HttpServerProcess &operator=(const HttpServerProcess &) = delete;

    // Before start(): serve HTTPS with tests/support/tls/NAME.pem and NAME.key ("server",
    // signed by the test certificate authority, or "selfsigned").
    void useTls(const QString &name);
    // The test certificate authority's certificate file.
    static QString testCertificateAuthority();

    // Starts the server; false (with *error) when it does not come up.
    bool start(QString *error = nullptr);
    bool isRunning() const;
    quint16 port() const;
    // "http://127.0.0.1:PORT" (https with TLS)
    QUrl baseUrl() const;
    // Address of a path on the server ("/x" or "x").
    QUrl url(const QString &path) const;

    // Puts a file into the served directory (sub-directories are created).
    bool putFile(const QString &relativePath, const QByteArray &data) const;
    QString rootPath() const;

    // Paths requested so far, in order (the log queries themselves excluded).
    QStringList requestLog() const;
    void clearRequestLog() const;
    // Body bytes that a /_control/big or /_control/bigchunked path got out before the
    // transfer ended; -1 when the server has not recorded its end within timeoutMs.
    qint64 bytesSent(const QString &path, int timeoutMs = 5000) const;

    // A loopback port with nothing listening on it.
    static quint16 closedPort();

private:
    QByteArray blockingGet(const QString &path) const;

    QTemporaryDir m_root;
    HostProgram m_process;
    quint16 m_port = 0;
    QStringList m_tlsArguments;
};
