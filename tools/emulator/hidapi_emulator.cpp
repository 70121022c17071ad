// SPDX-License-Identifier: GPL-3.0-or-later
// hidapi's C functions over the emulated adapter, so programs and tests run unchanged.
#include "adapteremulator.h"
#include "emulatorcore.h"
#include "emulatorsystem.h"

#include <hidapi.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <thread>

using AdapterEmulator::Core::State;

struct hid_device_
{
    quint64 generation = 0;
    bool nonBlocking = false;
    hid_device_info *info = nullptr;
};

namespace {

const wchar_t Manufacturer[] = L"Corvane";
const wchar_t Product[] = L"Corvane X9 Adapter";
const wchar_t ErrorText[] = L"emulated adapter: request failed or adapter not available";

// How one adapter is kept in its state file.
struct StoredAdapter
{
    bool fresh = false; // no state file existed: the first save creates it
    bool trafficRecorded = false;
    QString path;
    // The adapter's node: a file next to the state file that is never replaced (a save
    // renames a new state file into place), so programs lock it as they lock a real node.
    QByteArray nodePath;
    QByteArray seen; // the state file's signature when this process last loaded or saved it
};

// Persistence of the adapters in the file or directory named by CORVANE_EMULATOR_STATE.
struct Persistence
{
    std::mutex mutex;
    bool initialised = false;
    bool active = false;
    bool exitHandlerRegistered = false;
    QString holdPath; // CORVANE_EMULATOR_HOLD: no answer arrives while this file exists
    StoredAdapter adapters[AdapterEmulator::MaxAdapters];
};

Persistence &persistence()
{
    static Persistence *const p = new Persistence;
    return *p;
}

// An adapter's device path: one adapter per state file, shared by the programs that name it
// (the path of its node file), and otherwise one per process and index. Programs lock the
// adapter by this path.
QByteArray devicePath(int index)
{
    Persistence &p = persistence();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (p.active)
        return p.adapters[index].nodePath;
    QByteArray path = "emulator:pid-" + QByteArray::number(QCoreApplication::applicationPid());
    if (index > 0)
        path += '-' + QByteArray::number(index + 1);
    return path;
}

// The adapters that hid_enumerate() lists, in order.
QList<State *> attachedAdapters()
{
    QList<State *> found;
    const int count = AdapterEmulator::adapterCount();
    for (int i = 0; i < count; ++i) {
        State &s = AdapterEmulator::Core::adapter(i);
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.present && s.attached)
            found.append(&s);
    }
    return found;
}

// The adapter a live handle belongs to; null for a handle that is closed or not ours.
State *adapterOf(const hid_device *dev)
{
    const int made = AdapterEmulator::Core::adaptersMade();
    for (int i = 0; i < made; ++i) {
        State &s = AdapterEmulator::Core::adapter(i);
        std::lock_guard<std::mutex> lock(s.mutex);
        if (std::find(s.handles.begin(), s.handles.end(), dev) != s.handles.end())
            return &s;
    }
    return nullptr;
}

// Saves an adapter when this process changed it (or its file is new); a program that only
// read it must not put back what it loaded over another program's writes.
bool saveLocked(Persistence &p, int index)
{
    if (!p.active)
        return true;
    StoredAdapter &stored = p.adapters[index];
    if (stored.path.isEmpty())
        return true;
    State &s = AdapterEmulator::Core::adapter(index);
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.modified && !stored.fresh)
            return true;
        s.modified = false;
    }
    stored.fresh = false;
    // The save puts a new file in place of the one written through, which Windows does not
    // replace while it is open.
    AdapterEmulator::Core::writeThroughTo(s, QString());
    if (AdapterEmulator::Core::saveStateOf(s, stored.path)) {
        stored.seen = EmulatorSystem::fileSignature(stored.path);
        // The save put a new file in place: the writes that follow go into that one.
        AdapterEmulator::Core::writeThroughTo(s, stored.path);
        return true;
    }
    AdapterEmulator::Core::writeThroughTo(s, stored.path);
    qWarning("corvane emulator: cannot save the state file %s", qPrintable(stored.path));
    return false;
}

bool saveAllLocked(Persistence &p)
{
    bool ok = true;
    for (int i = 0; i < AdapterEmulator::MaxAdapters; ++i)
        ok = saveLocked(p, i) && ok;
    return ok;
}

void saveIfPersisting(int index)
{
    Persistence &p = persistence();
    std::lock_guard<std::mutex> lock(p.mutex);
    saveLocked(p, index);
}

// Another program may have changed the adapter since this one last loaded or saved it: with
// no handle open on it here (the lock kept the others away while one was), the file is the
// adapter.
void reloadIfChanged(int index)
{
    Persistence &p = persistence();
    std::lock_guard<std::mutex> lock(p.mutex);
    StoredAdapter &stored = p.adapters[index];
    if (!p.active || stored.fresh || stored.path.isEmpty())
        return;
    State &s = AdapterEmulator::Core::adapter(index);
    {
        std::lock_guard<std::mutex> stateLock(s.mutex);
        if (!s.handles.empty() || s.modified)
            return;
    }
    const QByteArray now = EmulatorSystem::fileSignature(stored.path);
    if (now.isEmpty() || now == stored.seen)
        return;
    if (AdapterEmulator::Core::loadStateOf(s, stored.path)) {
        stored.seen = now;
        AdapterEmulator::Core::writeThroughTo(s, stored.path);
    } else {
        qWarning("corvane emulator: unreadable state file %s", qPrintable(stored.path));
    }
}

// Appends this process's id to "<state file>.traffic" at its first report to the adapter,
// so tests can tell which programs talked to it.
void recordTraffic(int index)
{
    Persistence &p = persistence();
    std::lock_guard<std::mutex> lock(p.mutex);
    StoredAdapter &stored = p.adapters[index];
    if (!p.active || stored.trafficRecorded || stored.path.isEmpty())
        return;
    stored.trafficRecorded = true;
    QFile log(stored.path + QLatin1String(".traffic"));
    if (log.open(QIODevice::WriteOnly | QIODevice::Append))
        log.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n');
}

QString holdPath()
{
    Persistence &p = persistence();
    std::lock_guard<std::mutex> lock(p.mutex);
    return p.holdPath;
}

bool isLiveLocked(const State &s, const hid_device *dev)
{
    return std::find(s.handles.begin(), s.handles.end(), dev) != s.handles.end();
}

// A handle transfers only while it is open and the adapter has not been detached since.
bool isUsableLocked(const State &s, const hid_device *dev)
{
    return isLiveLocked(s, dev) && s.attached && dev->generation == s.generation;
}

wchar_t *copyWide(const wchar_t *text)
{
    const size_t n = std::wcslen(text) + 1;
    auto *out = static_cast<wchar_t *>(std::malloc(n * sizeof(wchar_t)));
    if (out)
        std::wmemcpy(out, text, n);
    return out;
}

void uniqueIdWideLocked(const State &s, wchar_t (&out)[2 * AdapterEmulator::Core::UniqueIdSize + 1])
{
    const QByteArray hex = AdapterEmulator::Core::uniqueIdHexLocked(s);
    for (int i = 0; i < hex.size(); ++i)
        out[i] = wchar_t(hex.at(i));
    out[hex.size()] = L'\0';
}

hid_device_info *makeInfoLocked(const State &s, const QByteArray &path)
{
    auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
    if (!info)
        return nullptr;
    wchar_t serial[2 * AdapterEmulator::Core::UniqueIdSize + 1];
    uniqueIdWideLocked(s, serial);
    info->path = strdup(path.constData());
    info->vendor_id = AdapterEmulator::VendorId;
    info->product_id = AdapterEmulator::ProductId;
    info->serial_number = copyWide(serial);
    info->release_number = 0x0100;
    info->manufacturer_string = copyWide(Manufacturer);
    info->product_string = copyWide(Product);
    info->usage_page = 0xFF00;
    info->usage = 0x0001;
    info->interface_number = 0;
    info->next = nullptr;
    info->bus_type = HID_API_BUS_USB;
    return info;
}

void freeInfo(hid_device_info *info)
{
    std::free(info->path);
    std::free(info->serial_number);
    std::free(info->manufacturer_string);
    std::free(info->product_string);
    std::free(info);
}

hid_device *openLocked(State &s, const QByteArray &path)
{
    if (!s.present || !s.attached || s.openRefused)
        return nullptr;
    auto *dev = new hid_device;
    dev->generation = s.generation;
    dev->info = makeInfoLocked(s, path);
    s.handles.push_back(dev);
    return dev;
}

// Copies text into a caller's buffer of maxlen wide characters, cut short if needed.
int copyString(hid_device *dev, const wchar_t *text, wchar_t *string, size_t maxlen)
{
    if (!dev || !string || maxlen == 0)
        return -1;
    State *s = adapterOf(dev);
    if (!s)
        return -1;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        if (!isUsableLocked(*s, dev))
            return -1;
    }
    const size_t n = std::min(std::wcslen(text), maxlen - 1);
    std::wmemcpy(string, text, n);
    string[n] = L'\0';
    return 0;
}

void sleepMicroseconds(int us)
{
    if (us > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(us));
}

void saveAtExit()
{
    Persistence &p = persistence();
    std::lock_guard<std::mutex> lock(p.mutex);
    saveAllLocked(p);
}

// Loads the adapter at index from its state file, or marks it fresh when there is none.
bool loadStoredLocked(Persistence &p, int index, const QString &path)
{
    StoredAdapter &stored = p.adapters[index];
    stored = StoredAdapter();
    State &s = AdapterEmulator::Core::adapter(index);
    if (QFileInfo::exists(path)) {
        // A damaged file is left alone rather than overwritten with a fresh adapter.
        if (!AdapterEmulator::Core::loadStateOf(s, path)) {
            qWarning("corvane emulator: unreadable state file %s", qPrintable(path));
            return false;
        }
        stored.seen = EmulatorSystem::fileSignature(path);
    } else {
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            AdapterEmulator::Core::resetLocked(s);
        }
        // Made at once, so that the writes to come have a file to go into.
        stored.fresh = !AdapterEmulator::Core::saveStateOf(s, path);
        if (!stored.fresh)
            stored.seen = EmulatorSystem::fileSignature(path);
    }
    // Every program and erase reaches the file as it happens: a process killed half-way
    // leaves the flash that a real adapter would keep.
    AdapterEmulator::Core::writeThroughTo(s, path);
    stored.path = path;
    stored.nodePath = QFile::encodeName(QFileInfo(path).absoluteFilePath()) + ".node";
    if (!EmulatorSystem::makeNodeFile(stored.nodePath))
        qWarning(
            "corvane emulator: cannot make the adapter's node %s", stored.nodePath.constData());
    return true;
}

} // namespace

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void)
{
    Persistence &p = persistence();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (p.initialised)
        return 0;
    const QByteArray env = qgetenv("CORVANE_EMULATOR_STATE");
    if (!env.isEmpty()) {
        const QString path = QFile::decodeName(env);
        // A directory holds one state file per adapter, a file the one adapter.
        const QStringList files
            = QFileInfo(path).isDir() ? AdapterEmulator::stateFiles(path) : QStringList { path };
        AdapterEmulator::setAdapterCount(int(files.size()));
        for (int i = 0; i < files.size(); ++i) {
            if (!loadStoredLocked(p, i, files.at(i)))
                return -1;
        }
        p.active = true;
        p.holdPath = QFile::decodeName(qgetenv("CORVANE_EMULATOR_HOLD"));
        if (!p.exitHandlerRegistered) {
            // Saved while the program's application object ends, where there is one: as a
            // DLL (Windows), the emulator's own exit handlers run only once the system has
            // stopped the program's other threads, too late to use Qt.
            if (QCoreApplication::instance())
                qAddPostRoutine(saveAtExit);
            std::atexit(saveAtExit);
            p.exitHandlerRegistered = true;
        }
    }
    p.initialised = true;
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit(void)
{
    Persistence &p = persistence();
    std::lock_guard<std::mutex> lock(p.mutex);
    const int result = saveAllLocked(p) ? 0 : -1;
    for (int i = 0; p.active && i < AdapterEmulator::MaxAdapters; ++i) {
        if (!p.adapters[i].path.isEmpty())
            AdapterEmulator::Core::writeThroughTo(AdapterEmulator::Core::adapter(i), QString());
    }
    p.active = false;
    p.initialised = false;
    return result;
}

struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_enumerate(
    unsigned short vendor_id, unsigned short product_id)
{
    if (hid_init() != 0)
        return nullptr;
    if ((vendor_id != 0 && vendor_id != AdapterEmulator::VendorId)
        || (product_id != 0 && product_id != AdapterEmulator::ProductId))
        return nullptr;
    hid_device_info *first = nullptr;
    hid_device_info **next = &first;
    for (State *s : attachedAdapters()) {
        const QByteArray path = devicePath(s->index);
        std::lock_guard<std::mutex> lock(s->mutex);
        if (!s->present || !s->attached)
            continue;
        *next = makeInfoLocked(*s, path);
        if (*next)
            next = &(*next)->next;
    }
    return first;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info *devs)
{
    while (devs) {
        hid_device_info *next = devs->next;
        freeInfo(devs);
        devs = next;
    }
}

// As hidapi does: the first attached adapter with the ids (and serial), whether or not it opens.
HID_API_EXPORT hid_device *HID_API_CALL hid_open(
    unsigned short vendor_id, unsigned short product_id, const wchar_t *serial_number)
{
    if (hid_init() != 0)
        return nullptr;
    if (vendor_id != AdapterEmulator::VendorId || product_id != AdapterEmulator::ProductId)
        return nullptr;
    for (State *s : attachedAdapters()) {
        if (serial_number && serial_number[0] != L'\0') {
            wchar_t serial[2 * AdapterEmulator::Core::UniqueIdSize + 1];
            {
                std::lock_guard<std::mutex> lock(s->mutex);
                uniqueIdWideLocked(*s, serial);
            }
            if (QString::fromWCharArray(serial).compare(
                    QString::fromWCharArray(serial_number), Qt::CaseInsensitive)
                != 0)
                continue;
        }
        reloadIfChanged(s->index);
        const QByteArray path = devicePath(s->index);
        std::lock_guard<std::mutex> lock(s->mutex);
        return openLocked(*s, path);
    }
    return nullptr;
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open_path(const char *path)
{
    if (!path || hid_init() != 0)
        return nullptr;
    const int count = AdapterEmulator::adapterCount();
    for (int i = 0; i < count; ++i) {
        const QByteArray ours = devicePath(i);
        if (ours != path)
            continue;
        reloadIfChanged(i);
        State &s = AdapterEmulator::Core::adapter(i);
        std::lock_guard<std::mutex> lock(s.mutex);
        return openLocked(s, ours);
    }
    return nullptr;
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    using namespace AdapterEmulator::Core;
    // The adapter has no numbered reports: report id 0 and at most one 64-byte body.
    if (!dev || !data || length == 0 || length > size_t(RequestSize) || data[0] != 0)
        return -1;
    quint8 body[ReportSize] = {};
    std::memcpy(body, data + 1, length - 1);
    State *adapter = adapterOf(dev);
    if (!adapter)
        return -1;
    State &s = *adapter;
    int latency = 0;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!isUsableLocked(s, dev) || !handleRequestLocked(s, body))
            return -1;
        latency = s.faults.latencyUsPerReport;
    }
    recordTraffic(s.index);
    sleepMicroseconds(latency);
    return int(length);
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(
    hid_device *dev, unsigned char *data, size_t length, int milliseconds)
{
    using namespace AdapterEmulator::Core;
    if (!dev || (!data && length > 0))
        return -1;
    State *adapter = adapterOf(dev);
    if (!adapter)
        return -1;
    State &s = *adapter;
    // Held answers: the adapter looks busy until the hold file goes away.
    const QString hold = holdPath();
    if (!hold.isEmpty()) {
        QElapsedTimer held;
        held.start();
        while (QFileInfo::exists(hold)) {
            {
                std::lock_guard<std::mutex> lock(s.mutex);
                if (!isUsableLocked(s, dev))
                    return -1;
            }
            if (milliseconds >= 0 && held.elapsed() >= milliseconds)
                return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    Answer answer;
    int latency = 0;
    {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = milliseconds > 0
            ? Clock::now() + std::chrono::milliseconds(milliseconds)
            : Clock::time_point::max();
        std::unique_lock<std::mutex> lock(s.mutex);
        // Waits for an answer that is ready (an erase answers once the erase is done), or
        // until a detach or close has killed the handle.
        for (;;) {
            if (!isUsableLocked(s, dev))
                return -1;
            const Clock::time_point now = Clock::now();
            const bool queued = s.queueCount > 0;
            if (queued && s.queue[s.queueHead].readyAt <= now)
                break;
            if (milliseconds == 0 || now >= deadline)
                return 0;
            const Clock::time_point wake
                = queued ? std::min(deadline, s.queue[s.queueHead].readyAt) : deadline;
            if (wake == Clock::time_point::max())
                s.changed.wait(lock);
            else
                s.changed.wait_until(lock, wake);
        }
        if (!popAnswerLocked(s, answer))
            return -1;
        latency = s.faults.latencyUsPerReport;
    }
    const size_t n = std::min(length, size_t(answer.size));
    if (n > 0)
        std::memcpy(data, answer.bytes, n);
    sleepMicroseconds(latency);
    return int(n);
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device *dev, unsigned char *data, size_t length)
{
    if (!dev)
        return -1;
    bool nonBlocking = false;
    {
        State *s = adapterOf(dev);
        if (!s)
            return -1;
        std::lock_guard<std::mutex> lock(s->mutex);
        if (!isLiveLocked(*s, dev))
            return -1;
        nonBlocking = dev->nonBlocking;
    }
    return hid_read_timeout(dev, data, length, nonBlocking ? 0 : -1);
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device *dev, int nonblock)
{
    State *s = adapterOf(dev);
    if (!s)
        return -1;
    std::lock_guard<std::mutex> lock(s->mutex);
    if (!isLiveLocked(*s, dev))
        return -1;
    dev->nonBlocking = nonblock != 0;
    return 0;
}

// The adapter has no feature or input reports on the control pipe.
int HID_API_EXPORT HID_API_CALL hid_send_feature_report(hid_device *, const unsigned char *, size_t)
{
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_feature_report(hid_device *, unsigned char *, size_t)
{
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_input_report(hid_device *, unsigned char *, size_t)
{
    return -1;
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device *dev)
{
    State *adapter = adapterOf(dev);
    if (!adapter)
        return; // not ours or already closed
    State &s = *adapter;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        const auto it = std::find(s.handles.begin(), s.handles.end(), dev);
        if (it == s.handles.end())
            return; // closed meanwhile
        s.handles.erase(it);
        if (dev->info)
            freeInfo(dev->info);
        delete dev;
        s.changed.notify_all();
    }
    saveIfPersisting(s.index);
}

int HID_API_EXPORT_CALL hid_get_manufacturer_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    return copyString(dev, Manufacturer, string, maxlen);
}

int HID_API_EXPORT_CALL hid_get_product_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    return copyString(dev, Product, string, maxlen);
}

int HID_API_EXPORT_CALL hid_get_serial_number_string(
    hid_device *dev, wchar_t *string, size_t maxlen)
{
    State *s = adapterOf(dev);
    if (!s)
        return -1;
    wchar_t serial[2 * AdapterEmulator::Core::UniqueIdSize + 1];
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        uniqueIdWideLocked(*s, serial);
    }
    return copyString(dev, serial, string, maxlen);
}

struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_get_device_info(hid_device *dev)
{
    State *s = adapterOf(dev);
    if (!s)
        return nullptr;
    std::lock_guard<std::mutex> lock(s->mutex);
    return isUsableLocked(*s, dev) ? dev->info : nullptr;
}

int HID_API_EXPORT_CALL hid_get_indexed_string(hid_device *, int, wchar_t *, size_t)
{
    return -1;
}

HID_API_EXPORT const wchar_t *HID_API_CALL hid_error(hid_device *)
{
    return ErrorText;
}

HID_API_EXPORT const struct hid_api_version *HID_API_CALL hid_version(void)
{
    static const hid_api_version version
        = { HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR, HID_API_VERSION_PATCH };
    return &version;
}

HID_API_EXPORT const char *HID_API_CALL hid_version_str(void)
{
    return HID_API_VERSION_STR;
}

} // extern "C"
