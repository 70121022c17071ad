#pragma once

#include <QByteArray>

namespace TestData {

// Deterministic bytes that differ from seed to seed and do not repeat every 256 bytes, so
// a block written to the wrong place or a chunk written twice shows.
inline QByteArray pattern(int length, int seed)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char((i * 31 + seed + i / 251) & 0xFF);
    return bytes;
}

} // namespace TestData
