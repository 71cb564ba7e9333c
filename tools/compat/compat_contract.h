// What tavrel-compat and the library it preloads agree on: the library's
// file name, and the environment variable through which the launcher tells
// the library where Tavrel's port links lie (folders separated by ':', as in
// PATH). Plain constants, so that the library includes nothing else of ours.
#pragma once

namespace tavrel::compat {

inline constexpr char kPreloadLibraryName[] = "libtavrel-compat.so";
inline constexpr char kPortFoldersVariable[] = "TAVREL_COMPAT_PORT_DIRS";
inline constexpr char kFolderSeparator = ':';

}  // namespace tavrel::compat
