// Numbers and deletions in the machine-wide settings store: the registry on
// Windows (under Wine), the settings file on POSIX.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/temp_dir.h"
#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

constexpr wchar_t kKey[] = L"Software\\Varnholt\\PlatformTest";
constexpr wchar_t kSubkey[] = L"Software\\Varnholt\\PlatformTest\\Inner";
constexpr wchar_t kOtherKey[] = L"Software\\Varnholt\\PlatformTestOther";

class SettingsStore : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSubkey);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kOtherKey);
#else
    file_ = (folder_.path() / "settings").string();
    ::setenv("VARNHOLT_SETTINGS_FILE", file_.c_str(), 1);
#endif
  }
  void TearDown() override {
#if defined(_WIN32)
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSubkey);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kOtherKey);
#else
    ::unsetenv("VARNHOLT_SETTINGS_FILE");
#endif
  }

  // The value's bytes, or nothing when it cannot be read.
  static std::optional<std::vector<std::uint8_t>> Read(platform::SettingsKey& key, const std::wstring& name) {
    std::vector<std::uint8_t> bytes(64);
    std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
    if (key.QueryValue(name, bytes.data(), &size) != platform::kErrorSuccess) return std::nullopt;
    bytes.resize(size);
    return bytes;
  }

#if !defined(_WIN32)
  TempDir folder_;
  std::string file_;
#endif
};

using ByteList = std::vector<std::uint8_t>;

// The type the registry itself reports; the POSIX store has none to ask.
#if defined(_WIN32)
constexpr DWORD kNumber = REG_DWORD, kString = REG_SZ;
DWORD TypeOf(const wchar_t* name) {
  DWORD type = REG_NONE;
  ::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_ANY, &type, nullptr, nullptr);
  return type;
}
#else
constexpr int kNumber = 0, kString = 0;
int TypeOf(const wchar_t*) { return 0; }
#endif

TEST_F(SettingsStore, ANumberReadsBackAsTheRegistryHandsItOutAndAStringReplacesIt) {
  platform::SettingsKey key;
  ASSERT_EQ(key.OpenOrCreate(kKey), platform::kErrorSuccess);
  ASSERT_EQ(key.SetDwordValue(L"EstimatedSize", 123456), platform::kErrorSuccess);
  ASSERT_EQ(key.SetDwordValue(L"NoModify", 1), platform::kErrorSuccess);
  EXPECT_EQ(Read(key, L"EstimatedSize"), (ByteList{0x40, 0xE2, 0x01, 0x00}));
  EXPECT_EQ(TypeOf(L"EstimatedSize"), kNumber);
  // What one open key wrote, another reads.
  platform::SettingsKey again;
  ASSERT_EQ(again.OpenOrCreate(kKey), platform::kErrorSuccess);
  EXPECT_EQ(Read(again, L"NoModify"), (ByteList{1, 0, 0, 0}));

  const char16_t text[] = u"7";  // UTF-16 on both systems
  ASSERT_EQ(key.SetStringValue(L"NoModify", text, sizeof text), platform::kErrorSuccess);
  EXPECT_EQ(Read(again, L"NoModify"), (ByteList{'7', 0, 0, 0}));
  EXPECT_EQ(TypeOf(L"NoModify"), kString);
  ASSERT_EQ(key.SetDwordValue(L"NoModify", 2), platform::kErrorSuccess);
  EXPECT_EQ(Read(again, L"NoModify"), (ByteList{2, 0, 0, 0}));
  EXPECT_EQ(TypeOf(L"NoModify"), kNumber);
}

TEST_F(SettingsStore, DeletingAValueOrAKeyTakesOnlyThatAndSucceedsWhenItIsNotThere) {
  platform::SettingsKey key;
  ASSERT_EQ(key.OpenOrCreate(kKey), platform::kErrorSuccess);
  const wchar_t path[] = L"D:\\Maps\\";
  ASSERT_EQ(key.SetStringValue(L"GeoPath", path, sizeof path), platform::kErrorSuccess);
  ASSERT_EQ(key.SetDwordValue(L"NoRepair", 1), platform::kErrorSuccess);
  EXPECT_EQ(key.DeleteValue(L"GEOPATH"), platform::kErrorSuccess);
  EXPECT_FALSE(Read(key, L"GeoPath"));
  EXPECT_TRUE(Read(key, L"NoRepair"));
  EXPECT_EQ(key.DeleteValue(L"GeoPath"), platform::kErrorSuccess);
  EXPECT_EQ(key.DeleteValue(L"NeverThere"), platform::kErrorSuccess);

  // A key with a key below it stays, as the registry keeps it.
  {
    platform::SettingsKey inner;
    ASSERT_EQ(inner.OpenOrCreate(kSubkey), platform::kErrorSuccess);
  }
  EXPECT_NE(platform::SettingsKey::DeleteKey(kKey), platform::kErrorSuccess);
  EXPECT_TRUE(Read(key, L"NoRepair"));
  EXPECT_EQ(platform::SettingsKey::DeleteKey(kSubkey), platform::kErrorSuccess);

  platform::SettingsKey other;
  ASSERT_EQ(other.OpenOrCreate(kOtherKey), platform::kErrorSuccess);
  ASSERT_EQ(other.SetDwordValue(L"Kept", 5), platform::kErrorSuccess);
  key.Close();
  EXPECT_EQ(platform::SettingsKey::DeleteKey(kKey), platform::kErrorSuccess);
  EXPECT_EQ(platform::SettingsKey::DeleteKey(kKey), platform::kErrorSuccess);
  EXPECT_EQ(Read(other, L"Kept"), (ByteList{5, 0, 0, 0}));
  ASSERT_EQ(key.OpenOrCreate(kKey), platform::kErrorSuccess);
  EXPECT_FALSE(Read(key, L"NoRepair"));
  EXPECT_NE(platform::SettingsKey::DeleteKey(L""), platform::kErrorSuccess);
  EXPECT_EQ(platform::SettingsKey::DeleteKey(kOtherKey), platform::kErrorSuccess);
}

#if !defined(_WIN32)
std::string Text(const std::string& path) {
  const std::vector<std::uint8_t> bytes = ReadAll(path);
  return {bytes.begin(), bytes.end()};
}

// The store as the setup has written it since its first release: keys and
// hex-coded values only. It must read as it always did, and keep its lines.
TEST_F(SettingsStore, AStoreWrittenBeforeNumbersReadsAndKeepsItsLinesNumbersAreMarked) {
  const std::string before =
      "[Software\\Varnholt\\Settings]\n"
      "GeoPath=44003a005c004d00610070007300\n";  // "D:\Maps" without its terminator
  WriteAll(file_, Bytes(before));
  platform::SettingsKey settings;
  ASSERT_EQ(settings.OpenOrCreate(L"Software\\Varnholt\\Settings"), platform::kErrorSuccess);
  EXPECT_EQ(Read(settings, L"GeoPath"), (ByteList{'D', 0, ':', 0, '\\', 0, 'M', 0, 'a', 0, 'p', 0, 's', 0}));

  platform::SettingsKey entry;
  ASSERT_EQ(entry.OpenOrCreate(kKey), platform::kErrorSuccess);
  ASSERT_EQ(entry.SetDwordValue(L"EstimatedSize", 123456), platform::kErrorSuccess);
  EXPECT_EQ(Text(file_), before + "[Software\\Varnholt\\PlatformTest]\nEstimatedSize=dword:0001e240\n");

  // A damaged number loses only its own line.
  WriteAll(file_, Bytes(Text(file_) + "Short=dword:12\nLong=dword:0000000001\nGood=dword:0000000a\n"));
  EXPECT_FALSE(Read(entry, L"Short"));
  EXPECT_FALSE(Read(entry, L"Long"));
  EXPECT_EQ(Read(entry, L"Good"), (ByteList{10, 0, 0, 0}));
  EXPECT_EQ(Read(entry, L"EstimatedSize"), (ByteList{0x40, 0xE2, 0x01, 0x00}));
  EXPECT_TRUE(Read(settings, L"GeoPath"));
}
#endif

}  // namespace
