// A kernel object's handle (thread, event), closed by its owner.
#pragma once

#include <windows.h>

#include "platform/unique_resource.h"

namespace framework {

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle handle) noexcept { return ::CloseHandle(handle) != FALSE; }
};
using UniqueKernelHandle = platform::UniqueResource<KernelHandleTraits>;

}  // namespace framework
