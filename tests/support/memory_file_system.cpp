#include "support/memory_file_system.h"

#include <algorithm>
#include <cstring>

namespace kq::test {

namespace {

bool isBelowOrSame(const std::string& key, const std::string& top) {
  if (top.empty() || key == top) return true;
  return key.size() > top.size() && key.compare(0, top.size(), top) == 0 && key[top.size()] == '\\';
}

std::string parentKey(const std::string& key) {
  auto cut = key.rfind('\\');
  return cut == std::string::npos ? std::string() : key.substr(0, cut);
}

std::string lastName(const std::string& key) {
  auto cut = key.rfind('\\');
  return cut == std::string::npos ? key : key.substr(cut + 1);
}

class MemoryInput : public InputStream {
 public:
  explicit MemoryInput(std::string data) : data_(std::move(data)) {}
  std::int64_t read(char* buffer, std::size_t size) override {
    std::size_t n = std::min(size, data_.size() - pos_);
    if (n > 0) std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return static_cast<std::int64_t>(n);
  }

 private:
  std::string data_;
  std::size_t pos_ = 0;
};

}  // namespace

// MemoryOutput writes through to the node on every write, like an unbuffered handle.
class MemoryOutput : public OutputStream {
 public:
  MemoryOutput(MemoryFileSystem& fs, std::string key) : fs_(fs), key_(std::move(key)) {}
  bool write(const char* data, std::size_t size) override {
    return !closed_ && fs_.writeTo(key_, data, size);
  }
  bool close() override {
    bool wasOpen = !closed_;
    closed_ = true;
    return wasOpen;
  }

 private:
  MemoryFileSystem& fs_;
  std::string key_;
  bool closed_ = false;
};

MemoryFileSystem::MemoryFileSystem() { mountDrive("C:"); }

std::string MemoryFileSystem::normalize(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i <= path.size()) {
    auto end = path.find_first_of("\\/", i);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(i, end - i);
    i = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      bool atDrive = parts.size() == 1 && parts[0].size() == 2 && parts[0][1] == ':';
      if (!parts.empty() && !atDrive) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string key;
  for (const auto& p : parts) key += (key.empty() ? "" : "\\") + p;
  return key;
}

bool MemoryFileSystem::failing(FsOp op, const std::string& key) {
  for (auto& rule : rules_) {
    if (rule.op != op || rule.times == 0 || !isBelowOrSame(key, rule.key)) continue;
    if (rule.times > 0) --rule.times;
    return true;
  }
  return false;
}

MemoryFileSystem::Node* MemoryFileSystem::find(const std::string& key) {
  auto it = nodes_.find(key);
  return it == nodes_.end() ? nullptr : &it->second;
}

const MemoryFileSystem::Node* MemoryFileSystem::find(const std::string& key) const {
  auto it = nodes_.find(key);
  return it == nodes_.end() ? nullptr : &it->second;
}

bool MemoryFileSystem::isDriveKey(const std::string& key) const {
  return key.find('\\') == std::string::npos && key.size() == 2 && key[1] == ':';
}

bool MemoryFileSystem::parentIsFolder(const std::string& key) const {
  if (key.empty() || isDriveKey(key)) return false;
  std::string parent = parentKey(key);
  if (parent.empty()) return true;
  const Node* node = find(parent);
  return node && node->type == EntryType::Folder;
}

MemoryFileSystem::Node& MemoryFileSystem::create(const std::string& key, EntryType type) {
  Node& node = nodes_[key];
  node = Node{};
  node.type = type;
  node.modified = now_;
  node.modifiedNanos = nowNanos_;
  node.order = nextOrder_++;
  return node;
}

std::vector<std::string> MemoryFileSystem::children(const std::string& key) const {
  std::vector<std::pair<std::uint64_t, std::string>> found;
  for (const auto& [k, node] : nodes_)
    if (k != key && isBelowOrSame(k, key) && parentKey(k) == key) found.emplace_back(node.order, k);
  std::sort(found.begin(), found.end());
  std::vector<std::string> out;
  for (auto& f : found) out.push_back(f.second);
  return out;
}

FileStatus MemoryFileSystem::status(const std::string& path) {
  ++calls_[FsOp::Status];
  std::string key = normalize(path);
  if (failing(FsOp::Status, key)) return {};
  const Node* node = find(key);
  if (!node) return {};
  FileStatus st;
  st.type = node->type;
  st.size = node->type == EntryType::File ? node->data.size() : 0;
  st.modified = node->modified;
  st.modifiedNanos = node->modifiedNanos;
  return st;
}

bool MemoryFileSystem::createFolders(const std::string& path) {
  ++calls_[FsOp::CreateFolders];
  std::string key = normalize(path);
  if (key.empty() || failing(FsOp::CreateFolders, key)) return false;
  std::vector<std::string> missing;
  for (std::string k = key; !k.empty() && !find(k); k = parentKey(k)) {
    if (isDriveKey(k)) return false;  // a drive that is not there cannot be made
    missing.push_back(k);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!parentIsFolder(*it)) return false;
    create(*it, EntryType::Folder);
  }
  const Node* node = find(key);
  return node && node->type == EntryType::Folder;
}

bool MemoryFileSystem::remove(const std::string& path) {
  ++calls_[FsOp::Remove];
  std::string key = normalize(path);
  if (failing(FsOp::Remove, key) || isDriveKey(key)) return false;
  const Node* node = find(key);
  if (!node || (node->type == EntryType::Folder && !children(key).empty())) return false;
  nodes_.erase(key);
  return true;
}

bool MemoryFileSystem::removeAll(const std::string& path) {
  ++calls_[FsOp::RemoveAll];
  std::string key = normalize(path);
  if (key.empty() || isDriveKey(key) || failing(FsOp::RemoveAll, key)) return false;
  for (auto it = nodes_.begin(); it != nodes_.end();)
    it = isBelowOrSame(it->first, key) ? nodes_.erase(it) : std::next(it);
  return true;
}

bool MemoryFileSystem::rename(const std::string& from, const std::string& to) {
  ++calls_[FsOp::Rename];
  std::string src = normalize(from), dst = normalize(to);
  if (failing(FsOp::Rename, src) || failing(FsOp::Rename, dst)) return false;
  Node* node = find(src);
  if (!node || isDriveKey(src) || !parentIsFolder(dst)) return false;
  if (src == dst) return true;
  if (isBelowOrSame(dst, src)) return false;  // into its own subtree
  if (const Node* target = find(dst)) {
    if (target->type != EntryType::File || node->type != EntryType::File) return false;
    nodes_.erase(dst);
  }
  std::vector<std::pair<std::string, Node>> moved;
  for (auto it = nodes_.begin(); it != nodes_.end();) {
    if (!isBelowOrSame(it->first, src)) {
      ++it;
      continue;
    }
    moved.emplace_back(dst + it->first.substr(src.size()), it->second);
    it = nodes_.erase(it);
  }
  std::sort(moved.begin(), moved.end(), [](auto& a, auto& b) { return a.second.order < b.second.order; });
  for (auto& [key, moving] : moved) {
    moving.order = nextOrder_++;
    nodes_[key] = moving;
  }
  return true;
}

bool MemoryFileSystem::setAttributes(const std::string& path, bool hidden, bool system) {
  ++calls_[FsOp::SetAttributes];
  std::string key = normalize(path);
  Node* node = find(key);
  if (failing(FsOp::SetAttributes, key) || !node) return false;
  node->hidden = hidden;
  node->system = system;
  return true;
}

std::pair<bool, bool> MemoryFileSystem::attributes(const std::string& path) {
  ++calls_[FsOp::Attributes];
  std::string key = normalize(path);
  const Node* node = find(key);
  if (failing(FsOp::Attributes, key) || !node) return {false, false};
  return {node->hidden, node->system};
}

std::unique_ptr<InputStream> MemoryFileSystem::openRead(const std::string& path) {
  ++calls_[FsOp::OpenRead];
  std::string key = normalize(path);
  const Node* node = find(key);
  if (failing(FsOp::OpenRead, key) || !node || node->type != EntryType::File) return nullptr;
  return std::make_unique<MemoryInput>(node->data);
}

std::unique_ptr<OutputStream> MemoryFileSystem::openOutput(const std::string& path, FsOp op,
                                                           bool truncate) {
  ++calls_[op];
  std::string key = normalize(path);
  if (failing(op, key)) return nullptr;
  Node* node = find(key);
  if (node && node->type != EntryType::File) return nullptr;
  if (!node) {
    if (!parentIsFolder(key)) return nullptr;
    node = &create(key, EntryType::File);
  }
  if (truncate) {
    node->data.clear();
    node->modified = now_;
    node->modifiedNanos = nowNanos_;
  }
  return std::make_unique<MemoryOutput>(*this, key);
}

std::unique_ptr<OutputStream> MemoryFileSystem::openAppend(const std::string& path) {
  return openOutput(path, FsOp::OpenAppend, false);
}

std::unique_ptr<OutputStream> MemoryFileSystem::openWrite(const std::string& path) {
  return openOutput(path, FsOp::OpenWrite, true);
}

bool MemoryFileSystem::writeTo(const std::string& key, const char* data, std::size_t size) {
  ++calls_[FsOp::Write];
  Node* node = find(key);
  if (failing(FsOp::Write, key) || !node || node->type != EntryType::File) return false;
  node->data.append(data, size);
  node->modified = now_;
  node->modifiedNanos = nowNanos_;
  return true;
}

bool MemoryFileSystem::walk(const std::string& folder,
                            const std::function<bool(const WalkEntry&)>& visit) {
  ++calls_[FsOp::Walk];
  std::string key = normalize(folder);
  const Node* node = find(key);
  if (failing(FsOp::Walk, key) || (!key.empty() && (!node || node->type != EntryType::Folder)))
    return false;
  bool stopped = false;
  return walkFolder(folder, key, visit, stopped);
}

bool MemoryFileSystem::walkFolder(const std::string& text, const std::string& key,
                                  const std::function<bool(const WalkEntry&)>& visit, bool& stopped) {
  for (const auto& child : children(key)) {
    const Node* node = find(child);
    if (!node) continue;  // removed by an earlier visit
    WalkEntry entry{text + "\\" + lastName(child), node->type, {}};
    if (!visit(entry)) {
      stopped = true;
      return true;
    }
    node = find(child);
    if (node && node->type == EntryType::Folder) walkFolder(entry.path, child, visit, stopped);
    if (stopped) return true;
  }
  return true;
}

void MemoryFileSystem::mountDrive(const std::string& drive) {
  std::string key = normalize(drive);
  if (!find(key)) create(key, EntryType::Folder);
}

void MemoryFileSystem::unmountDrive(const std::string& drive) {
  std::string key = normalize(drive);
  for (auto it = nodes_.begin(); it != nodes_.end();)
    it = isBelowOrSame(it->first, key) ? nodes_.erase(it) : std::next(it);
}

void MemoryFileSystem::failOn(FsOp op, const std::string& path, int times) {
  rules_.push_back({op, path.empty() ? std::string() : normalize(path), times});
}

int MemoryFileSystem::calls(FsOp op) const {
  auto it = calls_.find(op);
  return it == calls_.end() ? 0 : it->second;
}

void MemoryFileSystem::addFolder(const std::string& path) {
  std::string key = normalize(path);
  std::vector<std::string> missing;
  for (std::string k = key; !k.empty() && !find(k); k = parentKey(k)) missing.push_back(k);
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) create(*it, EntryType::Folder);
}

void MemoryFileSystem::addFile(const std::string& path, const std::string& content) {
  std::string key = normalize(path);
  addFolder(parentKey(key));
  Node* node = find(key);
  if (!node || node->type != EntryType::File) node = &create(key, EntryType::File);
  node->data = content;
  node->modified = now_;
  node->modifiedNanos = nowNanos_;
}

std::optional<std::string> MemoryFileSystem::content(const std::string& path) const {
  const Node* node = find(normalize(path));
  if (!node || node->type != EntryType::File) return std::nullopt;
  return node->data;
}

std::vector<std::string> MemoryFileSystem::entries() const {
  std::vector<std::pair<std::uint64_t, std::string>> all;
  for (const auto& [k, node] : nodes_) all.emplace_back(node.order, k);
  std::sort(all.begin(), all.end());
  std::vector<std::string> out;
  for (auto& a : all) out.push_back(a.second);
  return out;
}

void MemoryFileSystem::setModified(const std::string& path, std::int64_t seconds, std::int64_t nanos) {
  if (Node* node = find(normalize(path))) {
    node->modified = seconds;
    node->modifiedNanos = nanos;
  }
}

}  // namespace kq::test
