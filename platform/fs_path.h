// The suite's wide paths to and from std::filesystem's, for the tools that walk
// folders with it. On POSIX they go through UTF-8: std::filesystem's own wide
// conversion follows the locale and throws on any non-ASCII path in the C
// locale the tools run in.
#pragma once

#include <filesystem>
#include <string>

#include "platform/text.h"

namespace platform {

inline std::filesystem::path FsPath(const std::wstring& path) {
#if defined(_WIN32)
  return std::filesystem::path(path);
#else
  return std::filesystem::path(text::ToUtf8(path));
#endif
}

// A name that is not UTF-8 comes back with U+FFFD in its place.
inline std::wstring WidePath(const std::filesystem::path& path) {
#if defined(_WIN32)
  return path.wstring();
#else
  return text::FromUtf8(path.native());
#endif
}

}  // namespace platform
