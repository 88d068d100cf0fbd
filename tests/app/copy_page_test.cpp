// The copy page's run: progress, the current file, the questions after file
// errors and what each answer does, the end state, and when GeoPath is kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/folders.h"
#include "app/install_log.h"
#include "app/installation_run.h"
#include "app/wizard_session.h"
#include "tests/app/package_media.h"
#include "support/package_bytes.h"
#include "tests/app/settings_sandbox.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace app {

namespace {

// Writes down every change the run makes to the page, in order.
class RecordingView : public RunView {
 public:
  std::vector<std::wstring> events;
  std::vector<std::wstring> questions;
  std::vector<FileErrorAnswer> answers;  // taken in turn; Abort when used up
  std::vector<int> overallPositions;
  std::vector<int> packagePositions;
  int overallRange = -1;

  void SetOverallRange(int upper) override {
    overallRange = upper;
    events.push_back(L"overall range " + std::to_wstring(upper));
  }
  void SetOverallPosition(int position) override {
    overallPositions.push_back(position);
    events.push_back(L"overall " + std::to_wstring(position));
  }
  void SetPackageRange(int upper) override { events.push_back(L"package range " + std::to_wstring(upper)); }
  void SetPackagePosition(int position) override {
    packagePositions.push_back(position);
    events.push_back(L"package " + std::to_wstring(position));
  }
  void SetCurrentFileText(const std::wstring& text) override { events.push_back(L"file '" + text + L"'"); }
  // Kept apart from the events, each with the number of events before it.
  std::vector<std::wstring> timeLeftTexts;
  std::vector<std::size_t> timeLeftAfter;
  void SetTimeLeftText(const std::wstring& text) override {
    timeLeftTexts.push_back(text);
    timeLeftAfter.push_back(events.size());
  }
  void SetHeadingText(const std::wstring& text) override { events.push_back(L"heading '" + text + L"'"); }
  void ShowFinishedText() override { events.push_back(L"finished"); }
  void ShowCancelledText() override { events.push_back(L"cancelled"); }
  void EnableFinishButton() override { events.push_back(L"finish button"); }
  void DisableCancel() override { events.push_back(L"cancel disabled"); }
  void EnableSheet() override { events.push_back(L"sheet enabled"); }
  FileErrorAnswer AskAbortRetryIgnore(const std::wstring& message) override {
    questions.push_back(message);
    events.push_back(L"question");
    if (answers.empty()) return FileErrorAnswer::kAbort;
    const FileErrorAnswer answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }

  std::vector<std::wstring> Tail(std::size_t count) const {
    return std::vector<std::wstring>(events.end() - static_cast<std::ptrdiff_t>(std::min(count, events.size())),
                                     events.end());
  }
};

// An extractor that plays a script per package: how many times it fails, and
// with what, before it reports progress and succeeds.
struct ScriptedExtractor {
  struct Failure {
    FileError error;
    std::wstring unopenedOutput;  // raised as the engine does when this output would not open
    enum class Kind { kFileError, kStdException, kAnythingElse };
    Kind kind = Kind::kFileError;
    bool fileWrittenFirst = false;  // the package's file is in place before the raise, as a later one fails
  };
  std::map<std::wstring, std::vector<Failure>> failures;
  // A package that does not open or check out, instead of progress.
  std::map<std::wstring, package::Result> notExtracted;
  // Called halfway through each package, where the engine would next ask
  // whether to stop (as it does after every chunk).
  std::function<void(const std::wstring& name)> halfway;
  std::vector<std::wstring> calls;

  PackageExtractor Function() {
    return [this](const std::wstring&, const std::wstring& name, const std::wstring&, package::Observer& observer) {
      calls.push_back(name);
      std::vector<Failure>& pending = failures[name];
      if (!pending.empty()) {
        const Failure failure = pending.front();
        pending.erase(pending.begin());
        if (failure.fileWrittenFirst) observer.OnEntryFinished(L"D:\\Maps\\" + name + L".dat", 5, 1);
        switch (failure.kind) {
          case Failure::Kind::kFileError:
            if (failure.unopenedOutput.empty()) throw failure.error;
            throw package::ExtractionError(package::ErrorKind::kOutputNotOpened, failure.unopenedOutput, failure.error);
          case Failure::Kind::kStdException: throw std::runtime_error("out of memory");
          case Failure::Kind::kAnythingElse: throw 42;
        }
      }
      if (const auto found = notExtracted.find(name); found != notExtracted.end()) return found->second;
      const package::PackageFileRecord record = *package::PackageFileRecord::Make(name + L".dat", L"", 0, 0, 0);
      observer.OnProgress(50, record);
      if (halfway) halfway(name);
      if (observer.StopRequested()) {
        package::Result stopped;
        stopped.outcome = package::Outcome::kCancelled;
        return stopped;
      }
      observer.OnProgress(100, record);
      observer.OnEntryFinished(L"D:\\Maps\\" + name + L".dat", 5, 1);
      return package::Result{};
    };
  }
};

using Kind = ScriptedExtractor::Failure::Kind;

// The steps that end every run, after `before`: the bars at their ends, the
// buttons, the texts emptied, the outcome shown and the sheet given back.
std::vector<std::wstring> EndSteps(int overall, const wchar_t* outcome, std::vector<std::wstring> before = {}) {
  before.insert(before.end(), {L"package 0", L"overall " + std::to_wstring(overall), L"finish button",
                               L"cancel disabled", L"heading ''", L"file ''", outcome, L"sheet enabled"});
  return before;
}

const std::vector<std::wstring> kFinishedEnd = EndSteps(300, L"finished");
const std::vector<std::wstring> kCancelledEnd = EndSteps(300, L"cancelled");

InstallationJob Job(std::vector<std::wstring> packages, std::vector<std::wstring>* recorded,
                    ScriptedExtractor* extractor) {
  InstallationJob job;
  job.packageFolder = L"P:\\Karten\\";
  job.destinationFolder = L"D:\\Maps\\";
  job.packages = std::move(packages);
  if (recorded != nullptr) {
    job.recordDestination = [recorded](std::wstring destination) {
      recorded->push_back(std::move(destination));
      return true;
    };
  }
  if (extractor != nullptr) job.extract = extractor->Function();
  return job;
}

// Real packages in the Karten folder of a medium, and a destination for the
// real engine to unpack them to.
struct RealMedium {
  TempDir root;
  TempDir target;
  std::wstring karten = root.Folder(L"Karten");

  RealMedium() { std::filesystem::create_directories(karten); }
  InstallationJob JobFor(std::vector<std::wstring> packages, std::vector<std::wstring>* recorded) const {
    InstallationJob job = Job(std::move(packages), recorded, nullptr);
    job.packageFolder = karten;
    job.destinationFolder = target.Folder();
    return job;
  }
};

// The run's log, read back after the run.
struct RunLog {
  TempDir folder;
  std::wstring path = folder.File(L"run.log");
  InstallLog log;

  RunLog() { EXPECT_TRUE(log.Open(path, nullptr)); }
  std::string Text() const {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool Has(const std::wstring& part) const { return Text().find(text::ToUtf8(part)) != std::string::npos; }
  // Each part is in the log; a missing one is named, with the whole log.
  void ExpectHas(std::initializer_list<std::wstring> parts) const {
    for (const std::wstring& part : parts)
      EXPECT_TRUE(Has(part)) << text::ToUtf8(part) << "\n" << Text();
  }
};

FileError DiskFull() { return FileError(FileError::kDiskFull, 112, L"D:\\Maps\\big.dat"); }

}  // namespace

TEST(CopyRun, InstallsRealPackagesAndRemembersTheDestination) {
  RealMedium medium;
  WritePackage(medium.karten, L"PKG-A", L"Alpen", "alpine data", L"a.txt", L"alpen");
  WritePackage(medium.karten, L"PKG-B", L"Bayern", std::string(100000, 'b'), L"b.txt", L"");

  std::vector<std::wstring> recorded;
  RecordingView page;
  EXPECT_EQ(RunInstallation(medium.JobFor({L"PKG-A", L"PKG-B"}, &recorded), page), RunEnd::kFinished);

  std::ifstream a(medium.target.path() / "alpen" / "a.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(a), {}), "alpine data");
  EXPECT_EQ(std::filesystem::file_size(medium.target.path() / "b.txt"), 100000u);
  EXPECT_EQ(page.overallRange, 200);
  EXPECT_NE(std::find(page.events.begin(), page.events.end(), L"file 'Kopiere: a.txt'"), page.events.end());
  EXPECT_NE(std::find(page.events.begin(), page.events.end(), L"file 'Kopiere: b.txt'"), page.events.end());
  // The overall bar never runs backwards and ends full.
  EXPECT_TRUE(std::is_sorted(page.overallPositions.begin(), page.overallPositions.end()));
  EXPECT_EQ(page.overallPositions.back(), 200);
  EXPECT_EQ(page.packagePositions.back(), 0);
  EXPECT_EQ(recorded, std::vector<std::wstring>{medium.target.Folder()});
  EXPECT_TRUE(page.questions.empty());
}

TEST(CopyRun, EachPackageFillsItsShareOfTheOverallBar) {
  ScriptedExtractor extractor;
  std::vector<std::wstring> recorded;
  RecordingView page;
  RunInstallation(Job({L"A", L"B", L"C"}, &recorded, &extractor), page);
  EXPECT_EQ(page.overallRange, 300);
  EXPECT_EQ(page.overallPositions, (std::vector<int>{50, 100, 100, 150, 200, 200, 250, 300, 300, 300}));
  EXPECT_EQ(page.Tail(kFinishedEnd.size()), kFinishedEnd);
  EXPECT_EQ(recorded.size(), 1u);
}

TEST(CopyRun, ProgressSetsThePackageBarAndTheCurrentFile) {
  ScriptedExtractor extractor;
  std::vector<std::wstring> recorded;
  RecordingView page;
  RunInstallation(Job({L"A"}, &recorded, &extractor), page);
  const std::vector<std::wstring> expected = {L"overall range 100", L"package range 100", L"package 50", L"overall 50",
                                              L"file 'Kopiere: A.dat'"};
  EXPECT_EQ(std::vector<std::wstring>(page.events.begin(), page.events.begin() + 5), expected);
}

TEST(CopyRun, MoreThan655PackagesKeepTheirShareOfTheBar) {
  ScriptedExtractor extractor;
  std::vector<std::wstring> recorded;
  RecordingView page;
  RunInstallation(Job(std::vector<std::wstring>(700, L"P"), &recorded, &extractor), page);
  EXPECT_EQ(page.overallRange, 70000);
  EXPECT_EQ(page.overallPositions[page.overallPositions.size() - 2], 70000);
}

TEST(CopyRun, AVanishedPackagePassesSilentlyAndTheRunFinishes) {
  RealMedium medium;
  std::vector<std::wstring> recorded;
  RecordingView page;
  EXPECT_EQ(RunInstallation(medium.JobFor({L"GONE"}, &recorded), page), RunEnd::kFinished);
  EXPECT_TRUE(page.questions.empty());
  EXPECT_EQ(page.Tail(3), (std::vector<std::wstring>{L"file ''", L"finished", L"sheet enabled"}));
  EXPECT_EQ(recorded.size(), 1u);
}

TEST(CopyRun, RetryStartsThePackageAgainWithoutCountingItTwice) {
  ScriptedExtractor extractor;
  extractor.failures[L"B"] = {{DiskFull(), L"", Kind::kFileError, true}, {DiskFull(), L"", Kind::kFileError, true}};
  std::vector<std::wstring> recorded;
  RecordingView page;
  page.answers = {FileErrorAnswer::kRetry, FileErrorAnswer::kRetry};
  RunLog run;
  InstallationJob job = Job({L"A", L"B", L"C"}, &recorded, &extractor);
  job.log = &run.log;
  EXPECT_EQ(RunInstallation(job, page), RunEnd::kFinished);
  // Neither in the log: its end line tells of the attempt that ended it.
  EXPECT_TRUE(run.Has(L"Package B: end, 1 files, 5 bytes, ")) << run.Text();
  EXPECT_EQ(extractor.calls, (std::vector<std::wstring>{L"A", L"B", L"B", L"B", L"C"}));
  EXPECT_EQ(page.questions, (std::vector<std::wstring>(2, L"Disk full while accessing D:\\Maps\\big.dat.")));
  // B's progress lands in the second third, C's in the last.
  EXPECT_NE(std::find(page.overallPositions.begin(), page.overallPositions.end(), 150), page.overallPositions.end());
  EXPECT_NE(std::find(page.overallPositions.begin(), page.overallPositions.end(), 250), page.overallPositions.end());
  EXPECT_EQ(recorded.size(), 1u);
}

TEST(CopyRun, AbortStopsAtOnceShowsTheBarFullAndKeepsNoDestination) {
  ScriptedExtractor extractor;
  extractor.failures[L"A"] = {{DiskFull(), L"", Kind::kFileError}};
  std::vector<std::wstring> recorded;
  RecordingView page;
  page.answers = {FileErrorAnswer::kAbort};
  EXPECT_EQ(RunInstallation(Job({L"A", L"B", L"C"}, &recorded, &extractor), page), RunEnd::kStopped);
  EXPECT_EQ(extractor.calls, std::vector<std::wstring>{L"A"});
  EXPECT_EQ(page.Tail(kCancelledEnd.size() + 1).front(), L"question");
  EXPECT_EQ(page.Tail(kCancelledEnd.size()), kCancelledEnd);
  EXPECT_TRUE(recorded.empty());
}

TEST(CopyRun, IgnoreCountsThePackageAndTheRunStillFinishes) {
  ScriptedExtractor extractor;
  for (const wchar_t* name : {L"A", L"B", L"C"})
    extractor.failures[name] = {{DiskFull(), L"", Kind::kFileError}};
  std::vector<std::wstring> recorded;
  RecordingView page;
  page.answers = {FileErrorAnswer::kIgnore, FileErrorAnswer::kIgnore, FileErrorAnswer::kIgnore};
  EXPECT_EQ(RunInstallation(Job({L"A", L"B", L"C"}, &recorded, &extractor), page), RunEnd::kFinished);
  EXPECT_EQ(page.overallPositions, (std::vector<int>{100, 200, 300, 300}));
  EXPECT_EQ(page.Tail(kFinishedEnd.size()), kFinishedEnd);
  EXPECT_EQ(recorded, std::vector<std::wstring>{L"D:\\Maps\\"});
}

TEST(CopyRun, WithoutAnErrorTextTheQuestionTakesTheGermanTextOfTheErrorThenTheGenericText) {
  // The German text is formed from the raised error alone.
  const package::ExtractionError unopened(package::ErrorKind::kOutputNotOpened, L"x", FileError());
  EXPECT_EQ(FileErrorMessage(L"", package::ExtractErrorText(unopened)),
            L"Die Ausgabedatei 'x' konnte nicht ge\u00f6ffnet werden.");
  EXPECT_EQ(package::ExtractErrorText(FileError(FileError::kDiskFull, 28, L"x")), L"");
  // A failure that is no file error has neither text, on every attempt: an
  // earlier attempt's error never stands in for it.
  ScriptedExtractor extractor;
  extractor.failures[L"A"] = {{FileError(FileError::kAccessDenied, 13, L"y"), L"x", Kind::kFileError},
                              {FileError(), L"", Kind::kStdException}};
  extractor.failures[L"B"] = {{FileError(), L"", Kind::kAnythingElse}};
  std::vector<std::wstring> recorded;
  RecordingView page;
  page.answers = {FileErrorAnswer::kRetry, FileErrorAnswer::kIgnore, FileErrorAnswer::kIgnore};
  EXPECT_EQ(RunInstallation(Job({L"A", L"B"}, &recorded, &extractor), page), RunEnd::kFinished);
  ASSERT_EQ(page.questions.size(), 3u);
  EXPECT_EQ(page.questions[0], L"Access to y was denied.");
  EXPECT_EQ(page.questions[1], L"Generic Error reading or writing the file.");
  EXPECT_EQ(page.questions[2], L"Generic Error reading or writing the file.");
}

TEST(CopyRun, ALongErrorTextIsCutTo1023Characters) {
  EXPECT_EQ(FileErrorMessage(std::wstring(2000, L'e'), L"").size(), 1023u);
  EXPECT_EQ(FileErrorMessage(L"", L""), L"Generic Error reading or writing the file.");
}

TEST(CopyRun, AnythingThrownIsAskedAboutWithTheGenericTextAndTheRunReachesFinish) {
  ScriptedExtractor extractor;
  extractor.failures[L"A"] = {{FileError(), L"", Kind::kAnythingElse}};
  extractor.failures[L"B"] = {{FileError(), L"", Kind::kAnythingElse}};
  std::vector<std::wstring> recorded;
  RecordingView page;
  page.answers = {FileErrorAnswer::kIgnore, FileErrorAnswer::kAbort};
  EXPECT_EQ(RunInstallation(Job({L"A", L"B", L"C"}, &recorded, &extractor), page), RunEnd::kStopped);
  EXPECT_EQ(page.questions, (std::vector<std::wstring>(2, L"Generic Error reading or writing the file.")));
  EXPECT_EQ(page.Tail(3), (std::vector<std::wstring>{L"file ''", L"cancelled", L"sheet enabled"}));
  EXPECT_TRUE(recorded.empty());
}

TEST(CopyRun, TheEndStepsKeepTheirOrderAndGeoPathIsWrittenBeforeTheSheetIsEnabled) {
  // Finish is posted before the texts and GeoPath; whoever waits for the
  // run must wait for the sheet to be enabled, the last step.
  ScriptedExtractor extractor;
  RecordingView page;
  InstallationJob job = Job({L"A", L"B", L"C"}, nullptr, &extractor);
  job.recordDestination = [&page](std::wstring destination) {
    page.events.push_back(L"geopath " + destination);
    return true;
  };
  EXPECT_EQ(RunInstallation(job, page), RunEnd::kFinished);
  const std::vector<std::wstring> end = {L"package 0",       L"overall 300",        L"finish button",
                                         L"cancel disabled", L"heading ''",         L"file ''",
                                         L"finished",        L"geopath D:\\Maps\\", L"sheet enabled"};
  EXPECT_EQ(page.Tail(end.size()), end);
}

TEST(CopyRun, AFailureOutsideEveryPackageIsAskedAboutAndStillEndsWithFinish) {
  ScriptedExtractor extractor;
  RecordingView page;
  InstallationJob job = Job({L"A"}, nullptr, &extractor);
  int failures = 1;
  job.recordDestination = [&failures](std::wstring) {
    if (failures-- > 0) throw 42;
    return true;
  };
  // Retry runs the whole installation again; this time it goes through.
  page.answers = {FileErrorAnswer::kRetry};
  EXPECT_EQ(RunInstallation(job, page), RunEnd::kFinished);
  EXPECT_EQ(extractor.calls, (std::vector<std::wstring>{L"A", L"A"}));
  EXPECT_EQ(page.questions, std::vector<std::wstring>{L"Generic Error reading or writing the file."});
  EXPECT_EQ(page.Tail(2), (std::vector<std::wstring>{L"finished", L"sheet enabled"}));

  // Abort ends the run as stopped.
  RecordingView stopped;
  failures = 1;
  stopped.answers = {FileErrorAnswer::kAbort};
  EXPECT_EQ(RunInstallation(job, stopped), RunEnd::kStopped);
  const std::vector<std::wstring> end = EndSteps(100, L"cancelled", {L"question"});
  EXPECT_EQ(stopped.Tail(end.size()), end);
}

TEST(CopyRun, AWorkerThatWillNotStartIsAskedAboutAndEndsAsAStoppedRun) {
  std::vector<std::wstring> recorded;
  RecordingView page;
  page.answers = {FileErrorAnswer::kRetry, FileErrorAnswer::kIgnore};
  int starts = 0;
  EXPECT_FALSE(StartInstallation(Job({L"A", L"B"}, &recorded, nullptr), page, [&](std::wstring& failure) {
    if (++starts == 1) failure = L"Not enough memory.";
    return false;
  }));
  EXPECT_EQ(starts, 2);
  EXPECT_EQ(page.questions,
            (std::vector<std::wstring>{L"Not enough memory.", L"Generic Error reading or writing the file."}));
  const std::vector<std::wstring> end = EndSteps(200, L"cancelled", {L"question", L"overall range 200"});
  EXPECT_EQ(page.Tail(end.size()), end);
  EXPECT_TRUE(recorded.empty());

  // Started at the second attempt: the worker takes over, the page is left alone.
  RecordingView started;
  started.answers = {FileErrorAnswer::kRetry};
  starts = 0;
  EXPECT_TRUE(
      StartInstallation(Job({L"A"}, &recorded, nullptr), started, [&](std::wstring&) { return ++starts == 2; }));
  EXPECT_EQ(started.events, std::vector<std::wstring>{L"question"});
}

TEST(CopyRun, TheSessionsJobInstallsItsChoiceAndRemembersItsDestination) {
  SettingsSandbox sandbox;
  RealMedium medium;
  WritePackage(medium.karten, L"PKG-A", L"Alpen", "alpine", L"a.txt", L"alpen");
  WritePackage(medium.karten, L"PKG-B", L"Bayern", "bavarian", L"b.txt", L"bayern");

  WizardSession session;
  session.SetPackageFolder(medium.karten);
  session.ChoosePackages({{true, false, {L"PKG-B", L"Bayern", {}}}, {false, false, {L"PKG-A", L"Alpen", {}}}});
  session.SetDestinationFolder(medium.target.Folder());
  InstallationJob job = session.BuildInstallationJob();
  EXPECT_EQ(job.packageFolder, medium.karten);
  EXPECT_EQ(job.destinationFolder, medium.target.Folder());
  EXPECT_EQ(job.packages, std::vector<std::wstring>{L"PKG-B"});

  // The job is the run's own: later changes to the session do not reach it.
  session.ChoosePackages({});
  session.SetDestinationFolder(L"X:\\elsewhere");
  EXPECT_EQ(job.packages, std::vector<std::wstring>{L"PKG-B"});

  RecordingView page;
  EXPECT_EQ(RunInstallation(job, page), RunEnd::kFinished);
  EXPECT_TRUE(std::filesystem::exists(medium.target.path() / "bayern" / "b.txt"));
  EXPECT_FALSE(std::filesystem::exists(medium.target.path() / "alpen"));
  std::wstring remembered;
  ASSERT_TRUE(session.ReadGeoPath(remembered));
  // Read back by the Windows rule, which adds "\" to a native "/".
  EXPECT_EQ(remembered, EnsureTrailingBackslash(medium.target.Folder()));
}

// The user's Cancel reaches the run as the job's stopRequested.
TEST(CopyRunCancel, AStopMidPackageEndsTheRunAsCancelledAndStartsNothingMore) {
  ScriptedExtractor extractor;
  std::atomic<bool> stop{false};
  extractor.halfway = [&stop](const std::wstring& name) {
    if (name == L"B") stop = true;
  };
  RunLog run;
  std::vector<std::wstring> recorded;
  InstallationJob job = Job({L"A", L"B", L"C"}, &recorded, &extractor);
  job.stopRequested = [&stop] { return stop.load(); };
  job.log = &run.log;
  RecordingView page;
  EXPECT_EQ(RunInstallation(job, page), RunEnd::kCancelled);
  EXPECT_EQ(extractor.calls, (std::vector<std::wstring>{L"A", L"B"}));
  EXPECT_EQ(page.Tail(kCancelledEnd.size()), kCancelledEnd);
  EXPECT_TRUE(page.questions.empty());
  EXPECT_TRUE(recorded.empty());
  // A counts, the cancelled B does not; the end shows the bar full.
  EXPECT_EQ(page.overallPositions, (std::vector<int>{50, 100, 100, 150, 300}));
  run.ExpectHas({L"Package A: end", L"Package B: cancelled by the user",
                 L"GeoPath not written: the user cancelled the installation"});
  EXPECT_FALSE(run.Has(L"Package C")) << run.Text();
}

TEST(CopyRunCancel, AStopBetweenPackagesIsSeenBeforeTheNextOneStarts) {
  // An engine that finishes the package in hand although the stop came
  // during it: the run itself asks before the next.
  ScriptedExtractor extractor;
  bool stop = false;
  int asked = 0;
  InstallationJob job = Job({L"A", L"B"}, nullptr, &extractor);
  job.extract = [&](const std::wstring& path, const std::wstring& name, const std::wstring& destination,
                    package::Observer& observer) {
    const package::Result result = extractor.Function()(path, name, destination, observer);
    stop = true;
    return result;
  };
  job.stopRequested = [&] {
    ++asked;
    return stop;
  };
  RunLog run;
  job.log = &run.log;
  RecordingView page;
  EXPECT_EQ(RunInstallation(job, page), RunEnd::kCancelled);
  EXPECT_EQ(extractor.calls, std::vector<std::wstring>{L"A"});
  EXPECT_EQ(page.Tail(kCancelledEnd.size()).back(), L"sheet enabled");
  run.ExpectHas({L"Package A: end", L"cancelled the installation before package B"});

  // Never asked to stop (the user said No): asked all the same, and the run
  // goes through.
  ScriptedExtractor all;
  std::vector<std::wstring> recorded;
  InstallationJob goesOn = Job({L"A", L"B", L"C"}, &recorded, &all);
  asked = 0;
  goesOn.stopRequested = [&asked] {
    ++asked;
    return false;
  };
  RecordingView finished;
  EXPECT_EQ(RunInstallation(goesOn, finished), RunEnd::kFinished);
  EXPECT_GE(asked, 6) << "before each package and halfway through each";
  EXPECT_EQ(finished.Tail(kFinishedEnd.size()), kFinishedEnd);
  EXPECT_EQ(recorded.size(), 1u);
}

TEST(CopyRunCancel, AStopThatComesAfterTheLastPackageChangesNothing) {
  // The user said Yes while the run was taking its last steps.
  ScriptedExtractor extractor;
  bool stop = false;
  InstallationJob job = Job({L"A"}, nullptr, &extractor);
  std::vector<std::wstring> recorded;
  job.recordDestination = [&](std::wstring destination) {
    stop = true;
    recorded.push_back(std::move(destination));
    return true;
  };
  job.stopRequested = [&stop] { return stop; };
  RecordingView page;
  EXPECT_EQ(RunInstallation(job, page), RunEnd::kFinished);
  EXPECT_EQ(recorded.size(), 1u);
  EXPECT_EQ(page.Tail(2), (std::vector<std::wstring>{L"finished", L"sheet enabled"}));
}

TEST(CopyRunCancel, AfterAStopNoFailureIsPutToTheUserAndNoRetryIsMade) {
  // The stop came while the extraction failed: nobody is asked.
  ScriptedExtractor extractor;
  extractor.failures[L"A"] = {{DiskFull(), L"", Kind::kFileError}};
  bool stop = false;
  InstallationJob job = Job({L"A", L"B"}, nullptr, &extractor);
  job.extract = [&](const std::wstring& path, const std::wstring& name, const std::wstring& destination,
                    package::Observer& observer) {
    stop = true;
    return extractor.Function()(path, name, destination, observer);
  };
  job.stopRequested = [&stop] { return stop; };
  RunLog run;
  job.log = &run.log;
  RecordingView page;
  EXPECT_EQ(RunInstallation(job, page), RunEnd::kCancelled);
  EXPECT_TRUE(page.questions.empty());
  EXPECT_EQ(extractor.calls, std::vector<std::wstring>{L"A"});
  EXPECT_TRUE(run.Has(L"Error in package A")) << "the failure is still logged\n" << run.Text();

  // The stop came while the question was open and the answer was Retry: the
  // stop wins. An answerer stands in for the user here.
  ScriptedExtractor failing;
  failing.failures[L"A"] = {{DiskFull(), L"", Kind::kFileError}};
  bool stopLater = false;
  InstallationJob retried = Job({L"A", L"B"}, nullptr, &failing);
  retried.stopRequested = [&stopLater] { return stopLater; };
  RecordingView asked;
  retried.answer = [&](const FailureQuestion&) {
    stopLater = true;
    return FileErrorAnswer::kRetry;
  };
  EXPECT_EQ(RunInstallation(retried, asked), RunEnd::kCancelled);
  EXPECT_EQ(failing.calls, std::vector<std::wstring>{L"A"});
  EXPECT_EQ(asked.Tail(3), (std::vector<std::wstring>{L"file ''", L"cancelled", L"sheet enabled"}));

  // Something unexpected escapes the run after the user said Yes: it ends
  // as cancelled, without the generic question and without GeoPath.
  ScriptedExtractor last;
  bool stopAtEnd = false;
  InstallationJob broken = Job({L"A"}, nullptr, &last);
  broken.recordDestination = [&stopAtEnd](std::wstring) -> bool {
    stopAtEnd = true;
    throw 42;
  };
  broken.stopRequested = [&stopAtEnd] { return stopAtEnd; };
  RecordingView unexpected;
  EXPECT_EQ(RunInstallation(broken, unexpected), RunEnd::kCancelled);
  EXPECT_TRUE(unexpected.questions.empty());
  EXPECT_EQ(unexpected.Tail(2), (std::vector<std::wstring>{L"cancelled", L"sheet enabled"}));
}

TEST(CopyRunLog, NamesEachPackagesStartEveryFileAndItsEndWithCountAndBytes) {
  RealMedium medium;
  WritePackage(medium.karten, L"PKG-A", L"Alpen", "alpine data", L"a.txt", L"alpen");
  {
    package::PackageWriter writer(package::BuildPackagePath(medium.karten, L"PKG-B"),
                                  *package::PackageHeader::Make(L"PKG-B", L"B", L"two files"));
    writer.AddData(L"b", L"one.txt", "12345", 5, 0, 0);
    writer.AddData(L"b", L"two.txt", "1234567", 7, 0, 0);
    writer.Close();
  }
  RunLog run;
  std::vector<std::wstring> recorded;
  InstallationJob job = medium.JobFor({L"PKG-A", L"PKG-B"}, &recorded);
  job.log = &run.log;
  RecordingView page;
  EXPECT_EQ(RunInstallation(job, page), RunEnd::kFinished);

  const std::string text = run.Text();
  const std::vector<std::wstring> inOrder = {L"Package PKG-A: start",
                                             L"a.txt (11 bytes)",
                                             L"Package PKG-A: end, 1 files, 11 bytes, ",
                                             L"Package PKG-B: start",
                                             L"one.txt (5 bytes)",
                                             L"two.txt (7 bytes)",
                                             L"Package PKG-B: end, 2 files, 12 bytes, ",
                                             L"GeoPath written: " + medium.target.Folder()};
  std::size_t at = 0;
  for (const std::wstring& part : inOrder) {
    at = text.find(text::ToUtf8(part), at);
    ASSERT_NE(at, std::string::npos) << text::ToUtf8(part) << "\n" << text;
  }
}

TEST(CopyRunLog, EveryFailureIsLoggedWithItsFileCodeAndAnswer) {
  ScriptedExtractor extractor;
  extractor.failures[L"A"] = {{DiskFull(), L"", Kind::kFileError}};
  extractor.failures[L"B"] = {{FileError(), L"", Kind::kAnythingElse}};
  RunLog run;
  InstallationJob job = Job({L"A", L"B"}, nullptr, &extractor);
  job.log = &run.log;
  RecordingView page;
  page.answers = {FileErrorAnswer::kRetry, FileErrorAnswer::kIgnore};
  EXPECT_EQ(RunInstallation(job, page), RunEnd::kFinished);
  run.ExpectHas({L"A.nwq): file D:\\Maps\\big.dat, cause 13, system code 112 (", L"Answer: Retry", L"Package A: end",
                 L"B.nwq), not a file error", L"Answer: Ignore", L"Package B: ignored"});
}

TEST(CopyRunAnswerer, StandsInForTheUserAndCountsTheAttemptsOfEachPackage) {
  ScriptedExtractor extractor;
  extractor.failures[L"A"] = {{DiskFull(), L"", Kind::kFileError}};
  extractor.failures[L"B"] = {{DiskFull(), L"", Kind::kFileError}, {DiskFull(), L"", Kind::kFileError}};
  std::vector<std::pair<std::wstring, int>> asked;
  InstallationJob job = Job({L"A", L"B"}, nullptr, &extractor);
  job.answer = [&asked](const FailureQuestion& question) {
    asked.emplace_back(question.packageName, question.attempt);
    EXPECT_EQ(question.message, L"Disk full while accessing D:\\Maps\\big.dat.");
    return FileErrorAnswer::kRetry;
  };
  RecordingView page;
  EXPECT_EQ(RunInstallation(job, page), RunEnd::kFinished);
  EXPECT_TRUE(page.questions.empty());
  EXPECT_EQ(asked, (std::vector<std::pair<std::wstring, int>>{{L"A", 1}, {L"B", 1}, {L"B", 2}}));
}

TEST(CopyRunAnswerer, APackageThatNoLongerOpensPassesInTheWizardButFailsAnUnattendedRun) {
  ScriptedExtractor extractor;
  package::Result gone;
  gone.outcome = package::Outcome::kCannotOpen;
  gone.openError = FileError(FileError::kFileNotFound, 2, L"P:\\Karten\\B.nwq");
  package::Result foreign;
  foreign.outcome = package::Outcome::kInvalidHeader;
  foreign.headerFault = package::HeaderFault::kWrongMagic;
  extractor.notExtracted = {{L"B", gone}, {L"C", foreign}};

  {  // The wizard: the catalogue had offered them, so they pass as done.
    RunLog run;
    std::vector<std::wstring> recorded;
    InstallationJob job = Job({L"A", L"B", L"C"}, &recorded, &extractor);
    job.log = &run.log;
    RecordingView page;
    EXPECT_EQ(RunInstallation(job, page), RunEnd::kFinished);
    EXPECT_TRUE(page.questions.empty());
    EXPECT_EQ(recorded.size(), 1u);
    run.ExpectHas({L"The package B cannot be opened", L"The package C is damaged"});
  }
  {  // Unattended: each is a failure, put to the answerer with the package named.
    for (const std::wstring& failing : {std::wstring(L"B"), std::wstring(L"C")}) {
      RunLog run;
      std::vector<std::wstring> recorded;
      std::vector<std::wstring> messages;
      extractor.calls.clear();
      InstallationJob job = Job({failing, L"D"}, &recorded, &extractor);
      job.log = &run.log;
      job.unopenablePackageFails = true;
      job.answer = [&messages](const FailureQuestion& question) {
        messages.push_back(question.message);
        return question.attempt == 1 ? FileErrorAnswer::kRetry : FileErrorAnswer::kAbort;
      };
      RecordingView page;
      EXPECT_EQ(RunInstallation(job, page), RunEnd::kStopped);
      EXPECT_EQ(extractor.calls, (std::vector<std::wstring>{failing, failing}));
      ASSERT_EQ(messages.size(), 2u);
      EXPECT_NE(messages[0].find(L"The package " + failing), std::wstring::npos);
      EXPECT_TRUE(recorded.empty());
      EXPECT_TRUE(run.Has(L"GeoPath not written")) << run.Text();
    }
  }
}

TEST(CopyRunAnswerer, AnUnattendedRunThatCannotRememberItsDestinationFails) {
  ScriptedExtractor extractor;
  for (const bool unattended : {false, true}) {
    RunLog run;
    InstallationJob job = Job({L"A"}, nullptr, &extractor);
    job.recordDestination = [](std::wstring) { return false; };
    job.log = &run.log;
    if (unattended) job.answer = [](const FailureQuestion&) { return FileErrorAnswer::kAbort; };
    RecordingView page;
    // The wizard's user saw the files arrive; nobody would notice unattended.
    EXPECT_EQ(RunInstallation(job, page), unattended ? RunEnd::kStopped : RunEnd::kFinished);
    EXPECT_TRUE(run.Has(L"GeoPath could not be written: D:\\Maps\\")) << run.Text();
  }
}

TEST(CopyRun, TheTimeLeftLineShowsOnceSteadyAndIsEmptiedWithTheCurrentFile) {
  RealMedium medium;
  // Data that barely compresses: its stored bytes fill most of the package.
  PackageBytes(L"PKG-A").Entry(L"alpen", L"a.txt", Pattern(300000)).Indexed().WriteTo(medium.karten);
  InstallationJob job = medium.JobFor({L"PKG-A"}, nullptr);
  // The package read in five seconds, as from a slow drive.
  job.extract = [](const std::wstring&, const std::wstring&, const std::wstring&, package::Observer& observer) {
    const package::PackageFileRecord record = *package::PackageFileRecord::Make(L"a.txt", L"alpen", 0, 0, 0);
    for (int percent = 0; percent <= 100; ++percent) {
      observer.OnProgress(percent, record);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return package::Result{};
  };
  RecordingView page;
  EXPECT_EQ(RunInstallation(job, page), RunEnd::kFinished);
  ASSERT_GE(page.timeLeftTexts.size(), 2u);
  EXPECT_NE(page.timeLeftTexts.front().find(L" of 292 KB copied, about "), std::wstring::npos)
      << text::ToUtf8(page.timeLeftTexts.front());
  EXPECT_EQ(page.timeLeftTexts.back(), L"");
  EXPECT_EQ(page.events.at(page.timeLeftAfter.back() - 1), L"file ''");

  // Packages the run cannot size (here: none on disk) show no line at all.
  ScriptedExtractor extractor;
  RecordingView unsized;
  RunInstallation(Job({L"A", L"B"}, nullptr, &extractor), unsized);
  EXPECT_EQ(unsized.timeLeftTexts, std::vector<std::wstring>{L""});
}

}  // namespace app
