// SPDX-License-Identifier: GPL-3.0-or-later
#include "logcategories.h"

Q_LOGGING_CATEGORY(lcDevice, "corvane.device")
Q_LOGGING_CATEGORY(lcEngine, "corvane.engine")
Q_LOGGING_CATEGORY(lcCloud, "corvane.cloud")
Q_LOGGING_CATEGORY(lcUi, "corvane.ui")
Q_LOGGING_CATEGORY(lcCli, "corvane.cli")
