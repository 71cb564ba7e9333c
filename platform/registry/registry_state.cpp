#include "registry/registry_state.h"

#include <unordered_map>

#include "platform/errors.h"
#include "platform/registry.h"
#include "registry/hive_file.h"
#include "registry/hive_sync.h"
#include "registry/reg_text.h"

namespace platform::registry {
namespace {

struct State {
    std::mutex lock;
    std::array<Hive, 2> hives{Hive(u"HKEY_LOCAL_MACHINE"), Hive(u"HKEY_CURRENT_USER")};
    std::unordered_map<ULONG_PTR, OpenKey> handles;
    ULONG_PTR nextHandle = 1;
};

State& TheState()
{
    static State state;
    return state;
}

ULONG_PTR HandleValue(HKEY key) { return reinterpret_cast<ULONG_PTR>(key); }

// HKEY_CLASSES_ROOT (0x80000000) and the other predefined keys.
bool IsPredefined(ULONG_PTR value) { return (value & ~ULONG_PTR{0xFF}) == 0x80000000; }

Hive* RootHive(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE) {
        return &TheState().hives[0];
    }
    if (key == HKEY_CURRENT_USER) {
        return &TheState().hives[1];
    }
    return nullptr;
}

// The key that a root or a handle stands for, as it is in memory now.
LONG Find(HKEY key, OpenKey& opened)
{
    if (Hive* hive = RootHive(key)) {
        opened = {hive, hive->root};
        return ERROR_SUCCESS;
    }
    const auto found = TheState().handles.find(HandleValue(key));
    if (found == TheState().handles.end()) {
        return ERROR_INVALID_HANDLE;
    }
    opened = found->second;
    return ERROR_SUCCESS;
}

LONG Usable(const OpenKey& opened)
{
    if (opened.hive->unusable) {
        return ERROR_BADDB;
    }
    return opened.key->deleted() ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

// Writes the tree to the hive's file; once written, that is the version seen.
WriteOutcome WriteTree(Hive& hive)
{
    FileWrite written = WriteHiveFile(hive.file, FormatHive(*hive.root, hive.rootName));
    if (written.outcome == WriteOutcome::Written) {
        hive.seen = std::move(written.version);
    }
    return written.outcome;
}

}  // namespace

LockedRegistry::LockedRegistry() : guard_(TheState().lock) {}

LockedRegistry::~LockedRegistry()
{
    if (changing_ != nullptr) {
        changing_->lock.Give();
    }
}

std::array<Hive, 2>& LockedRegistry::hives() { return TheState().hives; }

LONG LockedRegistry::Resolve(HKEY key, OpenKey& opened)
{
    if (const LONG error = Find(key, opened); error != ERROR_SUCCESS) {
        return error;
    }
    // A file that cannot be read just now: what was read last still answers.
    RefreshHive(*opened.hive);
    return Usable(opened);
}

LONG LockedRegistry::ResolveForChange(HKEY key, OpenKey& opened)
{
    if (const LONG error = Resolve(key, opened); error != ERROR_SUCCESS) {
        return error;
    }
    if (!opened.hive->lock.Take()) {
        return ERROR_REGISTRY_IO_FAILED;
    }
    changing_ = opened.hive;
    // Another process may have changed the file since the look without the lock.
    if (!RefreshHive(*opened.hive).readable) {
        return ERROR_REGISTRY_IO_FAILED;
    }
    return Usable(opened);
}

HKEY LockedRegistry::AddHandle(OpenKey opened)
{
    State& state = TheState();
    // Multiples of four that count up and are never reused, so that a stale
    // handle fails instead of reaching a newer key; the predefined values are
    // skipped.
    ULONG_PTR value = 0;
    do {
        value = state.nextHandle++ * 4;
    } while (IsPredefined(value));
    state.handles.emplace(value, std::move(opened));
    return reinterpret_cast<HKEY>(value);
}

LONG LockedRegistry::CloseHandle(HKEY key)
{
    if (RootHive(key) != nullptr) {
        return ERROR_SUCCESS;
    }
    return TheState().handles.erase(HandleValue(key)) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

void LockedRegistry::CloseAllHandles() { TheState().handles.clear(); }

LONG LockedRegistry::Persist(const std::function<void()>& undo, bool changed)
{
    Hive& hive = *changing_;
    if (hive.file.empty()) {
        return ERROR_SUCCESS;
    }
    if (hive.batches > 0) {
        hive.unwritten = hive.unwritten || changed;
        return ERROR_SUCCESS;
    }
    const WriteOutcome outcome = WriteTree(hive);
    if (outcome == WriteOutcome::Written) {
        return ERROR_SUCCESS;
    }
    undo();
    if (outcome == WriteOutcome::FailedFileReplaced) {
        // The file may already hold the change: put back what memory holds
        // again, as far as the disk lets us, and read the file again next time.
        WriteTree(hive);
        hive.seen = FileVersion();
    }
    return ERROR_REGISTRY_IO_FAILED;
}

LONG LockedRegistry::WriteBatch(Hive& hive)
{
    hive.unwritten = false;
    if (hive.file.empty() || WriteTree(hive) == WriteOutcome::Written) {
        return ERROR_SUCCESS;
    }
    // The changes cannot be taken back one by one: the next call reads the file again.
    hive.seen = FileVersion();
    return ERROR_REGISTRY_IO_FAILED;
}

}  // namespace platform::registry
