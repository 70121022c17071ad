// SPDX-License-Identifier: GPL-3.0-or-later
#include "messagedialog.h"
#include "accessibility.h"
#include "ui_messagedialog.h"

#include <QMetaType>
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

void MessageDialog::showMessage(const QString &title, const QString &text)
{
    showOkButtonOnly();
    m_messageQueue.clear();
    m_messageQueue.append(qMakePair(title, text));
    if (!isVisible())
        showNextMessage();
}

void MessageDialog::showNextMessage()
{
    if (m_messageQueue.isEmpty())
        return;
    const QPair<QString, QString> message = m_messageQueue.takeLast();
    setMessage(message.first, message.second);
    m_timer->start(QueueIntervalMs);
    show();
}

void MessageDialog::execMessage(const QString &title, const QString &text)
{
    showOkButtonOnly();
    setMessage(title, text);
    show();
    if (isVisible())
        m_loop.exec();
}

// The form's retranslation empties the title line; the message on screen keeps its title.
void MessageDialog::retranslateUi()
{
    const QString shownTitle = ui->label_Title->text();
    ui->retranslateUi(this);
    ui->label_Title->setText(shownTitle);
    Accessibility::setNameAndToolTip(ui->toolButton_Close, tr("Close"));
}

void MessageDialog::showOkButtonOnly()
{
    ui->pushButton_MsgOK->show();
    ui->pushButton_MsgRestore->hide();
    ui->pushButton_MsgUpdate->hide();
}

void MessageDialog::setMessage(const QString &title, const QString &text)
{
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
