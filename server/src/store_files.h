#pragma once
// StoreFiles is the session's port to the files a transfer reads or writes:
// a store file opened for a push, a fetched file on its way into the store,
// and the client's log. DiskStoreFiles is the real one; a test hands in
// exact bytes and failures.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "store.h"

namespace kqs {

// PushSource is a store file opened for a push: it reads the bytes of the
// version that was opened, whatever replaces the file later.
class PushSource {
 public:
  virtual ~PushSource() = default;
  virtual std::uint64_t size() const = 0;
  // read fills up to n bytes; 0 at the end of the file or when it cannot be read.
  virtual std::size_t read(char* into, std::size_t n) = 0;
};

// ClientLogUpload is the client's log as it arrives: a temporary file beside
// the kept log, which replaces it only when every byte was written and flushed.
// The temporary file is removed unless it was kept.
class ClientLogUpload {
 public:
  virtual ~ClientLogUpload() = default;
  // write appends data; false when the disk refuses it.
  [[nodiscard]] virtual bool write(std::string_view data) = 0;
  virtual std::int64_t size() const = 0;
  // keep flushes the file and puts it in place of the kept log; throws when it cannot.
  virtual void keep() = 0;
  // path is the temporary file's, target the kept log's.
  virtual const std::string& path() const = 0;
  virtual const std::string& target() const = 0;
};

class StoreFiles {
 public:
  virtual ~StoreFiles() = default;
  // openForPush opens a store file for a push; nullptr and why when it cannot
  // be opened or measured. Called under the contract's lock.
  virtual std::unique_ptr<PushSource> openForPush(const std::string& path, std::string& why) = 0;
  // beginIncoming starts a fetched file in the store's temporary folder.
  virtual std::unique_ptr<StoreIncoming> beginIncoming() = 0;
  // accept takes a fetched file into the store (under the contract's lock).
  virtual AcceptResult accept(const std::string& path, StoreIncoming& file, FetchMode mode, std::int64_t clientMtime,
                              std::int64_t now) = 0;
  // beginClientLog starts an upload of the client's log; throws when its temporary file cannot be made.
  virtual std::unique_ptr<ClientLogUpload> beginClientLog() = 0;
};

}  // namespace kqs
