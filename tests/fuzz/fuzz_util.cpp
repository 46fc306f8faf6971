#include "tests/fuzz/fuzz_util.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <vector>

namespace fuzz {

ExactBuffer::ExactBuffer(const void* bytes, size_t size, size_t capacity)
    : data_(static_cast<char*>(std::malloc(capacity))), capacity_(capacity) {
    if (!data_ && capacity) Fail("out of memory");
    if (size > capacity) size = capacity;
    if (size) std::memcpy(data_, bytes, size);
}

namespace {

void RemoveRoot() { RemoveTree(ScratchRoot()); }

bool IsWritableDirectory(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode) && access(path, W_OK) == 0;
}

}  // namespace

const std::string& ScratchRoot() {
    // Never destroyed: the exit handler that removes the directory needs it.
    static const std::string& root = *[] {
        const char* tmp = std::getenv("TMPDIR");
        std::string base = IsWritableDirectory("/dev/shm") ? "/dev/shm" : tmp && *tmp ? tmp : "/tmp";
        auto* path = new std::string(base + "/cefz-" + std::to_string(getpid()));
        RemoveTree(*path);
        if (mkdir(path->c_str(), 0700) != 0) Fail("cannot make the scratch directory", *path);
        return path;
    }();
    static const bool removedAtExit = std::atexit(RemoveRoot) == 0;
    (void)removedAtExit;
    return root;
}

std::string CorePath(const std::string& native) {
    std::string core = native;
    for (char& c : core) {
        if (c == '/') c = '\\';
    }
    return core;
}

bool WriteFile(const std::string& native, const uint8_t* bytes, size_t size) {
    FILE* f = std::fopen(native.c_str(), "wb");
    if (!f) return false;
    bool ok = size == 0 || std::fwrite(bytes, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

bool ReadFile(const std::string& native, std::string* bytes) {
    FILE* f = std::fopen(native.c_str(), "rb");
    if (!f) return false;
    bytes->clear();
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes->append(chunk, n);
    std::fclose(f);
    return true;
}

void RemoveTree(const std::string& native) {
    struct stat info;
    if (lstat(native.c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) {
        chmod(native.c_str(), 0700);
        if (DIR* d = opendir(native.c_str())) {
            std::vector<std::string> names;
            while (dirent* e = readdir(d)) {
                std::string name = e->d_name;
                if (name != "." && name != "..") names.push_back(name);
            }
            closedir(d);
            for (const std::string& name : names) RemoveTree(native + "/" + name);
        }
        rmdir(native.c_str());
    } else {
        unlink(native.c_str());
    }
}

namespace {

// FNV-1a: enough to see that a file changed.
uint64_t Hash(const std::string& bytes) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (unsigned char c : bytes) h = (h ^ c) * 0x100000001B3ull;
    return h;
}

void Walk(const std::string& native, const std::string& relative,
          const std::function<void(const std::string&, const std::string&, const struct stat&)>& visit) {
    DIR* d = opendir(native.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
    for (const std::string& name : names) {
        std::string path = native + "/" + name;
        std::string rel = relative.empty() ? name : relative + "/" + name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) continue;
        visit(path, rel, info);
        if (S_ISDIR(info.st_mode)) Walk(path, rel, visit);
    }
}

}  // namespace

TreeSnapshot Snapshot(const std::string& native, const std::string& skip) {
    TreeSnapshot snapshot;
    Walk(native, "", [&](const std::string& path, const std::string& rel, const struct stat& info) {
        if (!skip.empty() && (rel == skip || rel.compare(0, skip.size() + 1, skip + "/") == 0)) return;
        if (S_ISDIR(info.st_mode)) {
            snapshot[rel] = "d";
            return;
        }
        std::string content;
        if (S_ISREG(info.st_mode)) ReadFile(path, &content);
        snapshot[rel] = std::to_string(info.st_mode) + " " + std::to_string(info.st_size) + " " +
                        std::to_string(Hash(content));
    });
    return snapshot;
}

uint64_t TreeBytes(const std::string& native) {
    uint64_t total = 0;
    Walk(native, "", [&](const std::string&, const std::string&, const struct stat& info) {
        if (S_ISREG(info.st_mode)) total += static_cast<uint64_t>(info.st_size);
    });
    return total;
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d)) count += e->d_name[0] != '.';
        closedir(d);
    }
    return count - 1;  // the directory stream itself
}

void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzz
