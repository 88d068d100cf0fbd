// The settings key in the registry and the creation of folder trees, on
// Windows itself (under Wine).
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "app/wizard_session.h"
#include "support/temp_dir.h"
#include "win32_owners.h"

namespace app {

namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\Varnholt\\Settings";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKey); }
  void TearDown() override { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKey); }

  static bool KeyExists() {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    const UniqueRegistryKey key(opened);
    return true;
  }
};

}  // namespace

TEST_F(RegistryTest, GeoPathIsAStringOfEighteenBytesForDMaps) {
  WizardSession session;
  ASSERT_TRUE(session.WriteGeoPath(L"D:\\Maps\\"));
  HKEY opened = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &opened), ERROR_SUCCESS);
  const UniqueRegistryKey key(opened);
  DWORD type = 0;
  BYTE data[64] = {};
  DWORD size = sizeof(data);
  ASSERT_EQ(::RegQueryValueExW(opened, L"GeoPath", nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 18u);
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data)), L"D:\\Maps\\");
}

TEST_F(RegistryTest, TheFirstReadCreatesTheKeyThoughNothingIsWritten) {
  ASSERT_FALSE(KeyExists());
  WizardSession session;
  std::wstring destination;
  EXPECT_FALSE(session.ReadGeoPath(destination));
  EXPECT_TRUE(KeyExists());
}

TEST_F(RegistryTest, ValuesOf511CharactersAreReadAnd512Ignored) {
  WizardSession session;
  const std::wstring longest = L"C:\\" + std::wstring(508, L'm');
  ASSERT_EQ(longest.size(), 511u);
  ASSERT_TRUE(session.WriteGeoPath(longest));
  std::wstring destination;
  ASSERT_TRUE(session.ReadGeoPath(destination));
  EXPECT_EQ(destination, longest + L"\\");
  ASSERT_TRUE(session.WriteGeoPath(longest + L"m"));
  EXPECT_FALSE(session.ReadGeoPath(destination));
}

TEST_F(RegistryTest, TheTypeOfTheStoredValueIsNotExamined) {
  {
    HKEY opened = nullptr;
    ASSERT_EQ(::RegCreateKeyW(HKEY_LOCAL_MACHINE, kSettingsKey, &opened), ERROR_SUCCESS);
    const UniqueRegistryKey key(opened);
    const wchar_t value[] = L"E:\\Karten";
    ::RegSetValueExW(opened, L"GeoPath", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value), sizeof(value));
  }
  WizardSession session;
  std::wstring destination;
  ASSERT_TRUE(session.ReadGeoPath(destination));
  EXPECT_EQ(destination, L"E:\\Karten\\");
}

TEST(CreateFolderTree, ExistingFolderMissingParentsAndAMissingDrive) {
  TempDir root;
  WizardSession session;
  EXPECT_TRUE(session.CreateFolderTree(root.Folder()));
  const std::wstring deep = root.Folder() + L"Varnholt\\Digital Maps\\Bayern\\";
  EXPECT_TRUE(session.CreateFolderTree(deep));
  EXPECT_TRUE(std::filesystem::is_directory(deep));
  EXPECT_TRUE(session.CreateFolderTree(deep));

  wchar_t drive[] = L"?:\\Maps\\";
  const DWORD drives = ::GetLogicalDrives();
  for (wchar_t letter = L'Y'; letter > L'D'; --letter) {
    if ((drives & (1u << (letter - L'A'))) == 0) {
      drive[0] = letter;
      break;
    }
  }
  ASSERT_NE(drive[0], L'?');
  EXPECT_FALSE(session.CreateFolderTree(drive));
}

}  // namespace app
