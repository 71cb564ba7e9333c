// The folders in which Tavrel's port links lie, as the launcher hands them
// to the preloaded library. Read once when the library is loaded into storage
// of a fixed size, so that looking at them later allocates nothing and may
// happen in a signal handler.
#pragma once

namespace tavrel::compat {

inline constexpr int kMaxPortFolders = 32;

// Replaces the list with the folders of `text`, separated by ':' (null: no
// folders). Empty entries are skipped; folders beyond kMaxPortFolders or past
// the storage's end are left out. Not thread-safe: it runs when the library
// is loaded, before any look-up.
void LoadPortFolders(const char* text);

int PortFolderCount();
const char* PortFolder(int index);

}  // namespace tavrel::compat
