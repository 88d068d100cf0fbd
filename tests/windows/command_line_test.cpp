// The setup's command line: /quiet and /passive runs that need no one at the
// display, their logs and exit codes, lines the setup refuses, one setup at a
// time, the wizard started with packages and a destination, and /uninstall's
// question and page.
#include <gtest/gtest.h>

#include <windows.h>
#include <prsht.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "end_to_end_support.h"
#include "package/size_index.h"
#include "remote_wizard.h"
#include "resources/resource.h"
#include "support/temp_dir.h"

namespace {

constexpr DWORD kNothingInstalled = 1605;

// GeoPath as an earlier setup left it.
constexpr wchar_t kPreviousGeoPath[] = L"C:\\previous\\";

// Apart from the medium below, as a constructor cannot hold an ASSERT.
void AddThreePackages(Medium& medium) {
  ASSERT_TRUE(medium.Create(L"PKG-C", L"Chiemgau", {{L"chiemgau", L"c.txt", Bytes("chiemgau")}}));
  ASSERT_TRUE(medium.Create(L"PKG-A", L"Alpen", {{L"alpen\\nord", L"a.txt", Bytes("alpen")}}));
  ASSERT_TRUE(medium.Create(L"PKG-B", L"Bayern",
                            {{L"bayern", L"b1.dat", RandomBytes(300000, 4)}, {L"bayern", L"b2.dat", Bytes("b2")}}));
}

// The medium most command-line cases share: three packages made by nwq,
// listed by title as Alpen, Bayern, Chiemgau. The settings key starts out
// empty, or holding `geoPath` alone.
struct ThreePackageMedium : Medium {
  explicit ThreePackageMedium(const wchar_t* geoPath = nullptr) {
    AddThreePackages(*this);
    ClearSettings();
    if (geoPath != nullptr) StoreGeoPath(geoPath);
  }
};

// A folder of the case's own: the destination goes below it, the log into it.
struct Target : TempDir {
  const std::filesystem::path log = path() / L"setup.log";
};

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
  ThreePackageMedium medium(kPreviousGeoPath);
  ScratchFolder target;
  // A space in both paths, and the quotes the argument rules leave behind a
  // trailing backslash.
  const std::wstring destination = target.Folder(L"Digital Maps");
  const std::filesystem::path log = target.path() / L"setup log.txt";

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
  const package::size_index::SizeIndex index = package::size_index::ReadFile(damaged);
  ASSERT_TRUE(index.IsValid());
  std::filesystem::resize_file(damaged, index.contentsEnd - 100);
  Target target;
  ClearSettings();
  StoreGeoPath(kPreviousGeoPath);

  const Ended ended = RunToTheEnd(medium, L"-quiet /dir=" + target.Folder(L"maps") + L" /log=" + target.log.wstring());
  EXPECT_EQ(ended.code, kInstallFailure);
  EXPECT_EQ(StoredGeoPath(), kPreviousGeoPath);
  const std::filesystem::path root(target.Folder(L"maps"));
  EXPECT_EQ(ReadAll(root / L"alpen" / L"nord" / L"a.txt"), Bytes("alpen")) << "what came before stays";
  EXPECT_FALSE(std::filesystem::exists(root / L"chiemgau")) << "nothing after the failed package";

  const std::vector<std::string> lines = LogLines(target.log);
  const int failure = LineWith(lines, Utf8((root / L"bayern" / L"b2.dat").wstring()) + ", cause");
  EXPECT_GE(failure, 0) << Joined(lines);
  EXPECT_GE(LineWith(lines, "Error in package PKG-B"), 0);
  // Two retries, then the run stops.
  EXPECT_EQ(CountLinesWith(lines, "answer: Retry"), 2) << Joined(lines);
  EXPECT_GE(LineWith(lines, "answer: Abort"), 0);
  EXPECT_EQ(LineWith(lines, "GeoPath written"), -1);
  ExpectTheLogEndsWithExitCode(lines, kInstallFailure);
}

TEST(SetupCommandLine, AWrongLineInstallsNothing) {
  ThreePackageMedium medium(kPreviousGeoPath);
  Target target;
  const std::wstring destination = target.Folder(L"maps");

  struct Case {
    std::wstring arguments;
    DWORD code;
  };
  // Quiet and passive say nothing; the code is their answer.
  for (const Case& silent : {
           Case{L"/quiet /bogus", kInvalidCommandLine},
           Case{L"/quiet /dir=maps\\relative", kInvalidCommandLine},
           Case{L"/quiet /packages=PKG-A,PKG-X /dir=" + destination + L" /log=" + target.log.wstring(),
                kInvalidCommandLine},
           Case{L"/passive /packages=NOPE /dir=" + destination, kInvalidCommandLine},
           // Two answers to which files to write.
           Case{L"/quiet /force /repair /dir=" + destination, kInvalidCommandLine},
           Case{L"/quiet /repair /uninstall", kInvalidCommandLine},
           Case{L"/quiet /dir=" + destination + L" /log=Z:\\no-such-folder\\setup.log", kInstallFailure},
       }) {
    SCOPED_TRACE(silent.arguments);
    const Ended ended = RunToTheEnd(medium, silent.arguments);
    EXPECT_EQ(ended.code, silent.code);
    EXPECT_FALSE(ended.sawWindow);
  }
  const std::vector<std::string> lines = LogLines(target.log);
  EXPECT_GE(LineWith(lines, "PKG-X"), 0) << "the unknown package is named in the log";
  ASSERT_NO_FATAL_FAILURE(ExpectTheLogEndsWithExitCode(lines, kInvalidCommandLine));

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
  EXPECT_EQ(StoredGeoPath(), kPreviousGeoPath);
}

TEST(SetupCommandLine, OneSetupAtATime) {
  ThreePackageMedium medium;
  TempDir target;
  const std::filesystem::path log = target.path() / L"first.log";
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
  ASSERT_NO_FATAL_FAILURE(ExpectTheLogEndsWithExitCode(lines, kUserCancel));

  // The lock went with the first setup.
  EXPECT_EQ(RunToTheEnd(medium, L"/quiet /packages=NOPE").code, kInvalidCommandLine);
}

TEST(SetupCommandLine, PassiveShowsOnlyTheCopyPageRetriesByItselfAndCloses) {
  ThreePackageMedium medium;
  Target target;
  // Held by another program at first: the run waits and tries again.
  FileLock lock(target.path() / L"maps" / L"bayern" / L"b2.dat");
  ASSERT_TRUE(lock.held());

  RemoteWizard wizard(medium.Program(), L"/passive /dir=" + target.Folder(L"maps") + L" /log=" + target.log.wstring());
  ASSERT_TRUE(wizard.started());
  EXPECT_EQ(wizard.Title(), L"VARNHOLT Setup: Copying Files");
  EXPECT_FALSE(wizard.Button(kBackButton).enabled);
  EXPECT_TRUE(wizard.Button(IDCANCEL).enabled);
  EXPECT_EQ(wizard.ProgressUpper(IDC_PROGRESS_OVERALL), 300);
  EXPECT_EQ(wizard.WaitForDialog(std::chrono::milliseconds(300)), nullptr) << "no question is asked";
  Screenshot(L"10-passive");
  // Released only once the run has met the lock: on a busy machine it may
  // take a while to get there.
  EXPECT_TRUE(WaitUntil([&] { return LineWith(LogLines(target.log), "Error in package PKG-B") >= 0; },
                        std::chrono::seconds(30)));
  lock.Release();

  EXPECT_EQ(wizard.WaitForExit(std::chrono::seconds(60)), kSuccess) << "it closes itself";
  const std::filesystem::path root(target.Folder(L"maps"));
  EXPECT_EQ(ReadAll(root / L"bayern" / L"b2.dat"), Bytes("b2"));
  EXPECT_EQ(ReadAll(root / L"chiemgau" / L"c.txt"), Bytes("chiemgau"));
  EXPECT_EQ(StoredGeoPath(), target.Folder(L"maps"));
  const std::vector<std::string> lines = LogLines(target.log);
  EXPECT_GE(LineWith(lines, "answer: Retry"), 0) << Joined(lines);
  ExpectTheLogEndsWithExitCode(lines, kSuccess);
}

TEST(SetupCommandLine, TheWizardStartsWithTheNamedPackagesAndDestination) {
  ThreePackageMedium medium(kPreviousGeoPath);
  Target target;
  const std::wstring destination = target.Folder(L"Digital Maps");

  RemoteWizard wizard(medium.Program(),
                      L"/packages=PKG-C,PKG-A /dir=" + Quoted(destination) + L" /log=" + Quoted(target.log.wstring()));
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
  const std::vector<std::string> lines = LogLines(target.log);
  EXPECT_GE(LineWith(lines, "PKG-A, PKG-C"), 0) << Joined(lines);
  EXPECT_GE(LineWith(lines, Utf8((std::filesystem::path(destination) / L"chiemgau" / L"c.txt").wstring())), 0);
  ExpectTheLogEndsWithExitCode(lines, kSuccess);
}

TEST(SetupCommandLine, TheWizardGoesOnWithoutALogItCannotWrite) {
  ThreePackageMedium medium;
  const std::wstring log = L"Z:\\no-such-folder\\setup.log";
  RemoteWizard wizard(medium.Program(), L"/log=" + log, false);
  EXPECT_EQ(AnswerTheBox(wizard), L"The log file " + log + L" cannot be written: " + SystemText(ERROR_PATH_NOT_FOUND));
  ASSERT_TRUE(wizard.WaitForSheet());
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Welcome"));
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_CANCEL);
  EXPECT_EQ(wizard.WaitForExit(), kUserCancel);
}

TEST(SetupCommandLine, UninstallTakesNoDestinationAndSaysWhenNothingIsInstalled) {
  ThreePackageMedium medium;
  Target target;
  ForgetTheInstalledMaps();

  // The record says where the maps are; a destination beside it is a line
  // written for something else.
  const Ended withDir = RunToTheEnd(medium, L"/uninstall /quiet /dir=" + target.Folder(L"maps"));
  EXPECT_EQ(withDir.code, kInvalidCommandLine);
  EXPECT_FALSE(withDir.sawWindow);
  RemoteWizard refused(medium.Program(), L"/uninstall /dir=" + target.Folder(L"maps"), false);
  EXPECT_NE(AnswerTheBox(refused).find(L"/dir cannot be used with /uninstall"), std::wstring::npos);
  EXPECT_EQ(refused.WaitForExit(), kInvalidCommandLine);

  const Ended quiet = RunToTheEnd(medium, L"/uninstall /quiet /log=" + target.log.wstring());
  EXPECT_EQ(quiet.code, kNothingInstalled);
  EXPECT_FALSE(quiet.sawWindow);
  ExpectTheLogEndsWithExitCode(LogLines(target.log), kNothingInstalled);
  RemoteWizard wizard(medium.Program(), L"/uninstall", false);
  EXPECT_EQ(AnswerTheBox(wizard), L"The maps are not installed.");
  EXPECT_EQ(wizard.WaitForExit(), kNothingInstalled);
}

TEST(SetupCommandLine, TheWizardAsksBeforeItRemovesNoKeepsEverythingYesRemovesOnItsOwnPage) {
  ThreePackageMedium medium;
  Target target;
  ForgetTheInstalledMaps();
  const std::wstring destination = target.Folder(L"maps");
  ASSERT_EQ(RunToTheEnd(medium, L"/quiet /packages=PKG-C,PKG-A /dir=" + destination).code, kSuccess);
  const std::filesystem::path root(destination);
  const std::vector<std::string> installed = TreeOf(root);
  ASSERT_EQ(installed.size(), 5u);

  RemoteWizard notThere(medium.Program(), L"/uninstall /packages=PKG-B", false);
  EXPECT_EQ(AnswerTheBox(notThere), L"The package PKG-B is not installed.");
  EXPECT_EQ(notThere.WaitForExit(), kNothingInstalled);

  // Alpen's 5 bytes and Chiemgau's 8.
  const std::wstring question =
      L"Remove the installed maps (2 packages, " + ByteSize(13) + L") from " + destination + L"?";
  RemoteWizard declined(medium.Program(), L"/uninstall", false);
  HWND box = declined.WaitForDialog(std::chrono::milliseconds(30000));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(RemoteWizard::DialogTexts(box), question);
  EXPECT_NE(::GetDlgItem(box, IDYES), nullptr);
  Screenshot(L"20-remove-question");
  RemoteWizard::AnswerDialog(box, IDNO);
  EXPECT_EQ(declined.WaitForExit(), kUserCancel);
  EXPECT_EQ(TreeOf(root), installed);
  EXPECT_TRUE(std::filesystem::exists(InstallRecordPath()));

  RemoteWizard wizard(medium.Program(), L"/uninstall /log=" + target.log.wstring(), false);
  box = wizard.WaitForDialog(std::chrono::milliseconds(30000));
  ASSERT_NE(box, nullptr);
  RemoteWizard::AnswerDialog(box, IDYES);
  ASSERT_TRUE(wizard.WaitForSheet());
  EXPECT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Removing Files"));
  ASSERT_TRUE(wizard.WaitForButton(kFinishButton, true));
  EXPECT_TRUE(WaitUntil([&] { return wizard.Visible(IDC_FINISHED_TEXT); }));
  EXPECT_EQ(wizard.Text(IDC_FINISHED_TEXT), L"The maps were removed.\r\n\r\nClick \"Finish\" to close the setup.");
  EXPECT_FALSE(wizard.Visible(IDC_CANCELLED_TEXT));
  EXPECT_FALSE(wizard.Button(kBackButton).enabled);
  Screenshot(L"21-removed");
  wizard.Press(PSBTN_FINISH);
  EXPECT_EQ(wizard.WaitForExit(), kSuccess);
  EXPECT_FALSE(std::filesystem::exists(root / L"alpen"));
  EXPECT_FALSE(std::filesystem::exists(root / L"chiemgau"));
  EXPECT_FALSE(std::filesystem::exists(InstallRecordPath()));
  ExpectTheLogEndsWithExitCode(LogLines(target.log), kSuccess);
}
