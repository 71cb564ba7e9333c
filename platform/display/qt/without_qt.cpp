// The qt display of a build without Qt: it cannot be opened.
#include "display/qt/qt_session.h"

namespace platform::qt {

struct QtSession::State {};

QtSession::QtSession(std::unique_ptr<State> state) : state_(std::move(state)) {}

QtSession::~QtSession() = default;

std::unique_ptr<QtSession> QtSession::Open(const SessionOptions&, std::string& whyNot)
{
    whyNot = "this build has no qt display (Qt 6 Widgets was not found when it was configured)";
    return nullptr;
}

int QtSession::Run(const std::function<int()>& program, const std::function<void()>&)
{
    return program();
}

}  // namespace platform::qt
