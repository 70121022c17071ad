// SPDX-License-Identifier: GPL-3.0-or-later
#include "logcategories.h"
#include "shutdownreason.h"

#include <QDebug>
#include <QString>
#include <QWidget>

#include <windows.h>

namespace ShutdownReason {

void show(QWidget *window, const QString &reason)
{
    const auto handle = reinterpret_cast<HWND>(window->effectiveWinId());
    const std::wstring text = reason.toStdWString();
    if (!ShutdownBlockReasonCreate(handle, text.c_str()))
        qCWarning(lcUi) << "the reason for refusing the shutdown cannot be shown:"
                        << GetLastError();
}

void clear(QWidget *window)
{
    ShutdownBlockReasonDestroy(reinterpret_cast<HWND>(window->effectiveWinId()));
}

} // namespace ShutdownReason
