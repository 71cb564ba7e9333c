// The qt display's module, loaded only when the device is shown on the
// desktop: found as every companion of the program is (beside it, in the
// install's library folder, else where the build put it), loaded, and asked
// to open its session.
#pragma once

#include <memory>
#include <string>

#include "display/qt/qt_session.h"

namespace platform {

// The session, or null with the reason in `whyNot`: a build without Qt, the
// module not found (where it was looked for), not loadable (the loader's
// words, e.g. a Qt library that is not installed) or no display opened.
std::unique_ptr<qt::QtSession> OpenQtSession(const qt::SessionOptions& options, std::string& whyNot);

}  // namespace platform
