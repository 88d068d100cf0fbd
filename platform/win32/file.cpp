#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/platform.h"
#if defined(VARNHOLT_FAULT_INJECTION)
#include "platform/fault_injection.h"
#endif

namespace platform {

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)), path_(std::move(other.path_)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    CloseQuietly();
    handle_ = std::exchange(other.handle_, nullptr);
    path_ = std::move(other.path_);
  }
  return *this;
}

File::~File() { CloseQuietly(); }

bool File::IsOpen() const { return handle_ != nullptr; }

bool File::Open(const std::wstring& path, Mode mode, FileError* error) {
  CloseQuietly();
  path_ = path;
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  if (mode == Mode::kCreateWriteExclusive) {
    access = GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  } else if (mode == Mode::kCreateReadWrite) {
    access = GENERIC_READ | GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  }
#if defined(VARNHOLT_FAULT_INJECTION)
  if (mode == Mode::kReadExclusive) fault_injection::OnOpenForReading(path);
  if (const auto code = fault_injection::OnCall(fault_injection::Operation::kOpen, path)) {
    if (error) *error = FileError(CauseFromError(*code), *code, path);
    ::SetLastError(*code);
    return false;
  }
#endif
  // Share mode 0: nobody else may read or write the file while it is open.
  HANDLE handle = ::CreateFileW(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    if (error) *error = FileError(CauseFromError(code), code, path);
    ::SetLastError(code);
    return false;
  }
  handle_ = handle;
  return true;
}

std::size_t File::Read(void* buffer, std::size_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
#if defined(VARNHOLT_FAULT_INJECTION)
    std::size_t allowed = chunk;
    if (const auto code = fault_injection::OnTransfer(fault_injection::Operation::kRead, path_, &allowed)) Raise(*code);
    chunk = static_cast<DWORD>(allowed);
#endif
    DWORD got = 0;
    if (!::ReadFile(handle_, bytes + done, chunk, &got, nullptr)) Raise(::GetLastError());
    if (got == 0) break;
    done += got;
  }
  return done;
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
    if (!::WriteFile(handle_, bytes, chunk, &written, nullptr)) Raise(::GetLastError());
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
  if (!::SetFilePointerEx(handle_, distance, &at, method)) Raise(::GetLastError());
  return static_cast<std::uint64_t>(at.QuadPart);
}

std::uint64_t File::Position() { return Seek(0, Origin::kCurrent); }

std::uint64_t File::Length() {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(handle_, &size)) Raise(::GetLastError());
  return static_cast<std::uint64_t>(size.QuadPart);
}

void File::Close() {
  if (!handle_) return;
  if (!::CloseHandle(std::exchange(handle_, nullptr))) Raise(::GetLastError());
#if defined(VARNHOLT_FAULT_INJECTION)
  if (const auto code = fault_injection::OnCall(fault_injection::Operation::kClose, path_)) Raise(*code);
#endif
}

void File::CloseQuietly() noexcept {
  if (handle_) ::CloseHandle(std::exchange(handle_, nullptr));
}

void File::Raise(ErrorCode code) const {
  throw FileError(CauseFromError(code), static_cast<std::int64_t>(code), path_);
}

}  // namespace platform
