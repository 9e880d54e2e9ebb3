#pragma once
// makeTreeMoveRunner gives the client's folder-move port on POSIX: the
// portable move over the FileSystem port (there is no robocopy).
#include <memory>

#include "platform/file_system.h"
#include "platform/process_runner.h"

namespace kq {

std::unique_ptr<ProcessRunner> makeTreeMoveRunner(FileSystem& fs);

}  // namespace kq
