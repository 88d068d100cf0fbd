// How every command opens a package: exactly the file it was given, refused
// as the setup wizard would refuse it, with a message that says why.
#pragma once

#include <string>

#include "package/reader.h"

namespace nwq {

// The package name of `path`, or an empty string after a message when the
// file is not named as a package.
std::wstring PackageNameFor(const std::wstring& path);
// Why the engine refused `path`; empty when it did not.
std::wstring Refusal(const std::wstring& path, const std::wstring& expectedName, const package::Result& result);
// Opens `path` for reading; false after a message on standard error.
bool OpenPackage(const std::wstring& path, package::PackageReader& reader);

}  // namespace nwq
