#pragma once
// Win32ProcessRunner moves a folder with robocopy ("/move /e"), started directly
// with CreateProcessW (no command interpreter, so nothing in a path is expanded)
// and waited for. When robocopy is missing, reports a failure (exit code 8 or
// more) or leaves items at the source, the portable move finishes the job.
#include <string>

#include "platform/file_system.h"
#include "platform/process_runner.h"
#include "platform/tree_move.h"

namespace kq {

class Win32ProcessRunner : public ProcessRunner {
 public:
  explicit Win32ProcessRunner(FileSystem& fs) : fs_(fs), portable_(fs) {}
  MoveResult moveTree(const std::string& source, const std::string& destination) override;

  // robocopyArguments is the command line robocopy is started with.
  static std::string robocopyArguments(const std::string& source, const std::string& destination);

 private:
  // runRobocopy returns robocopy's exit code, or -1 when it cannot be started.
  int runRobocopy(const std::string& source, const std::string& destination);

  FileSystem& fs_;
  PortableTreeMove portable_;
};

}  // namespace kq
