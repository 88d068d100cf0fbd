#include "platform/win32/owners.h"

#include "platform/win32/system_library.h"

namespace platform {

bool FileHandleTraits::Close(Handle handle) noexcept { return ::CloseHandle(handle) != FALSE; }

bool RegistryKeyTraits::Close(Handle key) noexcept { return ::RegCloseKey(static_cast<HKEY>(key)) == ERROR_SUCCESS; }

bool ImageListTraits::Close(Handle list) noexcept {
  const auto destroy = SystemFunction<decltype(::ImageList_Destroy)>(SystemDll::kComctl32, "ImageList_Destroy");
  return destroy != nullptr && destroy(list) != FALSE;
}

}  // namespace platform
