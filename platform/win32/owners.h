// Owners of the Win32 resources. File handles and registry keys are in
// platform/handles.h, since portable headers hold them.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "platform/handles.h"
#include "platform/unique_resource.h"

namespace platform {

// Handles of threads, processes and events: null marks none. (A file handle
// from CreateFileW takes UniqueFileHandle instead.)
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle handle) noexcept { return ::CloseHandle(handle) != FALSE; }
};
using UniqueKernelHandle = UniqueResource<KernelHandleTraits>;

// FindFirstFileW marks failure with INVALID_HANDLE_VALUE.
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool Close(Handle find) noexcept { return ::FindClose(find) != FALSE; }
};
using UniqueFindHandle = UniqueResource<FindHandleTraits>;

// Memory the system hands out with LocalAlloc (CommandLineToArgvW, FormatMessageW).
struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle memory) noexcept { return ::LocalFree(memory) == nullptr; }
};
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;

// A bitmap, brush, pen or font; Handle keeps the object's own type.
template <typename GdiHandle>
struct GdiObjectTraits {
  using Handle = GdiHandle;
  static Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle object) noexcept { return ::DeleteObject(object) != FALSE; }
};
template <typename GdiHandle>
using UniqueGdiObject = UniqueResource<GdiObjectTraits<GdiHandle>>;

// The common controls are loaded at run time (win32/system_library.h), so
// the list is destroyed out of line.
struct ImageListTraits {
  using Handle = HIMAGELIST;
  static Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle list) noexcept;
};
using UniqueImageList = UniqueResource<ImageListTraits>;

// A DLL from LoadLibraryExW.
struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle module) noexcept { return ::FreeLibrary(module) != FALSE; }
};
using UniqueModule = UniqueResource<ModuleTraits>;

// A list of attributes for CreateProcessW, in memory its owner keeps.
struct ProcThreadAttributeListTraits {
  using Handle = LPPROC_THREAD_ATTRIBUTE_LIST;
  static Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle list) noexcept {
    ::DeleteProcThreadAttributeList(list);
    return true;
  }
};
using UniqueProcThreadAttributeList = UniqueResource<ProcThreadAttributeListTraits>;

}  // namespace platform
