// nwq: makes, lists, verifies and unpacks map packages.
#include <cstdio>

#include "package/trace.h"
#include "platform/platform.h"
#include "tools/nwq/commands.h"
#include "tools/nwq/output.h"

namespace {

constexpr const wchar_t* kUsage =
    L"usage: nwq [--trace] COMMAND ARGS...\n"
    L"\n"
    L"commands:\n"
    L"  create OUT.nwq SOURCE_DIR [--title T] [--description D] [--level 0-9]\n"
    L"                         pack every file below SOURCE_DIR\n"
    L"  list PATH              a package's header and entries, or a folder's catalogue\n"
    L"  verify PATH...         check headers, decode every entry without writing,\n"
    L"                         check the size index\n"
    L"  extract PACKAGE DEST [--jobs N] [--update]\n"
    L"                         unpack a package into DEST, N files at once; --update\n"
    L"                         leaves files of their entry's size and modified time\n"
    L"  index PACKAGE...       append a size index to packages that lack one\n"
    L"\n"
    L"--trace shows the package code's trace lines. Each command takes --help.\n"
    L"Exit status: 0 success, 1 invalid or damaged package or file error, 2 usage error.";

}  // namespace

int main(int argc, char** argv) {
  platform::LoadDllsFromSystemFolderOnly();
  platform::UseUtf8Console();
  nwq::Arguments arguments = platform::CommandLineArguments(argc, argv);
  if (!arguments.empty()) arguments.erase(arguments.begin());
  package::trace::SetEnabled(false);
  if (!arguments.empty() && arguments.front() == L"--trace") {
    package::trace::SetEnabled(true);
    arguments.erase(arguments.begin());
  }
  if (arguments.empty() || arguments.front() == L"--help" || arguments.front() == L"-h") {
    nwq::Print(kUsage);
    return arguments.empty() ? nwq::kExitUsage : nwq::kExitOk;
  }
  const std::wstring command = arguments.front();
  arguments.erase(arguments.begin());
  int status = nwq::kExitUsage;
  if (command == L"create")
    status = nwq::Create(arguments);
  else if (command == L"list")
    status = nwq::List(arguments);
  else if (command == L"verify")
    status = nwq::Verify(arguments);
  else if (command == L"extract")
    status = nwq::Extract(arguments);
  else if (command == L"index")
    status = nwq::Index(arguments);
  else
    nwq::PrintError(L"unknown command '" + command + L"' (see nwq --help)");
  std::fflush(stdout);
  return status;
}
