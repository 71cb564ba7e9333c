#include "line_table.h"

#include <sys/ioctl.h>

#include <atomic>
#include <cstdint>

namespace tavrel::compat {

// fd is the key: kFree, kFilling while its claimer writes the rest, or the
// descriptor. The rest is written before the descriptor is published.
struct LineSlot {
    std::atomic<int> fd{-1};
    std::atomic<std::uint64_t> filesystem{0};
    std::atomic<std::uint64_t> device{0};
    std::atomic<unsigned> lines{0};
};

namespace {

constexpr int kFree = -1;
constexpr int kFilling = -2;
constexpr unsigned kDrivenLines = TIOCM_DTR | TIOCM_RTS;

LineSlot slots[kMaxOpenPorts];
// One past the highest slot ever claimed: scans stop there, so that close()
// in a program that never asked for modem lines looks at nothing.
std::atomic<int> slotsInUse{0};

bool Holds(const LineSlot& slot, const PortIdentity& identity)
{
    return slot.filesystem.load(std::memory_order_relaxed) == identity.filesystem &&
           slot.device.load(std::memory_order_relaxed) == identity.device;
}

void Release(LineSlot& slot, int fd)
{
    int expected = fd;
    slot.fd.compare_exchange_strong(expected, kFree, std::memory_order_acq_rel);
}

// Counts slot `index` in before its descriptor is published, so that every
// scan that could see the descriptor reaches the slot.
void CountIn(int index)
{
    int used = slotsInUse.load(std::memory_order_relaxed);
    while (used <= index && !slotsInUse.compare_exchange_weak(used, index + 1, std::memory_order_release)) {
    }
}

LineSlot* Claim(int index, int fd, const PortIdentity& identity)
{
    LineSlot& slot = slots[index];
    int expected = kFree;
    if (!slot.fd.compare_exchange_strong(expected, kFilling, std::memory_order_acquire)) {
        return nullptr;
    }
    CountIn(index);
    slot.filesystem.store(identity.filesystem, std::memory_order_relaxed);
    slot.device.store(identity.device, std::memory_order_relaxed);
    slot.lines.store(kDrivenLines, std::memory_order_relaxed);
    slot.fd.store(fd, std::memory_order_release);
    return &slot;
}

}  // namespace

LineSlot* FindLines(int fd, const PortIdentity& identity)
{
    const int used = slotsInUse.load(std::memory_order_acquire);
    for (int index = 0; index < used; ++index) {
        LineSlot& slot = slots[index];
        if (slot.fd.load(std::memory_order_acquire) != fd) {
            continue;
        }
        if (Holds(slot, identity)) {
            return &slot;
        }
        Release(slot, fd);   // the descriptor was closed behind our back and reused
    }
    return nullptr;
}

LineSlot* AddLines(int fd, const PortIdentity& identity)
{
    for (int index = 0; index < kMaxOpenPorts; ++index) {
        if (LineSlot* slot = Claim(index, fd, identity)) {
            return slot;
        }
    }
    return nullptr;
}

unsigned DrivenLines(const LineSlot* slot)
{
    return slot != nullptr ? slot->lines.load(std::memory_order_relaxed) : kDrivenLines;
}

void DriveLines(LineSlot* slot, unsigned raise, unsigned lower)
{
    if (slot != nullptr) {
        slot->lines.fetch_or(raise & kDrivenLines, std::memory_order_relaxed);
        slot->lines.fetch_and(~(lower & kDrivenLines), std::memory_order_relaxed);
    }
}

void ForgetLines(int fd)
{
    const int used = slotsInUse.load(std::memory_order_acquire);
    for (int index = 0; index < used; ++index) {
        Release(slots[index], fd);
    }
}

}  // namespace tavrel::compat
