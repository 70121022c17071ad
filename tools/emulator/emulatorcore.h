// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "adapteremulator.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

struct hid_device_;

// The adapters' state shared by the test-facing functions (adapteremulator.cpp) and the
// hidapi C functions (hidapi_emulator.cpp). Everything of one adapter is guarded by its
// State::mutex; the adapters are independent of each other.
namespace AdapterEmulator::Core {

constexpr int ReportSize = 64; // an answer report body, without report id
constexpr int ShortReportSize = 8; // the length of a report cut short by a fault
constexpr int RequestSize = 65; // report id 0 and the 64-byte body
constexpr int MaxDataLength = 52; // data bytes one report carries
constexpr int QueueCapacity = 32; // answers waiting to be read; newer ones are dropped
constexpr int UniqueIdSize = 12;

struct Answer
{
    quint8 bytes[ReportSize];
    int size;
    // Not readable before this time (an erase that is still under way).
    std::chrono::steady_clock::time_point readyAt;
};

// The flash contents, kept inverted (an erased byte is a zero) in zero-filled pages that the
// system maps in only once they are written: an emulated adapter costs a program memory only
// for the sectors that hold something, as the window's start-up measurements want.
class NorStore
{
public:
    explicit NorStore(quint32 size);
    ~NorStore();
    NorStore(const NorStore &) = delete;
    NorStore &operator=(const NorStore &) = delete;

    quint8 at(quint32 offset) const { return quint8(~m_bits[offset]); }
    void store(quint32 offset, quint8 value) { m_bits[offset] = quint8(~value); }
    // NOR programming: bits can only be cleared.
    void program(quint32 offset, quint8 value) { m_bits[offset] |= quint8(~value); }
    void read(quint32 offset, quint8 *out, quint32 length) const;
    void erase(quint32 offset, quint32 length);
    // The whole contents from or into a plain image (erased bytes 0xFF); the pages that an
    // assigned image leaves erased stay unmapped.
    void assign(const quint8 *image);
    void copyTo(quint8 *image) const;

private:
    quint32 m_size;
    quint8 *m_bits;
};

struct State
{
    std::mutex mutex;
    std::condition_variable changed; // an answer was queued, or handles died
    NorStore flash { FlashSize };
    quint8 uniqueId[UniqueIdSize] = {};
    bool attached = true;
    bool openRefused = false;
    quint64 generation = 0; // bumped by every detach: handles of an older one are dead
    Faults faults;
    qint64 exchanges = 0;
    // A request changed the flash or the adapter went off the bus since the last load,
    // reset or save: a program that only read it leaves the state file alone.
    bool modified = false;
    qint64 writeCommands = 0;
    QList<QList<quint8>> eraseLog;
    Answer queue[QueueCapacity];
    int queueHead = 0;
    int queueCount = 0;
    std::vector<hid_device_ *> handles;
    // Position among the adapters, and whether it belongs to the set (see adapterCount()).
    int index = 0;
    bool present = true;
    // The state file, open for writing, that every program and erase reaches as it happens
    // (-1: none): a process killed half-way leaves the flash that a real adapter would keep.
    int writeThrough = -1;
};

// The adapter the test-facing functions address (the first unless another is selected).
// Adapters are never destroyed, so exit handlers and stale handles can still use them.
State &state();
// The adapter at index (0 to MaxAdapters - 1), made fresh at first use.
State &adapter(int index);
// How many adapters are made so far; those from adapterCount() on are not present.
int adaptersMade();

// The functions below expect State::mutex to be held.
void resetLocked(State &s);
void detachLocked(State &s);
// Handles one 64-byte request body and queues its answer. Returns false when the request
// made the adapter drop off the bus (the transfer then fails).
bool handleRequestLocked(State &s, const quint8 *body);
bool popAnswerLocked(State &s, Answer &out);
QByteArray uniqueIdHexLocked(const State &s);

// An adapter from or to a state file (each takes the adapter's mutex itself).
bool loadStateOf(State &s, const QString &path);
bool saveStateOf(State &s, const QString &path);
// From now on every program and erase of the adapter also goes into the flash image of the
// state file at path (empty: no longer); false when the file cannot be opened.
bool writeThroughTo(State &s, const QString &path);

} // namespace AdapterEmulator::Core
