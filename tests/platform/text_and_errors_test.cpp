#include <gtest/gtest.h>

#include "platform/file_error.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

TEST(FileErrorText, InsertsTheFileNameOrCallsItUnnamed) {
  EXPECT_EQ(FileError(FileError::kDiskFull, 112, L"D:\\Maps\\a.dat").Text(),
            L"Disk full while accessing D:\\Maps\\a.dat.");
  EXPECT_EQ(FileError(FileError::kBadSeek, -1, L"x").Text(), L"Seek failed on x");
  EXPECT_EQ(FileError(FileError::kAccessDenied, 5, L"").Text(), L"Access to an unnamed file was denied.");
  EXPECT_EQ(FileError(FileError::kNone, 0, L"x").Text(), L"No error occurred.");
  EXPECT_EQ(FileError(static_cast<FileError::Cause>(99), 0, L"x").Text(),
            L"An unknown error occurred while accessing x.");
}

TEST(FileErrorText, OsErrorsMapToTheirCauses) {
#if defined(_WIN32)
  const platform::ErrorCode diskFull = 112, denied = 5, missing = 2, sharing = 32;
#else
  const platform::ErrorCode diskFull = 28 /* ENOSPC */, denied = 13 /* EACCES */, missing = 2, sharing = 16;
#endif
  EXPECT_EQ(platform::CauseFromError(diskFull), FileError::kDiskFull);
  EXPECT_EQ(platform::CauseFromError(denied), FileError::kAccessDenied);
  EXPECT_EQ(platform::CauseFromError(missing), FileError::kFileNotFound);
  EXPECT_EQ(platform::CauseFromError(sharing), FileError::kSharingViolation);
  EXPECT_FALSE(platform::SystemErrorText(denied).empty());
  const std::wstring text = platform::SystemErrorText(denied);
  EXPECT_NE(text.back(), L'\n');
}

TEST(Text, Utf8AndUtf16RoundTripIncludingPairs) {
  const std::wstring wide = text::FromUtf8(
      "K\xC3\xBC"
      "ste \xF0\x9F\x97\xBA");
  EXPECT_EQ(text::ToUtf8(wide),
            "K\xC3\xBC"
            "ste \xF0\x9F\x97\xBA");
  EXPECT_EQ(text::Utf16Length(wide), 8u);
  EXPECT_EQ(text::FromUtf16(text::ToUtf16(wide)), wide);
}

TEST(Text, InvalidInputBecomesReplacementCharacters) {
  EXPECT_EQ(text::FromUtf8("a\xFF"
                           "b"),
            L"a\uFFFDb");
  EXPECT_EQ(text::FromUtf8("\xE2\x82"), L"\uFFFD");  // cut sequence
  EXPECT_EQ(text::FromUtf8("\xC0\xAF"), L"\uFFFD");  // overlong
#if !defined(_WIN32)  // Windows wide strings are UTF-16 and keep a lone surrogate as it is
  EXPECT_EQ(text::FromUtf16(u"\xD800x"), L"\uFFFDx");
#endif
  const std::uint8_t slot[] = {'a', 0, 'b', 0};
  EXPECT_EQ(text::FromUtf16LeSlot(slot, 2), L"ab");
}

}  // namespace
