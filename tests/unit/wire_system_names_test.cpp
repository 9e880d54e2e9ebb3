#include "wire/system_names.h"

#include <gtest/gtest.h>

namespace kq {
namespace {

TEST(SystemNames, TheClientsOwnFoldersInEitherSeparator) {
  struct Case { const char* relative; char separator; bool system; } cases[] = {
      {"_log", '/', true},          {"_config/Filesync.ini", '/', true}, {"_trash/a/b", '/', true},
      {"_log/", '/', true},         {"_logs/a", '/', false},             {"docs/_log", '/', false},
      {"_config\\KnownFiles.dat", '\\', true}, {"_trash", '\\', true},  {"_config/x", '\\', false},
      {"_configs\\x", '\\', false}, {"", '/', false},                    {"_Log", '/', false},
  };
  for (const auto& c : cases) EXPECT_EQ(isInSystemFolder(c.relative, c.separator), c.system) << c.relative;
}

TEST(SystemNames, DefaultExclusionsAnywhereInThePath) {
  struct Case { const char* path; bool excluded; } cases[] = {
      {"/a.tmp", true}, {"/A.TMP", true}, {"/~$budget.xlsx", true}, {"/x.tmp/y", true},
      {"/report.Tmp", false}, {"/tmp/a", false}, {"/a.txt", false},
  };
  for (const auto& c : cases) EXPECT_EQ(hasDefaultExclusion(c.path), c.excluded) << c.path;
}

}  // namespace
}  // namespace kq
