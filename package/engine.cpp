#include "package/engine.h"

namespace package {

Result OpenPackage(const std::wstring& path, const std::wstring& expectedName, platform::File* package) {
  Result result;
  if (!package->Open(path, platform::File::Mode::kReadExclusive, &result.openError)) {
    result.outcome = Outcome::kCannotOpen;
    return result;
  }
  result.headerFault = CheckHeader(expectedName, *package, &result.header);
  if (result.headerFault != HeaderFault::kNone) result.outcome = Outcome::kInvalidHeader;
  return result;
}

Result Extract(const std::wstring& path, const std::wstring& expectedName, const std::wstring& destination,
               Observer& observer, const Options& options) {
  platform::File package;
  Result result = OpenPackage(path, expectedName, &package);
  if (result.outcome == Outcome::kCannotOpen) return result;
  observer.OnHeaderChecked(result.header, result.headerFault);
  if (result.outcome == Outcome::kExtracted) result.outcome = ExtractContents(package, destination, observer, options);
  return result;
}

}  // namespace package
