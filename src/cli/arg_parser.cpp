#include "cli/arg_parser.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cli/build_info.h"
#include "log/log_format.h"

namespace kq::cli {

namespace {

const Option* findLong(const std::vector<Option>& options, const std::string& name) {
  for (const auto& o : options)
    if (o.name == name) return &o;
  return nullptr;
}

const Option* findShort(const std::vector<Option>& options, char name) {
  for (const auto& o : options)
    if (o.shortName != 0 && o.shortName == name) return &o;
  return nullptr;
}

std::string formatNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// isDecimal: digits with an optional fraction ("12", "0.5", ".5"); no sign, no exponent.
bool isDecimal(const std::string& text) {
  auto digitsOnly = [](const std::string& s) { return s.find_first_not_of("0123456789") == std::string::npos; };
  auto dot = text.find('.');
  std::string whole = text.substr(0, dot);
  std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
  if (dot != std::string::npos && fraction.empty()) return false;
  return !(whole.empty() && fraction.empty()) && digitsOnly(whole) && digitsOnly(fraction);
}

}  // namespace

std::optional<std::string> ParsedArgs::value(const std::string& name) const {
  auto it = values.find(name);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

ParsedArgs parseArgs(const std::vector<std::string>& args, const std::vector<Option>& options,
                     bool anyLongOptionTakesValue) {
  ParsedArgs parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed.words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name;
    std::optional<std::string> inlineValue;
    Option unknownValued;
    const Option* option = nullptr;
    if (arg[1] == '-') {
      name = arg.substr(2);
      auto eq = name.find('=');
      if (eq != std::string::npos) {
        inlineValue = name.substr(eq + 1);
        name = name.substr(0, eq);
      }
      option = findLong(options, name);
      if (!option && anyLongOptionTakesValue && !name.empty()) {
        unknownValued = {name, true, 0};
        option = &unknownValued;
      }
    } else if (arg.size() == 2) {
      option = findShort(options, arg[1]);
    }
    if (!option) throw UsageError("unknown option " + (arg[1] == '-' ? "--" + name : arg));
    if (!option->takesValue) {
      if (inlineValue) throw UsageError("--" + option->name + " takes no value");
      parsed.flags.insert(option->name);
    } else if (inlineValue) {
      parsed.values[option->name] = *inlineValue;
    } else if (i + 1 < args.size()) {
      parsed.values[option->name] = args[++i];
    } else {
      throw UsageError("--" + option->name + " needs a value");
    }
  }
  return parsed;
}

void requireWordCount(const ParsedArgs& parsed, std::size_t max) {
  if (parsed.words.size() > max) throw UsageError("unexpected argument: " + parsed.words[max]);
}

double parseNumber(const std::string& option, const std::string& text, double min, double max) {
  if (!isDecimal(text)) throw UsageError("--" + option + ": not a number: " + text);
  double value = std::strtod(text.c_str(), nullptr);
  if (!std::isfinite(value) || value < min || value > max)
    throw UsageError("--" + option + ": out of range (" + formatNumber(min) + ".." + formatNumber(max) +
                     "): " + text);
  return value;
}

long long parseCount(const std::string& option, const std::string& text, long long min, long long max) {
  long long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  bool allDigits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  if (!allDigits) throw UsageError("--" + option + ": not a number: " + text);
  if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max)
    throw UsageError("--" + option + ": out of range (" + std::to_string(min) + ".." + std::to_string(max) +
                     "): " + text);
  return value;
}

std::string versionText(const std::string& program) {
  return program + " " + kProductVersion + " (build " + kBuildRevision + ", " + kBuildDate + ")";
}

}  // namespace kq::cli
