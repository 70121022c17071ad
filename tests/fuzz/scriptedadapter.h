// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

// hidapi's functions over a small adapter model whose answers are altered by a script (the
// fuzz input): before each answer one script byte picks what happens to it. Without a
// script every answer is right. For the fuzz build only; single-threaded use.
namespace ScriptedAdapter {

constexpr quint32 FlashBase = 0x08000000;
constexpr quint32 FlashSize = 0x80000; // sectors 0 to 6
constexpr quint32 UniqueIdAddress = 0x1FFF7A10;

// Fresh memory (a fixed pattern, the firmware information record of 5.6.0) and the script.
void reset(const uint8_t *script, size_t size);
// The model's memory; bytes outside flash and the unique id read as 0.
QByteArray memory(quint32 address, quint32 length);
// True once an answer was delivered whose data bytes were altered while its header was
// right: the protocol has no way to notice that in a read.
bool silentlyCorrupted();

} // namespace ScriptedAdapter
