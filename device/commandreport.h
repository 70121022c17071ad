// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <cstring>

// One 65-byte request or response of the adapter protocol: report id 0, then code,
// address and length as little-endian 32-bit values and 52 data bytes.
struct CommandReport
{
    static constexpr int Size = 65;
    static constexpr int DataOffset = 13;
    static constexpr int DataSize = 52;

    enum Code : quint32 {
        Code_Erase = 0x55,
        Code_Read = 0x56,
        Code_Write = 0x57,
        Code_Answer = 0x58,
        Code_EraseAnswer = 0x59,
    };

    quint8 bytes[Size] = {};

    quint8 reportId() const { return bytes[0]; }
    quint32 code() const { return field(1); }
    quint32 address() const { return field(5); }
    quint32 length() const { return field(9); }
    void setCode(quint32 v) { setField(1, v); }
    void setAddress(quint32 v) { setField(5, v); }
    void setLength(quint32 v) { setField(9, v); }
    quint8 *data() { return bytes + DataOffset; }
    const quint8 *data() const { return bytes + DataOffset; }

    // Clears report id, code, address and length.
    void clearHeader() { std::memset(bytes, 0, DataOffset); }

    static CommandReport request(quint32 code, quint32 address, quint32 length)
    {
        CommandReport r;
        r.setCode(code);
        r.setAddress(address);
        r.setLength(length);
        return r;
    }

private:
    quint32 field(int offset) const
    {
        return quint32(bytes[offset]) | quint32(bytes[offset + 1]) << 8
            | quint32(bytes[offset + 2]) << 16 | quint32(bytes[offset + 3]) << 24;
    }
    void setField(int offset, quint32 v)
    {
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = quint8(v >> (8 * i));
    }
};
