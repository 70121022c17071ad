// SPDX-License-Identifier: GPL-3.0-or-later
#include "filechooser.h"

#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QMimeData>
#include <QStandardPaths>
#include <QStyle>
#include <QTreeView>
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
    FileDialog(
        QWidget *over, const QString &caption, const QString &directory, const QString &filter)
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
        widenSizeColumn();
        QFileDialog::showEvent(event);
    }

private:
    // Qt's own dialog (not a desktop's) gives the size column too little room for its widest
    // texts ("1023.9 KiB", "1023,9 Kio"), which it then cuts in the middle.
    void widenSizeColumn()
    {
        auto *view = findChild<QTreeView *>(QStringLiteral("treeView"));
        if (!view)
            return;
        const QString widest = QLocale::system().formattedDataSize(1023 * 1024 + 1000);
        const int needed = view->fontMetrics().horizontalAdvance(widest)
            + 2 * view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 16;
        if (view->header()->sectionSize(SizeColumn) < needed)
            view->header()->resizeSection(SizeColumn, needed);
    }

    static constexpr int SizeColumn = 1;

    QWidget *m_over;
};

class DropTaker : public QObject
{
public:
    DropTaker(QWidget *window, const QString &suffix, std::function<bool()> accepting,
        std::function<void(const QString &)> open)
        : QObject(window), m_suffix(suffix), m_accepting(std::move(accepting)),
          m_open(std::move(open))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != parent()
            || (event->type() != QEvent::DragEnter && event->type() != QEvent::Drop))
            return QObject::eventFilter(watched, event);
        // A drag enter event is a drop event too.
        auto *drop = static_cast<QDropEvent *>(event);
        const QString path = (drop->possibleActions() & Qt::CopyAction) && m_accepting()
            ? FileChooser::droppedFile(drop->mimeData(), m_suffix)
            : QString();
        if (path.isEmpty()) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        if (event->type() == QEvent::Drop)
            m_open(path);
        return true;
    }

private:
    QString m_suffix;
    std::function<bool()> m_accepting;
    std::function<void(const QString &)> m_open;
};

} // namespace

void FileChooser::setHook(Hook replacement)
{
    hook() = std::move(replacement);
}

QString FileChooser::choose(
    QWidget *window, const QString &caption, const QString &filter, bool save)
{
    if (hook())
        return hook()(caption, filter, save);
    QWidget *over = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : window;
    FileDialog dialog(
        over, caption, QStandardPaths::writableLocation(QStandardPaths::DownloadLocation), filter);
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

void FileChooser::takeDrops(QWidget *window, const QString &suffix, std::function<bool()> accepting,
    std::function<void(const QString &path)> open)
{
    new DropTaker(window, suffix, std::move(accepting), std::move(open));
}
