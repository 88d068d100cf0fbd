#include <windows.h>

#include <algorithm>
#include <optional>

#include "platform/platform.h"
#if defined(VARNHOLT_FAULT_INJECTION)
#include "platform/fault_injection.h"
#endif

namespace platform {
namespace {

// INVALID_HANDLE_VALUE is also the pseudo handle of this very process; a
// closed File hands the calls null instead, which every file API refuses.
HANDLE Native(const UniqueFileHandle& handle) { return handle ? handle.Get() : nullptr; }

#if defined(VARNHOLT_FAULT_INJECTION)
std::uint64_t FilePointer(HANDLE file) {
  LARGE_INTEGER at{};
  ::SetFilePointerEx(file, LARGE_INTEGER{}, &at, FILE_CURRENT);
  return static_cast<std::uint64_t>(at.QuadPart);
}
#endif

struct ReadResult {
  std::size_t done = 0;
  std::optional<ErrorCode> error;
};

// Reads until `count` bytes are in or the file ends: from the file pointer,
// which ReadFile advances, or at `offset`, which travels with each call, so
// concurrent readers of the one synchronous handle never race on the pointer.
ReadResult ReadFully(HANDLE file, [[maybe_unused]] const std::wstring& path, std::optional<std::uint64_t> offset,
                     void* buffer, std::size_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  ReadResult read;
  while (read.done < count) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - read.done, 1u << 30));
#if defined(VARNHOLT_FAULT_INJECTION)
    std::size_t allowed = chunk;
    if (const auto code = fault_injection::OnRead(path, offset ? *offset + read.done : FilePointer(file), &allowed)) {
      read.error = *code;
      return read;
    }
    chunk = static_cast<DWORD>(allowed);
#endif
    OVERLAPPED where{};
    if (offset) {
      const std::uint64_t at = *offset + read.done;
      where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
      where.OffsetHigh = static_cast<DWORD>(at >> 32);
    }
    DWORD got = 0;
    if (!::ReadFile(file, bytes + read.done, chunk, &got, offset ? &where : nullptr)) {
      const DWORD code = ::GetLastError();
      if (offset && code == ERROR_HANDLE_EOF) break;
      read.error = code;
      return read;
    }
    if (got == 0) break;
    read.done += got;
  }
  return read;
}

}  // namespace

bool File::IsOpen() const { return handle_.IsValid(); }

bool File::Open(const std::wstring& path, Mode mode, FileError* error) {
  handle_.Reset();
  path_ = path;
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  DWORD share = 0;
  if (mode == Mode::kCreateWriteExclusive || mode == Mode::kCreateWriteShareRead) {
    access = GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  } else if (mode == Mode::kCreateNewWrite) {
    access = GENERIC_WRITE;
    disposition = CREATE_NEW;
  } else if (mode == Mode::kCreateReadWrite) {
    access = GENERIC_READ | GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  } else if (mode == Mode::kUpdateExclusive) {
    access = GENERIC_READ | GENERIC_WRITE;
  }
  if (mode == Mode::kCreateWriteShareRead || mode == Mode::kReadShareRead) share = FILE_SHARE_READ;
#if defined(VARNHOLT_FAULT_INJECTION)
  if (mode == Mode::kReadExclusive || mode == Mode::kReadShareRead) fault_injection::OnOpenForReading(path);
  if (const auto code = fault_injection::OnCall(fault_injection::Operation::kOpen, path)) {
    if (error) *error = FileError(CauseFromError(*code), *code, path);
    ::SetLastError(*code);
    return false;
  }
#endif
  // Share mode 0 unless asked: nobody else may read or write the file while it is open.
  handle_.Reset(::CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle_) {
    const DWORD code = ::GetLastError();
    if (error) *error = FileError(CauseFromError(code), code, path);
    ::SetLastError(code);
    return false;
  }
  return true;
}

std::size_t File::Read(void* buffer, std::size_t count) {
  const ReadResult read = ReadFully(Native(handle_), path_, std::nullopt, buffer, count);
  if (read.error) Raise(*read.error);
  return read.done;
}

std::size_t File::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const {
  const ReadResult read = ReadFully(Native(handle_), path_, offset, buffer, count);
  if (read.error) Raise(*read.error);
  return read.done;
}

void File::Write(const void* buffer, std::size_t count) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (count > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
#if defined(VARNHOLT_FAULT_INJECTION)
    std::size_t allowed = chunk;
    if (const auto code = fault_injection::OnTransfer(fault_injection::Operation::kWrite, path_, &allowed))
      Raise(*code);
    chunk = static_cast<DWORD>(allowed);
#endif
    DWORD written = 0;
    if (!::WriteFile(Native(handle_), bytes, chunk, &written, nullptr)) Raise(::GetLastError());
    if (written == 0) Raise(ERROR_DISK_FULL);
    bytes += written;
    count -= written;
  }
}

std::uint64_t File::Seek(std::int64_t offset, Origin origin) {
  const DWORD method = origin == Origin::kBegin ? FILE_BEGIN : origin == Origin::kCurrent ? FILE_CURRENT : FILE_END;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER at;
  // Whatever the code says, it is the seek that failed.
  if (!::SetFilePointerEx(Native(handle_), distance, &at, method)) Raise(FileError::kBadSeek, ::GetLastError());
  return static_cast<std::uint64_t>(at.QuadPart);
}

std::uint64_t File::Position() { return Seek(0, Origin::kCurrent); }

std::uint64_t File::Length() {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(Native(handle_), &size)) Raise(::GetLastError());
  return static_cast<std::uint64_t>(size.QuadPart);
}

void File::Truncate(std::uint64_t length) {
#if defined(VARNHOLT_FAULT_INJECTION)
  const std::uint64_t before = Length();
#endif
  const std::uint64_t position = Position();
  Seek(static_cast<std::int64_t>(length), Origin::kBegin);
  if (!::SetEndOfFile(Native(handle_))) {
    const DWORD code = ::GetLastError();
    Seek(static_cast<std::int64_t>(position), Origin::kBegin);
    Raise(code);
  }
  Seek(static_cast<std::int64_t>(position), Origin::kBegin);
#if defined(VARNHOLT_FAULT_INJECTION)
  if (before > length) fault_injection::OnTruncate(path_, before - length);
#endif
}

void File::Flush() {
#if defined(VARNHOLT_FAULT_INJECTION)
  if (const auto code = fault_injection::OnCall(fault_injection::Operation::kSync, path_)) Raise(*code);
#endif
  if (!::FlushFileBuffers(Native(handle_))) Raise(::GetLastError());
}

void File::Close() {
  if (!handle_) return;
  if (!handle_.Close()) Raise(::GetLastError());
#if defined(VARNHOLT_FAULT_INJECTION)
  if (const auto code = fault_injection::OnCall(fault_injection::Operation::kClose, path_)) Raise(*code);
#endif
}

bool CanReplace(const std::wstring& path, FileError* error, bool* exists) {
  if (exists) *exists = false;
  auto fail = [&](DWORD code) {
    if (error) *error = FileError(CauseFromError(code), code, path);
    ::SetLastError(code);
    return false;
  };
#if defined(VARNHOLT_FAULT_INJECTION)
  if (const auto code = fault_injection::OnCall(fault_injection::Operation::kOpen, path)) return fail(*code);
#endif
  // OPEN_EXISTING neither creates nor truncates. Write access refuses a
  // read-only file and a folder, share mode 0 a file that anyone holds open.
  const UniqueFileHandle file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD code = ::GetLastError();
    return code == ERROR_FILE_NOT_FOUND ? true : fail(code);
  }
  if (exists) *exists = true;
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK || IsFolder(path)) return fail(ERROR_ACCESS_DENIED);
  return true;
}

bool MoveReplacing(const std::wstring& from, const std::wstring& to) {
#if defined(VARNHOLT_FAULT_INJECTION)
  for (const std::wstring* path : {&from, &to}) {
    if (const auto code = fault_injection::OnCall(fault_injection::Operation::kMove, *path)) {
      ::SetLastError(*code);
      return false;
    }
  }
#endif
  return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

void File::Raise(ErrorCode code) const { Raise(CauseFromError(code), code); }

void File::Raise(FileError::Cause cause, ErrorCode code) const {
  throw FileError(cause, static_cast<std::int64_t>(code), path_);
}

}  // namespace platform
