#include "tools/nwq/output.h"

#include <cstdio>
#include <exception>
#include <new>

#include "platform/file_error.h"
#include "platform/text.h"

namespace nwq {

void Print(const std::wstring& line) { std::fputs(text::ToUtf8(line + L"\n").c_str(), stdout); }

void PrintError(const std::wstring& line) {
  std::fflush(stdout);
  std::fputs(text::ToUtf8(L"nwq: " + line + L"\n").c_str(), stderr);
}

std::wstring IsoTime(std::uint64_t fileTime) {
  if (fileTime == 0) return L"-";
  // Civil date from days since 1601-01-01 (a proleptic Gregorian count).
  std::uint64_t seconds = fileTime / 10'000'000;
  const std::int64_t days = static_cast<std::int64_t>(seconds / 86400) - 134774;  // days since 1970-01-01
  const std::uint64_t daySeconds = seconds % 86400;
  std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
  wchar_t buffer[32];
  std::swprintf(buffer, 32, L"%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(year), month, day,
                static_cast<unsigned>(daySeconds / 3600), static_cast<unsigned>(daySeconds / 60 % 60),
                static_cast<unsigned>(daySeconds % 60));
  return buffer;
}

bool HasHelpFlag(const std::vector<std::wstring>& arguments) {
  for (const auto& argument : arguments)
    if (argument == L"--help" || argument == L"-h") return true;
  return false;
}

std::wstring CurrentErrorText(const std::wstring& path) {
  try {
    throw;
  } catch (const FileError& error) {
    return error.Text();
  } catch (const std::bad_alloc&) {
    return path + L": out of memory";
  } catch (const std::exception& error) {
    return path + L": " + text::FromUtf8(error.what());
  } catch (...) {
    return path + L": an unexpected error";
  }
}

}  // namespace nwq
