// SPDX-License-Identifier: GPL-3.0-or-later
#include "settingsdialog.h"
#include "accessibility.h"
#include "ui_settingsdialog.h"

#include <QSignalBlocker>

#include <climits>

SettingsDialog::SettingsDialog(QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::SettingsDialog>())
{
    ui->setupUi(this);

    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowModality(Qt::WindowModal);
    ui->progressBar->hide();

    connect(ui->toolButton_Close, &QToolButton::clicked, this, [this] {
        setResult(QDialog::Rejected);
        close();
        emit closed();
    });
    connect(ui->pushButton_DataBackup, &QPushButton::clicked, this, &SettingsDialog::dataBackup);
    connect(ui->pushButton_DataRestore, &QPushButton::clicked, this, &SettingsDialog::dataRestore);
    connect(ui->comboBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
        &SettingsDialog::onBootModeIndexChanged);
    Accessibility::pressButtonsWithEnter(this);
    nameControls();
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::setBootMode(int mode, bool supported)
{
    if (supported) {
        // Stored first, so that the index change below is not taken for a user's choice.
        m_bootMode = mode;
        ui->comboBox->setCurrentIndex(mode);
    }
    ui->comboBox->setVisible(supported);
    ui->label->setVisible(supported);
}

void SettingsDialog::setDataRestoreVisible(bool visible)
{
    ui->pushButton_DataRestore->setVisible(visible);
}

void SettingsDialog::setProgress(qlonglong current, qlonglong total)
{
    const bool finished = current >= total;
    // The bar counts in int: scale both values down alike when the total does not fit.
    while (total > INT_MAX) {
        total /= 2;
        current /= 2;
    }
    const int maximum = static_cast<int>(qMax<qlonglong>(total, INT_MIN));
    if (ui->progressBar->maximum() != maximum)
        ui->progressBar->setMaximum(maximum);
    if (finished) {
        ui->progressBar->hide();
        return;
    }
    ui->progressBar->setValue(static_cast<int>(qBound<qlonglong>(0, current, total)));
    if (ui->progressBar->isHidden())
        ui->progressBar->show();
}

void SettingsDialog::retranslateUi()
{
    // Refilling the list must neither reach the adapter nor lose the selection.
    const int index = ui->comboBox->currentIndex();
    const QSignalBlocker blocker(ui->comboBox);
    ui->retranslateUi(this);
    ui->comboBox->setCurrentIndex(index);
    nameControls();
}

void SettingsDialog::nameControls()
{
    Accessibility::setNameAndToolTip(ui->toolButton_Close, tr("Close"));
    ui->comboBox->setAccessibleName(ui->label->text());
}

void SettingsDialog::onBootModeIndexChanged(int index)
{
    if (!isVisible() || index < 0 || index == m_bootMode)
        return;
    emit bootModeChanged(index);
    m_bootMode = index;
}
