#pragma once
// Small file helpers shared by the server's tests: whole-file reads and writes,
// and a fresh scratch folder per test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace kqs::test {

inline std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::filesystem::path& p, const std::string& data) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << data;
}

// scratchFolder is an empty folder under the system's temporary folder, named
// for prefix, this process and the running test.
inline std::filesystem::path scratchFolder(const std::string& prefix) {
  auto dir = std::filesystem::temp_directory_path() /
             (prefix + "-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(dir);
  return dir;
}

}  // namespace kqs::test
