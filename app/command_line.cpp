#include "app/command_line.h"

#include <algorithm>
#include <cwctype>
#include <deque>
#include <iterator>
#include <sstream>

#include "app/folders.h"
#include "resources/texts_en.h"

namespace app {

namespace {

std::wstring Lower(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return text;
}

std::wstring Trim(const std::wstring& text) {
  const auto first = text.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return {};
  return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

// Quotes that the argument rules left: a pair around the value, or the lone
// trailing one that `"C:\Maps\"` turns into.
std::wstring Unquote(std::wstring value) {
  if (!value.empty() && value.front() == L'"') value.erase(0, 1);
  if (!value.empty() && value.back() == L'"') value.pop_back();
  return value;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// A drive root ("C:\...") or a share ("\\server\share..."); "C:Maps" and
// "\Maps" depend on the current drive and folder, which a deployment does not
// control.
bool IsAbsolute(const std::wstring& path) {
  if (path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && IsSeparator(path[2])) return true;
  if (path.size() < 5 || !IsSeparator(path[0]) || !IsSeparator(path[1]) || IsSeparator(path[2])) return false;
  const auto shareStart = std::find_if(path.begin() + 3, path.end(), IsSeparator);
  return shareStart != path.end() && shareStart + 1 != path.end() && !IsSeparator(*(shareStart + 1));
}

bool HasInvalidPathCharacter(const std::wstring& path) {
  // ':' only as the drive's; '?' also in "\\?\" is not accepted, to keep to plain paths.
  for (std::size_t i = 0; i < path.size(); ++i) {
    const wchar_t c = path[i];
    if (c < 32 || c == L'"' || c == L'<' || c == L'>' || c == L'|' || c == L'*' || c == L'?') return true;
    if (c == L':' && i != 1) return true;
  }
  return false;
}

// One backslash between the parts of an absolute path. The standard quoting
// rules double a closing backslash before a quote (`"C:\Maps\\"`), and this
// setup reads its line without them. The first two characters, the drive's
// "C:" or the share's "\\", are kept as they are.
std::wstring OneSeparatorBetweenParts(std::wstring path) {
  std::replace(path.begin(), path.end(), L'/', L'\\');
  const auto doubled = [](wchar_t a, wchar_t b) { return a == L'\\' && b == L'\\'; };
  path.erase(std::unique(path.begin() + std::min<std::size_t>(path.size(), 2), path.end(), doubled), path.end());
  return path;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::wstring>& arguments) {
  using texts_en::Filled;
  ParsedCommandLine parsed;
  SetupOptions& options = parsed.options;
  bool quiet = false;
  bool passive = false;
  // The first fault is reported; the rest of the line is still read for the mode.
  auto fail = [&parsed](std::wstring error) {
    if (parsed.error.empty()) parsed.error = std::move(error);
  };

  std::deque<std::wstring> pending(arguments.begin(), arguments.end());
  while (!pending.empty()) {
    std::wstring argument = std::move(pending.front());
    pending.pop_front();
    // `/dir="C:\My Maps\" /quiet` arrives as one argument: the escaped quote
    // kept the rest of the line inside it. The rest goes back to the line.
    const std::size_t strayQuote = argument.find_first_of(L'"');
    if (strayQuote != std::wstring::npos && strayQuote + 1 < argument.size() &&
        std::iswspace(argument[strayQuote + 1])) {
      std::wistringstream rest(argument.substr(strayQuote + 1));
      argument.resize(strayQuote + 1);
      std::vector<std::wstring> words{std::istream_iterator<std::wstring, wchar_t>(rest),
                                      std::istream_iterator<std::wstring, wchar_t>()};
      pending.insert(pending.begin(), words.begin(), words.end());
    }
    if (Trim(argument).empty()) continue;
    if (argument[0] != L'/' && argument[0] != L'-') {
      fail(Filled(texts_en::kUnexpectedArgument, argument));
      continue;
    }
    const std::size_t equals = argument.find(L'=');
    const std::wstring name = Lower(argument.substr(1, equals == std::wstring::npos ? std::wstring::npos : equals - 1));
    const bool hasValue = equals != std::wstring::npos;
    const std::wstring value = hasValue ? Unquote(Trim(argument.substr(equals + 1))) : std::wstring();

    if (name == L"quiet" || name == L"passive" || name == L"?" || name == L"help" || name == L"uninstall" ||
        name == L"force" || name == L"repair") {
      if (hasValue) {
        fail(Filled(texts_en::kTakesNoValue, argument.substr(0, equals)));
        continue;
      }
      if (name == L"quiet") quiet = true;
      if (name == L"passive") passive = true;
      if (name == L"?" || name == L"help") options.help = true;
      if (name == L"uninstall") options.uninstall = true;
      if (name == L"force") options.force = true;
      if (name == L"repair") options.repair = true;
    } else if (name == L"dir" || name == L"packages" || name == L"log") {
      const std::wstring shown = argument.substr(0, hasValue ? equals : argument.size());
      if (!hasValue || value.empty()) {
        fail(Filled(texts_en::kNeedsValue, shown));
        continue;
      }
      if ((name == L"dir" && options.destination) || (name == L"packages" && options.packages) ||
          (name == L"log" && options.logPath)) {
        fail(Filled(texts_en::kGivenTwice, shown));
        continue;
      }
      if (name == L"dir") {
        if (HasInvalidPathCharacter(value) || !IsAbsolute(value)) {
          fail(Filled(texts_en::kNotAbsolute, value));
          continue;
        }
        options.destination = EnsureTrailingBackslash(OneSeparatorBetweenParts(value));
      } else if (name == L"log") {
        if (HasInvalidPathCharacter(value)) {
          fail(Filled(texts_en::kInvalidLogPath, value));
          continue;
        }
        options.logPath = value;
      } else {
        std::vector<std::wstring> names;
        std::size_t start = 0;
        for (;;) {
          const std::size_t comma = value.find(L',', start);
          names.push_back(Unquote(Trim(value.substr(start, comma == std::wstring::npos ? comma : comma - start))));
          if (comma == std::wstring::npos) break;
          start = comma + 1;
        }
        if (std::any_of(names.begin(), names.end(), [](const std::wstring& n) { return n.empty(); })) {
          fail(Filled(texts_en::kEmptyPackageName, value));
          continue;
        }
        options.packages = std::move(names);
      }
    } else {
      fail(Filled(texts_en::kUnknownSwitch, argument));
    }
  }
  // A removal takes what the record says, nothing else: a destination or a
  // request for the usage beside it is a line written for something else.
  if (options.uninstall) {
    if (options.destination) fail(Filled(texts_en::kNotWithUninstall, L"/dir"));
    if (options.help) fail(Filled(texts_en::kNotWithUninstall, L"/?"));
    if (options.force) fail(Filled(texts_en::kNotWithUninstall, L"/force"));
    if (options.repair) fail(Filled(texts_en::kNotWithUninstall, L"/repair"));
  }
  // Writing every file and writing only the differing ones are two answers
  // to one question.
  if (options.force && options.repair) fail(Filled(texts_en::kNotTogether, L"/force", L"/repair"));
  // The quieter mode wins: a line meant to show nothing never shows a window.
  options.mode = quiet ? SetupMode::kQuiet : passive ? SetupMode::kPassive : SetupMode::kWizard;
  return parsed;
}

}  // namespace app
