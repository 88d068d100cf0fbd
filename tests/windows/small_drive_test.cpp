// A destination on a drive too small for the copy.
#include <gtest/gtest.h>

#include <windows.h>
#include <prsht.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "end_to_end_support.h"
#include "remote_wizard.h"
#include "resources/resource.h"
#include "support/temp_dir.h"

TEST(SmallDrive, ACopyThatCannotFitIsRefusedBeforeAnythingIsWritten) {
  const char* letter = std::getenv("TESSAVO_SMALL_DRIVE");
  if (letter == nullptr || *letter == '\0') GTEST_SKIP() << "no small drive: mounting a tmpfs is not allowed here";
  const std::wstring drive = std::wstring(letter, letter + std::strlen(letter)) + L"\\";
  ULARGE_INTEGER available{};
  ASSERT_TRUE(::GetDiskFreeSpaceExW(drive.c_str(), &available, nullptr, nullptr)) << ::GetLastError();
  ASSERT_LT(available.QuadPart, 5u << 20) << "the drive is meant to be small";

  // 3 MiB that compress to almost nothing: the medium is small, the copy is
  // not. Beside the one file its temporary copy: 6 MiB.
  Medium medium;
  ASSERT_TRUE(medium.Create(L"PKG-A", L"Alpen", {{L"alpen", L"big.dat", std::vector<std::uint8_t>(3 << 20, 0)}}));
  const std::wstring destination = drive + L"Digital Maps\\";
  ClearSettings();
  StoreGeoPath(destination);

  RemoteWizard wizard(medium.Program());
  ASSERT_TRUE(wizard.started());
  WalkToDestinationPage(wizard);
  const std::wstring shown =
      L"Space required: " + ByteSize(6 << 20) + L"\r\nSpace available: " + ByteSize(available.QuadPart);
  EXPECT_TRUE(WaitUntil([&] { return wizard.Text(IDC_SPACE) == shown; })) << wizard.Text(IDC_SPACE);
  Screenshot(L"1-small-drive");

  const std::wstring refusal = L"Not enough free space on the destination drive: " + ByteSize(6 << 20) + L" needed, " +
                               ByteSize(available.QuadPart) + L" available.";
  // Twice: the page keeps Next for a second try.
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    wizard.Press(PSBTN_NEXT);
    HWND box = wizard.WaitForDialog();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(RemoteWizard::WindowText(box), L"VARNHOLT Setup");
    EXPECT_EQ(RemoteWizard::DialogTexts(box), refusal);
    if (attempt == 0) Screenshot(L"2-not-enough-space");
    RemoteWizard::AnswerDialog(box, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }));
    EXPECT_TRUE(wizard.WaitForButton(kNextButton, true));
    EXPECT_EQ(wizard.Title(), L"VARNHOLT Setup: Choose destination folder");
  }
  EXPECT_TRUE(TreeOf(drive).empty()) << "nothing was written on the drive, not even the folder";
  wizard.Press(PSBTN_CANCEL);
  EXPECT_EQ(wizard.WaitForExit(), kUserCancel);

  // Unattended, the same check ends the run before anything is written.
  TempDir logFolder;
  const std::filesystem::path log = logFolder.path() / L"setup.log";
  const Ended quiet = RunToTheEnd(medium, L"/quiet /dir=" + Quoted(destination) + L" /log=" + Quoted(log.wstring()));
  EXPECT_EQ(quiet.code, kInstallFailure);
  const std::vector<std::string> lines = LogLines(log);
  const int line = LineWith(lines, "not enough free space");
  ASSERT_GE(line, 0) << Joined(lines);
  EXPECT_NE(lines[line].find(Utf8(destination)), std::string::npos) << lines[line];
  EXPECT_NE(lines[line].find(std::to_string(6 << 20) + " bytes needed, " + std::to_string(available.QuadPart) +
                             " bytes available"),
            std::string::npos)
      << lines[line];
  EXPECT_TRUE(TreeOf(drive).empty());
  EXPECT_EQ(StoredGeoPath(), destination) << "as stored before";
}
