// Helpers shared by the fuzz targets (host only).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace fuzz {

// A copy of the input in a block of exactly its size (plus the terminator
// for texts), so that AddressSanitizer sees a read or write one byte past it.
class ExactBuffer {
public:
    ExactBuffer(const void* bytes, size_t size, size_t capacity);
    ~ExactBuffer() { std::free(data_); }
    ExactBuffer(const ExactBuffer&) = delete;
    ExactBuffer& operator=(const ExactBuffer&) = delete;
    char* Text() { return data_; }
    size_t Capacity() const { return capacity_; }

private:
    char* data_;
    size_t capacity_;
};

// This process's scratch directory (on tmpfs when /dev/shm is there), made
// on first use and removed at exit. Native form, no trailing slash.
const std::string& ScratchRoot();
// The core's form of a native absolute path: "\" separators.
std::string CorePath(const std::string& native);

bool WriteFile(const std::string& native, const uint8_t* bytes, size_t size);
bool ReadFile(const std::string& native, std::string* bytes);
// Removes a tree whatever its permissions; the root itself too.
void RemoveTree(const std::string& native);

// What a tree holds: relative path -> "d" for a directory, else the file's
// mode, size and content hash. Symbolic links are listed, never followed.
using TreeSnapshot = std::map<std::string, std::string>;
TreeSnapshot Snapshot(const std::string& native, const std::string& skip = "");
// Regular files below native, with their sizes.
uint64_t TreeBytes(const std::string& native);

// Open file descriptors of this process.
int OpenDescriptors();

// Aborts with a message: libFuzzer then keeps the input as a crash.
[[noreturn]] void Fail(const char* what, const std::string& detail = "");
inline void Check(bool ok, const char* what, const std::string& detail = "") {
    if (!ok) Fail(what, detail);
}

}  // namespace fuzz
