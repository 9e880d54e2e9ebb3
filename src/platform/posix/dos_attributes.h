#pragma once
// DOS attributes (hidden, system) of POSIX files: the extended attribute
// "user.DOSATTRIB" holding "0x" and the hexadecimal bits, as Wine keeps them;
// an in-memory table keyed by device and inode where extended attributes are
// not supported.
#include <string>

namespace kq {

constexpr unsigned kDosHidden = 0x2;
constexpr unsigned kDosSystem = 0x4;

// writeDosAttributes replaces the hidden/system bits of native; false on failure.
bool writeDosAttributes(const std::string& native, unsigned bits, bool useXattrs);
// readDosAttributes returns the hidden/system bits of native (0 when unknown).
unsigned readDosAttributes(const std::string& native, bool useXattrs);
// forgetDosAttributes drops the in-memory bits of native before it is removed.
void forgetDosAttributes(const std::string& native);

}  // namespace kq
