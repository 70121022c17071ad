// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// One logging category per layer, so that QT_LOGGING_RULES can select them (for example
// "corvane.device.debug=true" or "corvane.cloud=false").
Q_DECLARE_LOGGING_CATEGORY(lcDevice) // corvane.device: HID access, commands, presence
Q_DECLARE_LOGGING_CATEGORY(lcEngine) // corvane.engine: updates, restores, backups, history
Q_DECLARE_LOGGING_CATEGORY(lcCloud) // corvane.cloud: catalogue, downloads, settings
Q_DECLARE_LOGGING_CATEGORY(lcUi) // corvane.ui: the window program
Q_DECLARE_LOGGING_CATEGORY(lcCli) // corvane.cli: corvane-cli
