// How the setup splits the command line a distribution tool gives it.
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/setup_arguments.h"

namespace app {

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

TEST(SetupArguments, ADestinationHasOneSeparatorBetweenItsPartsHoweverTheLineWasQuoted) {
  // `C:\Maps Test\` as the standard quoting rules write it: the closing
  // backslash doubled before the quote.
  const ParsedCommandLine quoted =
      ParseCommandLine(SplitSetupCommandLine(LR"(Tessavo.exe "/dir=C:\Maps Test\\" /quiet)"));
  ASSERT_TRUE(quoted.valid());
  EXPECT_EQ(quoted.options.destination, LR"(C:\Maps Test\)");
  EXPECT_EQ(quoted.options.mode, SetupMode::kQuiet);

  const std::vector<std::pair<std::wstring, std::wstring>> spellings = {
      {LR"(/dir=C:\\Maps\\\)", LR"(C:\Maps\)"},
      {LR"(/dir=C:\\)", LR"(C:\)"},
      {L"/dir=c://maps//nord", LR"(c:\maps\nord\)"},
      // A share keeps the two backslashes it starts with.
      {LR"(/dir=\\server\share\\maps\\)", LR"(\\server\share\maps\)"},
      {L"/dir=//server/share//", LR"(\\server\share\)"},
  };
  for (const auto& [argument, destination] : spellings) {
    const ParsedCommandLine parsed = ParseCommandLine({argument});
    ASSERT_TRUE(parsed.valid()) << argument;
    EXPECT_EQ(parsed.options.destination, destination) << argument;
  }
}

}  // namespace app
