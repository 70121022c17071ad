// SPDX-License-Identifier: GPL-3.0-or-later
#include "scriptedadapter.h"

#include <hidapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

struct hid_device_
{
    int unused = 0;
};

namespace ScriptedAdapter {

namespace {

    constexpr int BodySize = 64;
    constexpr int DataOffset = 12; // in a report body (no report id)
    constexpr int DataSize = 52;

    struct Model
    {
        std::vector<quint8> flash = std::vector<quint8>(FlashSize);
        quint8 uniqueId[12] = {};
        const uint8_t *script = nullptr;
        size_t scriptSize = 0;
        size_t scriptPos = 0;
        bool corrupted = false;
        // The pending answer and how many empty reads come before it.
        quint8 answer[BodySize + 1] = {};
        int answerSize = 0;
        bool hasAnswer = false;
        int emptyReads = 0;
        bool failNextRead = false;
        hid_device_ handle;
    };

    Model &model()
    {
        static Model *m = new Model;
        return *m;
    }

    quint8 next()
    {
        Model &m = model();
        return m.scriptPos < m.scriptSize ? m.script[m.scriptPos++] : 0;
    }

    quint32 le32(const quint8 *p)
    {
        return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    }

    void putLe32(quint8 *p, quint32 v)
    {
        for (int i = 0; i < 4; ++i)
            p[i] = quint8(v >> (8 * i));
    }

    quint8 *byteAt(quint64 address)
    {
        Model &m = model();
        if (address >= FlashBase && address < quint64(FlashBase) + FlashSize)
            return &m.flash[address - FlashBase];
        if (address >= UniqueIdAddress && address < quint64(UniqueIdAddress) + 12)
            return &m.uniqueId[address - UniqueIdAddress];
        return nullptr;
    }

    quint32 sectorStart(int sector)
    {
        if (sector < 4)
            return FlashBase + quint32(sector) * 0x4000;
        return sector == 4 ? FlashBase + 0x10000
                           : FlashBase + 0x20000 + quint32(sector - 5) * 0x20000;
    }

    quint32 sectorSize(int sector)
    {
        return sector < 4 ? 0x4000 : sector == 4 ? 0x10000 : 0x20000;
    }

    // The right answer to a request body, as the adapter gives it.
    void answerRequest(const quint8 *body, quint8 *out)
    {
        const quint32 code = le32(body);
        const quint32 address = le32(body + 4);
        const quint32 length = le32(body + 8);
        const quint32 count = std::min<quint32>(length, DataSize);
        quint32 answerCode = 0;
        quint32 answerLength = length;
        quint32 answerAddress = address;
        if (code == 0x56 || code == 0x57) {
            for (quint32 i = 0; i < count; ++i) {
                quint8 *b = byteAt(quint64(address) + i);
                if (code == 0x57 && b)
                    *b = body[DataOffset + i];
                out[DataOffset + i] = b ? *b : 0;
            }
            answerCode = 0x58;
            answerLength = count;
        } else if (code == 0x55) {
            for (quint32 i = 0; i < count; ++i) {
                const int sector = body[DataOffset + i];
                if (sector <= 6)
                    std::fill_n(model().flash.begin() + (sectorStart(sector) - FlashBase),
                        sectorSize(sector), quint8(0xFF));
            }
            answerCode = 0x59;
            answerAddress = 0;
            answerLength = count;
        }
        putLe32(out, answerCode);
        putLe32(out + 4, answerAddress);
        putLe32(out + 8, answerLength);
    }

} // namespace

void reset(const uint8_t *script, size_t size)
{
    Model &m = model();
    static const std::vector<quint8> pristine = [] {
        std::vector<quint8> flash(FlashSize);
        for (quint32 i = 0; i < FlashSize; ++i)
            flash[i] = quint8((i * 7 + i / 509) & 0xFF);
        const quint8 record[8] = { 0x55, 0x00, 0x00, 0x01, 0x08, 5, 6, 0 };
        std::memcpy(&flash[0x4000], record, sizeof record);
        flash[0x4000 + 255] = 0xAA;
        return flash;
    }();
    m.flash = pristine;
    for (int i = 0; i < 12; ++i)
        m.uniqueId[i] = quint8(i * 0x11);
    m.script = script;
    m.scriptSize = size;
    m.scriptPos = 0;
    m.corrupted = false;
    m.hasAnswer = false;
    m.emptyReads = 0;
    m.failNextRead = false;
}

QByteArray memory(quint32 address, quint32 length)
{
    QByteArray out(int(length), '\0');
    for (quint32 i = 0; i < length; ++i) {
        const quint8 *b = byteAt(quint64(address) + i);
        out[int(i)] = char(b ? *b : 0);
    }
    return out;
}

bool silentlyCorrupted()
{
    return model().corrupted;
}

} // namespace ScriptedAdapter

using namespace ScriptedAdapter;

extern "C" {

int hid_init(void)
{
    return 0;
}

int hid_exit(void)
{
    return 0;
}

hid_device *hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t *)
{
    if (vendor_id != 0x0E3A || product_id != 0xB471)
        return nullptr;
    return &model().handle;
}

hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    if ((vendor_id != 0 && vendor_id != 0x0E3A) || (product_id != 0 && product_id != 0xB471))
        return nullptr;
    auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
    if (!info)
        return nullptr;
    info->path = strdup("scripted");
    info->vendor_id = 0x0E3A;
    info->product_id = 0xB471;
    return info;
}

void hid_free_enumeration(hid_device_info *devices)
{
    while (devices) {
        hid_device_info *next = devices->next;
        std::free(devices->path);
        std::free(devices);
        devices = next;
    }
}

hid_device *hid_open_path(const char *path)
{
    return path && std::strcmp(path, "scripted") == 0 ? &model().handle : nullptr;
}

void hid_close(hid_device *) { }

int hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    Model &m = model();
    if (!dev || !data || length != size_t(BodySize + 1) || data[0] != 0)
        return -1;
    const quint8 op = next();
    if (op % 8 == 6)
        return -1; // the request never reaches the adapter
    quint8 body[BodySize];
    std::memcpy(body, data + 1, BodySize);
    std::memset(m.answer, 0, sizeof m.answer);
    answerRequest(body, m.answer);
    m.answerSize = BodySize;
    m.hasAnswer = true;
    m.emptyReads = op & 0x80 ? (op >> 4) & 7 : 0;
    m.failNextRead = false;
    const quint32 code = le32(body);
    switch (op % 8) {
    case 1: // another answer code
        putLe32(m.answer,
            quint32(next()) | quint32(next()) << 8 | quint32(next()) << 16 | quint32(next()) << 24);
        break;
    case 2: // another address
        putLe32(m.answer + 4, le32(m.answer + 4) + quint32(qint8(next()) | 1));
        break;
    case 3: // another length
        putLe32(m.answer + 8, next());
        break;
    case 4: // a report of 1 to 65 bytes (65: one byte more than a report body)
        m.answerSize = 1 + next() % (BodySize + 1);
        if (m.answerSize == BodySize + 1)
            m.answer[BodySize] = next();
        if (code == 0x56
            && quint32(m.answerSize) < DataOffset + std::min<quint32>(le32(body + 8), DataSize))
            m.corrupted = true;
        break;
    case 5: { // one data byte altered
        const int at = next() % DataSize;
        m.answer[DataOffset + at] ^= quint8(next() | 1);
        if (code == 0x56 && quint32(at) < std::min<quint32>(le32(body + 8), DataSize))
            m.corrupted = true;
        break;
    }
    case 7:
        m.failNextRead = true;
        break;
    default:
        break;
    }
    return int(length);
}

int hid_read_timeout(hid_device *dev, unsigned char *data, size_t length, int)
{
    Model &m = model();
    if (!dev || !data)
        return -1;
    if (m.failNextRead) {
        m.failNextRead = false;
        m.hasAnswer = false;
        return -1;
    }
    if (!m.hasAnswer)
        return -1; // nothing will ever come: an error rather than an endless wait
    if (m.emptyReads > 0) {
        --m.emptyReads;
        return 0;
    }
    m.hasAnswer = false;
    const size_t n = std::min(length, size_t(m.answerSize));
    std::memcpy(data, m.answer, n);
    return int(n);
}

int hid_read(hid_device *dev, unsigned char *data, size_t length)
{
    return hid_read_timeout(dev, data, length, -1);
}

} // extern "C"
