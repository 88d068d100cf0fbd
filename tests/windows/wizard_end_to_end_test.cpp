// The real Tessavo.exe, started from a medium of several packages and driven
// page by page as a user would; screenshots of each page are kept.
#include <gtest/gtest.h>

#include <windows.h>
#include <prsht.h>
#include <shlwapi.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <functional>
#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "package/size_index.h"
#include "package/writer.h"
#include "remote_wizard.h"
#include "resources/resource.h"
#include "support/temp_dir.h"
#include "win32_owners.h"

namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\Varnholt\\Settings";

// The exit codes as the program's parent reads them.
constexpr DWORD kSuccess = 0;
constexpr DWORD kUserCancel = 1602;
constexpr DWORD kInstallFailure = 1603;
constexpr DWORD kAlreadyRunning = 1618;
constexpr DWORD kInvalidCommandLine = 1639;
// 2021-03-04 05:06:07 UTC as a Windows file time.
constexpr std::uint64_t kStoredTime = (1614834367ULL + 11644473600ULL) * 10000000ULL;

std::wstring UnixToWine(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* c = unixPath; *c != '\0'; ++c)
    path += (*c == '/') ? L'\\' : static_cast<wchar_t>(*c);
  return path;
}

std::wstring EnvPath(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? UnixToWine(value) : std::wstring();
}

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& byte : bytes)
    byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

struct PackageFile {
  std::wstring folder;
  std::wstring name;
  std::vector<std::uint8_t> content;
};

// A setup medium: the program beside the folder "Karten" of packages. The
// program is the one the variable names: the shipped build, or
// TESSAVO_PACED_EXE, the test build whose copy can be slowed down.
class Medium {
 public:
  explicit Medium(const char* programVariable = "TESSAVO_EXE") {
    std::filesystem::create_directories(dir_.path() / L"Karten");
    const std::wstring program = EnvPath(programVariable);
    ::CopyFileW(program.c_str(), (dir_.path() / L"Tessavo.exe").c_str(), FALSE);
  }
  void Add(const std::wstring& name, const std::wstring& title, const std::vector<PackageFile>& files) {
    PackageWriter writer(BuildPackagePath(dir_.Folder(L"Karten"), name), *PackageHeader::Make(name, title, L"e2e"));
    for (const PackageFile& file : files) {
      writer.AddData(file.folder, file.name, file.content.data(), file.content.size(), kStoredTime, kStoredTime);
    }
    writer.Close();
  }
  // The package as its makers build it: the files laid out in a folder and
  // packed by the real `nwq create`. True when the tool succeeded.
  bool Create(const std::wstring& name, const std::wstring& title, const std::vector<PackageFile>& files) {
    TempDir source;
    for (const PackageFile& file : files) {
      std::filesystem::create_directories(source.path() / file.folder);
      WriteAll(source.path() / file.folder / file.name, file.content);
    }
    RemoteWizard nwq(
        EnvPath("NWQ_EXE"),
        L"create \"" + Package(name) + L"\" \"" + source.path().wstring() + L"\" --title \"" + title + L"\"", false);
    return nwq.WaitForExit(std::chrono::seconds(60)) == 0;
  }
  std::wstring Package(const std::wstring& name) const { return BuildPackagePath(dir_.Folder(L"Karten"), name); }
  std::wstring Program() const { return dir_.File(L"Tessavo.exe"); }
  const std::filesystem::path& Folder() const { return dir_.path(); }

 private:
  TempDir dir_;
};

void ClearSettings() { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKey); }

void StoreGeoPath(const std::wstring& value) {
  HKEY opened = nullptr;
  ASSERT_EQ(::RegCreateKeyW(HKEY_LOCAL_MACHINE, kSettingsKey, &opened), ERROR_SUCCESS);
  const UniqueRegistryKey key(opened);
  ::RegSetValueExW(opened, L"GeoPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// The stored value; "(none)" without one, "(no key)" without the key.
std::wstring StoredGeoPath() {
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &opened) != ERROR_SUCCESS) return L"(no key)";
  const UniqueRegistryKey key(opened);
  wchar_t value[1024] = {};
  DWORD size = sizeof(value) - sizeof(wchar_t);
  const LSTATUS status =
      ::RegQueryValueExW(opened, L"GeoPath", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  return status == ERROR_SUCCESS ? std::wstring(value) : L"(none)";
}

std::wstring SystemText(DWORD code) {
  wchar_t text[1024] = {};
  ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 1024, nullptr);
  std::wstring trimmed = text;
  while (!trimmed.empty() && (trimmed.back() == L'\r' || trimmed.back() == L'\n'))
    trimmed.pop_back();
  return trimmed;
}

// A folder directly on drive C:, removed afterwards.
class ScratchFolder {
 public:
  ScratchFolder() : path_(L"C:\\tessavo-e2e-" + std::to_wstring(::GetTickCount64())) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::wstring Folder(const std::wstring& sub = L"") const {
    return (sub.empty() ? path_ : path_ / sub).wstring() + L"\\";
  }

 private:
  std::filesystem::path path_;
};

void Screenshot(const std::wstring& name) {
  const std::wstring folder = EnvPath("TESSAVO_ARTIFACTS");
  if (folder.empty()) return;
  ::Sleep(400);  // let the windows finish painting
  ::CreateDirectoryW(folder.c_str(), nullptr);
  SaveScreenshot(folder + L"\\" + name + L".bmp");
}

std::uint64_t LastWriteTime(const std::filesystem::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// Holds a file open without sharing, as another program might.
class FileLock {
 public:
  explicit FileLock(const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    handle_.Reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  }
  bool held() const { return handle_.IsValid(); }
  void Release() { handle_.Reset(); }

 private:
  UniqueFileHandle handle_;
};

// Welcome and choose pages with every row left ticked, then the destination
// page; the destination comes from GeoPath.
void WalkToDestinationPage(RemoteWizard& wizard) {
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Welcome"));
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Choose Files"));
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Choose destination folder"));
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
}

std::vector<bool> Checks(const RemoteWizard& wizard) {
  std::vector<bool> checks;
  for (int row = 0; row < wizard.RowCount(IDC_LIST_FILES); ++row)
    checks.push_back(wizard.RowChecked(IDC_LIST_FILES, row));
  return checks;
}

bool WaitForChecks(const RemoteWizard& wizard, const std::vector<bool>& expected) {
  return WaitUntil([&] { return Checks(wizard) == expected; }, std::chrono::milliseconds(3000));
}

}  // namespace

TEST(WizardEndToEnd, InstallsTheChosenPackagesPageByPage) {
  Medium medium;
  medium.Add(L"PKG-B", L"Bayern",
             {{L"bayern", L"b1.dat", RandomBytes(6 << 20, 1)}, {L"bayern", L"b2.dat", RandomBytes(5000, 2)}});
  medium.Add(L"PKG-A", L"Alpen", {{L"alpen\\nord", L"a.txt", {'A', 'l', 'p', 'e', 'n'}}});
  medium.Add(L"PKG-C", L"Bayern", {{L"", L"c.txt", RandomBytes(100000, 3)}});
  // Outside the Temp folder, which the browser's tree does not show.
  ScratchFolder target;
  ClearSettings();
  // A destination that the check refuses: only a browse can make way. On a
  // drive that does not exist, so no space check comes before it.
  const std::wstring refused = L"Q:\\varnholt-e2e\\maps\\";
  StoreGeoPath(refused);

  RemoteWizard wizard(medium.Program());
  ASSERT_TRUE(wizard.started());

  // Welcome: Next only.
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Welcome"));
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  EXPECT_FALSE(wizard.Button(kBackButton).enabled);
  EXPECT_FALSE(wizard.Button(kFinishButton).visible);
  EXPECT_TRUE(wizard.Button(IDCANCEL).enabled);
  Screenshot(L"1-welcome");
  wizard.Press(PSBTN_NEXT);

  // Choose: every row ticked, sorted by title, equal titles both present.
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Choose Files"));
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  EXPECT_TRUE(wizard.Button(kBackButton).enabled);
  ASSERT_EQ(wizard.RowCount(IDC_LIST_FILES), 3);
  EXPECT_EQ(wizard.RowText(IDC_LIST_FILES, 0), L"Alpen");
  EXPECT_EQ(wizard.RowText(IDC_LIST_FILES, 1), L"Bayern");
  EXPECT_EQ(wizard.RowText(IDC_LIST_FILES, 2), L"Bayern");
  EXPECT_EQ(Checks(wizard), (std::vector<bool>{true, true, true}));
  Screenshot(L"2-choose-files");

  // Unticking every row disables Next; ticking one enables it again.
  for (int row = 0; row < 3; ++row)
    ASSERT_TRUE(wizard.ClickCheckBox(IDC_LIST_FILES, row));
  ASSERT_TRUE(WaitForChecks(wizard, {false, false, false}));
  EXPECT_TRUE(wizard.WaitForButton(kNextButton, false));
  ASSERT_TRUE(wizard.ClickCheckBox(IDC_LIST_FILES, 0));
  ASSERT_TRUE(WaitForChecks(wizard, {true, false, false}));
  EXPECT_TRUE(wizard.WaitForButton(kNextButton, true));

  // A click on the box of one of several selected rows sets them all.
  wizard.SelectRows(IDC_LIST_FILES, {1, 2});
  ASSERT_TRUE(wizard.ClickCheckBox(IDC_LIST_FILES, 2));
  EXPECT_TRUE(WaitForChecks(wizard, {true, true, true}));
  Screenshot(L"3-choose-files-ticked");
  wizard.Press(PSBTN_NEXT);

  // Destination: GeoPath from the last run, refused by Next.
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Choose destination folder"));
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  EXPECT_EQ(wizard.Text(IDC_DESTINATION), refused);
  wizard.Press(PSBTN_NEXT);
  HWND refusal = wizard.WaitForDialog();
  ASSERT_NE(refusal, nullptr);
  RemoteWizard::AnswerDialog(refusal, IDOK);
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, false));

  // Browsing to a good folder runs the check, which enables Next again.
  const auto browse = [&](const std::function<bool(HWND)>& choose) {
    wizard.Click(IDC_BROWSE);
    HWND browser = wizard.WaitForDialog();
    if (browser == nullptr || !choose(browser)) return false;
    RemoteWizard::AnswerDialog(browser, IDOK);
    return WaitUntil([&] { return !::IsWindow(browser); });
  };
  ASSERT_TRUE(browse([&](HWND browser) { return wizard.SelectPath(browser, target.Folder()); }));
  EXPECT_TRUE(WaitUntil([&] { return wizard.Text(IDC_DESTINATION) == target.Folder(); }))
      << wizard.Text(IDC_DESTINATION);
  EXPECT_TRUE(wizard.WaitForButton(kNextButton, true));
  EXPECT_EQ(wizard.WaitForDialog(std::chrono::milliseconds(500)), nullptr) << "a passing check says nothing";

  // The browser opens on the current destination; its subfolder is chosen.
  const std::wstring chosen = target.Folder(L"Karten Neu");
  std::filesystem::create_directories(chosen);
  ASSERT_TRUE(browse([&](HWND browser) {
    Screenshot(L"4-folder-browser");
    return RemoteWizard::SelectFirstSubfolder(browser);
  }));
  EXPECT_TRUE(WaitUntil([&] { return wizard.Text(IDC_DESTINATION) == chosen; })) << wizard.Text(IDC_DESTINATION);
  EXPECT_TRUE(wizard.WaitForButton(kNextButton, true));
  EXPECT_TRUE(std::filesystem::is_empty(chosen)) << "the check leaves no temporary file";

  // An item with no folder on disk keeps the destination, which is checked again.
  ASSERT_TRUE(browse([&](HWND browser) { return wizard.SelectTopItem(browser, L"My Computer"); }));
  EXPECT_EQ(wizard.WaitForDialog(std::chrono::milliseconds(1000)), nullptr) << "the kept destination passes";
  EXPECT_EQ(wizard.Text(IDC_DESTINATION), chosen);
  EXPECT_TRUE(wizard.WaitForButton(kNextButton, true));
  Screenshot(L"5-destination");
  const std::wstring destination = wizard.Text(IDC_DESTINATION);
  wizard.Press(PSBTN_NEXT);

  // Copying: a disabled Finish, no Back, no Cancel; both bars move.
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Copying Files"));
  bool sawCopyText = false;
  bool sawOverallBetween = false;
  bool sawPackageBetween = false;
  bool finishWasDisabled = false;
  bool backWasEnabled = false;
  bool cancelWasEnabled = false;
  WaitUntil(
      [&] {
        const std::wstring text = wizard.Text(IDC_CURRENT_FILE);
        sawCopyText |= text.rfind(L"Kopiere: ", 0) == 0 && text.size() > 9;
        const int overall = wizard.ProgressPosition(IDC_PROGRESS_OVERALL);
        sawOverallBetween |= overall > 0 && overall < 300;
        const int package = wizard.ProgressPosition(IDC_PROGRESS_PACKAGE);
        sawPackageBetween |= package > 0 && package < 100;
        const ButtonState finish = wizard.Button(kFinishButton);
        if (finish.visible && !finish.enabled) {
          finishWasDisabled = true;
          backWasEnabled |= wizard.Button(kBackButton).enabled;
          cancelWasEnabled |= wizard.Button(IDCANCEL).enabled;
        }
        return finish.visible && finish.enabled;
      },
      std::chrono::milliseconds(60000));
  EXPECT_TRUE(sawCopyText);
  EXPECT_TRUE(sawOverallBetween);
  EXPECT_TRUE(sawPackageBetween);
  EXPECT_TRUE(finishWasDisabled) << "Finish is shown, disabled, while the copy runs";
  EXPECT_FALSE(backWasEnabled) << "no way back while the copy runs";
  EXPECT_TRUE(cancelWasEnabled) << "the copy can be cancelled while it runs";
  ASSERT_TRUE(wizard.WaitForButton(kFinishButton, true));
  EXPECT_FALSE(wizard.Button(kBackButton).enabled);
  EXPECT_FALSE(wizard.Button(IDCANCEL).enabled);
  EXPECT_TRUE(WaitUntil([&] { return wizard.Visible(IDC_FINISHED_TEXT); }));
  EXPECT_FALSE(wizard.Visible(IDC_CANCELLED_TEXT));
  EXPECT_EQ(wizard.Text(IDC_HEADING), L"");
  EXPECT_EQ(wizard.Text(IDC_CURRENT_FILE), L"");
  EXPECT_EQ(wizard.ProgressUpper(IDC_PROGRESS_OVERALL), 300);
  EXPECT_EQ(wizard.ProgressPosition(IDC_PROGRESS_OVERALL), 300);
  EXPECT_EQ(wizard.ProgressPosition(IDC_PROGRESS_PACKAGE), 0);
  Screenshot(L"6-copy-finished");
  wizard.Press(PSBTN_FINISH);
  EXPECT_EQ(wizard.WaitForExit(), 0u);

  // Every file, byte for byte, with its stored time; GeoPath remembered.
  const std::filesystem::path root(destination);
  EXPECT_EQ(ReadAll(root / L"alpen" / L"nord" / L"a.txt"), Bytes("Alpen"));
  EXPECT_EQ(ReadAll(root / L"bayern" / L"b1.dat"), RandomBytes(6 << 20, 1));
  EXPECT_EQ(ReadAll(root / L"bayern" / L"b2.dat"), RandomBytes(5000, 2));
  EXPECT_EQ(ReadAll(root / L"c.txt"), RandomBytes(100000, 3));
  EXPECT_EQ(LastWriteTime(root / L"bayern" / L"b1.dat"), kStoredTime);
  EXPECT_EQ(LastWriteTime(root / L"alpen" / L"nord" / L"a.txt"), kStoredTime);
  EXPECT_EQ(StoredGeoPath(), destination);
  EXPECT_FALSE(std::filesystem::exists(root / L"Karten"));
}

TEST(WizardEndToEnd, CancelOnTheFirstPageCreatesTheKeyWritesNothingAndSaysCancelled) {
  Medium medium;
  medium.Add(L"PKG-A", L"Alpen", {{L"", L"a.txt", Bytes("a")}});
  ClearSettings();
  RemoteWizard wizard(medium.Program());
  ASSERT_TRUE(wizard.started());
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_CANCEL);
  EXPECT_EQ(wizard.WaitForExit(), kUserCancel);
  EXPECT_EQ(StoredGeoPath(), L"(none)");
}

TEST(WizardEndToEnd, WithoutGeoPathTheDestinationLiesInTheProgramFilesFolder) {
  Medium medium;
  medium.Add(L"PKG-A", L"Alpen", {{L"", L"a.txt", Bytes("a")}});
  ClearSettings();
  RemoteWizard wizard(medium.Program());
  ASSERT_TRUE(wizard.started());
  WalkToDestinationPage(wizard);
  const wchar_t* programFiles = _wgetenv(L"ProgramFiles");
  ASSERT_NE(programFiles, nullptr);
  EXPECT_EQ(wizard.Text(IDC_DESTINATION), std::wstring(programFiles) + L"\\Varnholt\\Digital Maps\\");
  wizard.Press(PSBTN_CANCEL);
  EXPECT_EQ(wizard.WaitForExit(), kUserCancel);
  EXPECT_EQ(StoredGeoPath(), L"(none)");
}

TEST(WizardEndToEnd, FinishPressedTheMomentItIsEnabledStillKeepsGeoPath) {
  // Finish is posted before the run's last steps; a driver this quick closes
  // the sheet while they are still to come. Several rounds, as it is a race.
  // The first round presses as soon as the copy page shows: Wine carries out
  // a pressed Finish even while it is disabled, which makes the gap as wide
  // as the whole run.
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    const bool early = round == 0;
    Medium medium;
    medium.Add(L"PKG-A", L"Alpen",
               {{L"alpen", L"a.txt", Bytes("alpen")}, {L"alpen", L"big.dat", RandomBytes(early ? 4 << 20 : 10, 5)}});
    TempDir target;
    ClearSettings();
    StoreGeoPath(target.Folder());
    RemoteWizard wizard(medium.Program());
    ASSERT_TRUE(wizard.started());
    WalkToDestinationPage(wizard);
    ClearSettings();  // whatever is stored at the end, the run wrote
    wizard.Press(PSBTN_NEXT);
    ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Copying Files"));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!early && !wizard.Button(kFinishButton).enabled && std::chrono::steady_clock::now() < end) {
    }
    wizard.Press(PSBTN_FINISH);
    EXPECT_EQ(wizard.WaitForExit(std::chrono::seconds(60)), 0u);
    EXPECT_EQ(StoredGeoPath(), target.Folder());
    EXPECT_EQ(ReadAll(target.path() / L"alpen" / L"a.txt"), Bytes("alpen"));
    EXPECT_TRUE(ReadAll(target.path() / L"alpen" / L"big.dat") == RandomBytes(early ? 4 << 20 : 10, 5))
        << "the run ends whole";
  }
}

TEST(WizardEndToEnd, AnEmptyMediumOffersNoWayOnFromTheChoosePage) {
  Medium empty;
  ClearSettings();
  RemoteWizard wizard(empty.Program());
  ASSERT_TRUE(wizard.started());
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Choose Files"));
  ASSERT_TRUE(wizard.WaitForButton(kBackButton, true));
  EXPECT_EQ(wizard.RowCount(IDC_LIST_FILES), 0);
  EXPECT_TRUE(wizard.WaitForButton(kNextButton, false));
  wizard.Press(PSBTN_CANCEL);
  EXPECT_EQ(wizard.WaitForExit(), kUserCancel);
}

TEST(WizardEndToEnd, ADestinationThatCannotBeCreatedShowsTheSystemsTextAndDisablesNext) {
  Medium medium;
  medium.Add(L"PKG-A", L"Alpen", {{L"", L"a.txt", Bytes("a")}});
  ClearSettings();
  // Q: is no drive of the prefix: its space is unknown, so only the
  // writable check refuses it (a full read-only drive is refused for space).
  const std::wstring unwritable = L"Q:\\varnholt-e2e\\maps\\";
  StoreGeoPath(unwritable);
  RemoteWizard wizard(medium.Program());
  ASSERT_TRUE(wizard.started());
  WalkToDestinationPage(wizard);
  EXPECT_EQ(wizard.Text(IDC_DESTINATION), unwritable);

  for (int visit = 0; visit < 2; ++visit) {
    wizard.Press(PSBTN_NEXT);
    HWND box = wizard.WaitForDialog();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(RemoteWizard::WindowText(box), L"VARNHOLT Setup");
    EXPECT_NE(RemoteWizard::DialogTexts(box).find(SystemText(ERROR_PATH_NOT_FOUND)), std::wstring::npos)
        << RemoteWizard::DialogTexts(box);
    if (visit == 0) Screenshot(L"7-destination-refused");
    RemoteWizard::AnswerDialog(box, IDOK);
    EXPECT_TRUE(wizard.WaitForButton(kNextButton, false));
    EXPECT_EQ(wizard.Title(), L"VARNHOLT Setup: Choose destination folder");
    // Back and forward again offers Next once more.
    wizard.Press(PSBTN_BACK);
    ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Choose Files"));
    ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
    wizard.Press(PSBTN_NEXT);
    ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Choose destination folder"));
    ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  }
  wizard.Press(PSBTN_CANCEL);
  EXPECT_EQ(wizard.WaitForExit(), kUserCancel);
  EXPECT_EQ(StoredGeoPath(), unwritable);
}

namespace {

// A run of A, B, C in which B's second file is held open by another program.
struct LockedRun {
  Medium medium;
  TempDir target;
  std::unique_ptr<FileLock> lock;
  std::unique_ptr<RemoteWizard> wizard;
  HWND box = nullptr;

  void StartAndWaitForTheQuestion() {
    medium.Add(L"PKG-A", L"Alpen", {{L"alpen", L"a.txt", Bytes("alpen")}});
    medium.Add(L"PKG-B", L"Bayern",
               {{L"bayern", L"b1.dat", RandomBytes(300000, 4)}, {L"bayern", L"b2.dat", Bytes("b2")}});
    medium.Add(L"PKG-C", L"Chiemgau", {{L"chiemgau", L"c.txt", Bytes("chiemgau")}});
    ClearSettings();
    StoreGeoPath(target.Folder());
    lock = std::make_unique<FileLock>(target.path() / L"bayern" / L"b2.dat");
    ASSERT_TRUE(lock->held());
    wizard = std::make_unique<RemoteWizard>(medium.Program());
    ASSERT_TRUE(wizard->started());
    WalkToDestinationPage(*wizard);
    ClearSettings();  // whatever is stored at the end, the run wrote
    wizard->Press(PSBTN_NEXT);
    box = wizard->WaitForDialog(std::chrono::milliseconds(30000));
    ASSERT_NE(box, nullptr);
  }

  void ExpectTheQuestion() {
    EXPECT_EQ(RemoteWizard::WindowText(box), L"VARNHOLT Setup");
    const std::wstring expected =
        L"Encountered a sharing violation while accessing " + (target.path() / L"bayern" / L"b2.dat").wstring() + L".";
    EXPECT_EQ(RemoteWizard::DialogTexts(box), expected);
    for (int button : {IDABORT, IDRETRY, IDIGNORE})
      EXPECT_NE(::GetDlgItem(box, button), nullptr);
    // Frozen in the middle of B: its first file is being shown.
    EXPECT_EQ(wizard->Text(IDC_CURRENT_FILE), L"Kopiere: b1.dat");
    const int overall = wizard->ProgressPosition(IDC_PROGRESS_OVERALL);
    EXPECT_GT(overall, 100);
    EXPECT_LT(overall, 200);
    EXPECT_GT(wizard->ProgressPosition(IDC_PROGRESS_PACKAGE), 0);
  }

  void Answer(int button) {
    RemoteWizard::AnswerDialog(box, button);
    WaitUntil([&] { return !::IsWindow(box); });
  }

  void ExpectTheEnd(bool finished) {
    ASSERT_TRUE(wizard->WaitForButton(kFinishButton, true));
    EXPECT_TRUE(WaitUntil([&] { return wizard->Visible(finished ? IDC_FINISHED_TEXT : IDC_CANCELLED_TEXT); }));
    EXPECT_FALSE(wizard->Visible(finished ? IDC_CANCELLED_TEXT : IDC_FINISHED_TEXT));
    EXPECT_EQ(wizard->ProgressPosition(IDC_PROGRESS_OVERALL), 300);
    EXPECT_EQ(wizard->ProgressPosition(IDC_PROGRESS_PACKAGE), 0);
    EXPECT_EQ(wizard->Text(IDC_CURRENT_FILE), L"");
    EXPECT_FALSE(wizard->Button(IDCANCEL).enabled) << "only Finish is left";
  }

  void FinishAndExit(DWORD exitCode) {
    wizard->Press(PSBTN_FINISH);
    EXPECT_EQ(wizard->WaitForExit(), exitCode);
  }
};

}  // namespace

TEST(WizardEndToEnd, RetryInstallsThePackageFromItsStartOnceTheFileIsFree) {
  LockedRun run;
  run.StartAndWaitForTheQuestion();
  run.ExpectTheQuestion();
  Screenshot(L"8-file-error");
  run.Answer(IDRETRY);
  // Still held: the same question again.
  run.box = run.wizard->WaitForDialog();
  ASSERT_NE(run.box, nullptr);
  run.ExpectTheQuestion();
  run.lock->Release();
  run.Answer(IDRETRY);
  run.ExpectTheEnd(true);
  run.FinishAndExit(kSuccess);
  EXPECT_EQ(ReadAll(run.target.path() / L"bayern" / L"b2.dat"), Bytes("b2"));
  EXPECT_EQ(ReadAll(run.target.path() / L"bayern" / L"b1.dat"), RandomBytes(300000, 4));
  EXPECT_EQ(ReadAll(run.target.path() / L"chiemgau" / L"c.txt"), Bytes("chiemgau"));
  EXPECT_EQ(StoredGeoPath(), run.target.Folder());
}

TEST(WizardEndToEnd, IgnoreSkipsTheRestOfThePackageAndTheRunFinishes) {
  LockedRun run;
  run.StartAndWaitForTheQuestion();
  run.Answer(IDIGNORE);
  run.ExpectTheEnd(true);
  run.FinishAndExit(kSuccess);
  run.lock->Release();
  EXPECT_TRUE(ReadAll(run.target.path() / L"bayern" / L"b2.dat").empty());
  EXPECT_EQ(ReadAll(run.target.path() / L"chiemgau" / L"c.txt"), Bytes("chiemgau"));
  EXPECT_EQ(StoredGeoPath(), run.target.Folder());
}

TEST(WizardEndToEnd, AbortStopsTheRunShowsTheCancelledTextAndKeepsNoDestination) {
  LockedRun run;
  run.StartAndWaitForTheQuestion();
  run.Answer(IDABORT);
  run.ExpectTheEnd(false);
  Screenshot(L"9-copy-cancelled");
  run.FinishAndExit(kUserCancel);
  EXPECT_FALSE(std::filesystem::exists(run.target.path() / L"chiemgau"));
  EXPECT_EQ(ReadAll(run.target.path() / L"alpen" / L"a.txt"), Bytes("alpen"));
  EXPECT_EQ(StoredGeoPath(), L"(no key)");
}

namespace {

// The medium most command-line cases share: three packages made by nwq,
// listed by title as Alpen, Bayern, Chiemgau.
void AddThreePackages(Medium& medium) {
  ASSERT_TRUE(medium.Create(L"PKG-C", L"Chiemgau", {{L"chiemgau", L"c.txt", Bytes("chiemgau")}}));
  ASSERT_TRUE(medium.Create(L"PKG-A", L"Alpen", {{L"alpen\\nord", L"a.txt", Bytes("alpen")}}));
  ASSERT_TRUE(medium.Create(L"PKG-B", L"Bayern",
                            {{L"bayern", L"b1.dat", RandomBytes(300000, 4)}, {L"bayern", L"b2.dat", Bytes("b2")}}));
}

// `"path"`: the quotes a distribution tool puts around a path, kept even
// where the path ends in a backslash.
std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::vector<std::string> LogLines(const std::filesystem::path& path) {
  const std::vector<std::uint8_t> bytes = ReadAll(path);
  std::vector<std::string> lines;
  std::string text(bytes.begin(), bytes.end());
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no line end>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string Utf8(const std::wstring& text) {
  std::string bytes;
  for (wchar_t c : text)
    bytes += static_cast<char>(c);  // the paths used here are ASCII
  return bytes;
}

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The index of the first line that contains `part`, ignoring case, or -1.
int LineWith(const std::vector<std::string>& lines, const std::string& part) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (Lower(lines[i]).find(Lower(part)) != std::string::npos) return static_cast<int>(i);
  }
  return -1;
}

int CountLinesWith(const std::vector<std::string>& lines, const std::string& part) {
  int count = 0;
  for (const std::string& line : lines)
    count += Lower(line).find(Lower(part)) != std::string::npos ? 1 : 0;
  return count;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  return text;
}

// Runs the program to its end; its exit code, and whether it showed a window.
struct Ended {
  DWORD code = STILL_ACTIVE;
  bool sawWindow = false;
};
Ended RunToTheEnd(const Medium& medium, const std::wstring& arguments,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(60000)) {
  RemoteWizard program(medium.Program(), arguments, false);
  Ended ended;
  ended.code = program.WaitForExit(timeout, &ended.sawWindow);
  return ended;
}

// A message box the program shows instead of its sheet; its text, after OK.
std::wstring AnswerTheBox(RemoteWizard& program) {
  HWND box = program.WaitForDialog(std::chrono::milliseconds(30000));
  if (box == nullptr) return L"(no box)";
  EXPECT_EQ(RemoteWizard::WindowText(box), L"VARNHOLT Setup");
  const std::wstring texts = RemoteWizard::DialogTexts(box);
  RemoteWizard::AnswerDialog(box, IDOK);
  return texts;
}

}  // namespace

TEST(SetupCommandLine, QuietInstallsExactlyTheNamedPackagesAndLogsEveryStep) {
  Medium medium;
  AddThreePackages(medium);
  ScratchFolder target;
  // A space in both paths, and the quotes the argument rules leave behind a
  // trailing backslash.
  const std::wstring destination = target.Folder(L"Digital Maps");
  const std::filesystem::path log = target.path() / L"setup log.txt";
  ClearSettings();
  StoreGeoPath(L"C:\\previous\\");

  const Ended ended = RunToTheEnd(
      medium, L"/QUIET /dir=" + Quoted(destination) + L" /packages=PKG-C,PKG-A -log=" + Quoted(log.wstring()));
  EXPECT_EQ(ended.code, kSuccess);
  EXPECT_FALSE(ended.sawWindow) << "a quiet setup shows no window at all";

  const std::filesystem::path root(destination);
  EXPECT_EQ(TreeOf(root),
            (std::vector<std::string>{"alpen", "alpen/nord", "alpen/nord/a.txt", "chiemgau", "chiemgau/c.txt"}));
  EXPECT_EQ(ReadAll(root / L"alpen" / L"nord" / L"a.txt"), Bytes("alpen"));
  EXPECT_EQ(ReadAll(root / L"chiemgau" / L"c.txt"), Bytes("chiemgau"));
  EXPECT_EQ(StoredGeoPath(), destination);

  const std::vector<std::string> lines = LogLines(log);
  ASSERT_FALSE(lines.empty());
  const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} .+)");
  for (const std::string& line : lines)
    EXPECT_TRUE(std::regex_match(line, stamped)) << line;
  EXPECT_NE(lines.front().find("Tessavo 1.0.0.0"), std::string::npos) << Joined(lines);
  EXPECT_GE(LineWith(lines, "/packages=PKG-C,PKG-A"), 0) << "the command line as given";
  EXPECT_GE(LineWith(lines, Utf8(destination)), 0);
  // In the wizard's order, by title, whatever order the command line named them in.
  EXPECT_GE(LineWith(lines, "PKG-A, PKG-C"), 0) << Joined(lines);
  const int startA = LineWith(lines, "Package PKG-A: start");
  const int startC = LineWith(lines, "Package PKG-C: start");
  EXPECT_GE(startA, 0);
  EXPECT_GT(startC, startA);
  EXPECT_GT(LineWith(lines, Utf8((root / L"alpen" / L"nord" / L"a.txt").wstring())), startA);
  EXPECT_GT(LineWith(lines, Utf8((root / L"chiemgau" / L"c.txt").wstring())), startC);
  EXPECT_EQ(LineWith(lines, "PKG-B"), -1) << "a package not named is not mentioned";
  EXPECT_GE(LineWith(lines, "GeoPath written"), 0);
  EXPECT_NE(lines.back().find("Exit code: 0"), std::string::npos) << Joined(lines);
}

TEST(SetupCommandLine, ADamagedPackageFailsTheQuietRunNamesTheFileAndKeepsGeoPath) {
  Medium medium;
  ASSERT_TRUE(medium.Create(L"PKG-A", L"Alpen", {{L"alpen\\nord", L"a.txt", Bytes("alpen")}}));
  ASSERT_TRUE(medium.Create(L"PKG-B", L"Bayern",
                            {{L"bayern", L"b1.dat", Bytes("b1")}, {L"bayern", L"b2.dat", RandomBytes(300000, 4)}}));
  ASSERT_TRUE(medium.Create(L"PKG-C", L"Chiemgau", {{L"chiemgau", L"c.txt", Bytes("chiemgau")}}));
  // Bayern's last stream breaks off (the size index behind it goes too); its
  // header still checks out.
  const std::wstring damaged = medium.Package(L"PKG-B");
  const size_index::SizeIndex index = size_index::ReadFile(damaged);
  ASSERT_TRUE(index.IsValid());
  std::filesystem::resize_file(damaged, index.contentsEnd - 100);
  TempDir target;
  const std::filesystem::path log = target.path() / L"setup.log";
  ClearSettings();
  StoreGeoPath(L"C:\\previous\\");

  const Ended ended = RunToTheEnd(medium, L"-quiet /dir=" + target.Folder(L"maps") + L" /log=" + log.wstring());
  EXPECT_EQ(ended.code, kInstallFailure);
  EXPECT_EQ(StoredGeoPath(), L"C:\\previous\\");
  const std::filesystem::path root(target.Folder(L"maps"));
  EXPECT_EQ(ReadAll(root / L"alpen" / L"nord" / L"a.txt"), Bytes("alpen")) << "what came before stays";
  EXPECT_FALSE(std::filesystem::exists(root / L"chiemgau")) << "nothing after the failed package";

  const std::vector<std::string> lines = LogLines(log);
  const int failure = LineWith(lines, Utf8((root / L"bayern" / L"b2.dat").wstring()) + ", cause");
  EXPECT_GE(failure, 0) << Joined(lines);
  EXPECT_GE(LineWith(lines, "Error in package PKG-B"), 0);
  // Two retries, then the run stops.
  EXPECT_EQ(CountLinesWith(lines, "answer: Retry"), 2) << Joined(lines);
  EXPECT_GE(LineWith(lines, "answer: Abort"), 0);
  EXPECT_EQ(LineWith(lines, "GeoPath written"), -1);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("Exit code: 1603"), std::string::npos) << Joined(lines);
}

TEST(SetupCommandLine, AWrongLineInstallsNothing) {
  Medium medium;
  AddThreePackages(medium);
  TempDir target;
  const std::wstring destination = target.Folder(L"maps");
  const std::filesystem::path log = target.path() / L"setup.log";
  ClearSettings();
  StoreGeoPath(L"C:\\previous\\");

  struct Case {
    std::wstring arguments;
    DWORD code;
  };
  // Quiet and passive say nothing; the code is their answer.
  for (const Case& silent : {
           Case{L"/quiet /bogus", kInvalidCommandLine},
           Case{L"/quiet /dir=maps\\relative", kInvalidCommandLine},
           Case{L"/quiet /packages=PKG-A,PKG-X /dir=" + destination + L" /log=" + log.wstring(), kInvalidCommandLine},
           Case{L"/passive /packages=NOPE /dir=" + destination, kInvalidCommandLine},
           Case{L"/quiet /dir=" + destination + L" /log=Z:\\no-such-folder\\setup.log", kInstallFailure},
       }) {
    SCOPED_TRACE(silent.arguments);
    const Ended ended = RunToTheEnd(medium, silent.arguments);
    EXPECT_EQ(ended.code, silent.code);
    EXPECT_FALSE(ended.sawWindow);
  }
  const std::vector<std::string> lines = LogLines(log);
  EXPECT_GE(LineWith(lines, "PKG-X"), 0) << "the unknown package is named in the log";
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("Exit code: 1639"), std::string::npos) << Joined(lines);

  // The wizard says what is wrong in a box, before any page.
  struct Boxed {
    std::wstring arguments;
    std::wstring says;
    DWORD code;
  };
  for (const Boxed& boxed : {
           Boxed{L"/bogus", L"/passive", kInvalidCommandLine},
           Boxed{L"/packages=PKG-A,NOPE", L"NOPE", kInvalidCommandLine},
           Boxed{L"/?", L"/packages=", kSuccess},
       }) {
    SCOPED_TRACE(boxed.arguments);
    RemoteWizard program(medium.Program(), boxed.arguments, false);
    EXPECT_NE(AnswerTheBox(program).find(boxed.says), std::wstring::npos);
    EXPECT_EQ(program.WaitForExit(), boxed.code);
  }

  EXPECT_FALSE(std::filesystem::exists(destination)) << "not even the destination was created";
  EXPECT_EQ(StoredGeoPath(), L"C:\\previous\\");
}

TEST(SetupCommandLine, OneSetupAtATime) {
  Medium medium;
  AddThreePackages(medium);
  TempDir target;
  const std::filesystem::path log = target.path() / L"first.log";
  ClearSettings();
  RemoteWizard first(medium.Program(), L"/log=" + log.wstring());
  ASSERT_TRUE(first.started());

  // A second start in any mode, even one that would write the same log.
  const Ended quiet = RunToTheEnd(medium, L"/quiet /dir=" + target.Folder(L"maps") + L" /log=" + log.wstring());
  EXPECT_EQ(quiet.code, kAlreadyRunning);
  EXPECT_FALSE(quiet.sawWindow);
  const Ended passive = RunToTheEnd(medium, L"/passive /dir=" + target.Folder(L"maps"));
  EXPECT_EQ(passive.code, kAlreadyRunning);
  EXPECT_FALSE(passive.sawWindow);
  RemoteWizard second(medium.Program(), L"", false);
  EXPECT_EQ(AnswerTheBox(second), L"Setup is already running.");
  EXPECT_EQ(second.WaitForExit(), kAlreadyRunning);
  EXPECT_FALSE(std::filesystem::exists(target.path() / L"maps"));

  first.Press(PSBTN_CANCEL);
  EXPECT_EQ(first.WaitForExit(), kUserCancel);
  const std::vector<std::string> lines = LogLines(log);
  EXPECT_EQ(LineWith(lines, "/quiet"), -1) << "the second start left the first one's log alone\n" << Joined(lines);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("Exit code: 1602"), std::string::npos) << Joined(lines);

  // The lock went with the first setup.
  EXPECT_EQ(RunToTheEnd(medium, L"/quiet /packages=NOPE").code, kInvalidCommandLine);
}

TEST(SetupCommandLine, PassiveShowsOnlyTheCopyPageRetriesByItselfAndCloses) {
  Medium medium;
  AddThreePackages(medium);
  TempDir target;
  const std::filesystem::path log = target.path() / L"setup.log";
  // Held by another program at first: the run waits and tries again.
  FileLock lock(target.path() / L"maps" / L"bayern" / L"b2.dat");
  ASSERT_TRUE(lock.held());
  ClearSettings();

  RemoteWizard wizard(medium.Program(), L"/passive /dir=" + target.Folder(L"maps") + L" /log=" + log.wstring());
  ASSERT_TRUE(wizard.started());
  EXPECT_EQ(wizard.Title(), L"VARNHOLT Setup: Copying Files");
  EXPECT_FALSE(wizard.Button(kBackButton).enabled);
  EXPECT_TRUE(wizard.Button(IDCANCEL).enabled);
  EXPECT_EQ(wizard.ProgressUpper(IDC_PROGRESS_OVERALL), 300);
  EXPECT_EQ(wizard.WaitForDialog(std::chrono::milliseconds(300)), nullptr) << "no question is asked";
  Screenshot(L"10-passive");
  // Released only once the run has met the lock: on a busy machine it may
  // take a while to get there.
  EXPECT_TRUE(
      WaitUntil([&] { return LineWith(LogLines(log), "Error in package PKG-B") >= 0; }, std::chrono::seconds(30)));
  lock.Release();

  EXPECT_EQ(wizard.WaitForExit(std::chrono::seconds(60)), kSuccess) << "it closes itself";
  const std::filesystem::path root(target.Folder(L"maps"));
  EXPECT_EQ(ReadAll(root / L"bayern" / L"b2.dat"), Bytes("b2"));
  EXPECT_EQ(ReadAll(root / L"chiemgau" / L"c.txt"), Bytes("chiemgau"));
  EXPECT_EQ(StoredGeoPath(), target.Folder(L"maps"));
  const std::vector<std::string> lines = LogLines(log);
  EXPECT_GE(LineWith(lines, "answer: Retry"), 0) << Joined(lines);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("Exit code: 0"), std::string::npos) << Joined(lines);
}

TEST(SetupCommandLine, TheWizardStartsWithTheNamedPackagesAndDestination) {
  Medium medium;
  AddThreePackages(medium);
  TempDir target;
  const std::wstring destination = target.Folder(L"Digital Maps");
  const std::filesystem::path log = target.path() / L"setup.log";
  ClearSettings();
  StoreGeoPath(L"C:\\previous\\");

  RemoteWizard wizard(medium.Program(),
                      L"/packages=PKG-C,PKG-A /dir=" + Quoted(destination) + L" /log=" + Quoted(log.wstring()));
  ASSERT_TRUE(wizard.started());
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Choose Files"));
  ASSERT_EQ(wizard.RowCount(IDC_LIST_FILES), 3);
  EXPECT_TRUE(WaitForChecks(wizard, {true, false, true})) << "Alpen and Chiemgau";
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Choose destination folder"));
  EXPECT_EQ(wizard.Text(IDC_DESTINATION), destination) << "over GeoPath";
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Copying Files"));
  ASSERT_TRUE(WaitUntil([&] { return wizard.Button(kFinishButton).enabled; }, std::chrono::seconds(60)));
  wizard.Press(PSBTN_FINISH);
  EXPECT_EQ(wizard.WaitForExit(), kSuccess);

  EXPECT_EQ(TreeOf(destination),
            (std::vector<std::string>{"alpen", "alpen/nord", "alpen/nord/a.txt", "chiemgau", "chiemgau/c.txt"}));
  EXPECT_EQ(StoredGeoPath(), destination);
  const std::vector<std::string> lines = LogLines(log);
  EXPECT_GE(LineWith(lines, "PKG-A, PKG-C"), 0) << Joined(lines);
  EXPECT_GE(LineWith(lines, Utf8((std::filesystem::path(destination) / L"chiemgau" / L"c.txt").wstring())), 0);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("Exit code: 0"), std::string::npos) << Joined(lines);
}

TEST(SetupCommandLine, TheWizardGoesOnWithoutALogItCannotWrite) {
  Medium medium;
  AddThreePackages(medium);
  ClearSettings();
  const std::wstring log = L"Z:\\no-such-folder\\setup.log";
  RemoteWizard wizard(medium.Program(), L"/log=" + log, false);
  EXPECT_EQ(AnswerTheBox(wizard), L"The log file " + log + L" cannot be written: " + SystemText(ERROR_PATH_NOT_FOUND));
  ASSERT_TRUE(wizard.WaitForSheet());
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Welcome"));
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_CANCEL);
  EXPECT_EQ(wizard.WaitForExit(), kUserCancel);
}

namespace {

// The paced build pauses this long each time its copy run asks whether to
// stop, so that a Cancel lands in the middle of a copy of little data.
class PacedCopy {
 public:
  PacedCopy() { ::SetEnvironmentVariableW(kVariable, L"400"); }
  ~PacedCopy() { ::SetEnvironmentVariableW(kVariable, nullptr); }
  PacedCopy(const PacedCopy&) = delete;
  PacedCopy& operator=(const PacedCopy&) = delete;

 private:
  static constexpr wchar_t kVariable[] = L"VARNHOLT_TEST_CHUNK_DELAY_MS";
};

// Eight small packages, PKG-1 to PKG-8 (in this order by title), each with
// one file "karten\N.dat"; the tree they install.
constexpr int kSmallPackages = 8;
std::vector<std::uint8_t> SmallContent(int n) { return RandomBytes(1500, 100 + static_cast<unsigned>(n)); }
std::wstring SmallName(int n) { return L"PKG-" + std::to_wstring(n); }
void AddSmallPackages(Medium& medium) {
  for (int n = 1; n <= kSmallPackages; ++n) {
    medium.Add(SmallName(n), L"Karte " + std::to_wstring(n),
               {{L"karten", std::to_wstring(n) + L".dat", SmallContent(n)}});
  }
}
std::vector<std::string> SmallTree() {
  std::vector<std::string> tree = {"karten"};
  for (int n = 1; n <= kSmallPackages; ++n)
    tree.push_back("karten/" + std::to_string(n) + ".dat");
  return tree;
}

// Presses Cancel on the copy page and returns the question it asks.
HWND AskToStop(RemoteWizard& wizard) {
  EXPECT_TRUE(wizard.Button(IDCANCEL).enabled) << "Cancel is offered while the copy runs";
  wizard.Press(PSBTN_CANCEL);
  HWND box = wizard.WaitForDialog();
  if (box == nullptr) return nullptr;
  EXPECT_EQ(RemoteWizard::WindowText(box), L"VARNHOLT Setup");
  EXPECT_EQ(RemoteWizard::DialogTexts(box), L"Do you want to stop the installation?");
  EXPECT_NE(::GetDlgItem(box, IDYES), nullptr);
  EXPECT_NE(::GetDlgItem(box, IDNO), nullptr);
  return box;
}

void ExpectOnlyFinish(RemoteWizard& wizard, int endText) {
  ASSERT_TRUE(wizard.WaitForButton(kFinishButton, true));
  EXPECT_TRUE(WaitUntil([&] { return wizard.Visible(endText); }));
  EXPECT_FALSE(wizard.Visible(endText == IDC_FINISHED_TEXT ? IDC_CANCELLED_TEXT : IDC_FINISHED_TEXT));
  EXPECT_TRUE(WaitUntil([&] { return !wizard.Button(IDCANCEL).enabled; })) << "only Finish is left";
  EXPECT_FALSE(wizard.Button(kBackButton).enabled);
}

}  // namespace

TEST(WizardEndToEnd, CancelDuringTheCopyAsksNoGoesOnYesStopsAndKeepsTheEarlierFiles) {
  PacedCopy paced;
  Medium medium("TESSAVO_PACED_EXE");
  AddSmallPackages(medium);
  TempDir target;
  const std::filesystem::path root = target.path();

  {  // No: the run goes on as if nothing happened.
    ClearSettings();
    StoreGeoPath(target.Folder());
    RemoteWizard wizard(medium.Program());
    ASSERT_TRUE(wizard.started());
    WalkToDestinationPage(wizard);
    ClearSettings();  // whatever is stored at the end, the run wrote
    wizard.Press(PSBTN_NEXT);
    ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Copying Files"));
    HWND box = AskToStop(wizard);
    ASSERT_NE(box, nullptr);
    Screenshot(L"11-stop-question");
    RemoteWizard::AnswerDialog(box, IDNO);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(box); }));
    EXPECT_EQ(wizard.Title(), L"VARNHOLT Setup: Copying Files") << "the sheet stays";
    ASSERT_TRUE(WaitUntil([&] { return wizard.Button(kFinishButton).enabled; }, std::chrono::seconds(90)));
    ExpectOnlyFinish(wizard, IDC_FINISHED_TEXT);
    wizard.Press(PSBTN_FINISH);
    EXPECT_EQ(wizard.WaitForExit(), kSuccess);
    EXPECT_EQ(StoredGeoPath(), target.Folder());
    ASSERT_EQ(TreeOf(root), SmallTree());
  }

  // Yes, over the files of the first run: the run stops, and what it had not
  // replaced is as the first run left it.
  TempDir logFolder;
  const std::filesystem::path log = logFolder.path() / L"setup.log";
  ClearSettings();
  StoreGeoPath(target.Folder());
  RemoteWizard wizard(medium.Program(), L"/log=" + log.wstring());
  ASSERT_TRUE(wizard.started());
  WalkToDestinationPage(wizard);
  StoreGeoPath(L"C:\\previous\\");
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Copying Files"));
  HWND box = AskToStop(wizard);
  ASSERT_NE(box, nullptr);
  RemoteWizard::AnswerDialog(box, IDYES);
  EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(box); }));
  ExpectOnlyFinish(wizard, IDC_CANCELLED_TEXT);
  EXPECT_EQ(wizard.Title(), L"VARNHOLT Setup: Copying Files") << "Yes leaves the sheet open";
  Screenshot(L"12-copy-cancelled-by-the-user");
  EXPECT_EQ(StoredGeoPath(), L"C:\\previous\\");
  wizard.Press(PSBTN_FINISH);
  EXPECT_EQ(wizard.WaitForExit(), kUserCancel);

  // Every earlier file is still there and whole, and nothing else is.
  EXPECT_EQ(TreeOf(root), SmallTree());
  for (int n = 1; n <= kSmallPackages; ++n) {
    SCOPED_TRACE(n);
    EXPECT_TRUE(ReadAll(root / L"karten" / (std::to_wstring(n) + L".dat")) == SmallContent(n));
  }
  const std::vector<std::string> lines = LogLines(log);
  EXPECT_GE(LineWith(lines, "the user chose to stop the installation"), 0) << Joined(lines);
  EXPECT_GE(LineWith(lines, "GeoPath not written: the user cancelled"), 0) << Joined(lines);
  EXPECT_EQ(LineWith(lines, "Package " + Utf8(SmallName(kSmallPackages)) + ": start"), -1)
      << "stopped before the last package\n"
      << Joined(lines);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("Exit code: 1602"), std::string::npos) << Joined(lines);
}

TEST(SetupCommandLine, PassiveCancelAsksAndYesEndsWith1602) {
  PacedCopy paced;
  Medium medium("TESSAVO_PACED_EXE");
  AddSmallPackages(medium);
  TempDir target;
  ClearSettings();
  StoreGeoPath(L"C:\\previous\\");
  RemoteWizard wizard(medium.Program(), L"/passive /dir=" + target.Folder(L"maps"));
  ASSERT_TRUE(wizard.started());
  HWND box = AskToStop(wizard);
  ASSERT_NE(box, nullptr);
  RemoteWizard::AnswerDialog(box, IDYES);
  EXPECT_EQ(wizard.WaitForExit(std::chrono::seconds(60)), kUserCancel) << "it closes itself";
  EXPECT_EQ(StoredGeoPath(), L"C:\\previous\\");
  EXPECT_FALSE(
      std::filesystem::exists(target.path() / L"maps" / L"karten" / (std::to_wstring(kSmallPackages) + L".dat")));
}

namespace {

std::wstring ByteSize(std::uint64_t bytes) {
  wchar_t text[64] = {};
  ::StrFormatByteSizeW(static_cast<LONGLONG>(bytes), text, 64);
  return text;
}

// DLLs that Windows programs and the system's own DLLs load by name, as a
// downloads folder may hold them beside the setup.
constexpr const wchar_t* kPlantedDlls[] = {
    L"shcore",        L"shlwapi",     L"shell32",       L"comctl32", L"uxtheme", L"version",  L"dwmapi",   L"cryptbase",
    L"propsys",       L"textshaping", L"comdlg32",      L"oleaut32", L"imm32",   L"msimg32",  L"oleacc",   L"winmm",
    L"windowscodecs", L"userenv",     L"profapi",       L"sspicli",  L"secur32", L"cryptsp",  L"bcrypt",   L"crypt32",
    L"wintrust",      L"apphelp",     L"edputil",       L"ntmarta",  L"mpr",     L"netapi32", L"wtsapi32", L"setupapi",
    L"cfgmgr32",      L"msctf",       L"explorerframe", L"dbghelp",  L"user32",  L"gdi32",    L"advapi32", L"ole32"};

void PlantDlls(const std::filesystem::path& folder) {
  const std::wstring planted = EnvPath("TESSAVO_PLANTED_DLL");
  for (const wchar_t* name : kPlantedDlls) {
    const std::filesystem::path copy = folder / (std::wstring(name) + L".dll");
    ASSERT_TRUE(::CopyFileW(planted.c_str(), copy.c_str(), FALSE)) << "cannot plant " << copy;
  }
}

// "NAME.dll in PROGRAM\n..." for each planted DLL that ran.
std::vector<std::wstring> PlantedDllsThatRan(const std::filesystem::path& folder) {
  std::vector<std::wstring> ran;
  for (const wchar_t* name : kPlantedDlls) {
    const std::filesystem::path trace = folder / (std::wstring(name) + L".dll.ran");
    if (!std::filesystem::exists(trace)) continue;
    const std::vector<std::uint8_t> bytes = ReadAll(trace);
    std::wstring programs(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(programs.data(), bytes.data(), programs.size() * sizeof(wchar_t));
    ran.push_back(std::wstring(name) + L".dll in " + programs);
  }
  return ran;
}

std::wstring LowerWide(std::wstring text) {
  for (wchar_t& c : text)
    c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

}  // namespace

// A setup runs elevated from wherever it was downloaded to: no DLL beside it
// may run, however the programs or the system's DLLs ask for it, and the
// programs still work.
TEST(PlantedDlls, NoneRunsInTheToolTheQuietSetupOrTheWizard) {
  Medium medium;
  // Over a kilobyte, so that the page's sizes show whether the shell formats them.
  const std::vector<std::uint8_t> content = RandomBytes(3000, 7);
  ASSERT_TRUE(medium.Create(L"PKG-A", L"Alpen", {{L"alpen\\nord", L"a.dat", content}}));
  const std::wstring tool = (medium.Folder() / L"nwq.exe").wstring();
  ASSERT_TRUE(::CopyFileW(EnvPath("NWQ_EXE").c_str(), tool.c_str(), FALSE));
  ASSERT_NO_FATAL_FAILURE(PlantDlls(medium.Folder()));
  ScratchFolder target;
  ClearSettings();

  // The tool reads its command line and makes folders through the shell.
  const std::filesystem::path byTool = target.path() / L"tool";
  RemoteWizard nwq(tool, L"extract " + Quoted(medium.Package(L"PKG-A")) + L" " + Quoted(byTool.wstring()), false);
  EXPECT_EQ(nwq.WaitForExit(std::chrono::seconds(60)), 0u);
  EXPECT_EQ(ReadAll(byTool / L"alpen" / L"nord" / L"a.dat"), content);

  const Ended quiet = RunToTheEnd(medium, L"/quiet /dir=" + Quoted(target.Folder(L"quiet")));
  EXPECT_EQ(quiet.code, kSuccess);
  EXPECT_EQ(ReadAll(target.path() / L"quiet" / L"alpen" / L"nord" / L"a.dat"), content);

  // The wizard: its check boxes, the sizes on the destination page, the
  // folder browser.
  RemoteWizard wizard(medium.Program());
  ASSERT_TRUE(wizard.started());
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Welcome"));
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Choose Files"));
  ASSERT_TRUE(wizard.ClickCheckBox(IDC_LIST_FILES, 0));
  EXPECT_TRUE(WaitForChecks(wizard, {false}));
  EXPECT_TRUE(wizard.WaitForButton(kNextButton, false));
  ASSERT_TRUE(wizard.ClickCheckBox(IDC_LIST_FILES, 0));
  EXPECT_TRUE(WaitForChecks(wizard, {true}));
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Choose destination folder"));
  const std::wstring required = L"Space required: " + ByteSize(content.size()) + L"\r\n";
  EXPECT_TRUE(WaitUntil([&] { return wizard.Text(IDC_SPACE).rfind(required, 0) == 0; })) << wizard.Text(IDC_SPACE);
  wizard.Click(IDC_BROWSE);
  HWND browser = wizard.WaitForDialog();
  ASSERT_NE(browser, nullptr);
  Screenshot(L"folder-browser");
  RemoteWizard::AnswerDialog(browser, IDCANCEL);
  EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(browser); }));
  // The common controls of the manifest, version 6, not the system folder's.
  std::vector<std::wstring> commonControls;
  for (const std::wstring& path : wizard.ModulePaths()) {
    if (LowerWide(std::filesystem::path(path).filename().wstring()) == L"comctl32.dll") commonControls.push_back(path);
  }
  EXPECT_FALSE(commonControls.empty());
  for (const std::wstring& path : commonControls) {
    const std::wstring lower = LowerWide(path);
    EXPECT_NE(lower.find(L"\\winsxs\\"), std::wstring::npos) << path;
    EXPECT_NE(lower.find(L"_microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::wstring::npos) << path;
  }
  wizard.Press(PSBTN_CANCEL);
  EXPECT_EQ(wizard.WaitForExit(), kUserCancel);

  EXPECT_EQ(PlantedDllsThatRan(medium.Folder()), std::vector<std::wstring>{});
}

TEST(SmallDrive, ACopyThatCannotFitIsRefusedBeforeAnythingIsWritten) {
  const char* letter = std::getenv("TESSAVO_SMALL_DRIVE");
  if (letter == nullptr || *letter == '\0') GTEST_SKIP() << "no small drive: mounting a tmpfs is not allowed here";
  const std::wstring drive = std::wstring(letter, letter + std::strlen(letter)) + L"\\";
  ULARGE_INTEGER available{};
  ASSERT_TRUE(::GetDiskFreeSpaceExW(drive.c_str(), &available, nullptr, nullptr)) << ::GetLastError();
  ASSERT_LT(available.QuadPart, 5u << 20) << "the drive is meant to be small";

  // 3 MiB that compress to almost nothing: the medium is small, the copy is
  // not. Beside the one file its temporary copy: 6 MiB.
  Medium medium;
  ASSERT_TRUE(medium.Create(L"PKG-A", L"Alpen", {{L"alpen", L"big.dat", std::vector<std::uint8_t>(3 << 20, 0)}}));
  const std::wstring destination = drive + L"Digital Maps\\";
  ClearSettings();
  StoreGeoPath(destination);

  RemoteWizard wizard(medium.Program());
  ASSERT_TRUE(wizard.started());
  WalkToDestinationPage(wizard);
  const std::wstring shown =
      L"Space required: " + ByteSize(6 << 20) + L"\r\nSpace available: " + ByteSize(available.QuadPart);
  EXPECT_TRUE(WaitUntil([&] { return wizard.Text(IDC_SPACE) == shown; })) << wizard.Text(IDC_SPACE);
  Screenshot(L"1-small-drive");

  const std::wstring refusal = L"Not enough free space on the destination drive: " + ByteSize(6 << 20) + L" needed, " +
                               ByteSize(available.QuadPart) + L" available.";
  // Twice: the page keeps Next for a second try.
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    wizard.Press(PSBTN_NEXT);
    HWND box = wizard.WaitForDialog();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(RemoteWizard::WindowText(box), L"VARNHOLT Setup");
    EXPECT_EQ(RemoteWizard::DialogTexts(box), refusal);
    if (attempt == 0) Screenshot(L"2-not-enough-space");
    RemoteWizard::AnswerDialog(box, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }));
    EXPECT_TRUE(wizard.WaitForButton(kNextButton, true));
    EXPECT_EQ(wizard.Title(), L"VARNHOLT Setup: Choose destination folder");
  }
  EXPECT_TRUE(TreeOf(drive).empty()) << "nothing was written on the drive, not even the folder";
  wizard.Press(PSBTN_CANCEL);
  EXPECT_EQ(wizard.WaitForExit(), kUserCancel);

  // Unattended, the same check ends the run before anything is written.
  TempDir logFolder;
  const std::filesystem::path log = logFolder.path() / L"setup.log";
  const Ended quiet = RunToTheEnd(medium, L"/quiet /dir=" + Quoted(destination) + L" /log=" + Quoted(log.wstring()));
  EXPECT_EQ(quiet.code, kInstallFailure);
  const std::vector<std::string> lines = LogLines(log);
  const int line = LineWith(lines, "not enough free space");
  ASSERT_GE(line, 0) << Joined(lines);
  EXPECT_NE(lines[line].find(Utf8(destination)), std::string::npos) << lines[line];
  EXPECT_NE(lines[line].find(std::to_string(6 << 20) + " bytes needed, " + std::to_string(available.QuadPart) +
                             " bytes available"),
            std::string::npos)
      << lines[line];
  EXPECT_TRUE(TreeOf(drive).empty());
  EXPECT_EQ(StoredGeoPath(), destination) << "as stored before";
}
