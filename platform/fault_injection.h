// Test-only switches that make platform calls fail as a damaged disk or a full
// volume would. Compiled only with VARNHOLT_FAULT_INJECTION, so release builds
// carry neither the hooks nor this API.
#pragma once

#if !defined(VARNHOLT_FAULT_INJECTION)
#error "fault injection is for test builds (VARNHOLT_FAULT_INJECTION) only"
#endif

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace platform::fault_injection {

enum class Operation {
  kOpen,          // File::Open of any mode, or CanReplace, fails
  kRead,          // File::Read/ReadAt fail where they reach offset `afterBytes`
  kWrite,         // File::Write fails once `afterBytes` have been written
  kClose,         // File::Close reports a late error
  kSync,          // flushing to disk fails: File::Flush, or the settings store
  kCreateFolder,  // CreateFolderTree fails
  kVanish,        // the file is deleted just before File::Open reads it
  kMove,          // MoveReplacing fails (matched on either path)
};

struct Fault {
  Operation operation;
  // Only paths containing this text are hit; empty hits every path.
  std::wstring pathContains;
  // The OS error the call fails with (unused by kVanish).
  ErrorCode error = 0;
  // Writes: bytes that still go through, across all matching calls, before
  // the fault strikes; a call that crosses the limit is cut short there, as a
  // filling disk cuts a write short; a file cut short gives its bytes back.
  // Reads: the offset of an unreadable spot in the file, as a bad sector is;
  // a read is cut short before it, one that starts there fails, and bytes
  // beyond it read. Where the spot lies does not depend on which thread reads
  // first.
  std::uint64_t afterBytes = 0;
};

// Arms a fault until Clear(); any number may be armed at once.
void Arm(const Fault& fault);
void Clear();
// How many calls a fault has failed (or files it has removed) since armed.
std::size_t HitCount();

// Arms a fault for the life of the object: the fault clears when the test
// moves on, even when an assertion leaves the test early.
class ScopedFault {
 public:
  explicit ScopedFault(const Fault& fault) { Arm(fault); }
  ~ScopedFault() { Clear(); }
  ScopedFault(const ScopedFault&) = delete;
  ScopedFault& operator=(const ScopedFault&) = delete;
};

// Hooks for the platform implementations. For reads and writes `*count` may be
// lowered to the bytes that still go through; an error means nothing does.
std::optional<ErrorCode> OnTransfer(Operation operation, const std::wstring& path, std::size_t* count);
// A read of `*count` bytes at `offset`.
std::optional<ErrorCode> OnRead(const std::wstring& path, std::uint64_t offset, std::size_t* count);
std::optional<ErrorCode> OnCall(Operation operation, const std::wstring& path);
// A file was cut short by `freed` bytes: as on a real volume, the room they
// took goes back to the write faults that counted them.
void OnTruncate(const std::wstring& path, std::uint64_t freed);
// Deletes the file if a kVanish fault matches it.
void OnOpenForReading(const std::wstring& path);

}  // namespace platform::fault_injection
