// Owners of the POSIX resources: descriptors (platform/handles.h) and folder streams.
#pragma once

#include <dirent.h>

#include "platform/handles.h"
#include "platform/unique_resource.h"

namespace platform {

struct DirTraits {
  using Handle = DIR*;
  static constexpr Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle dir) noexcept { return ::closedir(dir) == 0; }
};
using UniqueDir = UniqueResource<DirTraits>;

}  // namespace platform
