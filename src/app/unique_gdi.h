// Move-only owners of the window's GDI and shell objects: fonts, icons and image lists. Each
// frees what it holds when it is destroyed or given another handle, so no object is freed by
// hand and none twice.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <utility>

namespace nulvane::app {

template <typename Traits>
class UniqueGdi {
 public:
  using Handle = typename Traits::Handle;

  UniqueGdi() = default;
  explicit UniqueGdi(Handle handle) : handle_(handle) {}
  UniqueGdi(UniqueGdi&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueGdi& operator=(UniqueGdi&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  UniqueGdi(const UniqueGdi&) = delete;
  UniqueGdi& operator=(const UniqueGdi&) = delete;
  ~UniqueGdi() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  // Frees the handle held and holds `handle` instead.
  void reset(Handle handle = nullptr) {
    if (handle_ && handle_ != handle) Traits::Free(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

struct FontTraits {
  using Handle = HFONT;
  static void Free(HFONT font) { DeleteObject(font); }
};
struct IconTraits {
  using Handle = HICON;
  static void Free(HICON icon) { DestroyIcon(icon); }
};
struct ImageListTraits {
  using Handle = HIMAGELIST;
  static void Free(HIMAGELIST images) { ImageList_Destroy(images); }
};

using UniqueFont = UniqueGdi<FontTraits>;
using UniqueIcon = UniqueGdi<IconTraits>;
using UniqueImageList = UniqueGdi<ImageListTraits>;

}  // namespace nulvane::app
