// Start-up: the folders worked out from the program's path, the default
// destination, and the remembered destination GeoPath.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <cstdint>
#include <string>
#include <vector>

#include "app/wizard_session.h"
#include "app/folders.h"
#include "app/geo_path.h"
#include "platform/platform.h"
#include "tests/app/settings_sandbox.h"
#if defined(_WIN32)
#include "tests/windows/win32_owners.h"
#endif

namespace app {

using namespace std::string_literals;

namespace {

std::vector<std::uint8_t> Utf16Bytes(const std::u16string& text) {
  std::vector<std::uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

void StoreRawGeoPath(const std::vector<std::uint8_t>& bytes) {
  platform::SettingsKey key;
  ASSERT_EQ(key.OpenOrCreate(kSettingsKeyPath), platform::kErrorSuccess);
  ASSERT_EQ(key.SetStringValue(kGeoPathValueName, bytes.data(), static_cast<std::uint32_t>(bytes.size())),
            platform::kErrorSuccess);
}

std::vector<std::uint8_t> StoredGeoPath() {
  platform::SettingsKey key;
  EXPECT_EQ(key.OpenOrCreate(kSettingsKeyPath), platform::kErrorSuccess);
  std::vector<std::uint8_t> bytes(4096);
  std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
  EXPECT_EQ(key.QueryValue(kGeoPathValueName, bytes.data(), &size), platform::kErrorSuccess);
  bytes.resize(size);
  return bytes;
}

StartupFacts Facts() { return {L"C:\\Setup\\setup.exe", L"C:\\Program Files", L"\\Varnholt\\Digital Maps\\"}; }

}  // namespace

TEST(StartupFolders, ProgramAndPackageFolderComeFromTheProgramPath) {
  EXPECT_EQ(ProgramFolderOf(L"C:\\Setup\\setup.exe"), L"C:\\Setup");
  EXPECT_EQ(PackageFolderOf(ProgramFolderOf(L"C:\\Setup\\setup.exe")), L"C:\\Setup\\Karten\\");
  EXPECT_EQ(ProgramFolderOf(L"D:\\setup.exe"), L"D:");
  // Without a backslash the package folder stands on its own.
  EXPECT_EQ(ProgramFolderOf(L"setup.exe"), L"");
  EXPECT_EQ(PackageFolderOf(ProgramFolderOf(L"setup.exe")), L"\\Karten\\");
}

TEST(StartupFolders, DefaultDestinationFallsBackToThePlaceholder) {
  EXPECT_EQ(DefaultDestination(L"C:\\Program Files", L"\\Varnholt\\Digital Maps\\"),
            L"C:\\Program Files\\Varnholt\\Digital Maps\\");
  EXPECT_EQ(DefaultDestination(std::nullopt, L"\\Varnholt\\Digital Maps\\"),
            L"%ProgramFiles%\\Varnholt\\Digital Maps\\");
}

TEST(StartupFolders, BackslashRule) {
  EXPECT_EQ(EnsureTrailingBackslash(L"D:\\Karten"), L"D:\\Karten\\");
  EXPECT_EQ(EnsureTrailingBackslash(L"D:\\Karten\\"), L"D:\\Karten\\");
  EXPECT_EQ(EnsureTrailingBackslash(L"E:\\"), L"E:\\");
  EXPECT_EQ(EnsureTrailingBackslash(L""), L"\\");
}

TEST(GeoPathValue, DecodesUpToTheFirstNulAndAddsTheBackslash) {
  const auto value = Utf16Bytes(u"D:\\Karten\0junk after the NUL"s);
  EXPECT_EQ(GeoPathFromValue(value.data(), static_cast<std::uint32_t>(value.size())), L"D:\\Karten\\");
  const auto empty = Utf16Bytes(std::u16string(1, u'\0'));
  EXPECT_EQ(GeoPathFromValue(empty.data(), static_cast<std::uint32_t>(empty.size())), L"\\");
  const auto umlaut = Utf16Bytes(u"D:\\Gel\u00e4nde\\"s);
  EXPECT_EQ(GeoPathFromValue(umlaut.data(), static_cast<std::uint32_t>(umlaut.size())), L"D:\\Gel\u00e4nde\\");
}

TEST(GeoPathValue, AValueWithoutNulNeverReadsPastWhatWasStored) {
  // 512 units fill the 1024 bytes with no room for the NUL: cut at 511, so
  // the destination stays within 512 characters with its backslash.
  const auto full = Utf16Bytes(std::u16string(512, u'x'));
  const std::wstring destination = GeoPathFromValue(full.data(), static_cast<std::uint32_t>(full.size()));
  EXPECT_EQ(destination, std::wstring(511, L'x') + L"\\");
  // An odd size ends before its incomplete unit.
  const auto odd = Utf16Bytes(u"D:\\Maps");
  EXPECT_EQ(GeoPathFromValue(odd.data(), static_cast<std::uint32_t>(odd.size() - 1)), L"D:\\Map\\");
}

TEST(GeoPathStore, WritesTheTextWithItsNulAsUtf16) {
  SettingsSandbox sandbox;
  WizardSession session;
  ASSERT_TRUE(session.WriteGeoPath(L"D:\\Maps\\"));
  const std::vector<std::uint8_t> stored = StoredGeoPath();
  EXPECT_EQ(stored.size(), 18u);
  EXPECT_EQ(stored, Utf16Bytes(u"D:\\Maps\\\0"s));
  std::wstring read;
  ASSERT_TRUE(session.ReadGeoPath(read));
  EXPECT_EQ(read, L"D:\\Maps\\");
}

TEST(GeoPathStore, ReadsAValueOf511CharactersAndIgnores512) {
  SettingsSandbox sandbox;
  WizardSession session;
  const std::wstring longest = L"D:\\" + std::wstring(507, L'a') + L"\\";
  ASSERT_EQ(longest.size(), 511u);
  ASSERT_TRUE(session.WriteGeoPath(longest));
  std::wstring read;
  ASSERT_TRUE(session.ReadGeoPath(read));
  EXPECT_EQ(read, longest);

  ASSERT_TRUE(session.WriteGeoPath(longest + L"b"));
  std::wstring untouched = L"unchanged";
  EXPECT_FALSE(session.ReadGeoPath(untouched));
  EXPECT_EQ(untouched, L"unchanged");
}

TEST(GeoPathStore, FirstReadCreatesTheKeyEvenWithoutAValue) {
  SettingsSandbox sandbox;
  WizardSession session;
  std::wstring read;
  EXPECT_FALSE(session.ReadGeoPath(read));
#if defined(_WIN32)
  HKEY opened = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Varnholt\\Settings", 0, KEY_READ, &opened), ERROR_SUCCESS);
  const UniqueRegistryKey key(opened);
#else
  std::ifstream file(sandbox.file());
  std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_NE(content.find("[Software\\Varnholt\\Settings]"), std::string::npos);
#endif
}

TEST(GeoPathStore, RewritingKeepsOtherValuesAndLeavesNoHalfWrittenStore) {
  SettingsSandbox sandbox;
  {
    platform::SettingsKey key;
    ASSERT_EQ(key.OpenOrCreate(kSettingsKeyPath), platform::kErrorSuccess);
    const auto other = Utf16Bytes(u"kept\0"s);
    ASSERT_EQ(key.SetStringValue(L"Other", other.data(), static_cast<std::uint32_t>(other.size())),
              platform::kErrorSuccess);
  }
  WizardSession session;
  ASSERT_TRUE(session.WriteGeoPath(L"C:\\One\\"));
  ASSERT_TRUE(session.WriteGeoPath(L"C:\\Two\\"));
  std::wstring read;
  ASSERT_TRUE(session.ReadGeoPath(read));
  EXPECT_EQ(read, L"C:\\Two\\");
  platform::SettingsKey key;
  ASSERT_EQ(key.OpenOrCreate(kSettingsKeyPath), platform::kErrorSuccess);
  std::uint8_t buffer[16] = {};
  std::uint32_t size = sizeof(buffer);
  ASSERT_EQ(key.QueryValue(L"Other", buffer, &size), platform::kErrorSuccess);
  EXPECT_EQ(size, 10u);
#if !defined(_WIN32)
  EXPECT_FALSE(std::filesystem::exists(sandbox.file() + ".new"));
#endif
}

TEST(Startup, GeoPathReplacesTheDefaultDestination) {
  SettingsSandbox sandbox;
  WizardSession fresh;
  fresh.SetUpFolders(Facts());
  EXPECT_EQ(fresh.programFolder(), L"C:\\Setup");
  EXPECT_EQ(fresh.packageFolder(), L"C:\\Setup\\Karten\\");
  EXPECT_EQ(fresh.destinationFolder(), L"C:\\Program Files\\Varnholt\\Digital Maps\\");
  EXPECT_TRUE(fresh.chosenPackages().empty());

  StoreRawGeoPath(Utf16Bytes(u"D:\\Karten\0"s));
  WizardSession remembered;
  remembered.SetUpFolders(Facts());
  EXPECT_EQ(remembered.destinationFolder(), L"D:\\Karten\\");
}

TEST(Startup, ATooLongGeoPathLeavesTheDefault) {
  SettingsSandbox sandbox;
  StoreRawGeoPath(Utf16Bytes(std::u16string(512, u'x') + u'\0'));
  WizardSession session;
  session.SetUpFolders(Facts());
  EXPECT_EQ(session.destinationFolder(), L"C:\\Program Files\\Varnholt\\Digital Maps\\");
}

TEST(StartupFacts, TheProgramPathIsThisProgramAndIsCutToItsBuffer) {
  const std::wstring path = platform::ProgramPath(4096);
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::path(path)));
  EXPECT_EQ(std::filesystem::path(path).stem(), "tessavo_app_test");
  // A small buffer gives the path's beginning, never more than it holds
  // (the system may keep the last unit for the terminator).
  for (std::size_t capacity : {std::size_t{1}, std::size_t{12}, path.size()}) {
    const std::wstring cut = platform::ProgramPath(capacity);
    EXPECT_LE(cut.size(), capacity);
    EXPECT_GE(cut.size() + 1, capacity);
    EXPECT_EQ(path.compare(0, cut.size(), cut), 0) << capacity;
  }
}

TEST(StartupFacts, TheProgramFilesFolderIsTheSystemsOwnWithoutABackslash) {
  const std::optional<std::wstring> folder = platform::ProgramFilesFolder();
#if defined(_WIN32)
  ASSERT_TRUE(folder.has_value());
  const wchar_t* expected = _wgetenv(L"ProgramFiles");
  ASSERT_NE(expected, nullptr);
  EXPECT_EQ(*folder, expected);
  EXPECT_NE(folder->back(), L'\\');
#else
  EXPECT_FALSE(folder.has_value());
#endif
}

TEST(StartupFacts, StartUpOnTheRealFactsGivesTheDefaultDestinationWithoutGeoPath) {
  SettingsSandbox sandbox;
  WizardSession session;
  session.SetUpFolders(GatherStartupFacts(L"\\Varnholt\\Digital Maps\\"));
#if defined(_WIN32)
  const std::filesystem::path program(platform::ProgramPath(kProgramPathCapacity));
  EXPECT_EQ(session.programFolder(), program.parent_path().wstring());
  EXPECT_EQ(session.packageFolder(), program.parent_path().wstring() + L"\\Karten\\");
  EXPECT_EQ(session.destinationFolder(), std::wstring(_wgetenv(L"ProgramFiles")) + L"\\Varnholt\\Digital Maps\\");
#else
  // No backslash in a native path, and no program-files folder.
  EXPECT_EQ(session.packageFolder(), L"\\Karten\\");
  EXPECT_EQ(session.destinationFolder(), L"%ProgramFiles%\\Varnholt\\Digital Maps\\");
#endif
}

}  // namespace app
