// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteremulator.h"

#include "emulatorcore.h"
#include "emulatorsystem.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace AdapterEmulator {

namespace {

    constexpr quint64 FlashEnd = quint64(FlashBase) + FlashSize;
    constexpr quint64 UniqueIdEnd = quint64(UniqueIdAddress) + Core::UniqueIdSize;
    constexpr quint32 FirmwareInfoAddress = 0x08004000;
    constexpr quint32 PayloadAddress = 0x08010000;
    constexpr quint32 ConfigBootModeOffset = 0x82;

    constexpr quint32 CodeErase = 0x55;
    constexpr quint32 CodeRead = 0x56;
    constexpr quint32 CodeWrite = 0x57;
    constexpr quint32 CodeAnswer = 0x58;
    constexpr quint32 CodeEraseAnswer = 0x59;
    constexpr quint32 CodeWrongAnswer = 0x5A;

    // State file: magic, format version, flash size, flash image, unique id, attached flag,
    // faults. All integers little-endian. Version 2 adds the erase time; version 1 files
    // (without it) are still read.
    const char StateMagic[8] = { 'C', 'V', 'X', '9', 'E', 'M', 'U', 'S' };
    constexpr quint32 StateVersion = 2;
    constexpr int StateFaultCount = 7;
    constexpr qint64 StateFileSizeV1
        = 8 + 4 + 4 + qint64(FlashSize) + Core::UniqueIdSize + 1 + StateFaultCount * 8 + 1 + 4;
    constexpr qint64 StateFileSize = StateFileSizeV1 + 4;
    constexpr qint64 StateFlashOffset = 16; // the flash image follows magic, version and size
    constexpr int MaxLatencyUs = 10 * 1000 * 1000;
    constexpr int MaxEraseMs = 60 * 1000;

    quint32 le32(const quint8 *p)
    {
        return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    }

    void putLe32(quint8 *p, quint32 v)
    {
        for (int i = 0; i < 4; ++i)
            p[i] = quint8(v >> (8 * i));
    }

    bool inFlash(quint64 address)
    {
        return address >= FlashBase && address < FlashEnd;
    }

    quint8 readByteLocked(const Core::State &s, quint64 address)
    {
        if (inFlash(address))
            return s.flash.at(quint32(address - FlashBase));
        if (address >= UniqueIdAddress && address < UniqueIdEnd)
            return s.uniqueId[address - UniqueIdAddress];
        return 0x00;
    }

    // Reads what the adapter answers for [address, address + length); unmapped bytes read 0.
    void readMemoryLocked(const Core::State &s, quint32 address, quint8 *out, quint32 length)
    {
        const quint64 start = address;
        if (inFlash(start) && start + length <= FlashEnd) {
            s.flash.read(quint32(start - FlashBase), out, length);
            return;
        }
        for (quint32 i = 0; i < length; ++i)
            out[i] = readByteLocked(s, start + i);
    }

    // Copies flash bytes [offset, offset + length) into the state file as they now are.
    void writeThroughLocked(const Core::State &s, quint32 offset, quint32 length)
    {
        if (s.writeThrough < 0)
            return;
        quint8 bytes[4096];
        for (quint32 done = 0; done < length;) {
            const quint32 n = std::min<quint32>(length - done, sizeof bytes);
            s.flash.read(offset + done, bytes, n);
            const qint64 written = EmulatorSystem::writeAt(
                s.writeThrough, bytes, n, StateFlashOffset + qint64(offset) + qint64(done));
            if (written <= 0) {
                qWarning("corvane emulator: cannot write the state file through");
                return;
            }
            done += quint32(written);
        }
    }

    // Raw store that ignores the NOR rules; only flash and the unique id take bytes.
    void writeRawLocked(Core::State &s, quint32 address, const quint8 *bytes, quint32 length)
    {
        for (quint32 i = 0; i < length; ++i) {
            const quint64 a = quint64(address) + i;
            if (inFlash(a))
                s.flash.store(quint32(a - FlashBase), bytes[i]);
            else if (a >= UniqueIdAddress && a < UniqueIdEnd)
                s.uniqueId[a - UniqueIdAddress] = bytes[i];
        }
    }

    // The payload at 0x08010000 and the record's fields as an update writes them: 0x55, the
    // payload's address, the version, its length and MD5 digest, 0xAA at byte 255. The
    // configuration bytes between them are left as they are.
    void seedFirmwareLocked(
        Core::State &s, quint8 major, quint8 minor, quint8 patch, const QByteArray &payload)
    {
        quint8 head[28] = { 0x55, 0, 0, 0, 0, major, minor, patch };
        putLe32(head + 1, PayloadAddress);
        putLe32(head + 8, quint32(payload.size()));
        const QByteArray digest = QCryptographicHash::hash(payload, QCryptographicHash::Md5);
        std::memcpy(head + 12, digest.constData(), 16);
        writeRawLocked(s, FirmwareInfoAddress, head, sizeof head);
        const quint8 tail = 0xAA;
        writeRawLocked(s, FirmwareInfoAddress + 255, &tail, 1);
        writeRawLocked(s, PayloadAddress, reinterpret_cast<const quint8 *>(payload.constData()),
            quint32(payload.size()));
    }

    int sectorOfAddress(quint64 address)
    {
        if (!inFlash(address))
            return -1;
        const quint64 offset = address - FlashBase;
        if (offset < 0x10000)
            return int(offset / 0x4000);
        if (offset < 0x20000)
            return 4;
        return 5 + int((offset - 0x20000) / 0x20000);
    }

    void putLe64(QByteArray &out, qint64 v)
    {
        for (int i = 0; i < 8; ++i)
            out.append(char(quint64(v) >> (8 * i)));
    }

    qint64 le64(const quint8 *p)
    {
        quint64 v = 0;
        for (int i = 0; i < 8; ++i)
            v |= quint64(p[i]) << (8 * i);
        return qint64(v);
    }

} // namespace

namespace {

    // The adapters, made at first use and never destroyed.
    struct Registry
    {
        std::mutex mutex;
        Core::State *adapters[MaxAdapters] = {};
        std::atomic<int> made { 0 };
        std::atomic<int> count { 1 };
        std::atomic<int> selected { 0 };
    };

    Registry &registry()
    {
        static Registry *const r = new Registry;
        return *r;
    }

} // namespace

namespace Core {

    namespace {
        constexpr quint32 PageSize = 4096;
    }

    NorStore::NorStore(quint32 size) : m_size(size)
    {
        // Fresh pages read as zeros (erased) and take no memory until written.
        void *pages = EmulatorSystem::allocatePages(size);
        if (!pages)
            qFatal("corvane emulator: no memory for the emulated flash");
        m_bits = static_cast<quint8 *>(pages);
    }

    NorStore::~NorStore()
    {
        EmulatorSystem::releasePages(m_bits, m_size);
    }

    void NorStore::read(quint32 offset, quint8 *out, quint32 length) const
    {
        for (quint32 i = 0; i < length; ++i)
            out[i] = quint8(~m_bits[offset + i]);
    }

    void NorStore::erase(quint32 offset, quint32 length)
    {
        // Whole pages go back to the system (they read as zeros again); the rest is cleared.
        const quint32 first = (offset + PageSize - 1) / PageSize * PageSize;
        const quint32 end = offset + length;
        const quint32 last = end / PageSize * PageSize;
        if (first < last && EmulatorSystem::clearPages(m_bits + first, last - first)) {
            std::memset(m_bits + offset, 0, first - offset);
            std::memset(m_bits + last, 0, end - last);
        } else {
            std::memset(m_bits + offset, 0, length);
        }
    }

    void NorStore::assign(const quint8 *image)
    {
        static const QByteArray erasedPage(int(PageSize), char(0xFF));
        erase(0, m_size);
        for (quint32 page = 0; page < m_size; page += PageSize) {
            const quint32 length = std::min(PageSize, m_size - page);
            const quint8 *from = image + page;
            if (std::memcmp(from, erasedPage.constData(), length) == 0)
                continue;
            for (quint32 i = 0; i < length; ++i)
                m_bits[page + i] = quint8(~from[i]);
        }
    }

    void NorStore::copyTo(quint8 *image) const
    {
        read(0, image, m_size);
    }

    State &adapter(int index)
    {
        Registry &r = registry();
        const int i = qBound(0, index, MaxAdapters - 1);
        std::lock_guard<std::mutex> lock(r.mutex);
        if (!r.adapters[i]) {
            auto *fresh = new State;
            fresh->index = i;
            fresh->present = i < r.count;
            resetLocked(*fresh);
            r.adapters[i] = fresh;
            r.made = std::max(r.made.load(), i + 1);
        }
        return *r.adapters[i];
    }

    State &state()
    {
        return adapter(registry().selected);
    }

    int adaptersMade()
    {
        return registry().made;
    }

    void resetLocked(State &s)
    {
        s.flash.erase(0, FlashSize);
        static const char factoryName[] = "CORVANE-X9";
        writeRawLocked(s, FactoryInfoAddress, reinterpret_cast<const quint8 *>(factoryName),
            sizeof factoryName - 1);
        for (int i = 0; i < UniqueIdSize; ++i)
            s.uniqueId[i] = quint8(i * 0x11);
        // Every adapter of the set has its own serial number.
        s.uniqueId[0] = quint8(s.index);
        seedFirmwareLocked(s, 5, 6, 0, QByteArray());
        s.attached = true;
        s.openRefused = false;
        s.faults = Faults();
        s.exchanges = 0;
        s.writeCommands = 0;
        s.eraseLog.clear();
        s.queueHead = 0;
        s.queueCount = 0;
        s.modified = false;
        s.changed.notify_all();
    }

    void detachLocked(State &s)
    {
        s.attached = false;
        s.modified = true;
        ++s.generation;
        s.queueHead = 0;
        s.queueCount = 0;
        s.changed.notify_all();
    }

    bool handleRequestLocked(State &s, const quint8 *body)
    {
        const qint64 exchange = ++s.exchanges;
        const Faults &f = s.faults;
        if (exchange == f.unplugAtExchange) {
            detachLocked(s);
            return false;
        }

        const quint32 code = le32(body);
        const quint32 address = le32(body + 4);
        const quint32 length = le32(body + 8);
        const quint8 *data = body + 12;
        const quint32 count = std::min<quint32>(length, MaxDataLength);

        // The answer is built in place in the queue; a stalled or overflowing answer goes to a
        // scratch slot and is dropped, while the command itself still takes effect.
        Answer scratch;
        const bool queued = exchange != f.stallAtExchange && s.queueCount < QueueCapacity;
        Answer &answer = queued ? s.queue[(s.queueHead + s.queueCount) % QueueCapacity] : scratch;
        std::memset(answer.bytes, 0, sizeof answer.bytes);
        answer.size = ReportSize;
        answer.readyAt = std::chrono::steady_clock::now();
        quint8 *answerData = answer.bytes + 12;

        quint32 answerCode = 0;
        quint32 answerAddress = address;
        quint32 answerLength = length;
        switch (code) {
        case CodeRead:
            answerCode = CodeAnswer;
            answerLength = count;
            readMemoryLocked(s, address, answerData, count);
            break;
        case CodeWrite: {
            const qint64 writeNumber = ++s.writeCommands;
            s.modified = true;
            quint64 first = FlashEnd;
            quint64 last = 0;
            for (quint32 i = 0; i < count; ++i) {
                const quint64 a = quint64(address) + i;
                if (inFlash(a)) {
                    s.flash.program(quint32(a - FlashBase), data[i]);
                    first = std::min(first, a);
                    last = a;
                }
            }
            if (first <= last)
                writeThroughLocked(s, quint32(first - FlashBase), quint32(last - first + 1));
            answerCode = CodeAnswer;
            answerLength = count;
            readMemoryLocked(s, address, answerData, count);
            if (writeNumber == f.corruptEchoAtWrite && count > 0)
                answerData[count - 1] ^= 0x01;
            break;
        }
        case CodeErase: {
            QList<quint8> sectors;
            sectors.reserve(int(count));
            for (quint32 i = 0; i < count; ++i)
                sectors.append(data[i]);
            s.eraseLog.append(sectors);
            if (!f.refuseErase) {
                s.modified = true;
                qint64 eraseMs = 0;
                for (quint32 i = 0; i < count; ++i) {
                    const int sector = data[i];
                    if (sector < SectorCount) {
                        s.flash.erase(sectorStart(sector) - FlashBase, sectorSize(sector));
                        writeThroughLocked(s, sectorStart(sector) - FlashBase, sectorSize(sector));
                        eraseMs += qint64(sectorSize(sector)) * f.eraseMsPer128KiB / 0x20000;
                    }
                }
                answer.readyAt += std::chrono::milliseconds(eraseMs);
            }
            answerCode = f.refuseErase ? CodeAnswer : CodeEraseAnswer;
            answerAddress = 0;
            answerLength = count;
            break;
        }
        default:
            // Unknown command: an answer no request accepts.
            break;
        }

        if (exchange == f.wrongCodeAtExchange)
            answerCode = CodeWrongAnswer;
        if (exchange == f.wrongAddressAtExchange)
            answerAddress += 4;
        if (exchange == f.wrongLengthAtExchange)
            answerLength -= 1;
        if (exchange == f.shortReportAtExchange)
            answer.size = ShortReportSize;
        putLe32(answer.bytes, answerCode);
        putLe32(answer.bytes + 4, answerAddress);
        putLe32(answer.bytes + 8, answerLength);

        if (queued) {
            ++s.queueCount;
            s.changed.notify_all();
        }
        return true;
    }

    bool popAnswerLocked(State &s, Answer &out)
    {
        if (s.queueCount == 0)
            return false;
        out = s.queue[s.queueHead];
        s.queueHead = (s.queueHead + 1) % QueueCapacity;
        --s.queueCount;
        return true;
    }

    QByteArray uniqueIdHexLocked(const State &s)
    {
        return QByteArray(reinterpret_cast<const char *>(s.uniqueId), UniqueIdSize).toHex();
    }

} // namespace Core

void reset()
{
    setAdapterCount(1);
    selectAdapter(0);
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    Core::resetLocked(s);
}

void setAdapterCount(int count)
{
    const int n = qBound(0, count, MaxAdapters);
    Registry &r = registry();
    const int made = std::max(Core::adaptersMade(), n);
    r.count = n;
    for (int i = 0; i < made; ++i) {
        Core::State &s = Core::adapter(i);
        std::lock_guard<std::mutex> lock(s.mutex);
        if (i < n && !s.present) {
            Core::resetLocked(s);
            s.present = true;
        } else if (i >= n && s.present) {
            Core::detachLocked(s);
            s.present = false;
        }
    }
}

int adapterCount()
{
    return registry().count;
}

void selectAdapter(int index)
{
    registry().selected = qBound(0, index, MaxAdapters - 1);
}

int selectedAdapter()
{
    return registry().selected;
}

QStringList stateFiles(const QString &directory)
{
    QStringList names = QDir(directory).entryList({ QStringLiteral("*.state") }, QDir::Files);
    // adapter-2 before adapter-10.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    QStringList paths;
    for (const QString &name : qAsConst(names))
        paths.append(QDir(directory).filePath(name));
    return paths.mid(0, MaxAdapters);
}

void setAttached(bool attached)
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (attached)
        s.attached = true;
    else
        Core::detachLocked(s);
}

bool isAttached()
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.attached;
}

void setOpenRefused(bool refused)
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.openRefused = refused;
}

void setUniqueId(const QByteArray &id12)
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const int n = std::min(int(id12.size()), Core::UniqueIdSize);
    std::memset(s.uniqueId, 0, sizeof s.uniqueId);
    std::memcpy(s.uniqueId, id12.constData(), size_t(n));
}

QByteArray uniqueId()
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return QByteArray(reinterpret_cast<const char *>(s.uniqueId), Core::UniqueIdSize);
}

void seedFirmwareVersion(quint8 major, quint8 minor, quint8 patch)
{
    seedFirmware(major, minor, patch, QByteArray());
}

void seedFirmware(quint8 major, quint8 minor, quint8 patch, const QByteArray &payload)
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    seedFirmwareLocked(s, major, minor, patch, payload.left(int(FlashSize - 0x10000)));
}

QByteArray samplePayload(quint8 major, quint8 minor, quint8 patch)
{
    QByteArray payload(SamplePayloadSize, '\0');
    for (int i = 0; i < SamplePayloadSize; ++i)
        payload[i] = char((i * 13 + i / 509 + major * 7 + minor * 3 + patch) & 0xFF);
    return payload;
}

void seedUpdatedAdapter(quint8 major, quint8 minor, quint8 patch, quint8 bootMode)
{
    seedDefaultConfiguration(bootMode);
    seedFirmware(major, minor, patch, samplePayload(major, minor, patch));
}

void seedDefaultConfiguration(quint8 bootMode)
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    writeRawLocked(s, FirmwareInfoAddress + ConfigBootModeOffset, &bootMode, 1);

    quint8 block[66] = {};
    block[0] = 0x42;
    block[64] = 0xAA;
    block[65] = 0x55;
    writeRawLocked(s, 0x08010000, block, sizeof block);
    writeRawLocked(s, 0x08020000, block, sizeof block);
    std::fill_n(block + 3, 6, quint8(0xFF));
    writeRawLocked(s, 0x08008000, block, sizeof block);
}

QByteArray memory(quint32 address, quint32 length)
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    // Reads past the end of the 32-bit address space are cut short.
    const quint32 n = quint32(std::min<quint64>(length, 0x100000000ULL - address));
    QByteArray out(int(std::min<quint32>(n, 0x7FFFFFFF)), Qt::Uninitialized);
    readMemoryLocked(s, address, reinterpret_cast<quint8 *>(out.data()), quint32(out.size()));
    return out;
}

void setMemory(quint32 address, const QByteArray &bytes)
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const quint32 n = quint32(std::min<quint64>(quint64(bytes.size()), 0x100000000ULL - address));
    writeRawLocked(s, address, reinterpret_cast<const quint8 *>(bytes.constData()), n);
}

int sectorOf(quint32 address)
{
    return sectorOfAddress(address);
}

quint32 sectorStart(int sector)
{
    if (sector < 0 || sector >= SectorCount)
        return 0;
    if (sector < 4)
        return FlashBase + quint32(sector) * 0x4000;
    if (sector == 4)
        return FlashBase + 0x10000;
    return FlashBase + 0x20000 + quint32(sector - 5) * 0x20000;
}

quint32 sectorSize(int sector)
{
    if (sector < 0 || sector >= SectorCount)
        return 0;
    if (sector < 4)
        return 0x4000;
    return sector == 4 ? 0x10000 : 0x20000;
}

void injectInputReport(const QByteArray &body)
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.queueCount >= Core::QueueCapacity)
        return;
    Core::Answer &answer = s.queue[(s.queueHead + s.queueCount) % Core::QueueCapacity];
    std::memset(answer.bytes, 0, sizeof answer.bytes);
    std::memcpy(
        answer.bytes, body.constData(), size_t(std::min<int>(body.size(), Core::ReportSize)));
    answer.size = Core::ReportSize;
    answer.readyAt = std::chrono::steady_clock::now();
    ++s.queueCount;
    s.changed.notify_all();
}

void setFaults(const Faults &faults)
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.faults = faults;
    s.faults.latencyUsPerReport = qBound(0, faults.latencyUsPerReport, MaxLatencyUs);
    s.faults.eraseMsPer128KiB = qBound(0, faults.eraseMsPer128KiB, MaxEraseMs);
}

Faults faults()
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.faults;
}

qint64 exchangeCount()
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.exchanges;
}

qint64 writeCommandCount()
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.writeCommands;
}

QList<QList<quint8>> eraseLog()
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.eraseLog;
}

void resetCounters()
{
    Core::State &s = Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.exchanges = 0;
    s.writeCommands = 0;
    s.eraseLog.clear();
}

bool saveState(const QString &path)
{
    return Core::saveStateOf(Core::state(), path);
}

bool loadState(const QString &path)
{
    return Core::loadStateOf(Core::state(), path);
}

bool Core::saveStateOf(State &s, const QString &path)
{
    QByteArray out;
    out.reserve(int(StateFileSize));
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        out.append(StateMagic, sizeof StateMagic);
        quint8 word[4];
        putLe32(word, StateVersion);
        out.append(reinterpret_cast<const char *>(word), 4);
        putLe32(word, FlashSize);
        out.append(reinterpret_cast<const char *>(word), 4);
        const int at = out.size();
        out.resize(at + int(FlashSize));
        s.flash.copyTo(reinterpret_cast<quint8 *>(out.data()) + at);
        out.append(reinterpret_cast<const char *>(s.uniqueId), Core::UniqueIdSize);
        out.append(char(s.attached ? 1 : 0));
        const Faults &f = s.faults;
        for (qint64 v : { f.unplugAtExchange, f.corruptEchoAtWrite, f.wrongCodeAtExchange,
                 f.wrongAddressAtExchange, f.wrongLengthAtExchange, f.shortReportAtExchange,
                 f.stallAtExchange })
            putLe64(out, v);
        out.append(char(f.refuseErase ? 1 : 0));
        putLe32(word, quint32(f.latencyUsPerReport));
        out.append(reinterpret_cast<const char *>(word), 4);
        putLe32(word, quint32(f.eraseMsPer128KiB));
        out.append(reinterpret_cast<const char *>(word), 4);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(out) != out.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool Core::writeThroughTo(State &s, const QString &path)
{
    const int fd = path.isEmpty() ? -1 : EmulatorSystem::openForWriting(path);
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.writeThrough >= 0)
        EmulatorSystem::close(s.writeThrough);
    s.writeThrough = fd;
    return path.isEmpty() || fd >= 0;
}

bool Core::loadStateOf(State &s, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)
        || (file.size() != StateFileSize && file.size() != StateFileSizeV1))
        return false;
    const QByteArray in = file.read(StateFileSize + 1);
    const auto *p = reinterpret_cast<const quint8 *>(in.constData());
    const quint32 version = in.size() >= 16 ? le32(p + 8) : 0;
    if (in.size() != (version == 1 ? StateFileSizeV1 : StateFileSize)
        || std::memcmp(p, StateMagic, sizeof StateMagic) != 0 || version < 1
        || version > StateVersion || le32(p + 12) != FlashSize)
        return false;
    p += 16;
    const quint8 *flash = p;
    p += FlashSize;
    const quint8 *uid = p;
    p += Core::UniqueIdSize;
    const quint8 attached = *p++;
    qint64 values[StateFaultCount];
    for (qint64 &v : values) {
        v = le64(p);
        p += 8;
    }
    const quint8 refuseErase = *p++;
    const qint64 latency = qint32(le32(p));
    p += 4;
    const qint64 eraseMs = version >= 2 ? qint32(le32(p)) : 0;
    if (attached > 1 || refuseErase > 1 || latency < 0 || latency > MaxLatencyUs || eraseMs < 0
        || eraseMs > MaxEraseMs)
        return false;

    Faults f;
    f.unplugAtExchange = values[0];
    f.corruptEchoAtWrite = values[1];
    f.wrongCodeAtExchange = values[2];
    f.wrongAddressAtExchange = values[3];
    f.wrongLengthAtExchange = values[4];
    f.shortReportAtExchange = values[5];
    f.stallAtExchange = values[6];
    f.refuseErase = refuseErase != 0;
    f.latencyUsPerReport = int(latency);
    f.eraseMsPer128KiB = int(eraseMs);

    std::lock_guard<std::mutex> lock(s.mutex);
    s.flash.assign(flash);
    std::memcpy(s.uniqueId, uid, Core::UniqueIdSize);
    if (attached)
        s.attached = true;
    else
        Core::detachLocked(s);
    s.faults = f;
    s.exchanges = 0;
    s.writeCommands = 0;
    s.eraseLog.clear();
    s.queueHead = 0;
    s.queueCount = 0;
    s.modified = false;
    return true;
}

} // namespace AdapterEmulator
