#include "cli/arg_parser.h"

#include <gtest/gtest.h>

namespace kq::cli {
namespace {

const std::vector<Option> kOptions = {{"cycle", true}, {"json", false}, {"help", false, 'h'}};

TEST(ArgParserTest, ReadsValuesFlagsAndWords) {
  auto parsed = parseArgs({"serve", "--cycle", "2", "--json", "-h", "--cycle=3", "--", "--json"}, kOptions);
  EXPECT_EQ(parsed.value("cycle"), "3");
  EXPECT_TRUE(parsed.has("json"));
  EXPECT_TRUE(parsed.has("help"));
  EXPECT_EQ(parsed.words, (std::vector<std::string>{"serve", "--json"}));
}

TEST(ArgParserTest, RefusesWhatCannotBeRunWithTheReason) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"-x"}, "unknown option -x"},
      {{"--cycle"}, "--cycle needs a value"},
      {{"--json=1"}, "--json takes no value"},
  };
  for (const auto& [args, message] : cases) {
    try {
      parseArgs(args, kOptions);
      ADD_FAILURE() << message;
    } catch (const UsageError& e) {
      EXPECT_EQ(e.what(), message);
    }
  }
  ParsedArgs two;
  two.words = {"a", "b"};
  EXPECT_NO_THROW(requireWordCount(two, 2));
  EXPECT_THROW(requireWordCount(two, 1), UsageError);
}

TEST(ArgParserTest, AnyLongOptionCanTakeAValueForCommandsThatCheckNames) {
  auto parsed = parseArgs({"--store", "x", "--help"}, kOptions, true);
  EXPECT_EQ(parsed.value("store"), "x");
  EXPECT_THROW(parseArgs({"--store"}, kOptions, true), UsageError);
}

TEST(ArgParserTest, NumbersAreCheckedWithTheReason) {
  EXPECT_DOUBLE_EQ(parseNumber("cycle", "0.5", 0.2, 10), 0.5);
  EXPECT_DOUBLE_EQ(parseNumber("cycle", ".5", 0.2, 10), 0.5);
  EXPECT_EQ(parseCount("n", "42", 1, 100), 42);
  const std::pair<std::string, std::string> bad[] = {
      {"abc", "--cycle: not a number: abc"},  {"", "--cycle: not a number: "},
      {"1e3", "--cycle: not a number: 1e3"},  {"-1", "--cycle: not a number: -1"},
      {"1.", "--cycle: not a number: 1."},    {"1.2.3", "--cycle: not a number: 1.2.3"},
      {"0.1", "--cycle: out of range (0.2..10): 0.1"}, {"11", "--cycle: out of range (0.2..10): 11"},
  };
  for (const auto& [text, message] : bad) {
    try {
      parseNumber("cycle", text, 0.2, 10);
      ADD_FAILURE() << text;
    } catch (const UsageError& e) {
      EXPECT_EQ(e.what(), message);
    }
  }
  EXPECT_THROW(parseCount("n", "99999999999999999999", 1, 100), UsageError);
  EXPECT_THROW(parseCount("n", "4x", 1, 100), UsageError);
}

}  // namespace
}  // namespace kq::cli
