#pragma once
// FaultyFileSystem wraps any FileSystem and makes chosen operations fail for
// paths containing a given text: "the file is locked", "the folder cannot be
// created", "the rename fails". Everything else goes to the wrapped one. Every
// call is recorded as "operation path" (rename: "rename from -> to").
//
//   test::NativeFs disk;
//   test::FaultyFileSystem fs(disk.fs());
//   fs.failOpenAppend("report.pdf");      // appending to ...report.pdf fails
//   fs.failRename("");                    // every rename fails
//   fs.failWrites("big.bin");             // opening works, writing fails (disk full)
#include <map>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/fs_op.h"

namespace kq::test {

class FaultyFileSystem : public FileSystem {
 public:
  explicit FaultyFileSystem(FileSystem& inner) : inner_(inner) {}

  // fail makes op fail for every path containing pathPart ("" matches all).
  void fail(FsOp op, std::string pathPart) { rules_.emplace(op, std::move(pathPart)); }
  void failStatus(std::string part) { fail(FsOp::Status, std::move(part)); }
  void failCreateFolders(std::string part) { fail(FsOp::CreateFolders, std::move(part)); }
  void failRemove(std::string part) { fail(FsOp::Remove, std::move(part)); }
  void failRemoveAll(std::string part) { fail(FsOp::RemoveAll, std::move(part)); }
  void failRename(std::string part) { fail(FsOp::Rename, std::move(part)); }  // matches from or to
  void failSetAttributes(std::string part) { fail(FsOp::SetAttributes, std::move(part)); }
  void failOpenRead(std::string part) { fail(FsOp::OpenRead, std::move(part)); }
  void failOpenAppend(std::string part) { fail(FsOp::OpenAppend, std::move(part)); }
  void failOpenWrite(std::string part) { fail(FsOp::OpenWrite, std::move(part)); }
  void failWrites(std::string part) { fail(FsOp::Write, std::move(part)); }  // open works, write fails
  void fillDisk(std::string part) { fail(FsOp::WriteFull, std::move(part)); }  // writes fail: the disk is full
  void failSyncs(std::string part) { fail(FsOp::Sync, std::move(part)); }    // writing works, sync fails
  void failWalk(std::string part) { fail(FsOp::Walk, std::move(part)); }
  // heal drops every failure rule.
  void heal() { rules_.clear(); }
  // callCount counts the recorded calls starting with prefix ("rename", "openAppend C:\\x").
  int callCount(const std::string& prefix) const {
    int n = 0;
    for (auto& c : calls) n += c.rfind(prefix, 0) == 0;
    return n;
  }

  void guardFolder(const std::string& folder) override { inner_.guardFolder(folder); }
  FileStatus status(const std::string& p) override {
    return fails(FsOp::Status, "status", p) ? FileStatus{} : inner_.status(p);
  }
  bool createFolders(const std::string& p) override {
    return !fails(FsOp::CreateFolders, "createFolders", p) && inner_.createFolders(p);
  }
  bool remove(const std::string& p) override { return !fails(FsOp::Remove, "remove", p) && inner_.remove(p); }
  bool removeAll(const std::string& p) override {
    return !fails(FsOp::RemoveAll, "removeAll", p) && inner_.removeAll(p);
  }
  bool rename(const std::string& from, const std::string& to) override {
    calls.push_back("rename " + from + " -> " + to);
    return !matches(FsOp::Rename, from) && !matches(FsOp::Rename, to) && inner_.rename(from, to);
  }
  bool setAttributes(const std::string& p, bool hidden, bool system) override {
    return !fails(FsOp::SetAttributes, "setAttributes", p) && inner_.setAttributes(p, hidden, system);
  }
  std::pair<bool, bool> attributes(const std::string& p) override {
    return fails(FsOp::Attributes, "attributes", p) ? std::pair(false, false) : inner_.attributes(p);
  }
  std::unique_ptr<InputStream> openRead(const std::string& p) override {
    return fails(FsOp::OpenRead, "openRead", p) ? nullptr : inner_.openRead(p);
  }
  std::unique_ptr<OutputStream> openAppend(const std::string& p) override {
    return wrapWrites(p, fails(FsOp::OpenAppend, "openAppend", p) ? nullptr : inner_.openAppend(p));
  }
  std::unique_ptr<OutputStream> openWrite(const std::string& p) override {
    return wrapWrites(p, fails(FsOp::OpenWrite, "openWrite", p) ? nullptr : inner_.openWrite(p));
  }
  bool walk(const std::string& folder, const std::function<bool(const WalkEntry&)>& visit) override {
    return !fails(FsOp::Walk, "walk", folder) && inner_.walk(folder, visit);
  }

  std::vector<std::string> calls;

 private:
  // FailingStream takes no bytes, as a full disk would (refuseWrites), or
  // cannot get them onto the disk (refuseSync).
  class FailingStream : public OutputStream {
   public:
    FailingStream(std::unique_ptr<OutputStream> inner, bool refuseWrites, bool refuseSync, bool full = false)
        : inner_(std::move(inner)), refuseWrites_(refuseWrites || full), refuseSync_(refuseSync), full_(full) {}
    bool write(const char* data, std::size_t size) override {
      return !refuseWrites_ && inner_->write(data, size);
    }
    bool outOfSpace() const override { return full_; }
    bool close() override { return inner_->close(); }
    bool sync() override { return !refuseSync_ && inner_->sync(); }

   private:
    std::unique_ptr<OutputStream> inner_;
    bool refuseWrites_, refuseSync_, full_;
  };

  bool matches(FsOp op, const std::string& path) const {
    auto [first, last] = rules_.equal_range(op);
    for (auto it = first; it != last; ++it)
      if (path.find(it->second) != std::string::npos) return true;
    return false;
  }
  bool fails(FsOp op, const char* name, const std::string& path) {
    calls.push_back(std::string(name) + " " + path);
    return matches(op, path);
  }
  std::unique_ptr<OutputStream> wrapWrites(const std::string& path, std::unique_ptr<OutputStream> out) {
    bool writes = matches(FsOp::Write, path), syncs = matches(FsOp::Sync, path), full = matches(FsOp::WriteFull, path);
    if (out && (writes || syncs || full)) return std::make_unique<FailingStream>(std::move(out), writes, syncs, full);
    return out;
  }

  FileSystem& inner_;
  std::multimap<FsOp, std::string> rules_;
};

}  // namespace kq::test
