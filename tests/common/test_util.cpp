#include "tests/common/test_util.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace testutil {

std::string NativePath(const std::string& corePath) {
#ifdef _WIN32
    return corePath;
#else
    std::string p = corePath;
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
#endif
}

std::string CorePath(const std::string& nativePath) {
    std::string p = nativePath;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

ScratchDir::ScratchDir(const char* tag) {
    static unsigned counter = 0;
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    for (unsigned attempt = 0;; ++attempt) {
#ifdef _WIN32
        unsigned pid = GetCurrentProcessId();
#else
        unsigned pid = static_cast<unsigned>(getpid());
#endif
        fs::path candidate = base / ("ce-" + std::string(tag) + "-" + std::to_string(pid) + "-" +
                                     std::to_string(counter++));
        if (fs::create_directory(candidate, ec)) {
            path_ = CorePath(fs::absolute(candidate).string());
            while (path_.size() > 3 && path_.back() == '\\') path_.pop_back();
            return;
        }
        if (attempt > 1000) std::abort();
    }
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

std::string ScratchDir::Join(const std::string& relative) const {
    return path_ + "\\" + CorePath(relative);
}

bool WriteFileBytes(const std::string& corePath, const std::string& bytes) {
    std::ofstream out(NativePath(corePath), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool ReadFileBytes(const std::string& corePath, std::string* bytes) {
    std::ifstream in(NativePath(corePath), std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool PathExists(const std::string& corePath) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(NativePath(corePath), ec));
}

void RemoveTree(const std::string& corePath) {
    if (corePath.empty()) return;
    std::error_code ec;
    fs::path root(NativePath(corePath));
    // Read-only files and directories must be made writable before removal.
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
#ifdef _WIN32
        SetFileAttributesA(it->path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
    }
    fs::remove_all(root, ec);
}

std::vector<std::string> ListFilesRecursive(const std::string& corePath) {
    std::vector<std::string> out;
    std::error_code ec;
    fs::path root(NativePath(corePath));
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_regular_file()) out.push_back(fs::relative(it->path(), root).generic_string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

void SetEnvironment(const std::string& name, const char* value) {
#ifdef _WIN32
    SetEnvironmentVariableA(name.c_str(), value);
#else
    if (value) setenv(name.c_str(), value, 1);
    else unsetenv(name.c_str());
#endif
}

std::string Win32ProgramHeaders(const std::string& tail) {
    std::string image(64, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    image[60] = 64;  // e_lfanew: the PE header right behind
    std::string pe("PE\0\0", 4);
    pe += std::string("\x4C\x01", 2);                  // i386
    pe += std::string(18, '\0');                         // the rest of the file header
    pe += std::string("\x0B\x01", 2);                  // PE32 optional header
    return image + pe + std::string(94, '\0') + tail;
}

std::string RandomBytes(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

std::string CurrentDirectory() {
    std::error_code ec;
    return CorePath(fs::current_path(ec).string());
}

CurrentDirectoryGuard::CurrentDirectoryGuard() : saved_(CurrentDirectory()) {}
CurrentDirectoryGuard::~CurrentDirectoryGuard() {
    std::error_code ec;
    fs::current_path(NativePath(saved_), ec);
}

#ifndef _WIN32
int Run(const std::string& command) {
    int status = std::system(command.c_str());
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string RunOutput(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (status) *status = -1;
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    int st = pclose(pipe);
    if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

bool HaveProgram(const std::string& name) {
    return Run("command -v " + ShellQuote(name) + " >/dev/null 2>&1") == 0;
}

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}
#endif

}  // namespace testutil
