// The OS handles that portable headers hold. Their types are spelt without the
// OS's own headers, so these traits close out of line (posix/owners.cpp,
// win32/owners.cpp); the other traits live in posix/owners.h and win32/owners.h.
#pragma once

#include <cstdint>

#include "platform/unique_resource.h"

namespace platform {

#if defined(_WIN32)
// A handle from CreateFileW, which marks failure with INVALID_HANDLE_VALUE,
// not with the null that most other handle APIs return.
struct FileHandleTraits {
  using Handle = void*;
  static Handle Invalid() noexcept { return reinterpret_cast<Handle>(~std::uintptr_t{0}); }
  static bool Close(Handle handle) noexcept;
};
using UniqueFileHandle = UniqueResource<FileHandleTraits>;

// An HKEY from RegCreateKeyW.
struct RegistryKeyTraits {
  using Handle = void*;
  static Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle key) noexcept;
};
using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;
#else
struct FileDescriptorTraits {
  using Handle = int;
  static constexpr Handle Invalid() noexcept { return -1; }
  static bool Close(Handle fd) noexcept;
};
using UniqueFd = UniqueResource<FileDescriptorTraits>;
#endif

}  // namespace platform
