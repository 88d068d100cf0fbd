// Cancel pressed while the copy runs, in the wizard and in a /passive run:
// the question it asks, No that goes on, Yes that stops and keeps what was
// copied before; and while a /passive removal runs.
#include <gtest/gtest.h>

#include <windows.h>
#include <prsht.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "end_to_end_support.h"
#include "remote_wizard.h"
#include "resources/resource.h"
#include "support/temp_dir.h"

namespace {

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

// Presses Cancel on the page of a run and returns the question it asks.
HWND AskToStop(RemoteWizard& wizard, const std::wstring& question = L"Do you want to stop the installation?") {
  EXPECT_TRUE(wizard.Button(IDCANCEL).enabled) << "Cancel is offered while the copy runs";
  wizard.Press(PSBTN_CANCEL);
  HWND box = wizard.WaitForDialog();
  if (box == nullptr) return nullptr;
  EXPECT_EQ(RemoteWizard::WindowText(box), L"VARNHOLT Setup");
  EXPECT_EQ(RemoteWizard::DialogTexts(box), question);
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
    ASSERT_NO_FATAL_FAILURE(StartTheCopy(wizard));
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
  ExpectTheLogEndsWithExitCode(lines, kUserCancel);
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

TEST(SetupCommandLine, PassiveRemovalShowsItsPageAndCancelYesEndsWith1602) {
  Medium medium("TESSAVO_PACED_EXE");
  AddSmallPackages(medium);
  TempDir target;
  ForgetTheInstalledMaps();
  ASSERT_EQ(RunToTheEnd(medium, L"/quiet /dir=" + target.Folder(L"maps")).code, kSuccess);

  PacedCopy paced;
  RemoteWizard wizard(medium.Program(), L"/uninstall /passive");
  ASSERT_TRUE(wizard.started()) << "no question first";
  EXPECT_EQ(wizard.Title(), L"VARNHOLT Setup: Removing Files");
  EXPECT_EQ(wizard.Text(IDC_HEADING), L"The installed maps are being removed...");
  EXPECT_TRUE(WaitUntil([&] { return wizard.Text(IDC_CURRENT_FILE).rfind(L"Removing: ", 0) == 0; }))
      << wizard.Text(IDC_CURRENT_FILE);
  Screenshot(L"30-passive-removal");
  HWND box = AskToStop(wizard, L"Do you want to stop the removal?");
  ASSERT_NE(box, nullptr);
  RemoteWizard::AnswerDialog(box, IDYES);
  EXPECT_EQ(wizard.WaitForExit(std::chrono::seconds(60)), kUserCancel) << "it closes itself";
  // What was not removed stays, and stays recorded.
  EXPECT_TRUE(
      std::filesystem::exists(target.path() / L"maps" / L"karten" / (std::to_wstring(kSmallPackages) + L".dat")));
  EXPECT_TRUE(std::filesystem::exists(InstallRecordPath()));
}
