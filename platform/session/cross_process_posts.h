// Posted messages between the processes of one device. Each receiving process
// binds a Unix datagram socket in the abstract namespace, named after the
// device and its process id: the name needs no file, cannot outlive the
// process, and processes of different devices never reach each other. Only
// the values travel; a pointer in lParam means nothing in another process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/host/wake_signal.h"
#include "platform/types.h"
#include "session/run_files.h"

namespace platform::session {

using PostHandler = std::function<void(HWND, UINT, WPARAM, LPARAM)>;

// The abstract socket name (without its leading zero byte) of a process of the device.
std::string PostAddress(const std::filesystem::path& deviceRoot, std::uint32_t process);

// Sends a post to the process that owns the window. Never blocks: false when
// that process does not receive on this device or its queue is full.
bool SendPost(const std::filesystem::path& deviceRoot, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Takes the posts addressed to this process on one device, on a thread of its
// own that sleeps in poll() until a post or the stop request arrives.
class PostReceiver {
public:
    // Nothing when the address cannot be bound (another receiver of this
    // process on the same device holds it).
    static std::unique_ptr<PostReceiver> Start(const std::filesystem::path& deviceRoot, PostHandler handler);
    // Stops the thread and waits for it; no handler runs after this returns.
    ~PostReceiver();
    PostReceiver(const PostReceiver&) = delete;
    PostReceiver& operator=(const PostReceiver&) = delete;

    const std::filesystem::path& deviceRoot() const { return deviceRoot_; }
    void SetHandler(PostHandler handler);

    PostReceiver(std::filesystem::path deviceRoot, UniqueFd socket, host::WakeSignal wakeUp, PostHandler handler);

private:
    void Run();
    void TakePendingPosts();
    void Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    const std::filesystem::path deviceRoot_;
    const UniqueFd socket_;
    const host::WakeSignal wakeUp_;
    std::mutex handlerLock_;
    std::shared_ptr<const PostHandler> handler_;  // guarded by handlerLock_
    std::thread thread_;
};

}  // namespace platform::session
