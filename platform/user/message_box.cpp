// Message boxes answered by whoever is attached: a display, a test, or nobody.
#include "platform/message_box.h"

#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/strings.h"

namespace platform {
namespace {

std::mutex answererLock;
std::shared_ptr<const MessageBoxAnswerer> currentAnswerer;

std::shared_ptr<const MessageBoxAnswerer> Answerer()
{
    std::lock_guard guard(answererLock);
    return currentAnswerer;
}

int AnswerUnattended(const MessageBoxRequest& request)
{
    const std::string line = ToUtf8(request.caption) + ": " + ToUtf8(request.text) + "\n";
    std::fputs(line.c_str(), stderr);
    return IDOK;
}

}  // namespace

void SetMessageBoxAnswerer(MessageBoxAnswerer answerer)
{
    auto replacement = answerer ? std::make_shared<const MessageBoxAnswerer>(std::move(answerer)) : nullptr;
    std::lock_guard guard(answererLock);
    currentAnswerer = std::move(replacement);
}

}  // namespace platform

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    const platform::MessageBoxRequest request{owner, text != nullptr ? text : u"",
                                              caption != nullptr ? caption : u"Error", type};
    const auto answerer = platform::Answerer();
    return answerer ? (*answerer)(request) : platform::AnswerUnattended(request);
}
