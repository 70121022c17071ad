// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

// Shared by the fuzz targets: a core application for the code that needs one, silence for
// the log lines the code under test writes on every input, and a reader over the input.
namespace FuzzSupport {

// Creates the QCoreApplication once and drops every message below fatal.
void initialise();

// Aborts with the message (the fuzzer records the input as a finding).
[[noreturn]] void fail(const char *what);

inline void check(bool condition, const char *what)
{
    if (!condition)
        fail(what);
}

// Consumes the fuzz input front to back; past its end every read gives 0 / empty.
class Input
{
public:
    Input(const uint8_t *data, size_t size) : m_data(data), m_size(size) { }

    bool atEnd() const { return m_pos >= m_size; }
    size_t remaining() const { return m_size - m_pos; }
    quint8 byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    quint16 u16() { return quint16(byte() | byte() << 8); }
    quint32 u32() { return quint32(u16()) | quint32(u16()) << 16; }
    // Up to n bytes (fewer at the end of the input).
    QByteArray bytes(size_t n)
    {
        const size_t take = qMin(n, remaining());
        QByteArray out(reinterpret_cast<const char *>(m_data + m_pos), int(take));
        m_pos += take;
        return out;
    }
    QByteArray rest() { return bytes(remaining()); }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

} // namespace FuzzSupport
