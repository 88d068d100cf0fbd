// One owner for every OS resource: a file descriptor, a HANDLE, a find handle,
// an HKEY, a DIR*, a zlib stream, a GDI object. The owner closes its resource
// exactly once, on every path, so no other code calls a close function.
//
// A resource kind is described by a traits type:
//
//   struct FdTraits {
//     using Handle = int;
//     static constexpr Handle Invalid() noexcept { return -1; }
//     static bool Close(Handle fd) noexcept { return ::close(fd) == 0; }
//   };
//   using UniqueFd = platform::UniqueResource<FdTraits>;
//
// The OS layer's traits are in platform/handles.h (the handles that portable
// headers hold) and platform/posix/owners.h, platform/win32/owners.h.
//
// Close reports whether the OS accepted the close; the destructor ignores
// that, Close() hands it to the caller (late write errors surface there).
#pragma once

#include <utility>

namespace platform {

template <typename Traits>
class UniqueResource {
 public:
  using Handle = typename Traits::Handle;

  UniqueResource() noexcept = default;
  explicit UniqueResource(Handle handle) noexcept : handle_(handle) {}
  UniqueResource(UniqueResource&& other) noexcept : handle_(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { Reset(); }

  Handle Get() const noexcept { return handle_; }
  bool IsValid() const noexcept { return handle_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return IsValid(); }

  // Gives the resource up without closing it.
  Handle Release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

  // Closes what is held (ignoring the outcome) and takes `handle` instead.
  void Reset(Handle handle = Traits::Invalid()) noexcept {
    const Handle old = std::exchange(handle_, handle);
    if (old != Traits::Invalid()) Traits::Close(old);
  }

  // Closes now; false when the OS reported a failure. The owner is empty
  // afterwards either way, so a failed close is never retried on a reused handle.
  bool Close() noexcept {
    if (!IsValid()) return true;
    return Traits::Close(Release());
  }

 private:
  Handle handle_ = Traits::Invalid();
};

}  // namespace platform
