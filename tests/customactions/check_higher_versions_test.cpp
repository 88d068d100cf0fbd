#include "customactions/action_boundary.h"
#include "customactions/check_higher_versions.h"
#include "customactions/table_installer.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

constexpr quorvis::Handle kInstall = 7;
const std::string kProduct = "{6F4E3B2A-1C0D-4E5F-8A9B-0C1D2E3F4A5B}";
const std::string kCodeLine = "MsiCheckForHigherVersions: NewestProductCode: " + kProduct;
const std::string kNewerLine = "MsiCheckForHigherVersions: NEWERVERSIONINSTALLED=1";

std::string CurrentLine(const std::string& v) { return "MsiCheckForHigherVersions: CurrentProductVersion: " + v; }
std::string InstalledLine(const std::string& v) { return "MsiCheckForHigherVersions: InstalledVersion: " + v; }

class CheckForHigherVersions : public testing::Test {
 protected:
  // The package asks about kProduct; NEWERVERSIONINSTALLED starts out
  // with a value so that "untouched" can be told from "cleared".
  void Given(const std::string& installed, const std::string& current) {
    installer.properties["NEWESTPRODUCTCODE"] = kProduct;
    installer.properties["ProductVersion"] = current;
    installer.properties["NEWERVERSIONINSTALLED"] = "before";
    installer.installedVersions[kProduct] = installed;
  }
  quorvis::Status Run() { return quorvis::MsiCheckForHigherVersions(installer, kInstall); }
  std::string Newer() const {
    const auto found = installer.properties.find("NEWERVERSIONINSTALLED");
    return found == installer.properties.end() ? "" : found->second;
  }

  quorvis::TableInstaller installer;
};

TEST_F(CheckForHigherVersions, EqualOrHigherInstalledVersionsSetTheFlag) {
  struct Case {
    const char* installed;
    const char* current;
  };
  for (const Case c : {Case{"1.0.0.3", "1.0.0.3"}, Case{"2.0", "1.9.9.9"}, Case{"1.10", "1.9"}, Case{"1..5", "1.5"},
                       Case{"x.2", "0.1"}, Case{"1.2.3.4.9", "1.2.3.4"}}) {
    installer = {};
    Given(c.installed, c.current);
    EXPECT_EQ(Run(), 0u) << c.installed;
    EXPECT_EQ(Newer(), "1") << c.installed;
    EXPECT_EQ(installer.log, (Lines{kCodeLine, CurrentLine(c.current), InstalledLine(c.installed), kNewerLine}));
  }
}

TEST_F(CheckForHigherVersions, ALowerInstalledVersionClearsTheFlagAndSaysSoByItsSilence) {
  Given("1.2", "1.2.0.1");
  EXPECT_EQ(Run(), 0u);
  EXPECT_EQ(installer.properties.count("NEWERVERSIONINSTALLED"), 0u);
  EXPECT_EQ(installer.requests.back(), "SetProperty NEWERVERSIONINSTALLED=");
  EXPECT_EQ(installer.log, (Lines{kCodeLine, CurrentLine("1.2.0.1"), InstalledLine("1.2")}));
}

TEST_F(CheckForHigherVersions, AnUnreadablePropertyFailsTheActionWithoutATrace) {
  for (const char* unreadable : {"NEWESTPRODUCTCODE", "ProductVersion"}) {
    for (const quorvis::Status status : {quorvis::kMoreData, 1615u}) {
      installer = {};
      Given("1.0", "1.0");
      installer.failingProperties[unreadable] = status;
      EXPECT_EQ(Run(), 1603u) << unreadable;
      EXPECT_EQ(Newer(), "before") << unreadable;
      EXPECT_TRUE(installer.log.empty()) << unreadable;
    }
  }
}

TEST_F(CheckForHigherVersions, APropertyThatKeepsGrowingCountsAsUnreadable) {
  Given("1.0", "1.0");
  installer.understatedProperties.insert("ProductVersion");
  EXPECT_EQ(Run(), 1603u);
  EXPECT_EQ(Newer(), "before");
  EXPECT_TRUE(installer.log.empty());
}

TEST_F(CheckForHigherVersions, WithoutAProductCodeItLogsTwoLinesAndAsksNothing) {
  Given("1.0", "3.1");
  installer.properties.erase("NEWESTPRODUCTCODE");
  EXPECT_EQ(Run(), 0u);
  EXPECT_EQ(Newer(), "before");
  EXPECT_EQ(installer.log, (Lines{"MsiCheckForHigherVersions: NewestProductCode: ", CurrentLine("3.1")}));
  for (const std::string& request : installer.requests)
    EXPECT_EQ(request.find("GetProductInfo"), std::string::npos);
}

TEST_F(CheckForHigherVersions, AFailedQueryLeavesTheFlagAlone) {
  struct Case {
    const char* what;
    void (*force)(quorvis::TableInstaller&);
  };
  const Case cases[] = {
      {"unknown product", [](quorvis::TableInstaller& i) { i.installedVersions.clear(); }},
      {"version too long", [](quorvis::TableInstaller& i) { i.installedVersions[kProduct] = std::string(255, '1'); }},
      {"other error", [](quorvis::TableInstaller& i) { i.productInfoFailure = 1610; }},
  };
  for (const Case& c : cases) {
    installer = {};
    Given("9.9", "1.0");
    c.force(installer);
    EXPECT_EQ(Run(), 0u) << c.what;
    EXPECT_EQ(Newer(), "before") << c.what;
    EXPECT_EQ(installer.log, (Lines{kCodeLine, CurrentLine("1.0")})) << c.what;
    // One query with the fixed room, never a retry.
    EXPECT_EQ(installer.requests.back(), "GetProductInfo " + kProduct + " VersionString 255") << c.what;
  }
}

TEST_F(CheckForHigherVersions, TheLongestVersionThatFitsIsUsed) {
  const std::string installed = "2." + std::string(252, '0');
  Given(installed, "1.5");
  EXPECT_EQ(Run(), 0u);
  EXPECT_EQ(Newer(), "1");
  EXPECT_EQ(installer.log.at(2), InstalledLine(installed));
}

TEST_F(CheckForHigherVersions, TheProductCodeIsPassedAsItStands) {
  const std::string code = " {a}; {b} ";
  Given("1.0", "1.0");
  installer.properties["NEWESTPRODUCTCODE"] = code;
  installer.installedVersions[code] = "1.0";
  EXPECT_EQ(Run(), 0u);
  EXPECT_EQ(Newer(), "1");
  EXPECT_EQ(installer.log.at(0), "MsiCheckForHigherVersions: NewestProductCode: " + code);
}

TEST_F(CheckForHigherVersions, RefusedLogLinesAndWritesChangeNothing) {
  Given("2.0", "1.0");
  installer.refuseRecords = true;
  EXPECT_EQ(Run(), 0u);
  EXPECT_EQ(Newer(), "1");
  EXPECT_EQ(installer.requests.back(), "CreateRecord 1");

  installer = {};
  Given("2.0", "1.0");
  installer.messageAnswer = 0;
  EXPECT_EQ(Run(), 0u);
  EXPECT_EQ(Newer(), "1");
  EXPECT_EQ(installer.OpenRecords(), 0u);
}

TEST(RunAtBoundary, AnEscapingExceptionBecomesAFailedAction) {
  EXPECT_EQ(quorvis::RunAtBoundary([] { return quorvis::Status{0}; }), 0u);
  EXPECT_EQ(quorvis::RunAtBoundary([]() -> quorvis::Status { throw std::bad_alloc(); }), 1603u);

  class OutOfMemory : public quorvis::TableInstaller {
    quorvis::Status GetProperty(quorvis::Handle, const char*, char*, std::uint32_t&) override {
      throw std::bad_alloc();
    }
  } installer;
  EXPECT_EQ(quorvis::RunAtBoundary([&] { return quorvis::MsiCheckForHigherVersions(installer, kInstall); }), 1603u);
}

}  // namespace
