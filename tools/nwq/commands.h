// The subcommands of nwq. Each takes its own arguments (without the command
// name) and returns the process exit status.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace nwq {

using Arguments = std::vector<std::wstring>;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // invalid or damaged package, file error
inline constexpr int kExitUsage = 2;

int Create(const Arguments& arguments);
int List(const Arguments& arguments);
int Verify(const Arguments& arguments);
int Extract(const Arguments& arguments);
int Index(const Arguments& arguments);

// The frame of the commands that take PACKAGE...: help, a usage error without
// a package, and `command` for each one. An error (a FileError, memory that
// runs out) is printed and fails that package only, so one bad file does not
// hide the verdict on the others.
int ForEachPackage(const Arguments& arguments, const wchar_t* help,
                   const std::function<bool(const std::wstring& path)>& command);

}  // namespace nwq
