#include "platform/win32/owners.h"

namespace platform {

bool FileHandleTraits::Close(Handle handle) noexcept { return ::CloseHandle(handle) != FALSE; }

bool RegistryKeyTraits::Close(Handle key) noexcept { return ::RegCloseKey(static_cast<HKEY>(key)) == ERROR_SUCCESS; }

}  // namespace platform
