#pragma once
// Small checked file operations shared by the store and its versions.
#include <cstdint>
#include <optional>
#include <string>

namespace kqs {

// hashOfFile is the SHA-256 hex digest of a file's content, nullopt when it cannot be read.
std::optional<std::string> hashOfFile(const std::string& diskPath);

// fsyncFolder flushes a folder's entries to disk; false when it cannot.
[[nodiscard]] bool fsyncFolder(const std::string& folder);

// copyDurably copies from into a new file `to` (which must not exist yet),
// flushes it and returns the content's SHA-256; throws std::runtime_error with
// the reason when any step fails (the partial copy is removed).
std::string copyDurably(const std::string& from, const std::string& to);

// errnoText is the text of the current errno.
std::string errnoText();

}  // namespace kqs
