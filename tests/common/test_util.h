// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testutil {

// A fresh, empty directory that is removed with everything in it when the
// object goes away. Path() is in the core's form ("\" separators, absolute,
// no trailing backslash) on every platform.
class ScratchDir {
public:
    explicit ScratchDir(const char* tag = "t");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return path_; }
    // Path() + "\" + relative (relative may use "\" or "/").
    std::string Join(const std::string& relative) const;

private:
    std::string path_;
};

// The core's "\" form of a path turned into the platform's own, and back.
std::string NativePath(const std::string& corePath);
std::string CorePath(const std::string& nativePath);

bool WriteFileBytes(const std::string& corePath, const std::string& bytes);
bool ReadFileBytes(const std::string& corePath, std::string* bytes);
bool PathExists(const std::string& corePath);
void RemoveTree(const std::string& corePath);
// Regular files below a directory, as paths relative to it with "/" separators, sorted.
std::vector<std::string> ListFilesRecursive(const std::string& corePath);

// Sets an environment variable where the program reads it (the process
// environment block on Windows); a null value removes it.
void SetEnvironment(const std::string& name, const char* value);

// Deterministic pseudo-random bytes.
std::string RandomBytes(size_t size, uint32_t seed);

// The headers of a 32-bit Windows program (an i386 PE32 image), followed by
// tail: enough for a check that reads them, nothing that runs.
std::string Win32ProgramHeaders(const std::string& tail = "");

// The process's current directory in the core's form; restored by the guard.
std::string CurrentDirectory();
class CurrentDirectoryGuard {
public:
    CurrentDirectoryGuard();
    ~CurrentDirectoryGuard();

private:
    std::string saved_;
};

#ifndef _WIN32
// Runs a shell command; returns its exit status (or -1).
int Run(const std::string& command);
// Runs a shell command and returns what it printed on stdout.
std::string RunOutput(const std::string& command, int* status = nullptr);
// Whether a program is on PATH.
bool HaveProgram(const std::string& name);
// Single-quoted for the shell.
std::string ShellQuote(const std::string& text);
#endif

}  // namespace testutil
