// The English texts the setup forms for its message boxes and pages, and the
// command line's usage and faults. The dialogs' own texts are in tessavo.rc;
// the log's lines are formed by the log (app/install_log.cpp).
#pragma once

#include <string>
#include <string_view>

namespace texts_en {

// The pattern with every "%1", "%2" and "%3" replaced; the values are not searched.
inline std::wstring Filled(std::wstring_view pattern, const std::wstring& first, const std::wstring& second = {},
                           const std::wstring& third = {}) {
  std::wstring text;
  for (std::size_t at = 0; at < pattern.size(); ++at) {
    const wchar_t next = at + 1 < pattern.size() ? pattern[at + 1] : L'\0';
    if (pattern[at] == L'%' && next >= L'1' && next <= L'3') {
      text += next == L'1' ? first : next == L'2' ? second : third;
      ++at;
    } else {
      text += pattern[at];
    }
  }
  return text;
}

// Start-up's message boxes.
inline constexpr wchar_t kAlreadyRunning[] = L"Setup is already running.";
inline constexpr wchar_t kCannotStart[] = L"Setup cannot start: %1";
inline constexpr wchar_t kLogNotWritable[] = L"The log file %1 cannot be written: %2";
inline constexpr wchar_t kUnknownPackage[] = L"The package %1 is not a valid package of this medium.";
// A system error code without a text of its own.
inline constexpr wchar_t kErrorNumber[] = L"Error %1";

// The destination page: its space lines and the refusal of a copy that
// cannot fit.
inline constexpr wchar_t kSpaceRequired[] = L"Space required: %1";
inline constexpr wchar_t kAtLeast[] = L"at least %1";
inline constexpr wchar_t kSpaceAvailable[] = L"Space available: %1";
inline constexpr wchar_t kUnknown[] = L"unknown";
inline constexpr wchar_t kNotEnoughSpace[] =
    L"Not enough free space on the destination drive: %1 needed, %2 available.";

// The copy page's line under the bars: copied, total, time left.
inline constexpr wchar_t kTimeLeft[] = L"%1 of %2 copied, about %3 left";
inline constexpr wchar_t kSeconds[] = L"%1 seconds";
inline constexpr wchar_t kOneMinute[] = L"1 minute";
inline constexpr wchar_t kMinutes[] = L"%1 minutes";
inline constexpr wchar_t kOneHour[] = L"1 hour";
inline constexpr wchar_t kHours[] = L"%1 hours";

// The copy page's questions.
inline constexpr wchar_t kStopQuestion[] = L"Do you want to stop the installation?";
inline constexpr wchar_t kGenericFileError[] = L"Generic Error reading or writing the file.";

// The removal's question and its page.
inline constexpr wchar_t kRemoveQuestion[] = L"Remove the installed maps (%1 packages, %2) from %3?";
inline constexpr wchar_t kRemovalHeading[] = L"The installed maps are being removed...";
inline constexpr wchar_t kRemovalFinished[] = L"The maps were removed.";
inline constexpr wchar_t kRemovalCancelled[] = L"The removal has been cancelled.";
inline constexpr wchar_t kRemoving[] = L"Removing: ";
inline constexpr wchar_t kStopRemovalQuestion[] = L"Do you want to stop the removal?";
inline constexpr wchar_t kClickFinishToClose[] = L"Click \"Finish\" to close the setup.";
inline constexpr wchar_t kNotInstalled[] = L"The maps are not installed.";
inline constexpr wchar_t kPackageNotInstalled[] = L"The package %1 is not installed.";
inline constexpr wchar_t kRecordUnreadable[] =
    L"The record of the installed maps cannot be read, so nothing was removed.\n\n%1: %2";
inline constexpr wchar_t kRecordLine[] = L"line %1: %2";
// The removal's log lines that the run itself does not write.
inline constexpr wchar_t kRemovalDeclined[] = L"The removal was declined.";
inline constexpr wchar_t kRemovalNotStarted[] = L"The removal could not start: %1";
inline constexpr wchar_t kEntrySizeNotUpdated[] = L"The size in the Installed-apps entry could not be updated: %1";
inline constexpr wchar_t kNotRecorded[] =
    L"The installation is not recorded (the system names no program-files folder): it cannot be removed later.";

// The command line's faults.
inline constexpr wchar_t kUnexpectedArgument[] = L"Unexpected argument: %1";
inline constexpr wchar_t kTakesNoValue[] = L"The switch %1 takes no value.";
inline constexpr wchar_t kNeedsValue[] = L"The switch %1 needs a value: %1=...";
inline constexpr wchar_t kGivenTwice[] = L"The switch %1 is given twice.";
inline constexpr wchar_t kNotAbsolute[] =
    L"The destination %1 is not an absolute path (C:\\... or \\\\server\\share\\...).";
inline constexpr wchar_t kInvalidLogPath[] = L"The log file %1 is not a valid path.";
inline constexpr wchar_t kEmptyPackageName[] = L"The package list %1 has an empty name.";
inline constexpr wchar_t kUnknownSwitch[] = L"Unknown switch: %1";
inline constexpr wchar_t kNotWithUninstall[] = L"The switch %1 cannot be used with /uninstall.";
inline constexpr wchar_t kNotTogether[] = L"The switches %1 and %2 cannot be used together.";

inline constexpr wchar_t kUsage[] =
    L"Tessavo [/quiet | /passive] [/force | /repair] [/dir=PATH] [/packages=NAME[,NAME...]] [/log=PATH]\n"
    L"Tessavo /uninstall [/quiet | /passive] [/packages=NAME[,NAME...]] [/log=PATH]\n"
    L"\n"
    L"/quiet\tinstalls without any window or question\n"
    L"/passive\tshows only the progress and closes itself at the end\n"
    L"/dir=PATH\tthe destination folder (absolute: C:\\... or \\\\server\\share\\...)\n"
    L"/packages=NAME,...\tonly these packages of the medium (by package name)\n"
    L"/log=PATH\twrites a log file\n"
    L"/force\twrites every file, also those still as an earlier run left them\n"
    L"/repair\tchecks every file by its content and writes those that are missing or differ\n"
    L"/uninstall\tremoves the installed maps (only these packages with /packages=)\n"
    L"/? or /help\tshows this text\n"
    L"\n"
    L"Exit codes: 0 installed or removed, 1602 cancelled, 1603 failed, 1605 nothing installed to remove, "
    L"1618 another setup is running, 1639 invalid command line, 3010 a restart completes the removal.";

}  // namespace texts_en
