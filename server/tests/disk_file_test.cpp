#include "disk_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "sha256.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

using test::readFile;
using test::writeFile;

class DiskFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::scratchFolder("kqsyncd-disk-file");
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  static std::string digest(const std::string& data) {
    Sha256 sha;
    sha.update(data);
    return sha.hexDigest();
  }
  fs::path dir_;
};

// Sizes around the read chunk of 1 MiB: the hash is computed over every byte
// read, once, whatever the number of reads.
TEST_F(DiskFileTest, TheHashOfAFileAndOfItsDurableCopyAreOfEveryByteRead) {
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{1} << 20, (std::size_t{5} << 19) + 7}) {
    SCOPED_TRACE(size);
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 4099) & 0xff);
    writeFile(dir_ / "from", data);
    EXPECT_EQ(hashOfFile((dir_ / "from").string()), digest(data));
    fs::remove(dir_ / "to");
    EXPECT_EQ(copyDurably((dir_ / "from").string(), (dir_ / "to").string()), digest(data));
    EXPECT_EQ(readFile(dir_ / "to"), data);
  }
}

TEST_F(DiskFileTest, ACopyThatCannotBeMadeSaysWhyAndLeavesWhatWasThere) {
  writeFile(dir_ / "from", "content");
  writeFile(dir_ / "to", "already here");
  try {
    copyDurably((dir_ / "from").string(), (dir_ / "to").string());
    FAIL() << "an existing target was overwritten";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("cannot create " + (dir_ / "to").string() + ": ", 0), 0u) << e.what();
  }
  EXPECT_EQ(readFile(dir_ / "to"), "already here");
  EXPECT_THROW(copyDurably((dir_ / "missing").string(), (dir_ / "new").string()), std::runtime_error);
  EXPECT_FALSE(fs::exists(dir_ / "new"));
  EXPECT_EQ(hashOfFile((dir_ / "missing").string()), std::nullopt);
}

}  // namespace
}  // namespace kqs
