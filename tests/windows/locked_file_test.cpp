// A file of the run held open by another program: the question it asks, and
// what Retry, Ignore and Abort do.
#include <gtest/gtest.h>

#include <windows.h>
#include <prsht.h>

#include <filesystem>
#include <memory>
#include <string>

#include "end_to_end_support.h"
#include "remote_wizard.h"
#include "resources/resource.h"
#include "support/temp_dir.h"

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

  // Finish after a run that went on past B: C is in place and the destination
  // remembered.
  void FinishTheRunThatWentOn() {
    ExpectTheEnd(true);
    FinishAndExit(kSuccess);
    EXPECT_EQ(ReadAll(target.path() / L"chiemgau" / L"c.txt"), Bytes("chiemgau"));
    EXPECT_EQ(StoredGeoPath(), target.Folder());
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
  run.FinishTheRunThatWentOn();
  EXPECT_EQ(ReadAll(run.target.path() / L"bayern" / L"b2.dat"), Bytes("b2"));
  EXPECT_EQ(ReadAll(run.target.path() / L"bayern" / L"b1.dat"), RandomBytes(300000, 4));
}

TEST(WizardEndToEnd, IgnoreSkipsTheRestOfThePackageAndTheRunFinishes) {
  LockedRun run;
  run.StartAndWaitForTheQuestion();
  run.Answer(IDIGNORE);
  run.FinishTheRunThatWentOn();
  run.lock->Release();
  EXPECT_TRUE(ReadAll(run.target.path() / L"bayern" / L"b2.dat").empty());
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
