#include <cstdio>
#include <filesystem>
#include <system_error>

#include "package/reader.h"
#include "platform/text.h"
#include "tools/nwq/commands.h"
#include "tools/nwq/output.h"

namespace nwq {
namespace {

constexpr const wchar_t* kHelp =
    L"usage: nwq extract PACKAGE DEST\n"
    L"Unpacks PACKAGE into the folder DEST (created if missing), exactly as the\n"
    L"setup wizard does, with larger buffers.";

// The tool's extraction buffers: the wizard's 4096/8192 bytes cost a third of
// zlib's speed in calls; these reach nearly all of it.
constexpr ExtractBuffers kToolBuffers{256 * 1024, 1024 * 1024};

// The extractor's callbacks are plain functions; the tool runs one extraction.
bool g_terminal = false;
std::wstring g_lastName;

void ShowProgress(std::int32_t percent, std::int32_t maximum, const std::wstring& fileName) {
  if (g_terminal) {
    constexpr int kWidth = 30;
    const int filled = maximum > 0 ? percent * kWidth / maximum : 0;
    std::wstring bar = L"\r[" + std::wstring(filled, L'#') + std::wstring(kWidth - filled, L' ') + L"] ";
    wchar_t number[8];
    std::swprintf(number, 8, L"%3d%% ", percent);
    std::wstring line = bar + number + fileName;
    if (line.size() < 80) line += std::wstring(80 - line.size(), L' ');
    std::fputs(text::ToUtf8(line).c_str(), stdout);
    std::fflush(stdout);
  } else if (fileName != g_lastName || percent == maximum) {
    Print(std::to_wstring(percent) + L"% " + fileName);
  }
  g_lastName = fileName;
}

void ShowError(const std::wstring& message) {
  if (g_terminal) std::fputs("\n", stdout);
  PrintError(message);
}

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

  std::wstring folder = FolderOfPath(packagePath);
  if (folder.empty()) folder = std::wstring(L".") + platform::kPathSeparator;
  folder.pop_back();  // the package path is formed as folder + separator + name
  g_terminal = platform::IsTerminal(stdout);
  g_lastName.clear();
  try {
    const HRESULT status =
        ExtractPackage(folder, PackageNameFromPath(packagePath), destination, ShowProgress, ShowError, kToolBuffers);
    if (g_terminal) std::fputs("\n", stdout);
    if (status != S_OK) {
      PrintError(packagePath + L": not a valid package (cannot be opened, or its header does not name it)");
      return kExitFailed;
    }
    Print(L"extracted " + packagePath + L" into " + destination);
    return kExitOk;
  } catch (const FileError& error) {
    if (g_terminal) std::fputs("\n", stdout);
    PrintError(error.Text());
    return kExitFailed;
  }
}

}  // namespace nwq
