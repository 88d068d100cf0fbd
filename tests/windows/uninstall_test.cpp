// Removing the maps as administrators and users do: the Installed-apps entry
// a quiet install leaves, the quiet command taken from it, /packages= beside
// a file two packages share, a file held open, a run that failed half-way,
// and Wine's own uninstaller working through the entry.
#include <gtest/gtest.h>

#include <windows.h>
#include <prsht.h>

#include <chrono>
#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "end_to_end_support.h"
#include "package/size_index.h"
#include "remote_wizard.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr DWORD kNothingInstalled = 1605;
constexpr DWORD kRestartRequired = 3010;
constexpr wchar_t kEntryName[] = L"VarnholtMaps";
constexpr wchar_t kEntryKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VarnholtMaps";
constexpr wchar_t kSessionManagerKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";
// What the version resource of Tessavo.exe says.
constexpr wchar_t kProductName[] = L"Varnholt Digital Maps";
constexpr wchar_t kProductVersion[] = L"1.0.0.0";
constexpr wchar_t kPublisher[] = L"Varnholt";
// Every window of the setup's starts its title so.
constexpr wchar_t kSetupTitle[] = L"VARNHOLT Setup";
// The setup copy removes itself through a helper after it has ended.
constexpr std::chrono::seconds kSelfRemoval{10};

fs::path ProgramFiles() {
  wchar_t folder[MAX_PATH] = {};
  ::ExpandEnvironmentStringsW(L"%ProgramFiles%", folder, MAX_PATH);
  return folder;
}
fs::path SetupFolder() { return ProgramFiles() / L"Varnholt" / L"Setup"; }
std::wstring SetupCopy() { return (SetupFolder() / L"Tessavo.exe").wstring(); }
fs::path InstallRecord() { return SetupFolder() / L"InstallRecord.txt"; }

struct RegistryValue {
  bool found = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;

  std::wstring Text() const {
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
      text.pop_back();
    return text;
  }
  DWORD Number() const { return data.size() == sizeof(DWORD) ? *reinterpret_cast<const DWORD*>(data.data()) : 0; }
};

RegistryValue ReadValue(const wchar_t* keyPath, const wchar_t* name, REGSAM view = 0) {
  RegistryValue value;
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ | view, &opened) != ERROR_SUCCESS) return value;
  const UniqueRegistryKey key(opened);
  DWORD size = 0;
  if (::RegQueryValueExW(opened, name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return value;
  value.data.resize(size);
  value.found = ::RegQueryValueExW(opened, name, nullptr, &value.type, value.data.data(), &size) == ERROR_SUCCESS;
  value.data.resize(size);
  return value;
}

RegistryValue EntryValue(const wchar_t* name) { return ReadValue(kEntryKey, name); }

bool EntryExists(REGSAM view = 0) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEntryKey, 0, KEY_READ | view, &opened) != ERROR_SUCCESS) return false;
  ::RegCloseKey(opened);
  return true;
}

// Whatever earlier runs in this prefix left (their destinations are long
// gone), so that a case starts from a machine without the maps.
void ForgetEveryInstallation() {
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEntryKey);
  std::error_code ignored;
  fs::remove_all(SetupFolder(), ignored);
  ClearSettings();
}

struct CleanMachine {
  CleanMachine() { ForgetEveryInstallation(); }
  ~CleanMachine() { ForgetEveryInstallation(); }
  CleanMachine(const CleanMachine&) = delete;
  CleanMachine& operator=(const CleanMachine&) = delete;
};

std::wstring LocalDate() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  wchar_t text[16] = {};
  std::swprintf(text, 16, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
  return text;
}

// A command line cut as CreateProcess cuts it: the quoted program, then the
// arguments.
struct CommandLine {
  std::wstring program;
  std::wstring arguments;
};
CommandLine Split(const std::wstring& command) {
  if (command.size() < 2 || command[0] != L'"') return {};
  const std::size_t close = command.find(L'"', 1);
  if (close == std::wstring::npos) return {};
  std::wstring arguments = command.substr(close + 1);
  while (!arguments.empty() && arguments.front() == L' ')
    arguments.erase(0, 1);
  return {command.substr(1, close - 1), arguments};
}

Ended RunCommand(const CommandLine& command, const std::wstring& extra = L"") {
  RemoteWizard program(command.program, command.arguments + extra, false);
  Ended ended;
  ended.code = program.WaitForExit(std::chrono::milliseconds(60000), &ended.sawWindow);
  return ended;
}

// The quiet command a distribution tool takes from the entry.
CommandLine QuietUninstallCommand() { return Split(EntryValue(L"QuietUninstallString").Text()); }

bool SetupCopyGoesWithin(std::chrono::seconds limit) {
  return WaitUntil([] { return !fs::exists(SetupFolder()); }, limit);
}

// The Varnholt folder above the setup's is left only when something else
// keeps it, the default destination for one.
void ExpectNoEmptyVarnholtFolder() {
  const fs::path varnholt = SetupFolder().parent_path();
  if (fs::exists(varnholt)) {
    EXPECT_FALSE(fs::is_empty(varnholt)) << varnholt;
  }
}

std::string RecordText() {
  const std::vector<std::uint8_t> bytes = ReadAll(InstallRecord());
  return std::string(bytes.begin(), bytes.end());
}

int CountOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
    ++count;
  return count;
}

std::uint64_t BytesOf(const std::vector<PackageFile>& files) {
  std::uint64_t bytes = 0;
  for (const PackageFile& file : files)
    bytes += file.content.size();
  return bytes;
}

DWORD KiB(std::uint64_t bytes) { return static_cast<DWORD>((bytes + 1023) / 1024); }

constexpr std::uint64_t kOneDay = 24ULL * 3600 * 10000000;

// Both carry the legend, Bayern's made a day later; Bayern, installed after
// Alpen, wrote it last.
void AddTwoPackagesSharingALegend(Medium& medium) {
  ASSERT_TRUE(medium.Create(
      L"PKG-A", L"Alpen",
      {{L"gemeinsam", L"legende.dat", RandomBytes(2000, 7)}, {L"alpen", L"a.dat", RandomBytes(5000, 8)}}, kStoredTime));
  ASSERT_TRUE(
      medium.Create(L"PKG-B", L"Bayern",
                    {{L"gemeinsam", L"legende.dat", RandomBytes(2000, 7)}, {L"bayern", L"b.dat", RandomBytes(3000, 9)}},
                    kStoredTime + kOneDay));
}

const std::vector<PackageFile> kAlpen = {{L"alpen\\nord", L"a1.txt", Bytes("alpen nord")},
                                         {L"alpen\\nord", L"a2.dat", RandomBytes(200000, 1)},
                                         {L"alpen\\sued", L"s.txt", Bytes("sued")}};
const std::vector<PackageFile> kBayern = {{L"bayern", L"b1.dat", RandomBytes(300000, 2)},
                                          {L"bayern", L"b2.txt", Bytes("bayern zwei")},
                                          {L"bayern\\tief", L"t.txt", Bytes("tief")}};

void AddAlpenAndBayern(Medium& medium) {
  ASSERT_TRUE(medium.Create(L"PKG-A", L"Alpen", kAlpen));
  ASSERT_TRUE(medium.Create(L"PKG-B", L"Bayern", kBayern));
}

// A destination with a blank in its name, a second one beside it, and the
// logs outside both.
struct Place : ScratchFolder {
  const std::wstring destination = Folder(L"Digital Maps");
  const fs::path root{destination};
  const std::wstring otherDestination = Folder(L"Weitere Karten");
  const fs::path otherRoot{otherDestination};
  const fs::path installLog = path() / L"install.log";
  const fs::path removalLog = path() / L"removal.log";
  std::wstring LogSwitch(const fs::path& log) const { return L" /log=" + Quoted(log.wstring()); }
};

// A second removal, by the medium's own program, finds nothing to remove.
void ExpectNothingLeftToRemove(const Medium& medium, const Place& place) {
  const fs::path log = place.path() / L"again.log";
  const Ended again = RunToTheEnd(medium, L"/uninstall /quiet" + place.LogSwitch(log));
  EXPECT_EQ(again.code, kNothingInstalled) << Joined(LogLines(log));
  EXPECT_FALSE(again.sawWindow);
}

// The strings of PendingFileRenameOperations in pairs: what to move, and
// where to (empty: delete).
struct PendingRename {
  std::wstring from;
  std::wstring to;
};

std::vector<PendingRename> PendingRenames() {
  const RegistryValue value = ReadValue(kSessionManagerKey, kPendingRenames);
  std::vector<PendingRename> renames;
  std::vector<std::wstring> strings;
  const auto* chars = reinterpret_cast<const wchar_t*>(value.data.data());
  const std::size_t count = value.data.size() / sizeof(wchar_t);
  std::wstring current;
  for (std::size_t i = 0; i < count; ++i) {
    if (chars[i] != L'\0') {
      current += chars[i];
      continue;
    }
    strings.push_back(current);
    current.clear();
  }
  for (std::size_t i = 0; i + 1 < strings.size() && !strings[i].empty(); i += 2)
    renames.push_back({strings[i], strings[i + 1]});
  return renames;
}

// The system names files there by their NT path.
bool NamesFile(const PendingRename& rename, const fs::path& file) {
  const std::wstring nt = L"\\??\\" + file.wstring();
  return ::CompareStringOrdinal(rename.from.c_str(), -1, nt.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Takes the removals of `file` back out of the list, so that no later
// restart of this prefix acts on them.
void DropPendingRenamesOf(const fs::path& file) {
  std::wstring kept;
  for (const PendingRename& rename : PendingRenames()) {
    if (NamesFile(rename, file)) continue;
    kept += rename.from + L'\0' + rename.to + L'\0';
  }
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS) return;
  const UniqueRegistryKey key(opened);
  if (kept.empty()) {
    ::RegDeleteValueW(opened, kPendingRenames);
    return;
  }
  kept += L'\0';
  ::RegSetValueExW(opened, kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                   static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
}

// Holds a file open for reading as a viewer would, sharing reads only: the
// file cannot be deleted while it is held.
class OpenForReading {
 public:
  explicit OpenForReading(const fs::path& path)
      : handle_(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  bool held() const { return handle_.IsValid(); }
  void Release() { handle_.Reset(); }

 private:
  UniqueFileHandle handle_;
};

// What a program writes on its standard output, with no console.
std::string OutputOf(const std::wstring& program, const std::wstring& arguments) {
  TempDir folder;
  const fs::path outputPath = folder.path() / L"output.txt";
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  UniqueFileHandle output(
      ::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS, 0, nullptr));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output.Get();
  startup.hStdError = output.Get();
  std::wstring commandLine = Quoted(program) + L" " + arguments;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &started)) {
    return "(not started: " + std::to_string(::GetLastError()) + ")";
  }
  const UniqueKernelHandle process(started.hProcess);
  const UniqueKernelHandle thread(started.hThread);
  if (::WaitForSingleObject(process.Get(), 60000) != WAIT_OBJECT_0) return "(did not end)";
  output.Reset();
  const std::vector<std::uint8_t> bytes = ReadAll(outputPath);
  return std::string(bytes.begin(), bytes.end());
}

std::wstring WineUninstaller() {
  wchar_t system[MAX_PATH] = {};
  ::GetSystemDirectoryW(system, MAX_PATH);
  return std::wstring(system) + L"\\uninstaller.exe";
}

// A window of the setup, whichever process shows it: the setup started by
// another program is not ours to wait for.
struct SetupWindowSearch {
  bool sheet = false;
  HWND found = nullptr;
};

BOOL CALLBACK FindSetupWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<SetupWindowSearch*>(parameter);
  wchar_t className[64] = {};
  ::GetClassNameW(window, className, 64);
  if (!::IsWindowVisible(window) || std::wcscmp(className, L"#32770") != 0) return TRUE;
  const std::wstring title = RemoteWizard::WindowText(window);
  if (title.compare(0, std::wcslen(kSetupTitle), kSetupTitle) != 0) return TRUE;
  const bool isSheet = ::SendMessageW(window, PSM_GETCURRENTPAGEHWND, 0, 0) != 0;
  const bool isMessageBox = ::GetDlgItem(window, 0xFFFF) != nullptr;
  if (search->sheet ? !isSheet : !isMessageBox) return TRUE;
  search->found = window;
  return FALSE;
}

HWND WaitForSetupWindow(bool sheet, std::chrono::milliseconds timeout = std::chrono::milliseconds(60000)) {
  SetupWindowSearch search{sheet, nullptr};
  WaitUntil(
      [&] {
        search.found = nullptr;
        ::EnumWindows(&FindSetupWindow, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      timeout);
  return search.found;
}

}  // namespace

TEST(Uninstall, TheQuietInstallLeavesAnEntryACopyAndARecord) {
  CleanMachine clean;
  Medium medium;
  AddAlpenAndBayern(medium);
  Place place;
  // Never installed: not even the setup's folder is there.
  ASSERT_FALSE(fs::exists(SetupFolder()));
  ExpectNothingLeftToRemove(medium, place);
  EXPECT_FALSE(fs::exists(SetupFolder())) << "a removal makes no setup copy";

  const std::wstring before = LocalDate();
  // Without its trailing backslash: the entry adds it.
  std::wstring destination = place.destination;
  destination.pop_back();
  const Ended ended = RunToTheEnd(medium, L"/quiet /dir=" + Quoted(destination) + place.LogSwitch(place.installLog));
  ASSERT_EQ(ended.code, kSuccess) << Joined(LogLines(place.installLog));
  const std::wstring after = LocalDate();

  const std::wstring quotedCopy = Quoted(SetupCopy());
  struct Text {
    const wchar_t* name;
    std::wstring value;
  };
  for (const Text& expected :
       {Text{L"DisplayName", kProductName}, Text{L"DisplayVersion", kProductVersion}, Text{L"Publisher", kPublisher},
        Text{L"InstallLocation", place.destination}, Text{L"UninstallString", quotedCopy + L" /uninstall"},
        Text{L"QuietUninstallString", quotedCopy + L" /uninstall /quiet"}}) {
    SCOPED_TRACE(expected.name);
    const RegistryValue value = EntryValue(expected.name);
    ASSERT_TRUE(value.found);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(value.Text(), expected.value);
  }
  // The icon of the setup copy, with or without its index.
  std::wstring icon = EntryValue(L"DisplayIcon").Text();
  if (icon.size() > 2 && icon.compare(icon.size() - 2, 2, L",0") == 0) icon.resize(icon.size() - 2);
  EXPECT_TRUE(icon == SetupCopy() || icon == quotedCopy) << icon;
  const RegistryValue date = EntryValue(L"InstallDate");
  EXPECT_EQ(date.type, static_cast<DWORD>(REG_SZ));
  EXPECT_TRUE(date.Text() == before || date.Text() == after) << date.Text();

  struct Number {
    const wchar_t* name;
    DWORD value;
  };
  for (const Number& expected : {Number{L"EstimatedSize", KiB(BytesOf(kAlpen) + BytesOf(kBayern))},
                                 Number{L"NoModify", 1}, Number{L"NoRepair", 1}}) {
    SCOPED_TRACE(expected.name);
    const RegistryValue value = EntryValue(expected.name);
    ASSERT_TRUE(value.found);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value.Number(), expected.value);
  }
  // The 64-bit setup writes where GeoPath is, not where 32-bit programs keep theirs.
  EXPECT_FALSE(EntryExists(KEY_WOW64_32KEY));
  EXPECT_EQ(StoredGeoPath(), place.destination);

  // Byte for byte, so that a signature stays valid.
  EXPECT_EQ(ReadAll(SetupCopy()), ReadAll(medium.Program()));
  ASSERT_TRUE(fs::exists(InstallRecord()));
  const std::string record = RecordText();
  EXPECT_EQ(record.rfind("Varnholt setup install record 1\r\n", 0), 0u) << record;
  EXPECT_NE(record.find("run\tended\r\n"), std::string::npos) << record;
  EXPECT_NE(record.find("destination\t" + Utf8(place.destination) + "\r\n"), std::string::npos) << record;
  EXPECT_EQ(CountOf(record, "\r\nfile\tPKG-A\t"), 3) << record;
  EXPECT_EQ(CountOf(record, "\r\nfile\tPKG-B\t"), 3) << record;
  EXPECT_NE(record.find("\r\nfile\tPKG-A\t200000\t"), std::string::npos) << "a2.dat's size\n" << record;
  EXPECT_GE(record.size(), 5u);
  EXPECT_EQ(record.substr(record.size() - 5), "end\r\n");
}

TEST(Uninstall, TheQuietCommandFromTheEntryRemovesExactlyWhatIsUnchanged) {
  CleanMachine clean;
  Medium medium;
  AddAlpenAndBayern(medium);
  Place place;
  ASSERT_EQ(RunToTheEnd(medium, L"/quiet /dir=" + Quoted(place.destination)).code, kSuccess);

  // Changed since: longer; or as long, but written at another time.
  const fs::path longer = place.root / L"alpen" / L"nord" / L"a2.dat";
  std::vector<std::uint8_t> bytes = ReadAll(longer);
  bytes.push_back(0x42);
  WriteAll(longer, bytes);
  const fs::path sameSize = place.root / L"bayern" / L"b2.txt";
  WriteAll(sameSize, Bytes("BAYERN ZWEI"));
  ASSERT_TRUE(SetWriteTime(sameSize, kStoredTime));
  // The user's own files, in a folder of the setup's and in one of theirs.
  WriteAll(place.root / L"bayern" / L"notizen.txt", Bytes("meine notizen"));
  fs::create_directories(place.root / L"eigene");
  WriteAll(place.root / L"eigene" / L"karte.txt", Bytes("meine karte"));

  const CommandLine quiet = QuietUninstallCommand();
  ASSERT_EQ(quiet.program, SetupCopy());
  ASSERT_EQ(quiet.arguments, L"/uninstall /quiet");
  const Ended ended = RunCommand(quiet, place.LogSwitch(place.removalLog));
  const std::vector<std::string> lines = LogLines(place.removalLog);
  EXPECT_EQ(ended.code, kSuccess) << Joined(lines);
  EXPECT_FALSE(ended.sawWindow);

  EXPECT_EQ(TreeOf(place.root),
            (std::vector<std::string>{"alpen", "alpen/nord", "alpen/nord/a2.dat", "bayern", "bayern/b2.txt",
                                      "bayern/notizen.txt", "eigene", "eigene/karte.txt"}));
  EXPECT_EQ(ReadAll(longer), bytes);
  EXPECT_EQ(ReadAll(sameSize), Bytes("BAYERN ZWEI"));
  for (const fs::path& changed : {longer, sameSize})
    EXPECT_GE(LineWith(lines, "Kept, changed since it was installed: " + Utf8(changed.wstring())), 0) << Joined(lines);
  EXPECT_EQ(LineWith(lines, "notizen.txt"), -1) << "files not in the record are not looked at";
  EXPECT_EQ(LineWith(lines, "Error"), -1) << Joined(lines);
  ExpectTheLogEndsWithExitCode(lines, kSuccess);

  EXPECT_FALSE(EntryExists());
  const std::wstring geoPath = StoredGeoPath();
  EXPECT_TRUE(geoPath == L"(none)" || geoPath == L"(no key)") << geoPath;
  // Nothing is left to remove, straight away: the helper that removes the
  // setup copy is no setup of its own that would make this wait (1618).
  ExpectNothingLeftToRemove(medium, place);
  EXPECT_TRUE(SetupCopyGoesWithin(kSelfRemoval)) << "the setup copy, the record and their folder";
  ExpectNoEmptyVarnholtFolder();
}

TEST(Uninstall, APackageRemovedAloneLeavesTheFileAnotherStillRecords) {
  CleanMachine clean;
  Medium medium;
  AddTwoPackagesSharingALegend(medium);
  Place place;
  ASSERT_EQ(RunToTheEnd(medium, L"/quiet /dir=" + Quoted(place.destination)).code, kSuccess);
  EXPECT_EQ(EntryValue(L"EstimatedSize").Number(), KiB(2000 + 5000 + 3000)) << "the shared file counts once";

  const CommandLine quiet = QuietUninstallCommand();
  const Ended alpen = RunCommand(quiet, L" /packages=PKG-A" + place.LogSwitch(place.removalLog));
  EXPECT_EQ(alpen.code, kSuccess) << Joined(LogLines(place.removalLog));
  EXPECT_EQ(TreeOf(place.root),
            (std::vector<std::string>{"bayern", "bayern/b.dat", "gemeinsam", "gemeinsam/legende.dat"}));
  EXPECT_EQ(ReadAll(place.root / L"gemeinsam" / L"legende.dat"), RandomBytes(2000, 7));
  // Bayern stays installed, and the entry says how much of it there is.
  EXPECT_TRUE(EntryExists());
  EXPECT_EQ(EntryValue(L"EstimatedSize").Number(), KiB(2000 + 3000));
  EXPECT_EQ(StoredGeoPath(), place.destination);
  EXPECT_EQ(CountOf(RecordText(), "PKG-A"), 0) << RecordText();
  EXPECT_EQ(RunCommand(quiet, L" /packages=PKG-A").code, kNothingInstalled) << "Alpen is no longer installed";
  EXPECT_EQ(TreeOf(place.root).size(), 4u);

  // The same command again: the rest, the setup copy that runs it included.
  const Ended bayern = RunCommand(quiet);
  EXPECT_EQ(bayern.code, kSuccess);
  EXPECT_FALSE(fs::exists(place.root)) << "the destination the setup created, empty at last";
  EXPECT_FALSE(EntryExists());
  EXPECT_TRUE(SetupCopyGoesWithin(kSelfRemoval));
}

// Whichever package goes first, the file they share goes with the last one:
// the one that wrote it earlier holds values that no longer match the disk,
// yet nobody but the setup has touched it.
TEST(Uninstall, ASharedFileGoesWithItsLastPackageWhicheverGoesFirst) {
  CleanMachine clean;
  Medium medium;
  AddTwoPackagesSharingALegend(medium);
  Place place;
  ASSERT_EQ(RunToTheEnd(medium, L"/quiet /dir=" + Quoted(place.destination)).code, kSuccess);

  const CommandLine quiet = QuietUninstallCommand();
  EXPECT_EQ(RunCommand(quiet, L" /packages=PKG-B").code, kSuccess);
  EXPECT_EQ(TreeOf(place.root),
            (std::vector<std::string>{"alpen", "alpen/a.dat", "gemeinsam", "gemeinsam/legende.dat"}));
  const Ended alpen = RunCommand(quiet, place.LogSwitch(place.removalLog));
  EXPECT_EQ(alpen.code, kSuccess);
  EXPECT_FALSE(fs::exists(place.root)) << "left behind: " << ::testing::PrintToString(TreeOf(place.root)) << "\n"
                                       << Joined(LogLines(place.removalLog));
  EXPECT_TRUE(SetupCopyGoesWithin(kSelfRemoval));
}

TEST(Uninstall, AFileHeldOpenGoesAtTheNextRestartAndTheRunSays3010) {
  CleanMachine clean;
  Medium medium;
  ASSERT_TRUE(medium.Create(L"PKG-A", L"Alpen",
                            {{L"alpen", L"a.txt", Bytes("alpen")}, {L"alpen", L"karte.dat", RandomBytes(4000, 3)}}));
  Place place;
  ASSERT_EQ(RunToTheEnd(medium, L"/quiet /dir=" + Quoted(place.destination)).code, kSuccess);
  const fs::path held = place.root / L"alpen" / L"karte.dat";
  struct Cleanup {
    fs::path file;
    ~Cleanup() { DropPendingRenamesOf(file); }
  } cleanup{held};
  OpenForReading viewer(held);
  ASSERT_TRUE(viewer.held());

  // The medium's own program removes as well as the setup copy does.
  const Ended ended = RunToTheEnd(medium, L"/uninstall /quiet" + place.LogSwitch(place.removalLog));
  viewer.Release();
  const std::vector<std::string> lines = LogLines(place.removalLog);
  EXPECT_EQ(ended.code, kRestartRequired) << Joined(lines);
  EXPECT_FALSE(ended.sawWindow);
  bool pending = false;
  for (const PendingRename& rename : PendingRenames()) {
    if (NamesFile(rename, held)) {
      pending = true;
      EXPECT_EQ(rename.to, L"") << "removed, not moved";
    }
  }
  EXPECT_TRUE(pending) << "the file is to go at the next restart";
  EXPECT_FALSE(fs::exists(place.root / L"alpen" / L"a.txt"));
  EXPECT_GE(LineWith(lines, "In use, removed at the next restart: " + Utf8(held.wstring())), 0) << Joined(lines);
  ExpectTheLogEndsWithExitCode(lines, kRestartRequired);
  // It counts as removed: nothing is installed any more.
  EXPECT_FALSE(EntryExists());
  EXPECT_TRUE(SetupCopyGoesWithin(kSelfRemoval));
  ExpectNothingLeftToRemove(medium, place);
}

TEST(Uninstall, ARunThatFailedHalfWayLeavesWhatItCommittedRemovable) {
  CleanMachine clean;
  Medium medium;
  ASSERT_TRUE(medium.Create(L"PKG-A", L"Alpen", kAlpen));
  ASSERT_TRUE(medium.Create(L"PKG-B", L"Bayern",
                            {{L"bayern", L"b1.txt", Bytes("b1")}, {L"bayern", L"b2.dat", RandomBytes(300000, 4)}}));
  // Bayern's last stream breaks off; its first file is in place by then.
  const std::wstring damaged = medium.Package(L"PKG-B");
  const package::size_index::SizeIndex index = package::size_index::ReadFile(damaged);
  ASSERT_TRUE(index.IsValid());
  fs::resize_file(damaged, index.contentsEnd - 100);
  Place place;
  ASSERT_EQ(RunToTheEnd(medium, L"/quiet /dir=" + Quoted(place.destination)).code, kInstallFailure);
  ASSERT_TRUE(fs::exists(place.root / L"bayern" / L"b1.txt"));

  ASSERT_TRUE(EntryExists()) << "what the run committed can be removed";
  EXPECT_EQ(EntryValue(L"InstallLocation").Text(), place.destination);
  EXPECT_NE(RecordText().find("run\tended\r\n"), std::string::npos) << RecordText();
  const Ended ended = RunCommand(QuietUninstallCommand(), place.LogSwitch(place.removalLog));
  EXPECT_EQ(ended.code, kSuccess) << Joined(LogLines(place.removalLog));
  EXPECT_FALSE(fs::exists(place.root)) << ::testing::PrintToString(TreeOf(place.root));
  EXPECT_TRUE(SetupCopyGoesWithin(kSelfRemoval));
}

// As a user finds the maps in Installed apps: Wine's uninstaller lists the
// entry by its name and runs its UninstallString, the wizard's question and
// page included.
TEST(Uninstall, WinesUninstallerListsTheEntryAndRemovesTheMapsThroughIt) {
  CleanMachine clean;
  Medium medium;
  AddAlpenAndBayern(medium);
  Place place;
  ASSERT_EQ(RunToTheEnd(medium, L"/quiet /packages=PKG-A /dir=" + Quoted(place.destination)).code, kSuccess);
  ASSERT_EQ(RunToTheEnd(medium, L"/quiet /packages=PKG-B /dir=" + Quoted(place.otherDestination)).code, kSuccess);
  EXPECT_EQ(EntryValue(L"InstallLocation").Text(), place.otherDestination) << "the last run's";

  const std::string listed = OutputOf(WineUninstaller(), L"--list");
  EXPECT_NE(listed.find(Utf8(kEntryName) + "|||" + Utf8(kProductName)), std::string::npos) << listed;

  RemoteWizard uninstaller(WineUninstaller(), L"--remove " + std::wstring(kEntryName), false);
  HWND question = WaitForSetupWindow(false);
  ASSERT_NE(question, nullptr) << "the wizard asks before it removes anything";
  const std::wstring asked = RemoteWizard::DialogTexts(question);
  EXPECT_NE(
      asked.find(L"Remove the installed maps (2 packages, " + ByteSize(BytesOf(kAlpen) + BytesOf(kBayern)) + L")"),
      std::wstring::npos)
      << Utf8(asked);
  EXPECT_NE(asked.find(place.destination), std::wstring::npos) << Utf8(asked);
  EXPECT_NE(asked.find(place.otherDestination), std::wstring::npos) << Utf8(asked);
  EXPECT_TRUE(fs::exists(place.root / L"alpen" / L"sued" / L"s.txt")) << "nothing goes before the answer";
  Screenshot(L"1-removal-question");
  RemoteWizard::AnswerDialog(question, IDYES);

  HWND sheet = WaitForSetupWindow(true);
  ASSERT_NE(sheet, nullptr);
  ASSERT_TRUE(WaitUntil(
      [&] {
        HWND finish = ::GetDlgItem(sheet, kFinishButton);
        return ::IsWindowVisible(finish) && ::IsWindowEnabled(finish);
      },
      std::chrono::seconds(60)));
  Screenshot(L"2-removal-finished");
  ::PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_FINISH, 0);
  EXPECT_EQ(uninstaller.WaitForExit(std::chrono::seconds(60)), kSuccess) << "it waits for the setup to end";

  EXPECT_FALSE(fs::exists(place.root)) << ::testing::PrintToString(TreeOf(place.root));
  EXPECT_FALSE(fs::exists(place.otherRoot)) << ::testing::PrintToString(TreeOf(place.otherRoot));
  EXPECT_FALSE(EntryExists());
  EXPECT_TRUE(SetupCopyGoesWithin(kSelfRemoval));
  const std::string after = OutputOf(WineUninstaller(), L"--list");
  EXPECT_EQ(after.find(Utf8(kEntryName)), std::string::npos) << after;
}
