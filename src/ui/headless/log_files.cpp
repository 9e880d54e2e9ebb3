#include "ui/headless/log_files.h"

#include "platform/posix/native_text.h"

namespace kq {

namespace {

// NativeLines converts each write, which the log makes of whole lines.
class NativeLines : public OutputStream {
 public:
  explicit NativeLines(std::unique_ptr<OutputStream> file) : file_(std::move(file)) {}
  bool write(const char* data, std::size_t size) override {
    std::string text = nativeText(std::string_view(data, size));
    return file_->write(text.data(), text.size());
  }
  bool close() override { return file_->close(); }
  bool sync() override { return file_->sync(); }

 private:
  std::unique_ptr<OutputStream> file_;
};

}  // namespace

std::unique_ptr<OutputStream> LogFiles::openAppend(const std::string& path) {
  auto file = PrivateFileSystem::openAppend(path);
  if (!file) return file;
  return std::make_unique<NativeLines>(std::move(file));
}

}  // namespace kq
