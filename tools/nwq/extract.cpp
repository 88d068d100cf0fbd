#include <cstdio>
#include <filesystem>
#include <system_error>

#include "package/engine.h"
#include "package/trace.h"
#include "platform/text.h"
#include "tools/nwq/commands.h"
#include "tools/nwq/output.h"
#include "tools/nwq/package_open.h"

namespace nwq {
namespace {

constexpr const wchar_t* kHelp =
    L"usage: nwq extract PACKAGE DEST\n"
    L"Unpacks PACKAGE into the folder DEST (created if missing), exactly as the\n"
    L"setup wizard does, with larger buffers.";

// The tool's extraction buffers: the wizard's 4096/8192 bytes cost a third of
// zlib's speed in calls; these reach nearly all of it.
constexpr ExtractBuffers kToolBuffers{256 * 1024, 1024 * 1024};

// A bar on a terminal; elsewhere one line per file and one at 100 %.
class ProgressDisplay : public package_engine::Observer {
 public:
  explicit ProgressDisplay(bool terminal) : terminal_(terminal) {}

  void OnHeaderChecked(const PackageHeader& header, HeaderFault fault) override {
    package_trace::TraceHeader(header, fault);
  }
  void OnEntryStarted(const PackageFileRecord& record, const std::wstring&) override {
    package_trace::TraceRecord(record);
  }
  void OnProgress(std::int32_t percent, const PackageFileRecord& record) override {
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
  void OnError(package_engine::ErrorKind kind, const std::wstring& path) override {
    EndLine();
    PrintError(ExtractErrorText(kind, path));
  }

  void EndLine() {
    if (terminal_) std::fputs("\n", stdout);
  }

 private:
  bool terminal_;
  std::wstring lastName_;
};

}  // namespace

int Extract(const Arguments& arguments) {
  if (HasHelpFlag(arguments)) {
    Print(kHelp);
    return kExitOk;
  }
  if (arguments.size() != 2) {
    Print(kHelp);
    return kExitUsage;
  }
  const std::wstring& packagePath = arguments[0];
  std::error_code ec;
  std::wstring destination = std::filesystem::absolute(std::filesystem::path(arguments[1]), ec).wstring();
  if (ec || destination.empty()) destination = arguments[1];
  if (destination.back() != platform::kPathSeparator) destination += platform::kPathSeparator;

  const std::wstring name = PackageNameFor(packagePath);
  if (name.empty()) return kExitFailed;
  ProgressDisplay display(platform::IsTerminal(stdout));
  try {
    const package_engine::Result result =
        package_engine::Extract(packagePath, name, destination, display, {kToolBuffers});
    if (result.outcome != package_engine::Outcome::kExtracted) {
      PrintError(Refusal(packagePath, name, result));
      return kExitFailed;
    }
    display.EndLine();
    Print(L"extracted " + packagePath + L" into " + destination);
    return kExitOk;
  } catch (const FileError& error) {
    display.EndLine();
    PrintError(error.Text());
    return kExitFailed;
  }
}

}  // namespace nwq
