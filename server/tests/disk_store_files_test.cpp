#include "disk_store_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_files.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

using test::readFile;
using test::writeFile;

class DiskStoreFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::scratchFolder("kqsyncd-files");
    fs::create_directories(dir_ / "store" / ".kqsyncd.tmp");
    store_ = std::make_unique<Store>((dir_ / "store").string(), (dir_ / "index.sqlite").string(),
                                     [](const std::string&) {}, (dir_ / "versions").string());
    files_ = std::make_unique<DiskStoreFiles>(*store_, (dir_ / "logs" / "Filesync.log").string());
  }
  void TearDown() override {
    files_.reset();
    store_.reset();
    fs::remove_all(dir_);
  }
  static std::string readAll(PushSource& source, std::size_t chunk) {
    std::string out, buffer(chunk, '\0');
    while (auto n = source.read(buffer.data(), buffer.size())) out.append(buffer.data(), n);
    return out;
  }
  std::vector<std::string> logFolder() {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(dir_ / "logs")) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<DiskStoreFiles> files_;
};

TEST_F(DiskStoreFilesTest, APushReadsTheVersionItOpenedWhateverReplacesItMeanwhile) {
  writeFile(dir_ / "store" / "a.txt", "first version");
  std::string why;
  auto source = files_->openForPush("/a.txt", why);
  ASSERT_TRUE(source) << why;
  EXPECT_EQ(source->size(), 13u);
  writeFile(dir_ / "store" / "new.txt", "a newer one, longer");
  fs::rename(dir_ / "store" / "new.txt", dir_ / "store" / "a.txt");  // as the store installs a file
  EXPECT_EQ(readAll(*source, 4), "first version");
  EXPECT_EQ(source->read(nullptr, 0), 0u);
}

TEST_F(DiskStoreFilesTest, APushOfAMissingFileSaysWhy) {
  std::string why;
  EXPECT_FALSE(files_->openForPush("/gone.txt", why));
  EXPECT_EQ(why, "No such file or directory");
}

TEST_F(DiskStoreFilesTest, TheClientLogReplacesTheKeptOneOnlyWhenKept) {
  writeFile(dir_ / "logs" / "Filesync.log", "older log");
  {
    auto upload = files_->beginClientLog();
    EXPECT_TRUE(upload->write("new "));
    EXPECT_TRUE(upload->write("log"));
    EXPECT_EQ(upload->size(), 7);
    EXPECT_EQ(readFile(dir_ / "logs" / "Filesync.log"), "older log");  // not yet
    EXPECT_EQ(logFolder().size(), 2u);                                  // the temporary file beside it
  }  // dropped: an upload cut off or over the limit
  EXPECT_EQ(logFolder(), std::vector<std::string>{"Filesync.log"});
  EXPECT_EQ(readFile(dir_ / "logs" / "Filesync.log"), "older log");
  auto upload = files_->beginClientLog();
  EXPECT_TRUE(upload->write("new log"));
  upload->keep();
  EXPECT_EQ(upload->target(), (dir_ / "logs" / "Filesync.log").string());
  upload.reset();
  EXPECT_EQ(logFolder(), std::vector<std::string>{"Filesync.log"});
  EXPECT_EQ(readFile(dir_ / "logs" / "Filesync.log"), "new log");
}

TEST_F(DiskStoreFilesTest, AClientLogThatCannotTakeThePlaceOfTheKeptOneIsReportedAndRemoved) {
  fs::create_directories(dir_ / "logs" / "Filesync.log" / "in the way");  // a folder where the log goes
  auto upload = files_->beginClientLog();
  EXPECT_TRUE(upload->write("log"));
  EXPECT_THROW(upload->keep(), std::runtime_error);
  upload.reset();
  EXPECT_EQ(logFolder(), std::vector<std::string>{"Filesync.log"});
  EXPECT_TRUE(fs::is_directory(dir_ / "logs" / "Filesync.log"));
}

}  // namespace
}  // namespace kqs
