// The setup as a release ships it, signed: it installs a medium as the
// unsigned build does, and the copy it keeps for the removal is its own bytes,
// signature and all. The script that signed it checks the copy this case
// leaves at TESSAVO_KEEP_SETUP_COPY against its root.
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "end_to_end_support.h"

namespace fs = std::filesystem;

TEST(SignedSetup, InstallsAMediumAndKeepsItsOwnBytesForTheRemoval) {
  ForgetTheInstalledMaps();
  Medium medium;
  const std::vector<PackageFile> files = {{L"nord", L"karte.dat", RandomBytes(300000, 11)},
                                          {L"nord\\höhen", L"gelände.txt", RandomBytes(900, 12)}};
  ASSERT_TRUE(medium.Create(L"NORD", L"Nordküste", files));
  const ScratchFolder place;
  const std::wstring destination = place.Folder(L"Karten Übersicht");
  const fs::path log = place.path() / L"install.log";
  const Ended ended = RunToTheEnd(medium, L"/quiet /dir=" + Quoted(destination) + L" /log=" + Quoted(log.wstring()));
  ASSERT_EQ(ended.code, kSuccess) << Joined(LogLines(log));
  for (const PackageFile& file : files) {
    EXPECT_EQ(ReadAll(fs::path(destination) / file.folder / file.name), file.content) << Utf8(file.name);
  }

  const fs::path copy = InstallRecordPath().parent_path() / L"Tessavo.exe";
  const std::vector<std::uint8_t> program = ReadAll(medium.Program());
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(ReadAll(copy), program) << "the setup copy differs from the program that made it";
  const std::wstring keep = EnvPath("TESSAVO_KEEP_SETUP_COPY");
  if (!keep.empty()) {
    std::error_code error;
    fs::copy_file(copy, keep, fs::copy_options::overwrite_existing, error);
    EXPECT_FALSE(error) << error.message();
  }
  ForgetTheInstalledMaps();
}
