// SPDX-License-Identifier: GPL-3.0-or-later
// Compiled into every test program (corvane_add_test): before main() the process gets a home
// of its own in a temporary folder, removed at exit: HOME (and with it Qt's test-mode
// directories), the XDG data, config and cache directories and a private runtime directory.
// The programs a test starts inherit them, and a test program started by a test keeps its
// parent's (CORVANE_TEST_HOME). So runs of one build at the same time, and the user's own
// settings, backups, history and adapter locks, never meet.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

class TestHome
{
public:
    TestHome()
    {
        if (qEnvironmentVariableIsSet("CORVANE_TEST_HOME"))
            return;
        m_dir = std::make_unique<QTemporaryDir>(
            QDir::tempPath() + QStringLiteral("/corvane-test-XXXXXX"));
        if (!m_dir->isValid()) {
            std::fprintf(stderr, "test home: cannot make a temporary folder\n");
            std::exit(1);
        }
        set("CORVANE_TEST_HOME", QString());
        set("HOME", QString());
        set("XDG_DATA_HOME", QStringLiteral("data"));
        set("XDG_CONFIG_HOME", QStringLiteral("config"));
        set("XDG_CACHE_HOME", QStringLiteral("cache"));
        // As the session manager makes it: the user's own, mode 0700.
        set("XDG_RUNTIME_DIR", QStringLiteral("runtime"));
        QFile::setPermissions(m_dir->filePath(QStringLiteral("runtime")),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        // Windows' folders of the user under Wine: the test launcher's prefix names them
        // after this variable (tools/scripts/wine-run.sh.in).
        qputenv("CORVANE_TEST_WINDOWS_HOME", QDir::toNativeSeparators(m_dir->path()).toUtf8());
    }

private:
    void set(const char *name, const QString &subdirectory)
    {
        const QString path = subdirectory.isEmpty() ? m_dir->path() : m_dir->filePath(subdirectory);
        QDir().mkpath(path);
        qputenv(name, QFile::encodeName(path));
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

const TestHome testHome;

} // namespace
