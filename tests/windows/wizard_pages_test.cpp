// The real Tessavo.exe, started from a medium of several packages and driven
// page by page as a user would, through its copy to the end; screenshots of
// each page are kept.
#include <gtest/gtest.h>

#include <windows.h>
#include <prsht.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "end_to_end_support.h"
#include "remote_wizard.h"
#include "resources/resource.h"
#include "support/temp_dir.h"

namespace {

std::uint64_t LastWriteTime(const std::filesystem::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// A medium of one small package, and an empty settings key.
struct OnePackageMedium : Medium {
  OnePackageMedium() {
    Add(L"PKG-A", L"Alpen", {{L"", L"a.txt", Bytes("a")}});
    ClearSettings();
  }
};

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
  OnePackageMedium medium;
  RemoteWizard wizard(medium.Program());
  ASSERT_TRUE(wizard.started());
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_CANCEL);
  EXPECT_EQ(wizard.WaitForExit(), kUserCancel);
  EXPECT_EQ(StoredGeoPath(), L"(none)");
}

TEST(WizardEndToEnd, WithoutGeoPathTheDestinationLiesInTheProgramFilesFolder) {
  OnePackageMedium medium;
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
    ASSERT_NO_FATAL_FAILURE(StartTheCopy(wizard));
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
  OnePackageMedium medium;
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
    ASSERT_NO_FATAL_FAILURE(WalkOnFromTheChoosePage(wizard));
  }
  wizard.Press(PSBTN_CANCEL);
  EXPECT_EQ(wizard.WaitForExit(), kUserCancel);
  EXPECT_EQ(StoredGeoPath(), unwritable);
}

namespace {

// A package the paced build copies in about twenty seconds: eighty files
// that barely compress, so its bytes are mostly the files' own.
constexpr int kSlowFiles = 80;
constexpr std::size_t kSlowFileSize = 25000;
std::vector<PackageFile> SlowFiles() {
  std::vector<PackageFile> files;
  for (int n = 0; n < kSlowFiles; ++n)
    files.push_back({L"kacheln", std::to_wstring(n) + L".dat", RandomBytes(kSlowFileSize, 300 + n)});
  return files;
}

// Waits for the time-left line and returns it, empty when it never came.
std::wstring WaitForTimeLeft(const RemoteWizard& wizard) {
  std::wstring line;
  WaitUntil(
      [&] {
        line = wizard.Text(IDC_TIME_LEFT);
        return !line.empty();
      },
      std::chrono::seconds(40));
  return line;
}

void ExpectATimeLeftLine(const std::wstring& line) {
  const std::wstring total = L" of " + ByteSize(kSlowFiles * kSlowFileSize) + L" copied, about ";
  EXPECT_NE(line.find(total), std::wstring::npos) << Utf8(line);
  EXPECT_GT(line.find(total), 0u) << "the bytes copied come first";
  EXPECT_EQ(line.size() > 5 ? line.substr(line.size() - 5) : line, L" left") << Utf8(line);
}

bool ReinstallAllTicked(const RemoteWizard& wizard) {
  return ::SendMessageW(wizard.Control(IDC_REINSTALL_ALL), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

}  // namespace

TEST(WizardEndToEnd, TheCopyPageShowsTheTimeLeftUnderTheBarsUntilTheRunEnds) {
  PacedCopy paced(L"100");
  Medium medium("TESSAVO_PACED_EXE");
  medium.Add(L"PKG-S", L"Kacheln", SlowFiles());
  TempDir target;
  ClearSettings();
  StoreGeoPath(target.Folder());
  RemoteWizard wizard(medium.Program());
  ASSERT_TRUE(wizard.started());
  ASSERT_NO_FATAL_FAILURE(StartTheCopy(wizard));

  RECT bar{};
  RECT line{};
  ASSERT_TRUE(::GetWindowRect(wizard.Control(IDC_PROGRESS_PACKAGE), &bar));
  ASSERT_TRUE(::GetWindowRect(wizard.Control(IDC_TIME_LEFT), &line));
  EXPECT_GE(line.top, bar.bottom) << "under the two bars";
  const std::wstring shown = WaitForTimeLeft(wizard);
  ExpectATimeLeftLine(shown);
  EXPECT_TRUE(wizard.Visible(IDC_TIME_LEFT));
  EXPECT_FALSE(wizard.Button(kFinishButton).enabled) << "shown while the copy runs";
  Screenshot(L"13-time-left");

  ASSERT_TRUE(WaitUntil([&] { return wizard.Button(kFinishButton).enabled; }, std::chrono::seconds(90)));
  EXPECT_TRUE(WaitUntil([&] { return wizard.Text(IDC_TIME_LEFT).empty(); })) << "emptied as the current file is";
  EXPECT_EQ(wizard.Text(IDC_CURRENT_FILE), L"");
  wizard.Press(PSBTN_FINISH);
  EXPECT_EQ(wizard.WaitForExit(), 0u);
  EXPECT_EQ(ReadAll(target.path() / L"kacheln" / L"79.dat"), RandomBytes(kSlowFileSize, 379));
}

TEST(WizardEndToEnd, PassiveShowsTheTimeLeftToo) {
  PacedCopy paced(L"100");
  Medium medium("TESSAVO_PACED_EXE");
  medium.Add(L"PKG-S", L"Kacheln", SlowFiles());
  TempDir target;
  ClearSettings();
  RemoteWizard wizard(medium.Program(), L"/passive /dir=" + Quoted(target.Folder()));
  ASSERT_TRUE(wizard.started());
  EXPECT_EQ(wizard.Title(), L"VARNHOLT Setup: Copying Files");
  ExpectATimeLeftLine(WaitForTimeLeft(wizard));
  EXPECT_EQ(wizard.WaitForExit(std::chrono::seconds(90)), kSuccess);
}

TEST(WizardEndToEnd, ReinstallAllFilesIsOffAndTickedWritesEveryFileAgain) {
  Medium medium;
  medium.Add(L"PKG-A", L"Alpen", {{L"alpen", L"a.txt", Bytes("alpen")}, {L"", L"b.dat", RandomBytes(5000, 7)}});
  TempDir target;
  TempDir logs;
  ClearSettings();
  StoreGeoPath(target.Folder());
  // The first run installs; the second, the box ticked, writes every file
  // again, though each is still as the first left it.
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    const std::wstring log = logs.File(L"run" + std::to_wstring(run) + L".log");
    RemoteWizard wizard(medium.Program(), L"/log=" + Quoted(log));
    ASSERT_TRUE(wizard.started());
    ASSERT_NO_FATAL_FAILURE(WalkToDestinationPage(wizard));
    ASSERT_NE(wizard.Control(IDC_REINSTALL_ALL), nullptr);
    EXPECT_EQ(wizard.Text(IDC_REINSTALL_ALL), L"Reinstall all files");
    EXPECT_TRUE(wizard.Visible(IDC_REINSTALL_ALL));
    EXPECT_TRUE(::IsWindowEnabled(wizard.Control(IDC_REINSTALL_ALL)));
    EXPECT_FALSE(ReinstallAllTicked(wizard)) << "off by default";
    if (run == 1) {
      wizard.Click(IDC_REINSTALL_ALL);
      ASSERT_TRUE(WaitUntil([&] { return ReinstallAllTicked(wizard); }));
      // Kept when the user goes back and comes again.
      wizard.Press(PSBTN_BACK);
      ASSERT_NO_FATAL_FAILURE(WalkOnFromTheChoosePage(wizard));
      EXPECT_TRUE(WaitUntil([&] { return ReinstallAllTicked(wizard); }));
      Screenshot(L"14-reinstall-all");
    }
    EXPECT_EQ(wizard.Text(IDC_DESTINATION), target.Folder());
    wizard.Press(PSBTN_NEXT);
    ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Copying Files"));
    ASSERT_TRUE(WaitUntil([&] { return wizard.Button(kFinishButton).enabled; }, std::chrono::seconds(60)));
    wizard.Press(PSBTN_FINISH);
    EXPECT_EQ(wizard.WaitForExit(), 0u);
  }
  const std::vector<std::string> lines = LogLines(logs.File(L"run1.log"));
  EXPECT_EQ(CountLinesWith(lines, "File written: "), 2) << Joined(lines);
  EXPECT_EQ(LineWith(lines, "unchanged"), -1) << Joined(lines);
  EXPECT_EQ(ReadAll(target.path() / L"b.dat"), RandomBytes(5000, 7));
}
