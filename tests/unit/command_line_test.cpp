#include "platform/command_line.h"

#include <gtest/gtest.h>

namespace kq {
namespace {

TEST(QuoteArgument, FollowsTheCRuntimeSplittingRules) {
  struct Case {
    std::string argument;
    std::string quoted;
  };
  const Case cases[] = {
      {R"(C:\Sync\docs)", R"("C:\Sync\docs")"},
      {R"(C:\My Sync\docs)", R"("C:\My Sync\docs")"},
      {"", R"("")"},
      {R"(C:\)", R"("C:\\")"},                      // a trailing backslash before the closing quote
      {R"(C:\a\\)", R"("C:\a\\\\")"},
      {R"(say "hi")", R"("say \"hi\"")"},
      {R"(a\"b)", R"("a\\\"b")"},                  // backslashes before a quote doubled
      {R"(a\\"b)", R"("a\\\\\"b")"},
      {R"(\\server\share)", R"("\\server\share")"},  // backslashes elsewhere stay single
      {"100%PATH%", "\"100%PATH%\""},              // no interpreter: nothing is expanded
      {"tab\there", "\"tab\there\""},
  };
  for (const auto& c : cases) EXPECT_EQ(quoteArgument(c.argument), c.quoted) << c.argument;
}

TEST(BuildCommandLine, QuotesEveryArgument) {
  EXPECT_EQ(buildCommandLine("robocopy", {"/move", "/e", R"(C:\S\old)", R"(C:\S\new)"}),
            R"(robocopy "/move" "/e" "C:\S\old" "C:\S\new")");
}

}  // namespace
}  // namespace kq
