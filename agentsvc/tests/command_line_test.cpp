// The program's command line: option words after "-" or "/", exact matching,
// the install description.
#include <gtest/gtest.h>

#include "command_line.h"

namespace tgx::agent {
namespace {

TEST(CommandLine, OptionWords) {
  EXPECT_EQ(ParseCommandLine("-remove").option, Option::kRemove);
  EXPECT_EQ(ParseCommandLine("/debug").option, Option::kDebug);
  EXPECT_EQ(ParseCommandLine("-stop").option, Option::kStop);
  EXPECT_EQ(ParseCommandLine("xyz/start").option, Option::kStart);
  EXPECT_EQ(ParseCommandLine("-install").option, Option::kInstall);
  EXPECT_EQ(ParseCommandLine("-installer").option, Option::kInstall);
  // Exact and case-sensitive: these run the service.
  for (const char* text : {"-stop ", "-Stop", "-", "/", "", "stop", "-remove x", "-unknown"}) {
    EXPECT_EQ(ParseCommandLine(text).option, Option::kNone) << '"' << text << '"';
  }
}

TEST(CommandLine, InstallDescription) {
  EXPECT_EQ(ParseCommandLine("-install").description, "");
  EXPECT_EQ(ParseCommandLine("-install \"Printer agent\"").description, "Printer agent");
  EXPECT_EQ(ParseCommandLine("-install \"a\" \"b\"").description, "a");
  EXPECT_EQ(ParseCommandLine("-install \"open ended").description, "open ended");
  const std::string longer(3000, 'x');
  EXPECT_EQ(ParseCommandLine("-install \"" + longer + "\"").description.size(), 1023u);
}

TEST(CommandLine, TextFromArguments) {
  const char* argv[] = {"agentsvc", "-install", "Printer agent", "x"};
  EXPECT_EQ(CommandLineText(4, argv), "-install \"Printer agent\" \"x\"");
  EXPECT_EQ(CommandLineText(1, argv), "");
  const char* trailing[] = {"agentsvc", "-stop "};
  EXPECT_EQ(ParseCommandLine(CommandLineText(2, trailing)).option, Option::kNone);
}

}  // namespace
}  // namespace tgx::agent
