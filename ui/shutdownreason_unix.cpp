// SPDX-License-Identifier: GPL-3.0-or-later
#include "shutdownreason.h"

namespace ShutdownReason {

void show(QWidget *, const QString &) { }

void clear(QWidget *) { }

} // namespace ShutdownReason
