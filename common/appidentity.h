// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "corvaneversion.h"

#include <QCoreApplication>
#include <QString>

// The tool's application identity. Application and organisation names decide the
// per-user data directory that holds the settings file and the firmware cache, so the
// window and corvane-cli share them.
namespace AppIdentity {

inline QString applicationName()
{
    return QStringLiteral("Corvane X9 Firmware Tool");
}
inline QString applicationVersion()
{
    return QStringLiteral(CORVANE_VERSION);
}
inline QString organizationName()
{
    return QStringLiteral("Corvane");
}
inline QString organizationDomain()
{
    return QStringLiteral("www.corvane.com");
}

inline void apply()
{
    QCoreApplication::setApplicationName(applicationName());
    QCoreApplication::setApplicationVersion(applicationVersion());
    QCoreApplication::setOrganizationName(organizationName());
    QCoreApplication::setOrganizationDomain(organizationDomain());
}

} // namespace AppIdentity
