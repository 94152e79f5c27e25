// Whether overwriting a Windows file in place can reach its old data.
#pragma once

#include <windows.h>

namespace nulvane::platform {

// True when the file open as `handle` (whose attributes are `attributes`) may keep old copies
// that an overwrite in place does not reach: compressed or encrypted files, files with
// integrity streams (written elsewhere on every change), files whose data a provider
// keeps elsewhere (offline, recall on open or on data access), and the reparse tags of cloud
// placeholders, deduplication, compression on demand (WOF), hierarchical storage, projected
// file systems (ProjFS) and container isolation (the data of a virtualised file lies in a layer
// beneath it). Costs
// one query of the handle, and only for a file that carries a reparse point.
bool IsStoredElsewhere(HANDLE handle, DWORD attributes);

}  // namespace nulvane::platform
