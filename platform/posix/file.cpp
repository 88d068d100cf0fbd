#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <utility>

#include "platform/platform.h"
#include "platform/posix/owners.h"
#include "platform/posix/path.h"
#if defined(VARNHOLT_FAULT_INJECTION)
#include "platform/fault_injection.h"
#endif

namespace platform {
namespace {

// The system calls the class makes; test builds route them past the fault
// switches, so an injected failure takes the same road as a real one.
int OpenNative(const std::wstring& path, int flags, [[maybe_unused]] bool reading) {
#if defined(VARNHOLT_FAULT_INJECTION)
  if (reading) fault_injection::OnOpenForReading(path);
  if (const auto code = fault_injection::OnCall(fault_injection::Operation::kOpen, path)) {
    errno = static_cast<int>(*code);
    return -1;
  }
#endif
  return ::open(NativePath(path).c_str(), flags, 0666);
}

// From the file position, which read(2) advances, or with pread(2) at
// `offset`, which leaves the position alone.
ssize_t ReadNative(int fd, void* buffer, std::size_t count, std::optional<std::uint64_t> offset,
                   [[maybe_unused]] const std::wstring& path) {
#if defined(VARNHOLT_FAULT_INJECTION)
  std::uint64_t at = 0;
  if (offset) {
    at = *offset;
  } else {
    const off_t position = ::lseek(fd, 0, SEEK_CUR);
    at = static_cast<std::uint64_t>(position < 0 ? 0 : position);
  }
  if (const auto code = fault_injection::OnRead(path, at, &count)) {
    errno = static_cast<int>(*code);
    return -1;
  }
#endif
  return offset ? ::pread(fd, buffer, count, static_cast<off_t>(*offset)) : ::read(fd, buffer, count);
}

struct ReadResult {
  std::size_t done = 0;
  std::optional<ErrorCode> error;
};

// Reads until `count` bytes are in or the file ends, at `offset` or from the
// file position as ReadNative does.
ReadResult ReadFully(int fd, const std::wstring& path, std::optional<std::uint64_t> offset, void* buffer,
                     std::size_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  ReadResult read;
  while (read.done < count) {
    const std::optional<std::uint64_t> at = offset ? std::optional(*offset + read.done) : std::nullopt;
    const ssize_t n = ReadNative(fd, bytes + read.done, count - read.done, at, path);
    if (n < 0) {
      if (errno == EINTR) continue;
      read.error = static_cast<ErrorCode>(errno);
      return read;
    }
    if (n == 0) break;
    read.done += static_cast<std::size_t>(n);
  }
  return read;
}

ssize_t WriteNative(int fd, const void* buffer, std::size_t count, [[maybe_unused]] const std::wstring& path) {
#if defined(VARNHOLT_FAULT_INJECTION)
  if (const auto code = fault_injection::OnTransfer(fault_injection::Operation::kWrite, path, &count)) {
    errno = static_cast<int>(*code);
    return -1;
  }
#endif
  return ::write(fd, buffer, count);
}

// The descriptor goes even when a late error is injected, as it does on a real failed close.
bool CloseNative(UniqueFd& fd, [[maybe_unused]] const std::wstring& path) {
  const bool closed = fd.Close();
#if defined(VARNHOLT_FAULT_INJECTION)
  if (const auto code = fault_injection::OnCall(fault_injection::Operation::kClose, path)) {
    errno = static_cast<int>(*code);
    return false;
  }
#endif
  return closed;
}

}  // namespace

bool File::IsOpen() const { return handle_.IsValid(); }

bool File::Open(const std::wstring& path, Mode mode, FileError* error) {
  handle_.Reset();
  path_ = path;
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::kReadExclusive:
    case Mode::kReadShareRead: flags |= O_RDONLY; break;
    case Mode::kCreateWriteExclusive:
    case Mode::kCreateWriteShareRead: flags |= O_WRONLY | O_CREAT; break;
    case Mode::kCreateReadWrite: flags |= O_RDWR | O_CREAT; break;
    case Mode::kCreateNewWrite: flags |= O_WRONLY | O_CREAT | O_EXCL; break;
    case Mode::kUpdateExclusive: flags |= O_RDWR; break;
  }
  const bool reading = mode == Mode::kReadExclusive || mode == Mode::kReadShareRead;
  UniqueFd fd(OpenNative(path, flags, reading));
  auto fail = [&](int code) {
    fd.Reset();
    errno = code;
    if (error) *error = FileError(CauseFromError(static_cast<ErrorCode>(code)), code, path);
    return false;
  };
  if (!fd) return fail(errno);
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) return fail(errno);
  if (!S_ISREG(info.st_mode)) return fail(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  // No sharing, for readers too: an advisory lock that every open here takes.
  // (Readers outside this layer take no lock, so a shared-read log stays readable.)
  // A shared reader takes the shared lock, which admits only readers like it.
  const int lock = mode == Mode::kReadShareRead ? LOCK_SH : LOCK_EX;
  if (::flock(fd.Get(), lock | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
  // Truncate only once the lock is ours, so a file in use is never emptied.
  const bool truncates = !reading && mode != Mode::kCreateNewWrite && mode != Mode::kUpdateExclusive;
  if (truncates && ::ftruncate(fd.Get(), 0) != 0) return fail(errno);
  handle_ = std::move(fd);
  return true;
}

std::size_t File::Read(void* buffer, std::size_t count) {
  const ReadResult read = ReadFully(handle_.Get(), path_, std::nullopt, buffer, count);
  if (read.error) Raise(*read.error);
  return read.done;
}

std::size_t File::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const {
  const ReadResult read = ReadFully(handle_.Get(), path_, offset, buffer, count);
  if (read.error) Raise(*read.error);
  return read.done;
}

void File::Write(const void* buffer, std::size_t count) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (count > 0) {
    const ssize_t n = WriteNative(handle_.Get(), bytes, count, path_);
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
  const off_t at = ::lseek(handle_.Get(), static_cast<off_t>(offset), whence);
  // Whatever errno says (EINVAL for a target before the start), it is the seek that failed.
  if (at < 0) Raise(FileError::kBadSeek, errno);
  return static_cast<std::uint64_t>(at);
}

std::uint64_t File::Position() { return Seek(0, Origin::kCurrent); }

std::uint64_t File::Length() {
  struct stat info {};
  if (::fstat(handle_.Get(), &info) != 0) Raise(errno);
  return static_cast<std::uint64_t>(info.st_size);
}

void File::Truncate(std::uint64_t length) {
#if defined(VARNHOLT_FAULT_INJECTION)
  struct stat before {};
  const bool known = ::fstat(handle_.Get(), &before) == 0;
#endif
  if (::ftruncate(handle_.Get(), static_cast<off_t>(length)) != 0) Raise(errno);
#if defined(VARNHOLT_FAULT_INJECTION)
  if (known && static_cast<std::uint64_t>(before.st_size) > length)
    fault_injection::OnTruncate(path_, static_cast<std::uint64_t>(before.st_size) - length);
#endif
}

void File::Flush() {
#if defined(VARNHOLT_FAULT_INJECTION)
  if (const auto code = fault_injection::OnCall(fault_injection::Operation::kSync, path_)) Raise(*code);
#endif
  if (::fsync(handle_.Get()) != 0) Raise(errno);
}

void File::Close() {
  if (!handle_) return;
  if (!CloseNative(handle_, path_) && errno != EINTR) Raise(errno);
}

bool CanReplace(const std::wstring& path, FileError* error, bool* exists) {
  if (exists) *exists = false;
  auto fail = [&](int code) {
    errno = code;
    if (error) *error = FileError(CauseFromError(static_cast<ErrorCode>(code)), code, path);
    return false;
  };
#if defined(VARNHOLT_FAULT_INJECTION)
  if (const auto code = fault_injection::OnCall(fault_injection::Operation::kOpen, path))
    return fail(static_cast<int>(*code));
#endif
  // Neither O_CREAT nor O_TRUNC: the check must leave the file as it is. O_NONBLOCK keeps a FIFO in
  // the way from blocking it.
  const UniqueFd fd(::open(NativePath(path).c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return errno == ENOENT ? true : fail(errno);
  if (exists) *exists = true;
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) return fail(errno);
  if (!S_ISREG(info.st_mode)) return fail(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  // rename() would replace a file that another File holds; refuse it as the open would.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
  return true;
}

bool MoveReplacing(const std::wstring& from, const std::wstring& to) {
#if defined(VARNHOLT_FAULT_INJECTION)
  for (const std::wstring* path : {&from, &to}) {
    if (const auto code = fault_injection::OnCall(fault_injection::Operation::kMove, *path)) {
      errno = static_cast<int>(*code);
      return false;
    }
  }
#endif
  return ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

void File::Raise(ErrorCode code) const { Raise(CauseFromError(code), code); }

void File::Raise(FileError::Cause cause, ErrorCode code) const {
  throw FileError(cause, static_cast<std::int64_t>(code), path_);
}

}  // namespace platform
