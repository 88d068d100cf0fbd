// A running program cannot delete its own file on Windows: a copy of it, in a
// fresh folder of the temporary folder, waits for it to end and does that.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/owners.h"

namespace platform {
namespace {

constexpr wchar_t kSwitch[] = L"/remove-after-exit=";
constexpr std::size_t kSwitchLength = sizeof kSwitch / sizeof kSwitch[0] - 1;
// The copy schedules its own file and folder for removal at restart only when
// the folder is one of these, directly in the temporary folder: run any other
// way, the program keeps its file.
constexpr wchar_t kFolderPrefix[] = L"VarnholtRemoval-";
constexpr std::size_t kFolderPrefixLength = sizeof kFolderPrefix / sizeof kFolderPrefix[0] - 1;
constexpr std::size_t kLongPath = 32768;
constexpr DWORD kParentWaitMs = 5 * 60 * 1000;
// The system may let go of an ended program's image a moment late.
constexpr int kRemoveAttempts = 40;
constexpr DWORD kRemovePauseMs = 250;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring WithoutTrailingSeparators(std::wstring path) {
  while (!path.empty() && IsSeparator(path.back()))
    path.pop_back();
  return path;
}

std::wstring ParentOf(const std::wstring& path) {
  const std::size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

std::wstring NameOf(const std::wstring& path) {
  const std::size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// "X:\..." or "\\server\...": nothing that depends on the current folder.
bool IsFullPath(const std::wstring& path) {
  if (path.size() < 3) return false;
  if (std::iswalpha(path[0]) && path[1] == L':' && IsSeparator(path[2])) return true;
  return IsSeparator(path[0]) && IsSeparator(path[1]);
}

std::wstring TempFolder() {
  std::vector<wchar_t> buffer(kLongPath, L'\0');
  const DWORD length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length == 0 || length >= buffer.size()) return {};
  return WithoutTrailingSeparators(std::wstring(buffer.data(), length));
}

// Never a folder that stands already: whatever lay in it could be loaded
// beside the copy.
std::optional<std::wstring> CreateFreshFolder(const std::wstring& parent) {
  const DWORD seed = ::GetCurrentProcessId() * 2654435761u ^ ::GetTickCount();
  for (DWORD attempt = 0; attempt < 100; ++attempt) {
    wchar_t name[16];
    std::swprintf(name, 16, L"%08lX", static_cast<unsigned long>(seed + attempt * 7919u));
    const std::wstring folder = parent + L'\\' + kFolderPrefix + name;
    if (::CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

bool CreateProcessTrying(const std::wstring& program, std::wstring& commandLine, DWORD flags,
                         const std::wstring& folder, STARTUPINFOW* startup) {
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr, folder.c_str(),
                        startup, &info))
    return false;
  const UniqueKernelHandle process(info.hProcess);
  const UniqueKernelHandle thread(info.hThread);
  return true;
}

// Starts `program` in `folder` (so the copy holds no other folder as its
// current one), handing down `inherited` and, where the system allows it to
// be said, nothing else.
bool StartWithHandle(const std::wstring& program, std::wstring commandLine, const std::wstring& folder,
                     HANDLE inherited) {
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<unsigned char> memory(size);
  UniqueProcThreadAttributeList list;
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(memory.data());
  if (size != 0 && ::InitializeProcThreadAttributeList(attributes, 1, 0, &size)) {
    list.Reset(attributes);
    if (!::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited, sizeof inherited,
                                     nullptr, nullptr))
      list.Reset();
  }
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = list ? sizeof startup : sizeof startup.StartupInfo;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.lpAttributeList = list.Get();
  const DWORD flags = CREATE_NO_WINDOW | (list ? EXTENDED_STARTUPINFO_PRESENT : 0);
  // Out of the caller's job where it may, so that a distribution tool that
  // ends the setup's job does not end the copy before it removed anything.
  if (CreateProcessTrying(program, commandLine, flags | CREATE_BREAKAWAY_FROM_JOB, folder, &startup.StartupInfo))
    return true;
  return ::GetLastError() == ERROR_ACCESS_DENIED &&
         CreateProcessTrying(program, commandLine, flags, folder, &startup.StartupInfo);
}

// The whole file, or nullopt when it does not read.
std::optional<std::string> ContentsOf(const std::wstring& path) {
  File file;
  if (!file.Open(path, File::Mode::kReadShareRead)) return std::nullopt;
  try {
    std::string bytes(static_cast<std::size_t>(file.Length()), '\0');
    bytes.resize(file.Read(bytes.data(), bytes.size()));
    return bytes;
  } catch (const FileError&) {
    return std::nullopt;
  }
}

std::wstring Folded(const std::wstring& path) {
  std::wstring folded = path;
  for (wchar_t& c : folded)
    c = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towupper(c));
  return folded;
}

// "..", or anything Windows reads as "." or ".." once it dropped trailing dots
// and blanks.
bool HasDotPart(const std::wstring& path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !IsSeparator(path[end]))
      ++end;
    const std::wstring part = path.substr(start, end - start);
    if (!part.empty() && part.find_first_not_of(L". ") == std::wstring::npos) return true;
    start = end + 1;
  }
  return false;
}

struct RemovalOrder {
  HANDLE parent = nullptr;
  std::wstring file;
  std::vector<std::wstring> folders;
};

std::optional<RemovalOrder> ReadOrder(const std::vector<std::wstring>& arguments) {
  if (arguments.size() < 2 || arguments[0].compare(0, kSwitchLength, kSwitch) != 0) return std::nullopt;
  const std::wstring digits = arguments[0].substr(kSwitchLength);
  if (digits.empty() || digits.size() > 19 ||
      !std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
    return std::nullopt;
  const std::uint64_t value = std::stoull(digits);
  if (value == 0) return std::nullopt;
  RemovalOrder order;
  order.parent = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value));
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (!IsFullPath(arguments[i])) return std::nullopt;
    if (i == 1) {
      order.file = arguments[i];
    } else {
      order.folders.push_back(arguments[i]);
    }
  }
  return order;
}

// RemoveAfterExit hands over the setup copy, a byte-for-byte copy of this
// program, and folders that hold it. A line typed by hand with anything else
// would otherwise delete whatever it named.
bool WrittenByTheSetup(const RemovalOrder& order) {
  if (HasDotPart(order.file)) return false;
  for (const std::wstring& folder : order.folders) {
    if (HasDotPart(folder)) return false;
    const std::wstring inside = Folded(WithoutTrailingSeparators(folder)) + L'\\';
    if (Folded(order.file).compare(0, inside.size(), inside) != 0) return false;
  }
  const std::optional<std::string> own = ContentsOf(ProgramPath(kLongPath));
  return own && ContentsOf(order.file) == own;
}

bool RemoveTrying(const std::wstring& file) {
  for (int attempt = 1;; ++attempt) {
    if (RemoveFile(file)) return true;
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;  // gone already
    if (!IsInUseError(code) || attempt == kRemoveAttempts) return false;
    ::Sleep(kRemovePauseMs);
  }
}

int CarryOut(const RemovalOrder& order) {
  // Handed down for this wait alone.
  const UniqueKernelHandle parent(order.parent);
  // No handle, or a program that never ends: nothing is touched.
  if (::WaitForSingleObject(parent.Get(), kParentWaitMs) != WAIT_OBJECT_0) return 1;
  std::vector<std::wstring> folders = order.folders;
  // Innermost first, whatever order they came in: a folder is longer than its parent.
  std::stable_sort(folders.begin(), folders.end(),
                   [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
  if (!RemoveTrying(order.file)) {
    // Still held: the restart takes it, and the folders if they are empty by then.
    RemoveAtRestart(order.file);
    for (const std::wstring& folder : folders)
      RemoveAtRestart(folder);
    return 1;
  }
  for (const std::wstring& folder : folders)
    RemoveEmptyFolder(folder);
  return 0;
}

void ScheduleOwnRemoval() {
  const std::wstring self = ProgramPath(kLongPath);
  const std::wstring folder = ParentOf(self);
  if (NameOf(folder).compare(0, kFolderPrefixLength, kFolderPrefix) != 0) return;
  const std::optional<FileIdentity> temp = IdentityOf(TempFolder());
  if (!temp || temp != IdentityOf(ParentOf(folder))) return;
  // The folder after the file, or it would not be empty when its turn came.
  RemoveAtRestart(self);
  RemoveAtRestart(folder);
}

}  // namespace

bool RemoveAfterExit(const std::wstring& file, const std::vector<std::wstring>& folders) {
  // Quoted, and no folder ends in a backslash, so every way of splitting a
  // command line gives the copy the same paths back.
  auto quoted = [](const std::wstring& path) { return L" \"" + path + L'"'; };
  if (!IsFullPath(file) || file.find(L'"') != std::wstring::npos) {
    ::SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  std::wstring paths = quoted(file);
  for (const std::wstring& given : folders) {
    const std::wstring folder = WithoutTrailingSeparators(given);
    if (folder.size() == 2 && folder[1] == L':') continue;  // a drive's root never goes
    if (!IsFullPath(folder) || folder.find(L'"') != std::wstring::npos) {
      ::SetLastError(ERROR_INVALID_NAME);
      return false;
    }
    paths += quoted(folder);
  }

  const std::wstring program = ProgramPath(kLongPath);
  const std::wstring temp = TempFolder();
  if (program.empty() || temp.empty()) return false;
  const std::optional<std::wstring> folder = CreateFreshFolder(temp);
  if (!folder) return false;
  const std::wstring copy = *folder + L'\\' + NameOf(program);
  auto undo = [&](DWORD code) {
    RemoveFile(copy);
    RemoveEmptyFolder(*folder);
    ::SetLastError(code);
    return false;
  };
  FileError error;
  if (!CopyFileWhole(program, copy, &error)) return undo(static_cast<DWORD>(error.osError()));

  HANDLE duplicated = nullptr;
  // Enough to wait for this process, nothing more.
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), &duplicated, SYNCHRONIZE,
                         TRUE, 0))
    return undo(::GetLastError());
  const UniqueKernelHandle parent(duplicated);
  const std::wstring commandLine =
      L'"' + copy + L"\" " + kSwitch + std::to_wstring(reinterpret_cast<std::uintptr_t>(duplicated)) + paths;
  if (!StartWithHandle(copy, commandLine, *folder, duplicated)) return undo(::GetLastError());
  return true;
}

std::optional<int> RunRemovalAfterExit(const std::vector<std::wstring>& arguments) {
  const std::optional<RemovalOrder> order = ReadOrder(arguments);
  if (!order) return std::nullopt;
  // Its own form, so no setup runs, but nothing is touched either.
  if (!WrittenByTheSetup(*order)) return 1;
  const int code = CarryOut(*order);
  ScheduleOwnRemoval();
  return code;
}

}  // namespace platform
