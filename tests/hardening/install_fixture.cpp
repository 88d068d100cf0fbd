#include "hardening/install_fixture.h"

#include <algorithm>
#include <chrono>

#include "app/installation_run.h"
#include "package/package_path.h"
#include "package/temp_files.h"
#include "package/trace.h"
#include "package/writer.h"
#include "platform/text.h"

namespace {

std::vector<std::uint8_t> TextBytes(const std::string& text) { return {text.begin(), text.end()}; }

// Long before kStoredTime, so an earlier file is told apart from its replacement.
const std::filesystem::file_time_type kEarlierTime = std::chrono::floor<std::chrono::seconds>(
    std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400));

}  // namespace

void InstallFixture::SetUp() {
  package::trace::SetEnabled(false);
  CallbackLog::Errors().clear();
  packageFolder_ = sandbox_.Folder("Karten");
  UseDestination("dest");
  WriteBytes(sandbox_.root() / "beside-dest.txt", TextBytes("must stay as it is\n"));
  std::filesystem::create_directories(sandbox_.root() / "other" / "maps");
  WriteBytes(sandbox_.root() / "other" / "maps" / "kept.bin", NoiseBytes(3000, 7));

  AddPackage(L"MAPA", {{L"", L"readme.txt", TextBytes("North and south sheets.\n")},
                       {L"maps\\north", L"tiles.bin", NoiseBytes(20000, 1)},
                       {L"maps\\south\\", L"tiles.bin", NoiseBytes(9000, 2)}});
  AddPackage(L"MAPB",
             {{L"roads", L"roads.bin", NoiseBytes(30000, 3)}, {L"roads", L"index.txt", TextBytes("A1 A2 B7\n")}});
  AddPackage(L"MAPC", {{L"", L"coast.txt", TextBytes("coastline\n")}});
  RecordOutsideState();
}

void InstallFixture::TearDown() {
  ExpectNoTempFiles();
  EXPECT_EQ(Snapshot(sandbox_.root(), Destination()), outsideBefore_)
      << "something outside the destination was created or changed";
  for (const auto& [name, files] : packages_)
    EXPECT_TRUE(NobodyHasOpen(text::ToUtf8(PackagePath(name)))) << "package left open";
}

void InstallFixture::UseDestination(const std::string& relative) {
  destination_ = sandbox_.Folder(relative);
  destinationPath_ = sandbox_.root() / relative;
  RecordOutsideState();
}

void InstallFixture::AddPackage(const std::wstring& name, std::vector<PackageFile> files) {
  package::PackageWriter writer(PackagePath(name), *package::PackageHeader::Make(name, name + L" sheets", L""));
  for (const PackageFile& file : files)
    writer.AddData(file.folder, file.name, file.content.data(), file.content.size(), kStoredTime, kStoredTime);
  writer.Close();
  packages_[name] = std::move(files);
  RecordOutsideState();
}

std::wstring InstallFixture::PackagePath(const std::wstring& name) const {
  return package::BuildPackagePath(packageFolder_, name);
}

std::wstring InstallFixture::DestinationPath(const std::wstring& relative) const {
  return destination_ + package::package_path::ToNative(relative);
}

std::uint64_t InstallFixture::DataOffset(const std::wstring& name, std::size_t index) const {
  const std::vector<std::uint8_t> bytes = ReadBytes(text::ToUtf8(PackagePath(name)));
  std::uint64_t at = package::kPackageHeaderSize;
  for (std::size_t i = 0;; ++i) {
    package::PackageFileRecord record;
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), record.bytes.size(), record.bytes.begin());
    at += record.bytes.size();
    if (i == index) return at;
    at += static_cast<std::uint64_t>(record.FileSize());
  }
}

HRESULT InstallFixture::Extract(const std::wstring& name) {
  return package::ExtractPackage(packageFolder_, name, destination_, &CallbackLog::OnProgress, &CallbackLog::OnError);
}

namespace {

// The copy page as far as a run's outcome goes: the questions it put.
class AnsweringView : public app::SilentRunView {
 public:
  AnsweringView(const std::function<Answer(const std::wstring&)>& answer, RunOutcome& outcome)
      : answer_(answer), outcome_(outcome) {}
  app::FileErrorAnswer AskAbortRetryIgnore(const std::wstring& message) override {
    outcome_.shownErrors.push_back(message);
    switch (answer_(message)) {
      case Answer::kAbort: return app::FileErrorAnswer::kAbort;
      case Answer::kRetry: return app::FileErrorAnswer::kRetry;
      case Answer::kIgnore: break;
    }
    return app::FileErrorAnswer::kIgnore;
  }

 private:
  const std::function<Answer(const std::wstring&)>& answer_;
  RunOutcome& outcome_;
};

}  // namespace

RunOutcome InstallFixture::Run(const std::vector<std::wstring>& names,
                               const std::function<Answer(const std::wstring&)>& answer) {
  RunOutcome outcome;
  AnsweringView view(answer, outcome);
  app::InstallationJob job;
  job.packageFolder = packageFolder_;
  job.destinationFolder = destination_;
  job.packages = names;
  job.recordDestination = [&](const std::wstring&) {
    outcome.destinationRecorded = true;
    return true;
  };
  outcome.stopped = app::RunInstallation(job, view) != app::RunEnd::kFinished;
  return outcome;
}

void InstallFixture::ExpectInstalled(const std::wstring& name) {
  for (const PackageFile& file : packages_.at(name)) {
    std::wstring folder = file.folder;
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    const std::wstring path = DestinationPath(folder + file.name);
    EXPECT_EQ(ReadBytes(text::ToUtf8(path)), file.content) << text::ToUtf8(path);
    platform::FileTimes times;
    ASSERT_TRUE(platform::GetFileTimes(path, &times)) << text::ToUtf8(path);
    EXPECT_EQ(times.lastWrite, kStoredTime) << text::ToUtf8(path);
  }
}

void InstallFixture::ExpectNothingOf(const std::wstring& name) {
  for (const PackageFile& file : packages_.at(name)) {
    const std::wstring folder = file.folder.empty() ? L"" : file.folder.substr(0, file.folder.find(L'\\'));
    const std::wstring first = folder.empty() ? file.name : folder;
    EXPECT_FALSE(std::filesystem::exists(text::ToUtf8(DestinationPath(first)))) << text::ToUtf8(first);
  }
}

void InstallFixture::PlaceEarlier(const std::wstring& relative, const std::vector<std::uint8_t>& content) {
  const std::filesystem::path path = text::ToUtf8(DestinationPath(relative));
  std::filesystem::create_directories(path.parent_path());
  WriteBytes(path, content);
  std::filesystem::last_write_time(path, kEarlierTime);
  earlier_[relative] = content;
}

void InstallFixture::ExpectEarlierKept(const std::wstring& relative) {
  const std::filesystem::path path = text::ToUtf8(DestinationPath(relative));
  ASSERT_TRUE(std::filesystem::is_regular_file(path)) << path;
  EXPECT_TRUE(ReadBytes(path) == earlier_.at(relative)) << path << " is not the earlier file";
  EXPECT_EQ(std::filesystem::last_write_time(path), kEarlierTime) << path;
}

void InstallFixture::ExpectNoTempFiles() {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(sandbox_.root()))
    EXPECT_FALSE(package::temp_files::IsTempName(text::FromUtf8(entry.path().filename().string())))
        << "temporary file left: " << entry.path();
}
