#include "customactions/installer_access.h"
#include "customactions/table_installer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using quorvis::TableInstaller;
using Requests = std::vector<std::string>;

namespace {

constexpr quorvis::Handle kInstall = 42;

TEST(ReadProperty, AsksWithNoRoomThenWithTheReportedLengthPlusOne) {
  TableInstaller installer;
  installer.properties["ProductVersion"] = "1.2.3";
  std::string value;
  EXPECT_EQ(quorvis::ReadProperty(installer, kInstall, "ProductVersion", value), 0u);
  EXPECT_EQ(value, "1.2.3");
  EXPECT_EQ(value.size(), 5u);
  EXPECT_EQ(installer.requests, (Requests{"GetProperty ProductVersion 0", "GetProperty ProductVersion 6"}));
}

TEST(ReadProperty, LongValuesArriveWhole) {
  TableInstaller installer;
  std::string longValue;
  for (int i = 0; longValue.size() < 1000; ++i)
    longValue += std::to_string(i) + ";";
  installer.properties["LONG"] = longValue;
  std::string value;
  EXPECT_EQ(quorvis::ReadProperty(installer, kInstall, "LONG", value), 0u);
  EXPECT_EQ(value, longValue);
}

TEST(ReadProperty, EmptyAndMissingPropertiesReadAsEmpty) {
  TableInstaller installer;
  installer.properties["EMPTY"] = "";
  for (const char* name : {"EMPTY", "MISSING"}) {
    std::string value = "left over";
    EXPECT_EQ(quorvis::ReadProperty(installer, kInstall, name, value), 0u) << name;
    EXPECT_EQ(value, "") << name;
  }
}

TEST(ReadProperty, AnInstallerThatReportsTooMuchRoomStillGivesTheExactValue) {
  // msi.dll under some hosts reports bytes rather than characters.
  class Generous : public TableInstaller {
    quorvis::Status GetProperty(quorvis::Handle install, const char* name, char* buffer,
                                std::uint32_t& capacity) override {
      const quorvis::Status status = TableInstaller::GetProperty(install, name, buffer, capacity);
      if (status == quorvis::kMoreData) capacity *= 2;
      return status;
    }
  } installer;
  installer.properties["P"] = "abc";
  std::string value;
  EXPECT_EQ(quorvis::ReadProperty(installer, kInstall, "P", value), 0u);
  EXPECT_EQ(value, "abc");
}

TEST(ReadProperty, NeverAsksAThirdTime) {
  TableInstaller installer;
  installer.properties["P"] = "grown";
  installer.understatedProperties.insert("P");
  std::string value;
  EXPECT_EQ(quorvis::ReadProperty(installer, kInstall, "P", value), quorvis::kMoreData);
  EXPECT_EQ(installer.requests, (Requests{"GetProperty P 0", "GetProperty P 5"}));
  EXPECT_EQ(value, "grow");  // what fitted; the caller must not use it
}

TEST(ReadProperty, OtherFailuresEndAfterTheFirstRequest) {
  TableInstaller installer;
  installer.failingProperties["P"] = 6;
  std::string value;
  EXPECT_EQ(quorvis::ReadProperty(installer, kInstall, "P", value), 6u);
  EXPECT_EQ(installer.requests, (Requests{"GetProperty P 0"}));
  EXPECT_EQ(value, "");
}

TEST(WriteProperty, PassesTheValueAndTheStatusThrough) {
  TableInstaller installer;
  EXPECT_EQ(quorvis::WriteProperty(installer, kInstall, "P", "x y"), 0u);
  EXPECT_EQ(installer.properties.at("P"), "x y");
  EXPECT_EQ(quorvis::WriteProperty(installer, kInstall, "P", ""), 0u);
  EXPECT_EQ(installer.requests, (Requests{"SetProperty P=x y", "SetProperty P="}));
}

TEST(LogLine, SendsOneInfoRecordWhoseTemplateIsItsOnlyField) {
  TableInstaller installer;
  EXPECT_EQ(quorvis::LogLine(installer, kInstall, "a [2] line with [1]"), 0u);
  EXPECT_EQ(quorvis::LogLine(installer, kInstall, ""), 0u);
  EXPECT_EQ(installer.log, (Requests{"a [2] line with [1]", ""}));
  EXPECT_EQ(Requests(installer.requests.begin(), installer.requests.begin() + 5),
            (Requests{"CreateRecord 1", "SetRecordString 1 0", "SetRecordString 1 1", "ProcessMessage 67108864 1",
                      "CloseHandle 1"}));
  EXPECT_EQ(installer.OpenRecords(), 0u);
}

TEST(LogLine, WithoutARecordFailsAndAsksNothingMore) {
  TableInstaller installer;
  installer.refuseRecords = true;
  EXPECT_EQ(quorvis::LogLine(installer, kInstall, "line"), 1603u);
  EXPECT_EQ(installer.requests, (Requests{"CreateRecord 1"}));
}

TEST(LogLine, EveryLaterFailureClosesTheRecordAndGives1603) {
  struct Case {
    const char* what;
    void (*force)(TableInstaller&);
    const char* lastRequestBeforeClose;
  };
  const Case cases[] = {
      {"template refused", [](TableInstaller& i) { i.failingFields.insert(0); }, "SetRecordString 1 0"},
      {"text refused", [](TableInstaller& i) { i.failingFields.insert(1); }, "SetRecordString 1 1"},
      {"message answered 0", [](TableInstaller& i) { i.messageAnswer = 0; }, "ProcessMessage 67108864 1"},
      {"message answered -1", [](TableInstaller& i) { i.messageAnswer = -1; }, "ProcessMessage 67108864 1"},
  };
  for (const Case& c : cases) {
    TableInstaller installer;
    c.force(installer);
    EXPECT_EQ(quorvis::LogLine(installer, kInstall, "line"), 1603u) << c.what;
    ASSERT_GE(installer.requests.size(), 2u) << c.what;
    EXPECT_EQ(installer.requests[installer.requests.size() - 2], c.lastRequestBeforeClose) << c.what;
    EXPECT_EQ(installer.requests.back(), "CloseHandle 1") << c.what;
    EXPECT_EQ(installer.OpenRecords(), 0u) << c.what;
    EXPECT_TRUE(installer.log.empty()) << c.what;
  }
}

}  // namespace
