#pragma once
// The command-line reading shared by kqfilesync, zrservice and kqsyncd: long
// options ("--name VALUE", "--name=VALUE", flags "--name"), short aliases
// ("-h"), positional words, "--" to end the options, and the value checks
// whose messages name the option and the reason ("--cycle: not a number: abc").
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace kq::cli {

// The exit codes the programs share: a command line that cannot be run, and a
// configuration that cannot be used.
inline constexpr int kExitUsage = 2;
inline constexpr int kExitConfig = 78;

// UsageError is a command line that cannot be run: the program prints its
// message and its usage on the standard error and exits with kExitUsage.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Option {
  std::string name;         // without the leading "--"
  bool takesValue = false;  // false: a flag
  char shortName = 0;       // "-x" alias, 0 for none
};

struct ParsedArgs {
  std::map<std::string, std::string> values;  // options with a value; the last one given wins
  std::set<std::string> flags;
  std::vector<std::string> words;  // positional arguments, in order

  bool has(const std::string& name) const { return flags.count(name) || values.count(name); }
  std::optional<std::string> value(const std::string& name) const;
};

// parseArgs reads args (without the program name) against options. It throws
// UsageError for an unknown option, a missing value, or a value given to a flag.
// With anyLongOptionTakesValue, a long option not in options is read as one
// taking a value (the caller checks the names per command).
ParsedArgs parseArgs(const std::vector<std::string>& args, const std::vector<Option>& options,
                     bool anyLongOptionTakesValue = false);

// requireWordCount throws UsageError for words beyond max ("unexpected argument: X").
void requireWordCount(const ParsedArgs& parsed, std::size_t max);

// parseNumber reads a decimal number (digits with an optional fraction) in
// [min, max]; parseCount reads a whole number in [min, max]. Both throw
// UsageError "--option: not a number: text" or "--option: out of range (min..max): text".
double parseNumber(const std::string& option, const std::string& text, double min, double max);
long long parseCount(const std::string& option, const std::string& text, long long min, long long max);

// versionText is "PROGRAM VERSION (build BUILD)" with the product version and
// the build's source revision and date.
std::string versionText(const std::string& program);

}  // namespace kq::cli
