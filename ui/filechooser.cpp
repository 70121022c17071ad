// SPDX-License-Identifier: GPL-3.0-or-later
#include "filechooser.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QStandardPaths>
#include <QUrl>
#include <QWindow>

namespace {

FileChooser::Hook &hook()
{
    static FileChooser::Hook hook;
    return hook;
}

// The window's style sheet reaches every widget below it, and its rules for the window's
// buttons, labels and combo boxes would make Qt's own file dialog unreadable. So the file
// dialog has no parent widget: it is a transient window of the one it opens over, modal and
// placed over it as a child dialog would be.
class FileDialog : public QFileDialog
{
public:
    FileDialog(QWidget *over, const QString &caption, const QString &directory,
               const QString &filter)
        : QFileDialog(nullptr, caption, directory, filter), m_over(over)
    {
        setWindowModality(Qt::ApplicationModal);
        winId();
        if (windowHandle())
            windowHandle()->setTransientParent(over->windowHandle());
    }

protected:
    void showEvent(QShowEvent *event) override
    {
        adjustPosition(m_over);
        QFileDialog::showEvent(event);
    }

private:
    QWidget *m_over;
};

} // namespace

void FileChooser::setHook(Hook replacement)
{
    hook() = std::move(replacement);
}

QString FileChooser::choose(QWidget *window, const QString &caption, const QString &filter,
                            bool save)
{
    if (hook())
        return hook()(caption, filter, save);
    QWidget *over = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : window;
    FileDialog dialog(over, caption,
                      QStandardPaths::writableLocation(QStandardPaths::DownloadLocation), filter);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

QString FileChooser::droppedFile(const QMimeData *mimeData, const QString &suffix)
{
    if (!mimeData)
        return {};
    const QList<QUrl> urls = mimeData->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return {};
    const QFileInfo file(urls.first().toLocalFile());
    if (!file.isFile() || file.suffix().compare(suffix, Qt::CaseInsensitive) != 0)
        return {};
    return file.filePath();
}
