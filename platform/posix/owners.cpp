#include "platform/posix/owners.h"

#include <unistd.h>

namespace platform {

// Linux releases the descriptor even when close reports EINTR, so a failed
// close is never retried (the number may already belong to another open).
bool FileDescriptorTraits::Close(Handle fd) noexcept { return ::close(fd) == 0; }

}  // namespace platform
