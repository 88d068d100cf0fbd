// How the setup splits the command line a distribution tool gives it.
#include <gtest/gtest.h>

#include "app/setup_arguments.h"

namespace {
using Arguments = std::vector<std::wstring>;
}  // namespace

TEST(SetupArguments, AQuotedPathEndingInABackslashDoesNotSwallowTheRestOfTheLine) {
  // The system's rules would read `\"` as a literal quote and run /dir on
  // into /log, then split the log's path at its space.
  EXPECT_EQ(SplitSetupCommandLine(LR"(Tessavo.exe /quiet /dir="D:\Maps\" /log="C:\my logs\maps.log")"),
            (Arguments{L"/quiet", LR"(/dir=D:\Maps\)", LR"(/log=C:\my logs\maps.log)"}));
  EXPECT_EQ(SplitSetupCommandLine(LR"(Tessavo.exe /dir="\\server\share\Digital Maps\")"),
            (Arguments{LR"(/dir=\\server\share\Digital Maps\)"}));
  EXPECT_EQ(SplitSetupCommandLine(LR"(Tessavo.exe "/dir=D:\My Maps\"	-passive)"),
            (Arguments{LR"(/dir=D:\My Maps\)", L"-passive"}));
}

TEST(SetupArguments, TheProgramIsLeftOutHoweverItIsWritten) {
  for (const std::wstring line : {L"Tessavo.exe", L"  \"D:\\Setup Medium\\Tessavo.exe\"  ", L"D:\\Tessavo.exe\t"}) {
    EXPECT_EQ(SplitSetupCommandLine(line), Arguments{}) << line;
    EXPECT_EQ(SplitSetupCommandLine(line + L" /quiet"), Arguments{L"/quiet"}) << line;
  }
  EXPECT_EQ(SplitSetupCommandLine(L""), Arguments{});
  // A program in quotes may hold blanks and slashes that look like switches.
  EXPECT_EQ(SplitSetupCommandLine(LR"("D:\x /quiet\Tessavo.exe" /passive)"), Arguments{L"/passive"});
}

TEST(SetupArguments, BlanksQuotesAndEmptyValues) {
  EXPECT_EQ(SplitSetupCommandLine(L"t.exe   /quiet \t  /packages=\"A,B\"   "),
            (Arguments{L"/quiet", L"/packages=A,B"}));
  // An empty quoted value is still an argument: the parser says it is malformed.
  EXPECT_EQ(SplitSetupCommandLine(L"t.exe /dir=\"\" \"\""), (Arguments{L"/dir=", L""}));
  // A quote left open runs to the end of the line.
  EXPECT_EQ(SplitSetupCommandLine(L"t.exe /dir=\"D:\\My Maps"), (Arguments{L"/dir=D:\\My Maps"}));
}
