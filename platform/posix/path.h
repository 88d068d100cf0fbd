// Wide paths to the UTF-8 bytes the POSIX calls take.
#pragma once

#include <string>

#include "platform/text.h"

namespace platform {
inline std::string NativePath(const std::wstring& path) { return text::ToUtf8(path); }
}  // namespace platform
