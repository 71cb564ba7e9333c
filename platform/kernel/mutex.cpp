// Mutexes: owned by one thread at a time, recursive, released by their owner
// only. A named mutex is also known to the processes that names are shared
// with (shared_names.h; the other processes of the device once one is up): a
// process that creates a name that another live process holds gets
// ERROR_ALREADY_EXISTS. Ownership and waiting stay within the process; the
// other processes only see that the name exists. With no sharing, names are
// known within the process only. A name that cannot be taken or checked among
// the sharing processes fails the creation; it never becomes a name of this
// process alone.
#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kernel/kernel_object.h"
#include "kernel/never_destroyed.h"
#include "kernel/shared_names.h"
#include "platform/fail_with.h"
#include "platform/kernel.h"
#include "platform/user.h"

namespace platform::kernel {
namespace {

class Mutex;
void RememberOwned(const std::shared_ptr<Mutex>& mutex);
void ForgetOwned(const Mutex* mutex);

// Where a named mutex is known: the scope of its sharing (empty: this process
// only) and its name, compared case-sensitively.
using NameKey = std::pair<std::string, std::u16string>;

class Mutex final : public KernelObject, public std::enable_shared_from_this<Mutex> {
public:
    explicit Mutex(std::optional<NameKey> name) : KernelObject(ObjectType::Mutex), name_(std::move(name)) {}

    bool IsWaitable() const override { return true; }
    // Free, or owned by the waiting thread (recursion); wait lock held.
    bool IsSignalled() const override { return recursion_ == 0 || owner_ == std::this_thread::get_id(); }
    void Satisfy() override
    {
        if (recursion_++ == 0) {
            owner_ = std::this_thread::get_id();
            RememberOwned(shared_from_this());
        }
    }
    void OnHandleClosed() override;

    bool Release()
    {
        {
            std::lock_guard guard(WaitLock());
            if (recursion_ == 0 || owner_ != std::this_thread::get_id()) {
                return false;
            }
            if (--recursion_ > 0) {
                return true;
            }
            owner_ = {};
            ForgetOwned(this);
        }
        NotifyWaiters();
        return true;
    }

    // The owning thread ended without releasing the mutex. Windows hands it
    // to the next waiter as abandoned; here it is freed, so no waiter hangs.
    void Abandon(std::thread::id endingThread)
    {
        {
            std::lock_guard guard(WaitLock());
            if (recursion_ == 0 || owner_ != endingThread) {
                return;
            }
            recursion_ = 0;
            owner_ = {};
        }
        NotifyWaiters();
    }

private:
    const std::optional<NameKey> name_;
    std::thread::id owner_;  // guarded by WaitLock()
    unsigned recursion_ = 0;  // guarded by WaitLock()
};

// The mutexes that the current thread owns, freed when the thread ends.
class OwnedMutexes {
public:
    OwnedMutexes() = default;
    OwnedMutexes(const OwnedMutexes&) = delete;
    OwnedMutexes& operator=(const OwnedMutexes&) = delete;
    ~OwnedMutexes()
    {
        for (const auto& owned : mutexes_) {
            if (const auto mutex = owned.lock()) {
                mutex->Abandon(std::this_thread::get_id());
            }
        }
    }

    void Add(const std::shared_ptr<Mutex>& mutex) { mutexes_.push_back(mutex); }
    void Remove(const Mutex* mutex)
    {
        std::erase_if(mutexes_, [mutex](const auto& owned) {
            const auto locked = owned.lock();
            return locked == nullptr || locked.get() == mutex;
        });
    }

private:
    std::vector<std::weak_ptr<Mutex>> mutexes_;
};

thread_local OwnedMutexes ownedByThisThread;

void RememberOwned(const std::shared_ptr<Mutex>& mutex)
{
    ownedByThisThread.Add(mutex);
}

void ForgetOwned(const Mutex* mutex)
{
    ownedByThisThread.Remove(mutex);
}

// The named mutexes of this process. A name lives while a handle to its mutex
// is open; the hold keeps it known to the other processes of the device.
struct NamedMutex {
    std::weak_ptr<Mutex> mutex;
    std::size_t handles = 0;
    std::unique_ptr<SharedNameHold> hold;  // null while names are not shared
};

struct NameTable {
    std::mutex lock;
    std::map<NameKey, NamedMutex> names;
};

NameTable& Names()
{
    static NeverDestroyed<NameTable> table;
    return table.get();
}

std::atomic<NameSharing*> sharingInUse{nullptr};

void Mutex::OnHandleClosed()
{
    if (!name_) {
        return;
    }
    NameTable& table = Names();
    std::lock_guard guard(table.lock);
    const auto found = table.names.find(*name_);
    if (found != table.names.end() && --found->second.handles == 0) {
        table.names.erase(found);
    }
}

// Initial ownership is taken as a wait on the new mutex would take it.
std::shared_ptr<Mutex> NewMutex(std::optional<NameKey> name, bool initialOwner)
{
    auto mutex = std::make_shared<Mutex>(std::move(name));
    if (initialOwner) {
        std::lock_guard guard(WaitLock());
        mutex->Satisfy();
    }
    return mutex;
}

// A new handle to the mutex already known by this name in this process. As on
// Windows, initial ownership is not given then.
HANDLE OpenExisting(NamedMutex& named)
{
    HANDLE handle = InsertHandle(named.mutex.lock());
    if (handle == nullptr) {
        return FailWith(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    }
    ++named.handles;
    SetLastError(ERROR_ALREADY_EXISTS);
    return handle;
}

HANDLE CreateNamed(std::u16string_view name, bool initialOwner)
{
    NameSharing* const sharing = sharingInUse.load();
    const std::string scope = sharing != nullptr ? sharing->Scope() : std::string();
    NameKey key{scope, std::u16string(name)};
    NameTable& table = Names();
    std::lock_guard guard(table.lock);
    if (const auto found = table.names.find(key); found != table.names.end()) {
        return OpenExisting(found->second);
    }
    NamedMutex named;
    bool heldElsewhere = false;
    if (!scope.empty()) {
        SharedName taken = sharing->Take(scope, "mutex", name);
        if (!taken.hold) {
            return FailWith(taken.error, nullptr);
        }
        named.hold = std::move(taken.hold);
        heldElsewhere = taken.heldElsewhere;
    }
    // Another process made the mutex, so, as on Windows, this caller does not own it.
    const auto mutex = NewMutex(key, initialOwner && !heldElsewhere);
    HANDLE handle = InsertHandle(mutex);
    if (handle == nullptr) {
        return FailWith(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    }
    named.mutex = mutex;
    named.handles = 1;
    table.names.emplace(std::move(key), std::move(named));
    SetLastError(heldElsewhere ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

}  // namespace

void ShareNames(NameSharing* sharing)
{
    sharingInUse = sharing;
}

}  // namespace platform::kernel

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name)
{
    using namespace platform::kernel;
    // An empty name makes an unnamed mutex, as a null one does.
    if (name != nullptr && name[0] != u'\0') {
        const std::u16string_view text(name);
        if (text.size() > MAX_PATH) {
            return platform::FailWith(ERROR_FILENAME_EXCED_RANGE, nullptr);
        }
        return CreateNamed(text, initialOwner != FALSE);
    }
    HANDLE handle = InsertHandle(NewMutex(std::nullopt, initialOwner != FALSE));
    if (handle == nullptr) {
        return platform::FailWith(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    }
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL ReleaseMutex(HANDLE handle)
{
    using namespace platform::kernel;
    const auto mutex = LookupHandleAs<Mutex>(handle, ObjectType::Mutex);
    if (mutex == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!mutex->Release()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}
