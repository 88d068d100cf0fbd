// The platform's calls for uninstall that only Windows has (run under Wine):
// removal at the next restart, a running program's file, and a program that
// removes itself after it ended. Numbers and deletions in the registry are
// tested with the POSIX store, in tests/platform.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/temp_dir.h"
#include "win32_owners.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

// The list of renames the system carries out at the next restart, as pairs of
// source and target; an empty target deletes the source.
using Renames = std::vector<std::pair<std::wstring, std::wstring>>;

Renames PendingRenames() {
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &opened) != ERROR_SUCCESS) return {};
  const UniqueRegistryKey key(opened);
  DWORD type = 0;
  DWORD size = 0;
  if (::RegQueryValueExW(opened, kPendingRenames, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  std::vector<wchar_t> text(size / sizeof(wchar_t) + 2, L'\0');
  if (::RegQueryValueExW(opened, kPendingRenames, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &size) !=
      ERROR_SUCCESS)
    return {};
  Renames renames;
  std::size_t at = 0;
  auto next = [&] {
    std::wstring part(text.data() + at);
    at += part.size() + 1;
    return part;
  };
  while (at < size / sizeof(wchar_t)) {
    std::wstring source = next();
    if (source.empty()) break;
    renames.emplace_back(std::move(source), next());
  }
  return renames;
}

void WritePendingRenames(const Renames& renames) {
  HKEY opened = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &opened), ERROR_SUCCESS);
  const UniqueRegistryKey key(opened);
  if (renames.empty()) {
    ::RegDeleteValueW(opened, kPendingRenames);
    return;
  }
  std::wstring text;
  for (const auto& [source, target] : renames)
    text += source + L'\0' + target + L'\0';
  text += L'\0';
  ::RegSetValueExW(opened, kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(text.data()),
                   static_cast<DWORD>(text.size() * sizeof(wchar_t)));
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Waits up to `limit` for `done`, looking every 100 ms.
template <typename Condition>
bool Within(Clock::duration limit, Condition done) {
  const Clock::time_point end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

std::wstring OwnPath() { return platform::ProgramPath(32768); }

// Wine writes the list as Windows does: the NT path of the file, then an
// empty target, in a REG_MULTI_SZ.
TEST(RemoveAtRestart, TheFileJoinsTheSystemsListOfRenamesWithAnEmptyTarget) {
  TempDir dir;
  const std::wstring path = dir.File(L"held map.dat");
  WriteAll(path, Bytes("map"));
  const Renames before = PendingRenames();
  ASSERT_TRUE(platform::RemoveAtRestart(path)) << platform::LastError();
  Renames after = PendingRenames();
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(after.back(), (std::pair<std::wstring, std::wstring>(L"\\??\\" + path, L"")));
  EXPECT_TRUE(Exists(path));  // not before the restart
  after.pop_back();
  WritePendingRenames(after);
}

TEST(InUse, TheFileOfARunningProgramCannotGoAndCountsAsInUse) {
  const std::wstring self = OwnPath();
  EXPECT_FALSE(::DeleteFileW(self.c_str()));
  const DWORD code = ::GetLastError();
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_ACCESS_DENIED));  // what Windows says too
  EXPECT_TRUE(platform::IsInUseError(code));
  EXPECT_TRUE(Exists(self));
}

// The installed setup's place as the removal finds it: the program in its
// folder, a parent the setup made, a folder of the user's beside them.
struct SetupPlace {
  TempDir root;
  std::wstring outer = root.File(L"Varnholt");
  std::wstring setup = outer + L"\\Setup";
  std::wstring program = setup + L"\\Tessavo.exe";
  std::wstring userFolder = root.File(L"Kept");
  std::wstring userFile = userFolder + L"\\notes.txt";
  std::wstring unnamed = root.File(L"other.txt");

  SetupPlace() {
    fs::create_directories(setup);
    fs::create_directories(userFolder);
    // The setup copy is a copy of the program that removes it.
    fs::copy_file(OwnPath(), program);
    WriteAll(userFile, Bytes("mine"));
    WriteAll(unnamed, Bytes("not named"));
  }
  std::vector<std::wstring> Order(const std::wstring& handle) const {
    // Outer first and the setup's folder with its separator: the order and
    // spelling callers give must not matter.
    return {L"/remove-after-exit=" + handle, program, outer, setup + L"\\"};
  }
  std::wstring Tree() const {
    std::wstring tree;
    for (const std::string& entry : TreeOf(root.path()))
      tree += std::wstring(entry.begin(), entry.end()) + L"; ";
    return tree;
  }
};

// A handle the removal may take and close, already signalled as a process
// that has ended is.
std::wstring SignalledHandle() {
  HANDLE event = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
  return std::to_wstring(reinterpret_cast<std::uintptr_t>(event));
}

TEST(RunRemovalAfterExit, AnyOtherCommandLineIsNotItsAndTouchesNothing) {
  SetupPlace place;
  const std::wstring file = place.program;
  for (const std::vector<std::wstring>& arguments : std::vector<std::vector<std::wstring>>{
           {},
           {L"/quiet"},
           {L"/uninstall", L"/quiet"},
           {L"/remove-after-exit=", file},
           {L"/remove-after-exit=12x", file},
           {L"/remove-after-exit=0", file},
           {L"/remove-after-exit=-4", file},
           {L"/remove-after-exit=99999999999999999999", file},
           {L"/REMOVE-AFTER-EXIT=8", file},
           {L"/remove-after-exit=8"},
           {L"/remove-after-exit=8", L"Setup\\Tessavo.exe"},
           {L"/remove-after-exit=8", file, L"Varnholt"},
           {L"/quiet", L"/remove-after-exit=8", file},
       }) {
    EXPECT_FALSE(platform::RunRemovalAfterExit(arguments)) << (arguments.empty() ? L"" : arguments[0]);
  }
  EXPECT_TRUE(Exists(file));
}

TEST(RunRemovalAfterExit, RemovesTheFileThenTheEmptyNamedFoldersInnermostFirstAndNothingElse) {
  SetupPlace place;
  // Let go a moment after the wait ends, as the image of an ended program may be.
  // Readable meanwhile, as a program's image is.
  HANDLE held = ::CreateFileW(place.program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::CloseHandle(held);
  });
  const Renames before = PendingRenames();
  const std::optional<int> code = platform::RunRemovalAfterExit(place.Order(SignalledHandle()));
  release.join();
  // This program was not started as a copy in the temporary folder: its file stays past a restart.
  EXPECT_EQ(PendingRenames(), before);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, 0);
  EXPECT_FALSE(Exists(place.program));
  EXPECT_FALSE(Exists(place.setup));
  EXPECT_FALSE(Exists(place.outer));
  EXPECT_EQ(ReadAll(place.userFile), Bytes("mine")) << place.Tree();
  EXPECT_EQ(ReadAll(place.unnamed), Bytes("not named"));
}

// Typed by hand with a number that happens to be a signalled handle, the
// line still takes only a copy of the program and folders that hold it.
TEST(RunRemovalAfterExit, ALineTypedByHandRemovesNothingButACopyOfTheSetup) {
  SetupPlace place;
  const std::wstring empty = place.root.File(L"Leer");
  fs::create_directories(empty);
  const Renames before = PendingRenames();
  for (const std::vector<std::wstring>& arguments : std::vector<std::vector<std::wstring>>{
           {L"/remove-after-exit=" + SignalledHandle(), place.unnamed},
           {L"/remove-after-exit=" + SignalledHandle(), place.userFile, place.userFolder},
           {L"/remove-after-exit=" + SignalledHandle(), place.program, empty},
           {L"/remove-after-exit=" + SignalledHandle(), place.program, place.setup + L"\\..\\..\\Leer"},
           {L"/remove-after-exit=" + SignalledHandle(), place.setup + L"\\..\\Setup\\Tessavo.exe", place.outer},
       }) {
    const std::optional<int> code = platform::RunRemovalAfterExit(arguments);
    ASSERT_TRUE(code) << arguments[1];
    EXPECT_NE(*code, 0) << arguments[1];
  }
  EXPECT_EQ(ReadAll(place.unnamed), Bytes("not named"));
  EXPECT_EQ(ReadAll(place.userFile), Bytes("mine"));
  EXPECT_TRUE(Exists(empty));
  EXPECT_TRUE(Exists(place.program));
  EXPECT_TRUE(Exists(place.setup));
  EXPECT_EQ(PendingRenames(), before);
}

// Someone typed the copy's command line by hand: no process stands behind the
// number, so nothing is waited for and nothing removed.
TEST(RunRemovalAfterExit, WithoutAHandleToWaitForNothingIsRemoved) {
  SetupPlace place;
  const Renames before = PendingRenames();
  const std::optional<int> code = platform::RunRemovalAfterExit(place.Order(L"2147483640"));
  ASSERT_TRUE(code);
  EXPECT_NE(*code, 0);
  EXPECT_EQ(PendingRenames(), before);
  EXPECT_TRUE(Exists(place.program));
  EXPECT_TRUE(Exists(place.setup));
}

TEST(RemoveAfterExit, TheProgramEndsWithItsOwnCodeAndItsFileAndEmptyFolderGoSoonAfter) {
  TempDir root;
  const std::wstring outer = root.File(L"K\u00e4rten T\u00e4st");
  const std::wstring folder = outer + L"\\Setup Copy";
  const std::wstring program = folder + L"\\self_removing.exe";
  fs::create_directories(folder);
  WriteAll(outer + L"\\notes.txt", Bytes("mine"));
  ASSERT_TRUE(::CopyFileW((fs::path(OwnPath()).parent_path() / "self_removing.exe").c_str(), program.c_str(), TRUE));
  const Renames before = PendingRenames();

  // The folders with and without their separator, as callers may write them.
  std::wstring commandLine = L"\"" + program + L"\" \"" + folder + L"\\\" \"" + outer + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // Started in its own folder, as a program often is: the copy must not keep it.
  ASSERT_TRUE(::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                               &startup, &info))
      << ::GetLastError();
  const UniqueKernelHandle process(info.hProcess);
  const UniqueKernelHandle thread(info.hThread);
  ASSERT_EQ(::WaitForSingleObject(process.Get(), 60000), WAIT_OBJECT_0);
  DWORD exitCode = 0;
  ASSERT_TRUE(::GetExitCodeProcess(process.Get(), &exitCode));
  EXPECT_EQ(exitCode, 7u);

  EXPECT_TRUE(Within(std::chrono::seconds(12), [&] { return !Exists(program) && !Exists(folder); }));
  EXPECT_FALSE(Exists(program));
  EXPECT_FALSE(Exists(folder));
  EXPECT_EQ(ReadAll(outer + L"\\notes.txt"), Bytes("mine"));  // not empty: it stays

  // The copy in the temporary folder has the restart take it, then its folder.
  Renames added;
  EXPECT_TRUE(Within(std::chrono::seconds(5), [&] {
    added = PendingRenames();
    added.erase(added.begin(), added.begin() + static_cast<std::ptrdiff_t>(std::min(before.size(), added.size())));
    return added.size() >= 2;
  }));
  ASSERT_EQ(added.size(), 2u);
  const std::wstring temp = L"\\??\\" + fs::temp_directory_path().wstring();
  EXPECT_EQ(added[0].first.rfind(temp, 0), 0u) << added[0].first;
  EXPECT_EQ(fs::path(added[0].first).filename(), L"self_removing.exe");
  EXPECT_EQ(fs::path(added[0].first).parent_path().wstring(), added[1].first);
  EXPECT_EQ(added[0].second, L"");
  EXPECT_EQ(added[1].second, L"");
}

}  // namespace
