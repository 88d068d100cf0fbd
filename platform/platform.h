// The operating-system layer: everything the suite asks of the OS goes through
// here, so the package and application code stays portable and testable.
// Paths are wide strings; on POSIX they are converted to UTF-8 at this border.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_error.h"
#include "platform/handles.h"

namespace platform {

#if defined(_WIN32)
inline constexpr wchar_t kPathSeparator = L'\\';
#else
inline constexpr wchar_t kPathSeparator = L'/';
#endif

// The OS's own error number: a Win32 error code on Windows, errno on POSIX.
using ErrorCode = std::uint32_t;

ErrorCode LastError();
void SetLastError(ErrorCode code);
// The system's message text for a code, without a trailing line break;
// empty when the system has none.
std::wstring SystemErrorText(ErrorCode code);
// The FileError cause that an OS error stands for.
FileError::Cause CauseFromError(ErrorCode code);

// Windows file times: 100 ns intervals since 1601-01-01 UTC. 0 means "none".
struct FileTimes {
  std::uint64_t creation = 0;
  std::uint64_t lastAccess = 0;
  std::uint64_t lastWrite = 0;
};

// An open file, owned exclusively; closes itself. Opens are exclusive (no
// other reader or writer) because a package must not change under the reader
// and an output file must not be read half-written.
class File {
 public:
  enum class Mode {
    kReadExclusive,         // existing regular file, read only
    kReadShareRead,         // existing regular file, read only; others may read it too (a running program)
    kCreateWriteExclusive,  // create or truncate, write only
    kCreateReadWrite,       // create or truncate, read and write
    kCreateWriteShareRead,  // create or truncate, write only; others may read it meanwhile (a log)
    kCreateNewWrite,        // create a file that must not exist yet, write only
    kUpdateExclusive,       // existing regular file, read and write, kept as it is
  };
  enum class Origin { kBegin, kCurrent, kEnd };

  File() = default;
  File(File&& other) noexcept = default;
  File& operator=(File&& other) noexcept = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() = default;

  // False when the file cannot be opened; *error (if given) then holds the
  // cause, the OS code and the path. A folder never opens as a file.
  bool Open(const std::wstring& path, Mode mode, FileError* error = nullptr);
  bool IsOpen() const;
  const std::wstring& Path() const { return path_; }

  // Short only at the end of the file. Raise FileError on an I/O error.
  std::size_t Read(void* buffer, std::size_t count);
  // Reads at `offset` as Read does. Several threads may read one open file
  // this way at once: it neither uses nor depends on the file pointer, though
  // on Windows it leaves the pointer behind what it read.
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const;
  void Write(const void* buffer, std::size_t count);
  std::uint64_t Seek(std::int64_t offset, Origin origin);
  std::uint64_t Position();
  std::uint64_t Length();
  // Cuts the file to `length` bytes (or extends it with zeros); the position
  // is left where it was. Raises FileError on failure.
  void Truncate(std::uint64_t length);
  // Puts what this handle wrote on the disk before it returns. Raises
  // FileError on failure. Costs milliseconds on a real disk, so only data
  // that would be lost in a crash is flushed.
  void Flush();
  // Raises FileError if the OS reports a failure on close (late write errors).
  void Close();

 private:
  [[noreturn]] void Raise(ErrorCode code) const;
  [[noreturn]] void Raise(FileError::Cause cause, ErrorCode code) const;

#if defined(_WIN32)
  UniqueFileHandle handle_;
#else
  UniqueFd handle_;
#endif
  std::wstring path_;
};

// Names (not paths) of the entries directly in `folder` that match `pattern`
// ("*" and "?" wildcards), in the order the OS returns them. A missing or
// unreadable folder gives an empty list.
std::vector<std::wstring> FindFiles(const std::wstring& folder, const std::wstring& pattern);

// Creates the folder and every missing parent. True when the folder exists
// afterwards, also when it was there already; otherwise LastError() says why.
bool CreateFolderTree(const std::wstring& path);

bool GetFileTimes(const std::wstring& path, FileTimes* times);

// A regular file's size and last-write time, from one look at it (no open),
// so that a run over many unchanged files costs one call per file.
struct FileLook {
  std::uint64_t size = 0;
  std::uint64_t lastWrite = 0;
};
// nullopt for nothing there, a folder or anything else the system cannot
// read as a file; a link is looked at itself, not followed (POSIX: no file).
std::optional<FileLook> LookAtFile(const std::wstring& path);
// Sets the non-zero times; zero members are left as they are. POSIX cannot set
// a creation time and ignores it.
bool SetFileTimes(const std::wstring& path, const FileTimes& times);

bool RemoveFile(const std::wstring& path);
// Removes a regular file that nobody holds open; false (LastError() says why)
// for a file in use, a folder or anything else, which stay as they are.
bool RemoveUnusedFile(const std::wstring& path);
bool IsFolder(const std::wstring& path);
// True when `path` itself is a symbolic link, a junction or another reparse
// point (not followed), whatever it leads to.
bool IsLink(const std::wstring& path);
// Removes `path` when it is an empty folder; anything else stays. Never
// throws, since clean-up runs on the way out of failures.
bool RemoveEmptyFolder(const std::wstring& path) noexcept;

// What tells a file or folder apart from every other one on the machine,
// however its path is spelt (case, ".", doubled separators, links).
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  auto operator<=>(const FileIdentity&) const = default;
};
// nullopt when the path names nothing, or the system cannot say.
std::optional<FileIdentity> IdentityOf(const std::wstring& path);

// True when an OS error says that a file of that name exists already (a
// kCreateNewWrite open of a taken name).
bool IsExistsError(ErrorCode code);

// Whether the file at `path` could be replaced now, found without creating or
// changing it: no file there passes; a read-only file, one that someone holds
// open, a folder or another non-file refuses, and *error (if given) then holds
// the cause, the OS code and the path. *exists (if given) tells whether a
// file was there.
bool CanReplace(const std::wstring& path, FileError* error = nullptr, bool* exists = nullptr);

// Moves the closed file `from` over `to` in one step, replacing a file there;
// both lie on one volume. The data is not flushed here: a file that replaces
// one worth keeping is flushed (File::Flush) by its writer first, or a crash
// could leave an empty target where the earlier file was. False when it
// cannot (LastError() says why); `from` is then left as it was.
bool MoveReplacing(const std::wstring& from, const std::wstring& to);

// Creates an empty file with a unique name "<prefix><hex>.tmp" in `folder` and
// returns its path; nullopt on failure (LastError() says why).
std::optional<std::wstring> CreateTempFile(const std::wstring& folder, const std::wstring& prefix);

// Copies the file `from` to `to` byte for byte (a signature in it stays
// valid), replacing a file there whole: written beside it, flushed, moved
// over it. False with the cause in *error; `to` is then as it was.
bool CopyFileWhole(const std::wstring& from, const std::wstring& to, FileError* error);

// True when an OS error says that someone holds the file open (a running
// program, a viewer with the map open), so it cannot go now.
bool IsInUseError(ErrorCode code);

// Has the system remove the file at the next restart (Windows keeps a list of
// pending renames). False where the system has no such list (POSIX) or
// refuses; LastError() says why.
bool RemoveAtRestart(const std::wstring& path);

// The size of an existing regular file; nullopt for a folder or nothing.
std::optional<std::uint64_t> FileSize(const std::wstring& path);

// The bytes this user may still write on the drive that holds `folder`. A
// folder that does not exist yet is asked of its nearest existing parent,
// since the systems answer only for existing ones. nullopt when the system
// cannot say.
std::optional<std::uint64_t> AvailableSpace(const std::wstring& folder);

// A byte count the way the system writes sizes for people ("12.3 MB").
std::wstring FormatByteSize(std::uint64_t bytes);

// The machine-wide settings store: a registry key under HKEY_LOCAL_MACHINE on
// Windows, a file on POSIX. Values are raw bytes, as the registry keeps them.
class SettingsKey {
 public:
  SettingsKey() = default;
  SettingsKey(SettingsKey&& other) noexcept;
  SettingsKey& operator=(SettingsKey&& other) noexcept;
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;
  ~SettingsKey();

  // Opens the key, creating it if it does not exist. Returns an OS code.
  ErrorCode OpenOrCreate(const std::wstring& keyPath);
  // Copies the value into `buffer`; `*size` is the capacity in bytes on entry
  // and the value's size on return. A value larger than the capacity gives
  // kErrorMoreData. The type is not examined.
  ErrorCode QueryValue(const std::wstring& name, void* buffer, std::uint32_t* size);
  // Stores a UTF-16 string value (REG_SZ) of `bytes` bytes.
  ErrorCode SetStringValue(const std::wstring& name, const void* data, std::uint32_t bytes);
  // Stores a 32-bit number (REG_DWORD).
  ErrorCode SetDwordValue(const std::wstring& name, std::uint32_t value);
  // Success also when the value was not there.
  ErrorCode DeleteValue(const std::wstring& name);
  // Removes the key at `keyPath` with its values (it has no subkeys); success
  // also when it was not there.
  static ErrorCode DeleteKey(const std::wstring& keyPath);
  void Close();

 private:
#if defined(_WIN32)
  UniqueRegistryKey key_;
#else
  std::wstring keyPath_;
  bool open_ = false;
#endif
};

// Command-line arguments as wide strings (UTF-8 decoded on POSIX).
std::vector<std::wstring> CommandLineArguments(int argc, char** argv);
bool IsTerminal(std::FILE* stream);
// Makes the console take the UTF-8 text that the tools print.
void UseUtf8Console();

inline constexpr ErrorCode kErrorSuccess = 0;
inline constexpr ErrorCode kErrorMoreData = 234;

}  // namespace platform

// ---------------------------------------------------------------------------
// Start-up facts: what the wizard asks the system before it works out its
// folders, and its way out (win32/startup.cpp, win32/self_removal.cpp,
// posix/startup.cpp).
namespace platform {

// The running program's path, read through a buffer of `capacity`
// characters: a longer path comes back cut to the buffer, never overrun.
std::wstring ProgramPath(std::size_t capacity);

// The folder for programs (Program Files on Windows), without a trailing
// separator; nullopt where the system has none or cannot say.
std::optional<std::wstring> ProgramFilesFolder();

// The first call of every program: DLLs come from the system folder only,
// never from the program's own folder (a medium, a downloads folder) or the
// current one. Nothing to do on POSIX.
void LoadDllsFromSystemFolderOnly();

// A running program cannot remove its own file on Windows. This starts a copy
// of the program from a new folder in the temporary folder, which waits for
// this process to end, then removes `file` and, innermost first, those of
// `folders` that are empty, and has the system remove itself and its folder
// at the next restart. The caller then exits as it would have: its exit code
// still reaches whoever started it. True when the copy runs; false (POSIX,
// or the copy cannot start) with LastError() saying why.
bool RemoveAfterExit(const std::wstring& file, const std::vector<std::wstring>& folders);

// The first thing the program asks: when `arguments` (those after the
// program's own name) are the ones RemoveAfterExit gives its copy, does that
// copy's work and returns its exit code; nullopt for any other command line.
std::optional<int> RunRemovalAfterExit(const std::vector<std::wstring>& arguments);

}  // namespace platform

// ---------------------------------------------------------------------------
// The setup's clock and its one-at-a-time lock (win32/clock.cpp,
// posix/clock.cpp).
namespace platform {

struct LocalTimeOfDay {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

LocalTimeOfDay LocalTime();

// Held for as long as a setup runs on this machine: a global named mutex on
// Windows, an exclusive lock on a file in the temp folder on POSIX. Released
// when the owner goes.
class SetupLock {
 public:
  enum class Outcome {
    kAcquired,
    kHeldElsewhere,  // another setup holds it
    kFailed,         // the system refused; error() says why
  };

  SetupLock();
  SetupLock(SetupLock&&) noexcept;
  SetupLock& operator=(SetupLock&&) noexcept;
  SetupLock(const SetupLock&) = delete;
  SetupLock& operator=(const SetupLock&) = delete;
  ~SetupLock();

  // `name` tells the lock apart from other programs' (the tests use their own).
  Outcome Acquire(const std::wstring& name);
  bool IsHeld() const;
  ErrorCode error() const { return error_; }

 private:
  // The OS's owner (a mutex handle, a descriptor), spelt where its headers are.
  struct Holder;
  std::unique_ptr<Holder> holder_;
  ErrorCode error_ = kErrorSuccess;
};

inline constexpr wchar_t kSetupLockName[] = L"VarnholtTessavoSetup";

}  // namespace platform
