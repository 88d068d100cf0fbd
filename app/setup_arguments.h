// The setup's own reading of its command line as the system hands it over.
#pragma once

#include <string>
#include <vector>

namespace app {

// Splits the whole command line into the arguments after the program: white
// space separates them outside quotes, a quote opens or closes a quoted part
// and is dropped, and a backslash is always itself. The system's own rules
// take `\"` for a literal quote, so `/dir="D:\Maps\" /log="C:\my logs\x.log"`
// would come apart wrongly; no path holds a quote, so nothing is lost.
std::vector<std::wstring> SplitSetupCommandLine(const std::wstring& commandLine);

}  // namespace app
