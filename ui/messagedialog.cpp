// SPDX-License-Identifier: GPL-3.0-or-later
#include "messagedialog.h"
#include "accessibility.h"
#include "ui_messagedialog.h"

#include <QMetaType>
#include <QStyle>
#include <QTextCursor>
#include <QTimer>

namespace {
constexpr int QueueIntervalMs = 3000;
}

MessageDialog::MessageDialog(QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::MessageDialog>())
{
    qRegisterMetaType<QTextCursor>("QTextCursor");
    ui->setupUi(this);
    // Texts may come from the network or another process: never interpret them as markup.
    ui->label_Title->setTextFormat(Qt::PlainText);
    m_timer = new QTimer(this);

    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowModality(Qt::WindowModal);

    connect(m_timer, &QTimer::timeout, this, &MessageDialog::showNextMessage);
    connect(ui->pushButton_MsgOK, &QPushButton::clicked, this, &MessageDialog::onOkClicked);
    connect(
        ui->pushButton_MsgRestore, &QPushButton::clicked, this, &MessageDialog::onRestoreClicked);
    connect(ui->pushButton_MsgUpdate, &QPushButton::clicked, this, &MessageDialog::onUpdateClicked);
    connect(ui->toolButton_Close, &QToolButton::clicked, this, &MessageDialog::onCloseClicked);
    // Escape or a close from the platform also ends a blocking execMessage().
    connect(this, &QDialog::finished, &m_loop, &QEventLoop::quit);
    Accessibility::pressButtonsWithEnter(this);
    Accessibility::setNameAndToolTip(ui->toolButton_Close, tr("Close"));
}

MessageDialog::~MessageDialog() = default;

void MessageDialog::showMessage(const QString &title, const QString &text, Look look)
{
    showOkButtonOnly();
    m_messageQueue.clear();
    m_messageQueue.append({ title, text, look });
    if (!isVisible())
        showNextMessage();
}

void MessageDialog::showNextMessage()
{
    if (m_messageQueue.isEmpty())
        return;
    const Message message = m_messageQueue.takeLast();
    setMessage(message.title, message.text, message.look);
    m_timer->start(QueueIntervalMs);
    show();
}

void MessageDialog::execMessage(const QString &title, const QString &text, Look look)
{
    showOkButtonOnly();
    setMessage(title, text, look);
    show();
    if (isVisible())
        m_loop.exec();
}

bool MessageDialog::confirmMessage(const QString &title, const QString &text, const QString &no)
{
    showOkButtonOnly();
    ui->pushButton_MsgUpdate->show();
    ui->pushButton_MsgOK->setText(no);
    setMessage(title, text, Warning);
    m_confirmed = false;
    show();
    if (isVisible())
        m_loop.exec();
    ui->pushButton_MsgOK->setText(tr("OK"));
    return m_confirmed;
}

// The form's retranslation empties the title line; the message on screen keeps its title.
void MessageDialog::retranslateUi()
{
    const QString shownTitle = ui->label_Title->text();
    ui->retranslateUi(this);
    ui->label_Title->setText(shownTitle);
    Accessibility::setNameAndToolTip(ui->toolButton_Close, tr("Close"));
}

// Without a compositing window manager nothing keeps a copy of what the dialog covered: the
// window repaints it, labels that changed meanwhile included.
void MessageDialog::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    if (QWidget *under = parentWidget())
        under->update(
            QRect(under->mapFromGlobal(frameGeometry().topLeft()), frameGeometry().size()));
}

void MessageDialog::showOkButtonOnly()
{
    ui->pushButton_MsgOK->show();
    ui->pushButton_MsgRestore->hide();
    ui->pushButton_MsgUpdate->hide();
}

void MessageDialog::setMessage(const QString &title, const QString &text, Look look)
{
    // The style sheet's rules for the warning look select these two by the property.
    for (QWidget *widget :
        { static_cast<QWidget *>(ui->label_Title), static_cast<QWidget *>(ui->pushButton_MsgOK) }) {
        if (widget->property("warning").toBool() != (look == Warning)) {
            widget->setProperty("warning", look == Warning);
            widget->style()->unpolish(widget);
            widget->style()->polish(widget);
        }
    }
    ui->label_Title->setText(title);
    ui->textBrowser->setPlainText(text);
    // Screen readers announce the dialog and its text by the title; Enter acknowledges it.
    setAccessibleName(title);
    ui->textBrowser->setAccessibleName(title);
    ui->pushButton_MsgOK->setFocus(Qt::OtherFocusReason);
}

void MessageDialog::onOkClicked()
{
    setResult(QDialog::Accepted);
    m_loop.quit();
    emit okButtonClicked();
    accept();
    emit closed();
}

void MessageDialog::onRestoreClicked()
{
    setResult(QDialog::Rejected);
    m_loop.quit();
    emit restoreDefaultsButtonClicked();
    close();
    emit closed();
}

void MessageDialog::onUpdateClicked()
{
    m_confirmed = true;
    setResult(QDialog::Rejected);
    m_loop.quit();
    emit updateFirmwareButtonClicked();
    close();
    emit closed();
}

void MessageDialog::onCloseClicked()
{
    setResult(QDialog::Rejected);
    m_loop.quit();
    close();
    emit closed();
}
