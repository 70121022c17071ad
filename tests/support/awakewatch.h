// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// Sees from outside a flash job whether it keeps the system awake. Linux: a fake logind on a
// private system bus hands out the inhibitor locks the job asks for and tells whether the last
// one is still held. Windows: the system's execution state, which the job's thread sets.
class AwakeWatch
{
public:
    AwakeWatch();
    ~AwakeWatch();

    // Starts watching; empty when it works here, otherwise why it cannot (checks then skip).
    QString start();
    // The locks asked for so far, one "what|who|why|mode|erases before" line each (Linux;
    // empty on Windows, where nothing is asked for).
    QStringList requests() const;
    // Whether the system is being kept awake now.
    bool held() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
