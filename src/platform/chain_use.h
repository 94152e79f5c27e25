// The one rule for the folders a system's folder chain keeps open between calls.
#pragma once

#include "platform/file_system.h"

namespace nulvane::platform {

// Held by every call that reaches entries through the calling thread's folder chain (`Chain`,
// one per system: FolderChain::ForThread()): outside an OpenFolderScope the chain is emptied
// when the call returns, so that an idle program holds no folder open (a held folder keeps a
// volume from being unmounted or ejected, and on Windows a folder removed by another thread
// pending).
template <typename Chain>
class ChainUse {
 public:
  ChainUse() = default;
  ChainUse(const ChainUse&) = delete;
  ChainUse& operator=(const ChainUse&) = delete;
  ~ChainUse() {
    if (!OpenFolderScope::Active()) Chain::ForThread().Forget();
  }
};

}  // namespace nulvane::platform
