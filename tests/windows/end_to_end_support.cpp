#include "end_to_end_support.h"

#include <prsht.h>
#include <shlwapi.h>

#include <cctype>
#include <cstdlib>
#include <random>

#include "package/writer.h"
#include "resources/resource.h"

namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\Varnholt\\Settings";

std::wstring UnixToWine(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* c = unixPath; *c != '\0'; ++c)
    path += (*c == '/') ? L'\\' : static_cast<wchar_t>(*c);
  return path;
}

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::wstring EnvPath(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? UnixToWine(value) : std::wstring();
}

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& value : bytes)
    value = static_cast<std::uint8_t>(generator());
  return bytes;
}

Medium::Medium(const char* programVariable) {
  std::filesystem::create_directories(dir_.path() / L"Karten");
  const std::wstring program = EnvPath(programVariable);
  ::CopyFileW(program.c_str(), (dir_.path() / L"Tessavo.exe").c_str(), FALSE);
}

void Medium::Add(const std::wstring& name, const std::wstring& title, const std::vector<PackageFile>& files) {
  package::PackageWriter writer(package::BuildPackagePath(dir_.Folder(L"Karten"), name),
                                *package::PackageHeader::Make(name, title, L"e2e"));
  for (const PackageFile& file : files) {
    writer.AddData(file.folder, file.name, file.content.data(), file.content.size(), kStoredTime, kStoredTime);
  }
  writer.Close();
}

bool Medium::Create(const std::wstring& name, const std::wstring& title, const std::vector<PackageFile>& files,
                    std::optional<std::uint64_t> written) {
  TempDir source;
  for (const PackageFile& file : files) {
    std::filesystem::create_directories(source.path() / file.folder);
    const std::filesystem::path path = source.path() / file.folder / file.name;
    WriteAll(path, file.content);
    if (written && !SetWriteTime(path, *written)) return false;
  }
  RemoteWizard nwq(EnvPath("NWQ_EXE"),
                   L"create \"" + Package(name) + L"\" \"" + source.path().wstring() + L"\" --title \"" + title + L"\"",
                   false);
  return nwq.WaitForExit(std::chrono::seconds(60)) == 0;
}

std::wstring Medium::Package(const std::wstring& name) const {
  return package::BuildPackagePath(dir_.Folder(L"Karten"), name);
}

bool SetWriteTime(const std::filesystem::path& path, std::uint64_t time) {
  const UniqueFileHandle file(
      ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  const FILETIME written{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
  return ::SetFileTime(file.Get(), nullptr, nullptr, &written) != FALSE;
}

void ClearSettings() { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKey); }

void StoreGeoPath(const std::wstring& value) {
  HKEY opened = nullptr;
  ASSERT_EQ(::RegCreateKeyW(HKEY_LOCAL_MACHINE, kSettingsKey, &opened), ERROR_SUCCESS);
  const UniqueRegistryKey key(opened);
  ::RegSetValueExW(opened, L"GeoPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::wstring StoredGeoPath() {
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &opened) != ERROR_SUCCESS) return L"(no key)";
  const UniqueRegistryKey key(opened);
  wchar_t value[1024] = {};
  DWORD size = sizeof(value) - sizeof(wchar_t);
  const LSTATUS status =
      ::RegQueryValueExW(opened, L"GeoPath", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  return status == ERROR_SUCCESS ? std::wstring(value) : L"(none)";
}

std::filesystem::path InstallRecordPath() {
  wchar_t programs[MAX_PATH] = {};
  ::GetEnvironmentVariableW(L"ProgramFiles", programs, MAX_PATH);
  return std::filesystem::path(programs) / L"Varnholt" / L"Setup" / L"InstallRecord.txt";
}

void ForgetTheInstalledMaps() {
  std::error_code ignored;
  std::filesystem::remove_all(InstallRecordPath().parent_path(), ignored);
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VarnholtMaps");
}

std::wstring SystemText(DWORD code) {
  wchar_t text[1024] = {};
  ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 1024, nullptr);
  std::wstring trimmed = text;
  while (!trimmed.empty() && (trimmed.back() == L'\r' || trimmed.back() == L'\n'))
    trimmed.pop_back();
  return trimmed;
}

std::wstring ByteSize(std::uint64_t bytes) {
  wchar_t text[64] = {};
  ::StrFormatByteSizeW(static_cast<LONGLONG>(bytes), text, 64);
  return text;
}

void Screenshot(const std::wstring& name) {
  const std::wstring folder = EnvPath("TESSAVO_ARTIFACTS");
  if (folder.empty()) return;
  ::Sleep(400);  // let the windows finish painting
  ::CreateDirectoryW(folder.c_str(), nullptr);
  SaveScreenshot(folder + L"\\" + name + L".bmp");
}

FileLock::FileLock(const std::filesystem::path& path) {
  std::filesystem::create_directories(path.parent_path());
  handle_.Reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

void WalkToDestinationPage(RemoteWizard& wizard) {
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Welcome"));
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_NEXT);
  WalkOnFromTheChoosePage(wizard);
}

void WalkOnFromTheChoosePage(RemoteWizard& wizard) {
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Choose Files"));
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Choose destination folder"));
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
}

void StartTheCopy(RemoteWizard& wizard) {
  WalkToDestinationPage(wizard);
  ClearSettings();
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Copying Files"));
}

std::vector<bool> Checks(const RemoteWizard& wizard) {
  std::vector<bool> checks;
  for (int row = 0; row < wizard.RowCount(IDC_LIST_FILES); ++row)
    checks.push_back(wizard.RowChecked(IDC_LIST_FILES, row));
  return checks;
}

bool WaitForChecks(const RemoteWizard& wizard, const std::vector<bool>& expected) {
  return WaitUntil([&] { return Checks(wizard) == expected; }, std::chrono::milliseconds(3000));
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::vector<std::string> LogLines(const std::filesystem::path& path) {
  const std::vector<std::uint8_t> bytes = ReadAll(path);
  std::vector<std::string> lines;
  std::string text(bytes.begin(), bytes.end());
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no line end>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string Utf8(const std::wstring& text) {
  std::string bytes;
  for (wchar_t c : text)
    bytes += static_cast<char>(c);  // the paths used here are ASCII
  return bytes;
}

int LineWith(const std::vector<std::string>& lines, const std::string& part) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (Lower(lines[i]).find(Lower(part)) != std::string::npos) return static_cast<int>(i);
  }
  return -1;
}

int CountLinesWith(const std::vector<std::string>& lines, const std::string& part) {
  int count = 0;
  for (const std::string& line : lines)
    count += Lower(line).find(Lower(part)) != std::string::npos ? 1 : 0;
  return count;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  return text;
}

void ExpectTheLogEndsWithExitCode(const std::vector<std::string>& lines, DWORD code) {
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("Exit code: " + std::to_string(code)), std::string::npos) << Joined(lines);
}

Ended RunToTheEnd(const Medium& medium, const std::wstring& arguments, std::chrono::milliseconds timeout) {
  RemoteWizard program(medium.Program(), arguments, false);
  Ended ended;
  ended.code = program.WaitForExit(timeout, &ended.sawWindow);
  return ended;
}
