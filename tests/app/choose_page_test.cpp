// The choose-packages page: the catalogue it lists, the buttons it offers and
// how clicks on check boxes change the rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/wizard_session.h"
#include "app/choose_rules.h"
#include "app/wizard_buttons.h"
#include "tests/app/package_media.h"
#include "support/temp_dir.h"

namespace app {

namespace {

// A row of the list as the page reads it: what it shows and whether it is ticked.
PackageRow Row(bool checked, std::wstring name, std::wstring title = {}) {
  return {checked, false, PackageEntry{std::move(name), std::move(title), {}}};
}

std::vector<bool> Checks(const std::vector<PackageRow>& rows) {
  std::vector<bool> checks;
  for (const PackageRow& row : rows)
    checks.push_back(row.checked);
  return checks;
}

}  // namespace

TEST(ChooseCatalogue, ListsValidPackagesWithTheirTitlesAndLeavesTheRestOut) {
  TempDir medium;
  const std::wstring karten = medium.Folder(L"Karten");
  std::filesystem::create_directories(karten);
  WritePackage(karten, L"PKG-A", L"Bayern");
  WritePackage(karten, L"PKG-B", L"Bayern");  // same title: both stay
  WritePackage(karten, L"a.b", L"Dotted");
  {
    // The header names another package than the file, if only by case.
    package::PackageWriter writer(karten + L"real.nwq", *package::PackageHeader::Make(L"Real", L"Wrong name", L""));
    writer.Close();
  }
  std::ofstream(std::filesystem::path(karten) / L"junk.nwq") << "not a package";
  std::filesystem::create_directories(std::filesystem::path(karten) / L"folder.nwq");
  std::filesystem::create_directories(std::filesystem::path(karten) / L"sub");
  WritePackage(karten + L"sub" + platform::kPathSeparator, L"Deep", L"Deep");

  WizardSession session;
  session.SetPackageFolder(karten);
  std::vector<std::wstring> names;
  std::vector<std::wstring> titles;
  session.GetPackageList(names, titles);

  ASSERT_EQ(names.size(), titles.size());
  std::vector<std::pair<std::wstring, std::wstring>> listed;
  for (std::size_t i = 0; i < names.size(); ++i)
    listed.emplace_back(names[i], titles[i]);
  std::sort(listed.begin(), listed.end());
  const std::vector<std::pair<std::wstring, std::wstring>> expected = {
      {L"PKG-A", L"Bayern"}, {L"PKG-B", L"Bayern"}, {L"a.b", L"Dotted"}};
  EXPECT_EQ(listed, expected);

  // A second build over the same folder gives the same lists.
  std::vector<std::wstring> again;
  std::vector<std::wstring> againTitles;
  session.GetPackageList(again, againTitles);
  EXPECT_EQ(again, names);
  EXPECT_EQ(againTitles, titles);
}

TEST(ChooseCatalogue, AMissingPackageFolderGivesAnEmptyCatalogue) {
  TempDir medium;
  WizardSession session;
  session.SetPackageFolder(medium.Folder(L"Karten"));
  std::vector<std::wstring> names;
  EXPECT_TRUE(session.GetAvailablePackages(names));
  EXPECT_TRUE(names.empty());
  std::wstring title = L"kept";
  EXPECT_FALSE(session.GetPackageTitle(L"PKG-A", title));
  EXPECT_EQ(title, L"kept");
}

TEST(ChooseButtons, NextOnlyWhileARowIsChecked) {
  EXPECT_EQ(WizardButtonsForRows({}), kWizardBack);
  EXPECT_EQ(WizardButtonsForRows({{false, true, {}}, {false, false, {}}}), kWizardBack);
  EXPECT_EQ(WizardButtonsForRows({{false, false, {}}, {true, false, {}}}), kWizardBack | kWizardNext);
}

TEST(ChooseClicks, AnUnselectedRowTogglesAlone) {
  std::vector<PackageRow> rows = {{true, true, {}}, {true, false, {}}, {false, true, {}}};
  ToggleOnCheckBoxClick(rows, 1);
  EXPECT_EQ(Checks(rows), (std::vector<bool>{true, false, false}));
  ToggleOnCheckBoxClick(rows, 1);
  EXPECT_EQ(Checks(rows), (std::vector<bool>{true, true, false}));
}

TEST(ChooseClicks, ASelectedRowTakesEverySelectedRowToItsNewState) {
  // Mixed states among the selection: all follow the clicked row.
  std::vector<PackageRow> rows = {{true, true, {}}, {false, true, {}}, {true, false, {}}, {true, true, {}}};
  ToggleOnCheckBoxClick(rows, 0);
  EXPECT_EQ(Checks(rows), (std::vector<bool>{false, false, true, false}));
  ToggleOnCheckBoxClick(rows, 1);
  EXPECT_EQ(Checks(rows), (std::vector<bool>{true, true, true, true}));
}

TEST(ChooseClicks, AClickOutsideTheRowsChangesNothing) {
  std::vector<PackageRow> rows = {{true, true, {}}};
  ToggleOnCheckBoxClick(rows, 5);
  EXPECT_EQ(Checks(rows), (std::vector<bool>{true}));
}

TEST(ChooseCatalogue, EachNameKeepsItsOwnTitleAndWhatTheCallerHeldStays) {
  TempDir medium;
  const std::wstring karten = medium.Folder(L"Karten");
  std::filesystem::create_directories(karten);
  WritePackage(karten, L"PKG-C", L"Chiemgau");
  WritePackage(karten, L"PKG-A", L"Alpen");
  WritePackage(karten, L"PKG-B", L"Bayern");
  WizardSession session;
  session.SetPackageFolder(karten);

  std::vector<std::wstring> names = {L"held"};
  std::vector<std::wstring> titles = {L"Held"};
  session.GetPackageList(names, titles);
  ASSERT_EQ(names.size(), 4u);
  ASSERT_EQ(titles.size(), 4u);
  EXPECT_EQ(names[0], L"held");
  EXPECT_EQ(titles[0], L"Held");
  // The catalogue's own order, which the list then sorts by title.
  std::vector<std::wstring> catalogue;
  ASSERT_TRUE(session.GetAvailablePackages(catalogue));
  EXPECT_EQ(std::vector<std::wstring>(names.begin() + 1, names.end()), catalogue);
  const std::map<std::wstring, std::wstring> titleOf = {
      {L"PKG-A", L"Alpen"}, {L"PKG-B", L"Bayern"}, {L"PKG-C", L"Chiemgau"}};
  for (std::size_t i = 1; i < names.size(); ++i)
    EXPECT_EQ(titles[i], titleOf.at(names[i])) << names[i];

  // As one list, in the catalogue's order; sizes are read for chosen packages only.
  const std::vector<PackageEntry> entries = session.ReadCatalogue();
  EXPECT_EQ(PackageNames(entries), catalogue);
  for (const PackageEntry& entry : entries) {
    EXPECT_EQ(entry.title, titleOf.at(entry.name)) << entry.name;
    EXPECT_FALSE(entry.sizes.indexed);
  }
}

TEST(ChooseNext, TheChoiceFollowsTheRowsAsShownAndReplacesTheLastOne) {
  WizardSession session;
  // Rows as the list shows them, by title: Alpen, Bayern, Bayern.
  session.ChoosePackages({Row(true, L"PKG-Z"), {false, true, {L"PKG-A", L"", {}}}, Row(true, L"PKG-B")});
  EXPECT_EQ(PackageNames(session.chosenPackages()), (std::vector<std::wstring>{L"PKG-Z", L"PKG-B"}));
  // Two rows of the same title are kept apart by their names.
  session.ChoosePackages({Row(true, L"PKG-B"), Row(true, L"PKG-C")});
  EXPECT_EQ(PackageNames(session.chosenPackages()), (std::vector<std::wstring>{L"PKG-B", L"PKG-C"}));
  session.ChoosePackages({Row(false, L"PKG-B")});
  EXPECT_TRUE(session.chosenPackages().empty());
}

TEST(ChooseNext, EachChosenPackageKeepsItsTitleAndHasItsSizesReadWhenTheChoiceIsStored) {
  TempDir medium;
  WritePackage(medium.Folder(), L"PKG-B", L"Bayern", "bavarian", L"b.txt", L"bayern");
  WizardSession session;
  session.SetPackageFolder(medium.Folder());

  session.ChoosePackages({Row(true, L"PKG-B", L"Bayern"), Row(false, L"PKG-A", L"Alpen")});
  // Read then, once: the file may go now, the sizes stay.
  std::filesystem::remove(medium.path() / "PKG-B.nwq");
  ASSERT_EQ(session.chosenPackages().size(), 1u);
  const PackageEntry& chosen = session.chosenPackages()[0];
  EXPECT_EQ(chosen.title, L"Bayern");
  EXPECT_TRUE(chosen.sizes.indexed);
  EXPECT_GT(chosen.sizes.storedSize, 0u);
  ASSERT_EQ(chosen.sizes.files.size(), 1u);
  EXPECT_EQ(chosen.sizes.files[0].name, L"b.txt");
  EXPECT_EQ(chosen.sizes.files[0].size, 8u);
}

}  // namespace app
