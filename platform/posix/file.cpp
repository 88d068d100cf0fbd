#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/platform.h"
#include "platform/posix/path.h"

namespace platform {

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    CloseQuietly();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

File::~File() { CloseQuietly(); }

bool File::IsOpen() const { return fd_ >= 0; }

bool File::Open(const std::wstring& path, Mode mode, FileError* error) {
  CloseQuietly();
  path_ = path;
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::kReadExclusive: flags |= O_RDONLY; break;
    case Mode::kCreateWriteExclusive: flags |= O_WRONLY | O_CREAT; break;
    case Mode::kCreateReadWrite: flags |= O_RDWR | O_CREAT; break;
  }
  const std::string native = NativePath(path);
  const int fd = ::open(native.c_str(), flags, 0666);
  auto fail = [&](int code) {
    if (fd >= 0) ::close(fd);
    errno = code;
    if (error) *error = FileError(CauseFromError(static_cast<ErrorCode>(code)), code, path);
    return false;
  };
  if (fd < 0) return fail(errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0) return fail(errno);
  if (!S_ISREG(info.st_mode)) return fail(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  // No sharing, for readers too: an advisory lock that every open here takes.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
  // Truncate only once the lock is ours, so a file in use is never emptied.
  if (mode != Mode::kReadExclusive && ::ftruncate(fd, 0) != 0) return fail(errno);
  fd_ = fd;
  return true;
}

std::size_t File::Read(void* buffer, std::size_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd_, bytes + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Raise(errno);
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void File::Write(const void* buffer, std::size_t count) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (count > 0) {
    const ssize_t n = ::write(fd_, bytes, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      Raise(errno);
    }
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
}

std::uint64_t File::Seek(std::int64_t offset, Origin origin) {
  const int whence = origin == Origin::kBegin ? SEEK_SET : origin == Origin::kCurrent ? SEEK_CUR : SEEK_END;
  const off_t at = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (at < 0) Raise(errno);
  return static_cast<std::uint64_t>(at);
}

std::uint64_t File::Position() { return Seek(0, Origin::kCurrent); }

std::uint64_t File::Length() {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) Raise(errno);
  return static_cast<std::uint64_t>(info.st_size);
}

void File::Close() {
  if (fd_ < 0) return;
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0 && errno != EINTR) Raise(errno);
}

void File::CloseQuietly() noexcept {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

void File::Raise(ErrorCode code) const {
  throw FileError(CauseFromError(code), static_cast<std::int64_t>(code), path_);
}

}  // namespace platform
