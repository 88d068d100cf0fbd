#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "package/engine.h"
#include "package/size_index.h"
#include "package/trace.h"
#include "platform/fs_path.h"
#include "platform/text.h"
#include "tools/nwq/commands.h"
#include "tools/nwq/output.h"
#include "tools/nwq/package_open.h"

namespace nwq {
namespace {

constexpr const wchar_t* kHelp =
    L"usage: nwq extract PACKAGE DEST [--jobs N] [--update]\n"
    L"Unpacks PACKAGE into the folder DEST (created if missing), exactly as the\n"
    L"setup wizard does, with larger buffers. --jobs N decodes up to N files at\n"
    L"once (1 to 64; by default one per hardware thread); files are still written\n"
    L"in the package's order. --update leaves every file that has its entry's\n"
    L"size and modified time already, without reading it; a package without a\n"
    L"valid size index is written whole.";

constexpr std::size_t kMaxJobs = 64;

// A whole number from 1 to kMaxJobs; 0 for anything else.
std::size_t ParseJobs(const std::wstring& value) {
  if (value.empty() || value.size() > 2) return 0;
  std::size_t jobs = 0;
  for (const wchar_t c : value) {
    if (c < L'0' || c > L'9') return 0;
    jobs = jobs * 10 + static_cast<std::size_t>(c - L'0');
  }
  return jobs <= kMaxJobs ? jobs : 0;
}

// A bar on a terminal; elsewhere one line per file and one at 100 %.
class ProgressDisplay : public package::Observer {
 public:
  explicit ProgressDisplay(bool terminal) : terminal_(terminal) {}

  // With --update: `noIndex` names the package when it has no valid size
  // index, once its header has passed.
  void Update(std::wstring noIndex) {
    updating_ = true;
    noIndex_ = std::move(noIndex);
  }
  std::uint64_t unchanged() const { return unchanged_; }

  void OnHeaderChecked(const package::PackageHeader& header, package::HeaderFault fault) override {
    package::trace::TraceHeader(header, fault);
    if (updating_ && fault == package::HeaderFault::kNone && !noIndex_.empty())
      PrintError(noIndex_ + L": no valid size index, so every file is written");
  }
  // The quick check of a tree refreshed by copying: same size and same
  // modified time is the same file. No content is read.
  package::TargetCheck CompareTarget(const package::EntryFacts& facts) override {
    const bool same =
        facts.target && facts.modified && facts.target->size == facts.size && facts.target->modified == *facts.modified;
    return same ? package::TargetCheck::kUnchanged : package::TargetCheck::kWrite;
  }
  void OnEntryUnchanged(const package::EntryFacts&, bool) override { ++unchanged_; }
  void OnEntryStarted(const package::PackageFileRecord& record, const std::wstring&) override {
    package::trace::TraceRecord(record);
  }
  void OnProgress(std::int32_t percent, const package::PackageFileRecord& record) override {
    const std::wstring fileName = record.Name();
    if (terminal_) {
      constexpr int kWidth = 30;
      const int filled = percent * kWidth / 100;
      std::wstring bar = L"\r[" + std::wstring(filled, L'#') + std::wstring(kWidth - filled, L' ') + L"] ";
      wchar_t number[8];
      std::swprintf(number, 8, L"%3d%% ", percent);
      std::wstring line = bar + number + fileName;
      if (line.size() < 80) line += std::wstring(80 - line.size(), L' ');
      std::fputs(text::ToUtf8(line).c_str(), stdout);
      std::fflush(stdout);
    } else if (fileName != lastName_ || percent == 100) {
      Print(std::to_wstring(percent) + L"% " + fileName);
    }
    lastName_ = fileName;
  }
  void EndLine() {
    if (terminal_) std::fputs("\n", stdout);
  }

 private:
  bool terminal_;
  std::wstring lastName_;
  bool updating_ = false;
  std::wstring noIndex_;
  std::uint64_t unchanged_ = 0;
};

// Whether the package ends in a size index that checks out; a file that
// cannot be read says so when it is extracted.
bool HasValidIndex(const std::wstring& path) {
  try {
    return package::size_index::ReadFile(path).IsValid();
  } catch (...) {
    return true;
  }
}

}  // namespace

int Extract(const Arguments& arguments) {
  if (HasHelpFlag(arguments)) {
    Print(kHelp);
    return kExitOk;
  }
  Arguments positional;
  package::Options options{package::kLargeBuffers, 0};
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == L"--update") {
      options.skipUnchanged = true;
      continue;
    }
    if (arguments[i] != L"--jobs") {
      positional.push_back(arguments[i]);
      continue;
    }
    if (i + 1 == arguments.size()) {
      PrintError(L"--jobs needs a value");
      return kExitUsage;
    }
    options.decoders = ParseJobs(arguments[++i]);
    if (options.decoders == 0) {
      PrintError(L"--jobs takes a number from 1 to " + std::to_wstring(kMaxJobs) + L", not '" + arguments[i] + L"'");
      return kExitUsage;
    }
  }
  if (positional.size() != 2) {
    Print(kHelp);
    return kExitUsage;
  }
  const std::wstring& packagePath = positional[0];
  // Taken as it stands, "" would end as the separator alone: the root.
  if (positional[1].empty()) {
    PrintError(L"DEST must name a folder, it is empty");
    return kExitUsage;
  }
  std::error_code ec;
  std::wstring destination = platform::WidePath(std::filesystem::absolute(platform::FsPath(positional[1]), ec));
  if (ec || destination.empty()) destination = positional[1];
  if (destination.back() != platform::kPathSeparator) destination += platform::kPathSeparator;

  const std::wstring name = PackageNameFor(packagePath);
  if (name.empty()) return kExitFailed;
  ProgressDisplay display(platform::IsTerminal(stdout));
  try {
    if (options.skipUnchanged) display.Update(HasValidIndex(packagePath) ? L"" : packagePath);
    const package::Result result = package::Extract(packagePath, name, destination, display, options);
    if (result.outcome != package::Outcome::kExtracted) {
      PrintError(Refusal(packagePath, name, result));
      return kExitFailed;
    }
    display.EndLine();
    Print(L"extracted " + packagePath + L" into " + destination);
    if (options.skipUnchanged) Print(L"files unchanged: " + std::to_wstring(display.unchanged()));
    return kExitOk;
  } catch (const package::ExtractionError& error) {
    // The German line first, as the wizard's callback hears it, then the file error's.
    display.EndLine();
    PrintError(package::ExtractErrorText(error));
    display.EndLine();
    PrintError(error.Text());
    return kExitFailed;
  } catch (...) {
    display.EndLine();
    PrintError(CurrentErrorText(packagePath));
    return kExitFailed;
  }
}

}  // namespace nwq
