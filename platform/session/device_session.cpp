// This process's part in its device: its place on the board of windows and its
// receiver of posts. Both follow the device that is up when they are used, so
// that a later boot, of the same root or another, starts afresh.
#include "session/device_session.h"

#include <unistd.h>

#include <memory>
#include <mutex>
#include <optional>

#include "session/device_root.h"
#include "session/cross_process_posts.h"
#include "session/window_board.h"

namespace platform::session {
namespace {

// The receiver is started and stopped under a lock of its own, so that
// stopping it (which waits for its thread) never waits while holding the
// lock that publishing windows needs.
struct Session {
    std::mutex boardLock;
    std::optional<WindowBoard> board;  // joined on the first publication
    std::mutex receiverLock;
    std::unique_ptr<PostReceiver> receiver;
};

Session& TheSession()
{
    static Session session;
    return session;
}

}  // namespace

void PublishWindows(const std::vector<PublishedWindow>& windows)
{
    const std::filesystem::path root = session::DeviceRoot();
    Session& session = TheSession();
    std::lock_guard guard(session.boardLock);
    if (session.board && session.board->deviceRoot() != root) {
        session.board.reset();  // the device went down without this process leaving it
    }
    if (root.empty()) {
        return;
    }
    if (!session.board) {
        if (auto joined = WindowBoard::Join(root)) {
            session.board.emplace(std::move(*joined));
        }
    }
    if (session.board) {
        session.board->Publish(windows);
    }
}

std::vector<PublishedWindow> OtherProcessesWindows()
{
    const std::filesystem::path root = session::DeviceRoot();
    if (root.empty()) {
        return {};
    }
    return ReadOtherProcessesWindows(root, ::getpid());
}

bool PostToOtherProcess(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const std::filesystem::path root = session::DeviceRoot();
    return !root.empty() && SendPost(root, window, message, wParam, lParam);
}

bool ReceivePostsFromOtherProcesses(std::function<void(HWND, UINT, WPARAM, LPARAM)> deliver)
{
    const std::filesystem::path root = session::DeviceRoot();
    Session& session = TheSession();
    std::lock_guard guard(session.receiverLock);
    if (session.receiver && session.receiver->deviceRoot() == root) {
        session.receiver->SetHandler(std::move(deliver));
        return true;
    }
    session.receiver.reset();
    if (!root.empty()) {
        session.receiver = PostReceiver::Start(root, std::move(deliver));
    }
    return session.receiver != nullptr;
}

void LeaveDeviceSession()
{
    Session& session = TheSession();
    {
        std::lock_guard guard(session.receiverLock);
        session.receiver.reset();
    }
    std::lock_guard guard(session.boardLock);
    session.board.reset();
}

}  // namespace platform::session
