// What the end-to-end tests share: setup media of packages, the settings key,
// scratch folders, screenshots, the pages walked as a user would, the log a
// run writes, and unattended runs waited for to their end.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "remote_wizard.h"
#include "support/temp_dir.h"
#include "win32_owners.h"

// The exit codes as the program's parent reads them.
constexpr DWORD kSuccess = 0;
constexpr DWORD kUserCancel = 1602;
constexpr DWORD kInstallFailure = 1603;
constexpr DWORD kAlreadyRunning = 1618;
constexpr DWORD kInvalidCommandLine = 1639;
// 2021-03-04 05:06:07 UTC as a Windows file time.
constexpr std::uint64_t kStoredTime = (1614834367ULL + 11644473600ULL) * 10000000ULL;

// The Unix path an environment variable names, as Wine reaches it; empty
// when the variable is not set.
std::wstring EnvPath(const char* name);

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed);

struct PackageFile {
  std::wstring folder;
  std::wstring name;
  std::vector<std::uint8_t> content;
};

// A setup medium: the program beside the folder "Karten" of packages. The
// program is the one the variable names: the shipped build, or
// TESSAVO_PACED_EXE, the test build whose copy can be slowed down.
class Medium {
 public:
  explicit Medium(const char* programVariable = "TESSAVO_EXE");
  void Add(const std::wstring& name, const std::wstring& title, const std::vector<PackageFile>& files);
  // The package as its makers build it: the files laid out in a folder and
  // packed by the real `nwq create`. True when the tool succeeded. The files
  // are as new as the test unless `written` gives their last-write time.
  bool Create(const std::wstring& name, const std::wstring& title, const std::vector<PackageFile>& files,
              std::optional<std::uint64_t> written = std::nullopt);
  std::wstring Package(const std::wstring& name) const;
  std::wstring Program() const { return dir_.File(L"Tessavo.exe"); }
  const std::filesystem::path& Folder() const { return dir_.path(); }

 private:
  TempDir dir_;
};

// For the programs started meanwhile: the paced build (TESSAVO_PACED_EXE)
// pauses this many milliseconds each time its copy run asks whether to stop,
// so that a copy of little data takes long enough for a Cancel to land in it
// or for the copy page to show its estimate.
class PacedCopy {
 public:
  explicit PacedCopy(const wchar_t* milliseconds = L"400") { ::SetEnvironmentVariableW(kVariable, milliseconds); }
  ~PacedCopy() { ::SetEnvironmentVariableW(kVariable, nullptr); }
  PacedCopy(const PacedCopy&) = delete;
  PacedCopy& operator=(const PacedCopy&) = delete;

 private:
  static constexpr wchar_t kVariable[] = L"VARNHOLT_TEST_CHUNK_DELAY_MS";
};

// Sets a file's last-write time (a Windows file time) and nothing else.
bool SetWriteTime(const std::filesystem::path& path, std::uint64_t time);

void ClearSettings();
void StoreGeoPath(const std::wstring& value);
// The stored value; "(none)" without one, "(no key)" without the key.
std::wstring StoredGeoPath();

// The install record that every setup run keeps below Program Files.
std::filesystem::path InstallRecordPath();
// As if nothing had ever been installed: no setup folder (record and setup
// copy), no Installed-apps entry.
void ForgetTheInstalledMaps();

std::wstring SystemText(DWORD code);
// A size as the shell writes it.
std::wstring ByteSize(std::uint64_t bytes);

// A folder directly on drive C:, removed afterwards.
class ScratchFolder {
 public:
  ScratchFolder() : path_(L"C:\\tessavo-e2e-" + std::to_wstring(::GetTickCount64())) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::wstring Folder(const std::wstring& sub = L"") const {
    return (sub.empty() ? path_ : path_ / sub).wstring() + L"\\";
  }

 private:
  std::filesystem::path path_;
};

void Screenshot(const std::wstring& name);

// Holds a file open without sharing, as another program might.
class FileLock {
 public:
  explicit FileLock(const std::filesystem::path& path);
  bool held() const { return handle_.IsValid(); }
  void Release() { handle_.Reset(); }

 private:
  UniqueFileHandle handle_;
};

// Welcome and choose pages with every row left ticked, then the destination
// page; the destination comes from GeoPath.
void WalkToDestinationPage(RemoteWizard& wizard);
// The same from the choose page on, its rows as they are.
void WalkOnFromTheChoosePage(RemoteWizard& wizard);
// From the welcome page into the copy to the destination GeoPath names. The
// key is cleared just before: whatever is stored at the end, the run wrote.
void StartTheCopy(RemoteWizard& wizard);

std::vector<bool> Checks(const RemoteWizard& wizard);
bool WaitForChecks(const RemoteWizard& wizard, const std::vector<bool>& expected);

// `"path"`: the quotes a distribution tool puts around a path, kept even
// where the path ends in a backslash.
std::wstring Quoted(const std::wstring& path);

// The log's lines; a last line without its line end is marked so.
std::vector<std::string> LogLines(const std::filesystem::path& path);
std::string Utf8(const std::wstring& text);
// The index of the first line that contains `part`, ignoring case, or -1.
int LineWith(const std::vector<std::string>& lines, const std::string& part);
int CountLinesWith(const std::vector<std::string>& lines, const std::string& part);
std::string Joined(const std::vector<std::string>& lines);
// The log ends with the run's exit code.
void ExpectTheLogEndsWithExitCode(const std::vector<std::string>& lines, DWORD code);

// Runs the program to its end; its exit code, and whether it showed a window.
struct Ended {
  DWORD code = STILL_ACTIVE;
  bool sawWindow = false;
};
Ended RunToTheEnd(const Medium& medium, const std::wstring& arguments,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(60000));
