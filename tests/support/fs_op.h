#pragma once
// FsOp names the file-system operations that the test file systems can fail.
namespace kq::test {

enum class FsOp {
  Status, CreateFolders, Remove, RemoveAll, Rename, SetAttributes, Attributes,
  OpenRead, OpenAppend, OpenWrite, Write, WriteFull, Walk, Sync
};

}  // namespace kq::test
