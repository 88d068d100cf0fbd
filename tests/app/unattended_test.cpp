// The setup without anyone at the screen: the command line, the answer to a
// failure, the choice and order of packages, the plan's refusals, the log,
// the one-setup lock, and a quiet run on a real medium.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "app/exit_codes.h"
#include "app/folders.h"
#include "app/install_log.h"
#include "app/unattended_install.h"
#include "app/wizard_session.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "resources/texts_en.h"
#include "support/allocation_watch.h"
#include "support/temp_dir.h"
#include "tests/app/package_media.h"
#include "tests/app/settings_sandbox.h"

namespace app {

namespace {

ParsedCommandLine Parse(std::vector<std::wstring> arguments) { return ParseCommandLine(arguments); }

std::string ReadText(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Contains(const std::string& text, const std::wstring& part) {
  return text.find(text::ToUtf8(part)) != std::string::npos;
}

// Each part is in the log; a missing one is named, with all that was written.
void ExpectLogged(const std::string& written, std::initializer_list<std::wstring> parts) {
  for (const std::wstring& part : parts)
    EXPECT_TRUE(Contains(written, part)) << text::ToUtf8(part) << "\n" << written;
}

// A file system whose folder creation fails with `code`.
class RefusingFileSystem : public DestinationFileSystem {
 public:
  explicit RefusingFileSystem(platform::ErrorCode code) : code_(code) {}
  bool CreateFolderTree(const std::wstring&) override { return false; }
  std::optional<std::wstring> CreateTempFile(const std::wstring&, const std::wstring&) override { return std::nullopt; }
  bool OpenReadWrite(const std::wstring&) override { return false; }
  bool RemoveFile(const std::wstring&) override { return false; }
  platform::ErrorCode LastError() override { return code_; }

 private:
  platform::ErrorCode code_;
};

// The system's file steps on a drive with room for `available` bytes.
class SmallDrive : public SystemDestinationFileSystem {
 public:
  explicit SmallDrive(std::uint64_t available) : available_(available) {}
  std::optional<std::uint64_t> AvailableSpace(const std::wstring&) override { return available_; }

 private:
  std::uint64_t available_;
};

#if defined(_WIN32)
constexpr platform::ErrorCode kAccessDenied = 5;
#else
constexpr platform::ErrorCode kAccessDenied = 13;
#endif

// Data that does not compress, so that its middle lies well past the header.
std::string Noise(std::size_t size) {
  std::string data(size, '\0');
  std::uint32_t state = 12345;
  for (char& c : data) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return data;
}

// A medium of three packages in Karten\, the settings in a sandbox, and a
// place for the setup's log.
struct Medium {
  SettingsSandbox sandbox;
  TempDir root;
  TempDir target;
  TempDir logFolder;
  std::wstring karten = root.Folder(L"Karten");
  std::wstring logPath = logFolder.File(L"setup.log");

  Medium() {
    std::filesystem::create_directories(std::filesystem::path(karten));
    WritePackage(karten, L"PKG-C", L"Chiemgau", "chiemgau data", L"c.txt", L"chiemgau");
    WritePackage(karten, L"PKG-A", L"alpen", "alpine data", L"a.txt", L"alpen");
    WritePackage(karten, L"PKG-B", L"Bayern", Noise(70000), L"b.txt", L"bayern");
  }
  WizardSession Session() const {
    WizardSession session;
    session.SetPackageFolder(karten);
    session.SetDestinationFolder(L"X:\\never\\");
    return session;
  }
  SetupOptions Quiet(std::optional<std::vector<std::wstring>> packages) const {
    SetupOptions options;
    options.mode = SetupMode::kQuiet;
    options.destination = target.Folder();
    options.packages = std::move(packages);
    return options;
  }
  std::string Logged() const { return ReadText(logPath); }
};

}  // namespace

TEST(SetupCommandLine, ModesAndHelpAreCaseInsensitiveAndTakeEitherPrefix) {
  EXPECT_TRUE(Parse({}).valid());
  EXPECT_EQ(Parse({}).options.mode, SetupMode::kWizard);
  EXPECT_EQ(Parse({L"/QUIET"}).options.mode, SetupMode::kQuiet);
  EXPECT_EQ(Parse({L"-Passive"}).options.mode, SetupMode::kPassive);
  // Never a window when asked for none.
  EXPECT_EQ(Parse({L"/passive", L"/quiet"}).options.mode, SetupMode::kQuiet);
  EXPECT_TRUE(Parse({L"/?"}).options.help);
  EXPECT_TRUE(Parse({L"-HELP"}).options.help);
  EXPECT_FALSE(Parse({L"/quiet"}).options.help);
  // Empty arguments, as some tools append, are no switches.
  EXPECT_TRUE(Parse({L"", L"/quiet"}).valid());
}

TEST(SetupCommandLine, ValuesLoseTheQuotesTheArgumentRulesLeave) {
  const ParsedCommandLine parsed =
      Parse({L"/Dir=C:\\Maps\"", L"-LOG=\"C:\\logs\\setup.log\"", L"/packages=PKG-A, PKG-B ,\"PKG-C\""});
  ASSERT_TRUE(parsed.valid()) << text::ToUtf8(parsed.error);
  EXPECT_EQ(parsed.options.destination, L"C:\\Maps\\");
  EXPECT_EQ(parsed.options.logPath, L"C:\\logs\\setup.log");
  EXPECT_EQ(parsed.options.packages, (std::vector<std::wstring>{L"PKG-A", L"PKG-B", L"PKG-C"}));

  EXPECT_EQ(Parse({L"/dir=C:\\Maps"}).options.destination, L"C:\\Maps\\");
  EXPECT_EQ(Parse({L"/dir=c:/maps/"}).options.destination, L"c:\\maps\\");
  EXPECT_EQ(Parse({L"/dir=\\\\server\\share"}).options.destination, L"\\\\server\\share\\");

  // `/dir="C:\My Maps\" /quiet` swallows the rest of the line into one
  // argument; the switches in it still count, above all the mode.
  const ParsedCommandLine swallowed = Parse({L"/dir=C:\\My Maps\" /quiet  /log=C:\\l.txt"});
  ASSERT_TRUE(swallowed.valid()) << text::ToUtf8(swallowed.error);
  EXPECT_EQ(swallowed.options.destination, L"C:\\My Maps\\");
  EXPECT_EQ(swallowed.options.mode, SetupMode::kQuiet);
  EXPECT_EQ(swallowed.options.logPath, L"C:\\l.txt");
}

TEST(SetupCommandLine, RelativeOrMalformedValuesAndUnknownSwitchesAreRefused) {
  const std::vector<std::vector<std::wstring>> refused = {
      // Destinations that depend on the current drive or folder, or are no path.
      {L"/dir=Maps"},
      {L"/dir=C:Maps"},
      {L"/dir=\\Maps"},
      {L"/dir=\\\\server"},
      {L"/dir=\\\\server\\"},
      {L"/dir=C:\\Ma<ps"},
      {L"/dir=C:\\a:b"},
      {L"/dir=\"\""},
      // Missing, empty or unexpected values.
      {L"/dir"},
      {L"/dir="},
      {L"/log="},
      {L"/packages="},
      {L"/packages=A,,B"},
      {L"/packages=A,"},
      {L"/quiet=yes"},
      {L"/log=C:\\a|b"},
      // Given twice.
      {L"/dir=C:\\a", L"/dir=C:\\b"},
      {L"/packages=A", L"/packages=B"},
      // Unknown.
      {L"/bogus"},
      {L"/dirx=C:\\a"},
      {L"setup"},
      {L"/"},
      {L"--quiet"}};
  for (const auto& line : refused) {
    const ParsedCommandLine parsed = Parse(line);
    EXPECT_FALSE(parsed.valid()) << text::ToUtf8(line.front());
    EXPECT_FALSE(parsed.error.empty());
  }
  // The mode is read past the fault: a quiet line shows no usage box.
  EXPECT_EQ(Parse({L"/bogus", L"/quiet"}).options.mode, SetupMode::kQuiet);
  EXPECT_NE(Parse({L"/bogus"}).error.find(L"/bogus"), std::wstring::npos);
  EXPECT_NE(std::wstring(texts_en::kUsage).find(L"/packages"), std::wstring::npos);
}

TEST(SetupCommandLine, ForceRepairAndUninstallExcludeEachOther) {
  EXPECT_EQ(CopyRuleFor(Parse({}).options), CopyRule::kSkipUnchanged);
  EXPECT_EQ(CopyRuleFor(Parse({L"/FORCE"}).options), CopyRule::kWriteAll);
  EXPECT_EQ(CopyRuleFor(Parse({L"-repair", L"/quiet"}).options), CopyRule::kRepair);
  EXPECT_TRUE(Parse({L"/repair", L"/packages=A"}).valid());
  EXPECT_FALSE(Parse({L"/force=yes"}).valid());
  const std::vector<std::vector<std::wstring>> refused = {{L"/force", L"/repair"},
                                                          {L"/repair", L"/uninstall"},
                                                          {L"/uninstall", L"/force"},
                                                          {L"/force", L"/repair", L"/uninstall", L"/quiet"}};
  for (const auto& line : refused) {
    const ParsedCommandLine parsed = Parse(line);
    EXPECT_FALSE(parsed.valid()) << text::ToUtf8(line.front() + L" " + line[1]);
  }
  EXPECT_EQ(Parse({L"/repair", L"/force"}).error, L"The switches /force and /repair cannot be used together.");
  EXPECT_EQ(Parse({L"/uninstall", L"/repair"}).error, L"The switch /repair cannot be used with /uninstall.");
  for (const wchar_t* shown : {L"[/force | /repair]", L"/force\t", L"/repair\t"})
    EXPECT_NE(std::wstring(texts_en::kUsage).find(shown), std::wstring::npos) << text::ToUtf8(shown);
}

TEST(SetupTexts, APatternTakesItsValuesAsTheyAre) {
  // A path may hold "%2" itself: only the pattern's own placeholders are filled.
  EXPECT_EQ(texts_en::Filled(texts_en::kLogNotWritable, L"C:\\100%2.log", L"Access is denied."),
            L"The log file C:\\100%2.log cannot be written: Access is denied.");
  EXPECT_EQ(Parse({L"/dir"}).error, L"The switch /dir needs a value: /dir=...");
}

TEST(UnattendedPolicy, RetriesTwiceTwoSecondsApartThenAborts) {
  std::vector<std::chrono::milliseconds> slept;
  auto sleep = [&slept](std::chrono::milliseconds delay) { slept.push_back(delay); };
  EXPECT_EQ(UnattendedAnswer({L"A", 1, L"x"}, sleep), FileErrorAnswer::kRetry);
  EXPECT_EQ(UnattendedAnswer({L"A", 2, L"x"}, sleep), FileErrorAnswer::kRetry);
  EXPECT_EQ(UnattendedAnswer({L"A", 3, L"x"}, sleep), FileErrorAnswer::kAbort);
  EXPECT_EQ(slept, (std::vector<std::chrono::milliseconds>{std::chrono::seconds(2), std::chrono::seconds(2)}));
}

TEST(UnattendedPackages, AreTheCataloguesValidOnesInTheWizardsOrder) {
  const std::vector<PackageEntry> catalogue = {
      {L"G1", L"beta", {}}, {L"G2", L"Alpha", {}}, {L"G3", L"Beta", {}}, {L"G4", L"alpha", {}}};
  const auto names = [](const std::optional<std::vector<PackageEntry>>& selected) {
    return selected ? std::optional<std::vector<std::wstring>>(PackageNames(*selected)) : std::nullopt;
  };
  std::wstring unknown;
  // By title ignoring case; equal titles keep the catalogue's order.
  EXPECT_EQ(names(SelectPackages(catalogue, std::nullopt, &unknown)),
            (std::vector<std::wstring>{L"G2", L"G4", L"G1", L"G3"}));
  EXPECT_EQ(SelectPackages(catalogue, std::vector<std::wstring>{}, &unknown)->size(), 4u);
  // The requested ones, in that same order whatever order or case they came in.
  EXPECT_EQ(names(SelectPackages(catalogue, std::vector<std::wstring>{L"g3", L"G2", L"G3"}, &unknown)),
            (std::vector<std::wstring>{L"G2", L"G3"}));
  EXPECT_FALSE(SelectPackages(catalogue, std::vector<std::wstring>{L"G1", L"G9", L"G8"}, &unknown));
  EXPECT_EQ(unknown, L"G9");
}

TEST(UnattendedPlan, RefusesUnknownPackagesAnEmptyMediumAndAnUnwritableDestination) {
  Medium medium;

  // Not a package: left out of the choice, but named.
  std::ofstream(std::filesystem::path(medium.karten) / "junk.nwq") << "no header";
  {  // An unknown name: nothing touched, not even the destination's folders.
    InstallLog log;
    ASSERT_TRUE(log.Open(medium.logPath, nullptr));
    WizardSession session = medium.Session();
    SetupOptions options = medium.Quiet(std::vector<std::wstring>{L"PKG-A", L"PKG-X"});
    options.destination = medium.target.Folder(L"sub");
    SystemDestinationFileSystem fileSystem;
    EXPECT_EQ(PlanUnattendedInstallation(session, options, log, fileSystem).exitCode, 1639);
    EXPECT_FALSE(std::filesystem::exists(medium.target.path() / "sub"));
    EXPECT_TRUE(Contains(medium.Logged(), L"PKG-X"));
    EXPECT_TRUE(Contains(medium.Logged(), L"junk.nwq"));
  }
  {  // No valid package on the medium.
    InstallLog log;
    TempDir empty;
    WizardSession session;
    session.SetPackageFolder(empty.Folder());
    SystemDestinationFileSystem fileSystem;
    EXPECT_EQ(PlanUnattendedInstallation(session, medium.Quiet(std::nullopt), log, fileSystem).exitCode, 1603);
  }
  {  // The destination refused: the system's own text goes to the log.
    InstallLog log;
    ASSERT_TRUE(log.Open(medium.logPath, nullptr));
    WizardSession session = medium.Session();
    RefusingFileSystem refusing(kAccessDenied);
    EXPECT_EQ(PlanUnattendedInstallation(session, medium.Quiet(std::nullopt), log, refusing).exitCode, 1603);
    ExpectLogged(medium.Logged(), {platform::SystemErrorText(kAccessDenied), medium.target.Folder()});
  }
  {  // A plan that goes on: its job logs to the setup's log, and a package that
     // no longer opens is a failure, retried and then aborted by the
     // unattended answer, which stops the run.
    InstallLog log;
    ASSERT_TRUE(log.Open(medium.logPath, nullptr));
    WizardSession session = medium.Session();
    SystemDestinationFileSystem fileSystem;
    UnattendedPlan plan = PlanUnattendedInstallation(session, medium.Quiet(std::nullopt), log, fileSystem);
    ASSERT_EQ(plan.exitCode, 0);
    EXPECT_EQ(plan.job.packages, (std::vector<std::wstring>{L"PKG-A", L"PKG-B", L"PKG-C"}));
    std::filesystem::remove(std::filesystem::path(medium.karten) / "PKG-B.nwq");
    // The retries' two seconds are the policy's test; the last answer is the plan's own.
    std::vector<int> attempts;
    plan.job.answer = [&attempts, planned = plan.job.answer](const FailureQuestion& question) {
      attempts.push_back(question.attempt);
      return question.attempt <= kUnattendedRetries ? FileErrorAnswer::kRetry : planned(question);
    };
    SilentRunView page;
    EXPECT_EQ(ExitCodeOfRun(SetupMode::kQuiet, RunInstallation(plan.job, page)), 1603);
    EXPECT_EQ(attempts, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(std::filesystem::exists(medium.target.path() / "alpen" / "a.txt"));
    EXPECT_FALSE(std::filesystem::exists(medium.target.path() / "chiemgau"));
    ExpectLogged(medium.Logged(), {L"The package PKG-B cannot be opened", L"Answer: Abort", L"GeoPath not written"});
  }
}

TEST(UnattendedExitCodes, AreTheNumbersDistributionToolsRead) {
  struct Case {
    SetupMode mode;
    RunEnd end;
    int code;
  };
  // Cancel is the user's in every mode; a stop is the user's Abort only in the wizard.
  const Case cases[] = {{SetupMode::kWizard, RunEnd::kFinished, 0},      {SetupMode::kPassive, RunEnd::kFinished, 0},
                        {SetupMode::kQuiet, RunEnd::kFinished, 0},       {SetupMode::kWizard, RunEnd::kCancelled, 1602},
                        {SetupMode::kPassive, RunEnd::kCancelled, 1602}, {SetupMode::kQuiet, RunEnd::kCancelled, 1602},
                        {SetupMode::kWizard, RunEnd::kStopped, 1602},    {SetupMode::kPassive, RunEnd::kStopped, 1603},
                        {SetupMode::kQuiet, RunEnd::kStopped, 1603}};
  for (const Case& c : cases) {
    EXPECT_EQ(ExitCodeOfRun(c.mode, c.end), c.code)
        << "mode " << static_cast<int>(c.mode) << ", end " << static_cast<int>(c.end);
  }
  // The codes no run decides.
  EXPECT_EQ(kExitAlreadyRunning, 1618);
  EXPECT_EQ(kExitInvalidCommandLine, 1639);
}

TEST(UnattendedExitCodes, APassiveRunCancelledMidWayKeepsWhatItInstalledAndEndsWith1602) {
  Medium medium;
  WizardSession session = medium.Session();
  ASSERT_TRUE(session.WriteGeoPath(L"D:\\Before\\"));
  InstallLog log;
  ASSERT_TRUE(log.Open(medium.logPath, nullptr));
  SetupOptions options = medium.Quiet(std::nullopt);
  options.mode = SetupMode::kPassive;
  SystemDestinationFileSystem fileSystem;
  UnattendedPlan plan = PlanUnattendedInstallation(session, options, log, fileSystem);
  ASSERT_EQ(plan.exitCode, 0);
  // The user says Yes once the first package (alpen) is in place.
  const std::filesystem::path first = medium.target.path() / "alpen" / "a.txt";
  plan.job.stopRequested = [&first] { return std::filesystem::exists(first); };
  SilentRunView page;
  const RunEnd end = RunInstallation(plan.job, page);
  EXPECT_EQ(end, RunEnd::kCancelled);
  EXPECT_EQ(ExitCodeOfRun(SetupMode::kPassive, end), 1602);

  EXPECT_TRUE(std::filesystem::exists(first)) << "what was completed stays";
  EXPECT_FALSE(std::filesystem::exists(medium.target.path() / "bayern" / "b.txt"));
  EXPECT_FALSE(std::filesystem::exists(medium.target.path() / "chiemgau"));
  std::wstring remembered;
  ASSERT_TRUE(session.ReadGeoPath(remembered));
  EXPECT_EQ(remembered, L"D:\\Before\\");
  const std::string written = medium.Logged();
  EXPECT_TRUE(Contains(written, L"the user cancelled the installation")) << written;
  EXPECT_FALSE(Contains(written, L"Answer:")) << "a cancel is not a failure\n" << written;
}

TEST(UnattendedPlan, ACopyThatCannotFitEndsWith1603BeforeAnythingIsWritten) {
  Medium medium;
  SetupOptions options = medium.Quiet(std::nullopt);
  options.destination = medium.target.Folder(L"maps");
  // 11 + 70000 + 13 bytes unpacked, and beside them the largest file again.
  constexpr std::uint64_t kNeeded = 11 + 70000 + 13 + 70000;
  {
    InstallLog log;
    ASSERT_TRUE(log.Open(medium.logPath, nullptr));
    WizardSession session = medium.Session();
    SmallDrive drive(kNeeded - 1);
    EXPECT_EQ(PlanUnattendedInstallation(session, options, log, drive).exitCode, 1603);
    EXPECT_TRUE(std::filesystem::is_empty(medium.target.path())) << "not even the destination was created";
    const std::string written = medium.Logged();
    EXPECT_TRUE(Contains(written, L"Error: not enough free space on the destination drive of " + *options.destination +
                                      L": " + std::to_wstring(kNeeded) + L" bytes needed, " +
                                      std::to_wstring(kNeeded - 1) + L" bytes available"))
        << written;
  }
  {  // Exactly enough goes on.
    InstallLog log;
    WizardSession session = medium.Session();
    SmallDrive drive(kNeeded);
    EXPECT_EQ(PlanUnattendedInstallation(session, options, log, drive).exitCode, 0);
  }
  {  // A package whose index does not check out is of unknown size: only
     // the others' need can stop the run.
    const std::filesystem::path bayern = std::filesystem::path(medium.karten) / "PKG-B.nwq";
    std::filesystem::resize_file(bayern, std::filesystem::file_size(bayern) - 1);
    InstallLog log;
    ASSERT_TRUE(log.Open(medium.logPath, nullptr));
    WizardSession session = medium.Session();
    SmallDrive drive(11 + 13 + 13);
    EXPECT_EQ(PlanUnattendedInstallation(session, options, log, drive).exitCode, 0);
    EXPECT_TRUE(Contains(medium.Logged(), L"at least")) << medium.Logged();
    SmallDrive smaller(11 + 13 + 13 - 1);
    EXPECT_EQ(PlanUnattendedInstallation(session, options, log, smaller).exitCode, 1603);
  }
}

TEST(QuietRun, InstallsExactlyTheNamedPackagesRemembersTheDestinationAndLogsEveryFile) {
  Medium medium;
  InstallLog log;
  ASSERT_TRUE(log.Open(medium.logPath, nullptr));
  WizardSession session = medium.Session();
  log.SetupStarted(L"1.0", {L"/quiet", L"/dir=C:\\My Maps\\"});

  EXPECT_EQ(RunQuietInstallation(session, medium.Quiet(std::vector<std::wstring>{L"pkg-c", L"PKG-A"}), log), 0);
  log.SetupEnded(0);

  EXPECT_TRUE(std::filesystem::exists(medium.target.path() / "alpen" / "a.txt"));
  EXPECT_TRUE(std::filesystem::exists(medium.target.path() / "chiemgau" / "c.txt"));
  EXPECT_FALSE(std::filesystem::exists(medium.target.path() / "bayern"));
  std::wstring remembered;
  ASSERT_TRUE(session.ReadGeoPath(remembered));
  EXPECT_EQ(remembered, EnsureTrailingBackslash(medium.target.Folder()));

  const std::string written = medium.Logged();
  ExpectLogged(written, {L"Tessavo 1.0", L"\"/dir=C:\\My Maps\\\"", L"Medium folder: " + medium.karten,
                         L"Destination: " + medium.target.Folder(), L"Packages: PKG-A, PKG-C", L"Package PKG-A: start",
                         L"Package PKG-A: end, 1 files, 11 bytes", L"Package PKG-C: end, 1 files, 13 bytes",
                         L"a.txt (11 bytes)", L"c.txt (13 bytes)", L"GeoPath written", L"Exit code: 0"});
  EXPECT_FALSE(Contains(written, L"PKG-B")) << written;
}

TEST(UnattendedPlan, TheJobFollowsTheCommandLinesCopyRule) {
  Medium medium;
  InstallLog log;
  SystemDestinationFileSystem fileSystem;
  for (const auto& [line, rule] : {std::pair<std::vector<std::wstring>, CopyRule>{{}, CopyRule::kSkipUnchanged},
                                   {{L"/force"}, CopyRule::kWriteAll},
                                   {{L"/repair"}, CopyRule::kRepair}}) {
    WizardSession session = medium.Session();
    SetupOptions options = Parse(line).options;
    options.destination = medium.target.Folder();
    const UnattendedPlan plan = PlanUnattendedInstallation(session, options, log, fileSystem);
    ASSERT_EQ(plan.exitCode, 0);
    EXPECT_EQ(plan.job.copyRule, rule);
  }
}

TEST(QuietRun, ADamagedPackageFailsTheRunAndLeavesGeoPathAsItWas) {
  Medium medium;
  WizardSession session = medium.Session();
  ASSERT_TRUE(session.WriteGeoPath(L"D:\\Before\\"));
  // Damage the stored data of the second package in order, past its header.
  const std::filesystem::path damaged = std::filesystem::path(medium.karten) / "PKG-B.nwq";
  {
    std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(std::filesystem::file_size(damaged) / 2));
    const std::string garbage(64, '\xA5');
    file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  }
  InstallLog log;
  ASSERT_TRUE(log.Open(medium.logPath, nullptr));

  EXPECT_EQ(RunQuietInstallation(session, medium.Quiet(std::nullopt), log), 1603);
  std::wstring remembered;
  ASSERT_TRUE(session.ReadGeoPath(remembered));
  EXPECT_EQ(remembered, L"D:\\Before\\");
  // Stopped as Abort stops: the package after the damaged one never starts.
  EXPECT_TRUE(std::filesystem::exists(medium.target.path() / "alpen" / "a.txt"));
  EXPECT_FALSE(std::filesystem::exists(medium.target.path() / "chiemgau"));
  const std::string written = medium.Logged();
  ExpectLogged(written, {L"PKG-B.nwq", L"b.txt", L"Answer: Retry", L"Answer: Abort", L"GeoPath not written"});
  EXPECT_FALSE(Contains(written, L"Package PKG-C")) << written;
}

TEST(QuietRun, AfterARetryThePackagesEndLineCountsOnlyTheAttemptThatEndedIt) {
  Medium medium;
  {
    package::PackageWriter writer(package::BuildPackagePath(medium.karten, L"PKG-T"),
                                  *package::PackageHeader::Make(L"PKG-T", L"Tirol", L"three"));
    writer.AddData(L"tirol", L"one.txt", "11111", 5, 0, 0);
    writer.AddData(L"tirol", L"two.txt", "22222", 5, 0, 0);
    writer.AddData(L"tirol", L"three.txt", "33333", 5, 0, 0);
    writer.Close();
  }
  // The second file is held open by another program on the first try.
  const std::filesystem::path busy = medium.target.path() / "tirol" / "two.txt";
  std::filesystem::create_directories(busy.parent_path());
  std::ofstream(busy) << "old";
  platform::File holder;
  ASSERT_TRUE(holder.Open(busy.wstring(), platform::File::Mode::kReadExclusive));

  InstallLog log;
  ASSERT_TRUE(log.Open(medium.logPath, nullptr));
  WizardSession session = medium.Session();
  SystemDestinationFileSystem fileSystem;
  UnattendedPlan plan =
      PlanUnattendedInstallation(session, medium.Quiet(std::vector<std::wstring>{L"PKG-T"}), log, fileSystem);
  ASSERT_EQ(plan.exitCode, 0);
  // The unattended answer, without its two seconds; the file is let go meanwhile.
  plan.job.answer = [&holder](const FailureQuestion& question) {
    holder.Close();
    return UnattendedAnswer(question, {});
  };
  SilentRunView page;
  EXPECT_EQ(RunInstallation(plan.job, page), RunEnd::kFinished);

  EXPECT_EQ(ReadText(busy.wstring()), "22222");
  ExpectLogged(medium.Logged(), {L"Answer: Retry", L"Package PKG-T: end, 3 files, 15 bytes, "});
}

// Nobody is there to see a crash: whatever goes wrong, here memory that runs
// out as the plan begins, ends the run with 1603 and a line in the log.
TEST(QuietRun, AnythingThatGoesWrongEndsItWith1603AndALogLine) {
  Medium medium;
  InstallLog log;
  ASSERT_TRUE(log.Open(medium.logPath, nullptr));
  WizardSession session = medium.Session();
  SetupOptions options = medium.Quiet(std::nullopt);
  options.destination = medium.target.Folder() + std::wstring(4000, L'd');  // more than the limit holds
  int exitCode = 0;
  {
    AllocationWatch limited(4096);
    try {
      exitCode = RunQuietInstallation(session, options, log);
    } catch (...) {
      ADD_FAILURE() << "an exception escaped the run";
    }
  }
  EXPECT_EQ(exitCode, 1603);
  EXPECT_TRUE(std::filesystem::is_empty(medium.target.path()));
  const std::string written = medium.Logged();
  EXPECT_TRUE(Contains(written, L"Error: the installation failed unexpectedly: out of memory")) << written;
}

TEST(InstallLogFile, StampsEachLineKeepsLinesWholeAcrossThreadsAndNeverFailsTheRun) {
  TempDir folder;
  const std::wstring path = folder.File(L"setup.log");
  {
    InstallLog log;
    log.Write(L"before it is open");  // nowhere to go, and no harm done
    EXPECT_FALSE(log.IsOpen());
    platform::ErrorCode error = 0;
    EXPECT_FALSE(log.Open(folder.Folder(), &error));  // a folder is no log file
    EXPECT_NE(error, 0u);
    ASSERT_TRUE(log.Open(path, &error));
    EXPECT_TRUE(log.IsOpen());

    log.Write(L"K\u00e4rnten");
    auto writeMany = [&log](wchar_t tag) {
      for (int i = 0; i < 300; ++i)
        log.Write(std::wstring(40, tag));
    };
    std::thread worker(writeMany, L'w');
    writeMany(L'u');
    worker.join();

    const std::string written = ReadText(path);
    const std::regex line("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} (K\xC3\xA4rnten|w{40}|u{40})\r");
    std::istringstream lines(written);
    int count = 0;
    std::vector<std::string> stamps;
    for (std::string text; std::getline(lines, text); ++count) {
      EXPECT_TRUE(std::regex_match(text, line)) << text;
      stamps.push_back(text.substr(0, 23));
    }
    EXPECT_EQ(count, 601);
    // Two threads, one file: the times in it never run backwards.
    EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end()));
  }

  // Opening again starts the file afresh.
  InstallLog again;
  ASSERT_TRUE(again.Open(path, nullptr));
  EXPECT_EQ(std::filesystem::file_size(std::filesystem::path(path)), 0u);
}

// Lines of single files wait in memory and are written together: never
// lost when the log closes or moves to another file, never out of order,
// and never held without bound.
TEST(InstallLogFile, FileLinesHeldBackReachTheirFileInOrder) {
  TempDir folder;
  const std::wstring first = folder.File(L"first.log");
  const std::wstring second = folder.File(L"second.log");
  auto lines = [](const std::wstring& path) {
    std::vector<std::string> texts;
    std::istringstream in(ReadText(path));
    for (std::string line; std::getline(in, line);)
      texts.push_back(line.substr(24));
    return texts;
  };
  {
    InstallLog log;
    ASSERT_TRUE(log.Open(first, nullptr));
    log.FileUnchanged(L"a");
    log.FileWritten(L"b", 5);
    log.Write(L"between");
    EXPECT_EQ(lines(first),
              (std::vector<std::string>{"File unchanged: a\r", "File written: b (5 bytes)\r", "between\r"}));
    log.FileRepaired(L"b");
    ASSERT_TRUE(log.Open(second, nullptr));
    EXPECT_EQ(lines(first).back(), "Repaired file: b\r");
    for (int i = 0; i < 5000; ++i)
      log.FileUnchanged(std::wstring(40, L'x'));
    EXPECT_GT(lines(second).size(), 1000u);
    log.FileUnchanged(L"last");
  }
  EXPECT_EQ(lines(second).size(), 5001u);
  EXPECT_EQ(lines(second).back(), "File unchanged: last\r");

  // Behind a large file, as the bars move.
  InstallLog log;
  ASSERT_TRUE(log.Open(first, nullptr));
  log.FileUnchanged(L"before a large file");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  log.WriteDueLines();
  EXPECT_EQ(lines(first), std::vector<std::string>{"File unchanged: before a large file\r"});
}

TEST(SetupLockTest, OnlyOneHolderAtATimeAndTheLockGoesWithItsOwner) {
  const std::wstring name =
      L"VarnholtLockTest" + std::to_wstring(std::chrono::steady_clock::now().time_since_epoch().count());
  platform::SetupLock first;
  ASSERT_EQ(first.Acquire(name), platform::SetupLock::Outcome::kAcquired);
  EXPECT_TRUE(first.IsHeld());
  {
    platform::SetupLock second;
    EXPECT_EQ(second.Acquire(name), platform::SetupLock::Outcome::kHeldElsewhere);
    EXPECT_FALSE(second.IsHeld());
  }
  // Another name is another setup.
  platform::SetupLock other;
  EXPECT_EQ(other.Acquire(name + L"x"), platform::SetupLock::Outcome::kAcquired);

  platform::SetupLock moved = std::move(first);
  EXPECT_TRUE(moved.IsHeld());
  moved = platform::SetupLock();
  platform::SetupLock later;
  EXPECT_EQ(later.Acquire(name), platform::SetupLock::Outcome::kAcquired);
}

}  // namespace app
