// Owners for the Win32 resources the Windows tests and drivers open.
#pragma once

#include <windows.h>

#include "platform/unique_resource.h"

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle key) noexcept { return ::RegCloseKey(key) == ERROR_SUCCESS; }
};
using UniqueRegistryKey = platform::UniqueResource<RegistryKeyTraits>;

// Process and thread handles: null when absent.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle handle) noexcept { return ::CloseHandle(handle) != FALSE; }
};
using UniqueKernelHandle = platform::UniqueResource<KernelHandleTraits>;

// File handles: INVALID_HANDLE_VALUE when absent.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool Close(Handle handle) noexcept { return ::CloseHandle(handle) != FALSE; }
};
using UniqueFileHandle = platform::UniqueResource<FileHandleTraits>;

struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle object) noexcept { return ::DeleteObject(object) != FALSE; }
};
using UniqueGdiObject = platform::UniqueResource<GdiObjectTraits>;

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
