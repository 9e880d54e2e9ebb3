#pragma once
// DiskStoreFiles is StoreFiles on the disk: store files through the contract's
// Store, the client's log beside clientLogPath.
#include "store_files.h"

namespace kqs {

class DiskStoreFiles : public StoreFiles {
 public:
  DiskStoreFiles(Store& store, std::string clientLogPath)
      : store_(store), clientLogPath_(std::move(clientLogPath)) {}

  std::unique_ptr<PushSource> openForPush(const std::string& path, std::string& why) override;
  std::unique_ptr<StoreIncoming> beginIncoming() override { return store_.beginIncoming(); }
  AcceptResult accept(const std::string& path, StoreIncoming& file, FetchMode mode, std::int64_t clientMtime,
                      std::int64_t now) override {
    return store_.accept(path, file, mode, clientMtime, now);
  }
  std::unique_ptr<ClientLogUpload> beginClientLog() override;

 private:
  Store& store_;
  std::string clientLogPath_;
};

}  // namespace kqs
