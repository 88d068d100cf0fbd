// Owners for the Win32 resources the Windows tests and drivers open.
#pragma once

#include <windows.h>

#include "platform/unique_resource.h"
#include "platform/win32/owners.h"

// Registry keys, file, process and thread handles and GDI objects take the
// platform layer's owners; these are the ones only the tests need.
using platform::UniqueFileHandle;
using platform::UniqueKernelHandle;
using platform::UniqueRegistryKey;
using UniqueGdiObject = platform::UniqueGdiObject<HGDIOBJ>;

struct MemoryDcTraits {
  using Handle = HDC;
  static Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle dc) noexcept { return ::DeleteDC(dc) != FALSE; }
};
using UniqueMemoryDc = platform::UniqueResource<MemoryDcTraits>;

// The whole screen's device context, from GetDC(nullptr).
struct ScreenDcTraits {
  using Handle = HDC;
  static Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle dc) noexcept { return ::ReleaseDC(nullptr, dc) != 0; }
};
using UniqueScreenDc = platform::UniqueResource<ScreenDcTraits>;

// Memory allocated inside another process.
struct RemoteAllocation {
  HANDLE process = nullptr;
  void* address = nullptr;
  bool operator==(const RemoteAllocation&) const = default;
};
struct RemoteAllocationTraits {
  using Handle = RemoteAllocation;
  static Handle Invalid() noexcept { return {}; }
  static bool Close(Handle allocation) noexcept {
    return ::VirtualFreeEx(allocation.process, allocation.address, 0, MEM_RELEASE) != FALSE;
  }
};
using UniqueRemoteAllocation = platform::UniqueResource<RemoteAllocationTraits>;
