// The English texts the setup forms for its message boxes and pages, and the
// command line's usage and faults. The dialogs' own texts are in tessavo.rc;
// the log's lines are formed by the log (app/install_log.cpp).
#pragma once

#include <string>
#include <string_view>

namespace texts_en {

// The pattern with every "%1" and "%2" replaced; the values are not searched.
inline std::wstring Filled(std::wstring_view pattern, const std::wstring& first, const std::wstring& second = {}) {
  std::wstring text;
  for (std::size_t at = 0; at < pattern.size(); ++at) {
    if (pattern[at] == L'%' && at + 1 < pattern.size() && (pattern[at + 1] == L'1' || pattern[at + 1] == L'2')) {
      text += pattern[++at] == L'1' ? first : second;
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

// The copy page's questions.
inline constexpr wchar_t kStopQuestion[] = L"Do you want to stop the installation?";
inline constexpr wchar_t kGenericFileError[] = L"Generic Error reading or writing the file.";

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

inline constexpr wchar_t kUsage[] =
    L"Tessavo [/quiet | /passive] [/dir=PATH] [/packages=NAME[,NAME...]] [/log=PATH]\n"
    L"\n"
    L"/quiet\tinstalls without any window or question\n"
    L"/passive\tshows only the progress and closes itself at the end\n"
    L"/dir=PATH\tthe destination folder (absolute: C:\\... or \\\\server\\share\\...)\n"
    L"/packages=NAME,...\tonly these packages of the medium (by package name)\n"
    L"/log=PATH\twrites a log file\n"
    L"/? or /help\tshows this text\n"
    L"\n"
    L"Exit codes: 0 installed, 1602 cancelled, 1603 failed, 1618 another setup is running, "
    L"1639 invalid command line.";

}  // namespace texts_en
