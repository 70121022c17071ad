// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QSharedMemory>
#include <QString>

// Single-instance blocks are System V segments named by a key file: they outlive a process
// that dies without detaching, and their key comes from the file's inode, which a later file
// (another test run's) can reuse. The guard removes such orphans before its own create; tests
// that kill a window or create a block themselves do the same.
namespace OrphanedBlocks {

// Removes the segment that keyFile names when no process is attached to it any more (the
// last detach removes a segment, and Qt its key file with it).
inline void discard(const QString &keyFile)
{
    // The key is made from the file, so it must exist.
    if (!QFile(keyFile).open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QSharedMemory orphan;
    orphan.setNativeKey(keyFile);
    if (orphan.attach())
        orphan.detach();
}

// block.create(size), after discarding an orphan at the block's key.
inline bool create(QSharedMemory &block, int size)
{
    discard(block.nativeKey());
    return block.create(size);
}

} // namespace OrphanedBlocks
