// A stand-in installer for the end-to-end tests. It appends what it was
// started with to the file named by CE_TESTINST_LOG (one "key=value" per line)
// and then behaves as CE_TESTINST_MODE says:
//   exit (default)  ends at once
//   wait:MS         stays MS milliseconds
//   readonly        marks every file beside it read-only (one also hidden
//                   and system) and ends, to test the clean-up
//   handover:MS     starts a helper that keeps this program's file open for
//                   MS milliseconds, or until the file named by
//                   CE_TESTINST_RELEASE exists, then ends at once (as an
//                   installer that hands over to another process does)
//   hashes          records every file and directory below its directory,
//                   a file as "file=NAME|SIZE|FNV-1a 64 in hex", a directory
//                   as "dir=NAME", so the runner can compare what was unpacked
// The helper is this program again, started as "testinst --hold MS FILE PARENT".
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Env(const char* name) {
    char value[1024];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

void Append(const std::string& log, const std::string& text) {
    HANDLE h = CreateFileA(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD done = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
    CloseHandle(h);
}

void Record(const std::string& log, const char* role) {
    if (log.empty()) return;
    char cwd[MAX_PATH] = "", self[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof cwd, cwd);
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string text = "role=";
    text += role;
    text += "\r\ncwd=";
    text += cwd;
    text += "\r\ncmdline=";
    text += GetCommandLineA();
    text += "\r\nexe=";
    text += self;
    text += "\r\npid=" + std::to_string(GetCurrentProcessId()) + "\r\n";
    Append(log, text);
}

std::string HeldEventName(DWORD parent) { return "ce_testinst_held_" + std::to_string(parent); }

// Keeps file open without delete sharing, so nobody can delete it meanwhile,
// and tells the parent once it holds it.
int Hold(DWORD ms, const char* file, DWORD parent) {
    HANDLE h = CreateFileA(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, HeldEventName(parent).c_str());
    if (held) {
        SetEvent(held);
        CloseHandle(held);
    }
    // The runner says when it has seen what it waits for: no guessed moment.
    std::string release = Env("CE_TESTINST_RELEASE");
    for (DWORD waited = 0; waited < ms; waited += 20) {
        if (!release.empty() && GetFileAttributesA(release.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(20);
    }
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return 0;
}

int HandOver(DWORD ms) {
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    char command[3 * MAX_PATH];
    std::snprintf(command, sizeof command, "\"%s\" --hold %lu \"%s\" %lu", self, static_cast<unsigned long>(ms),
                  self, static_cast<unsigned long>(GetCurrentProcessId()));
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, HeldEventName(GetCurrentProcessId()).c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    // The helper runs from the system directory, so only the explicit open
    // keeps the installer's file busy.
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, sizeof system);
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, system, &startup, &info)) return 1;
    // Only end once the helper holds the file.
    WaitForSingleObject(held, 10000);
    CloseHandle(held);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return 0;
}

void MarkFilesReadOnly() {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("*", &found);
    if (search == INVALID_HANDLE_VALUE) return;
    DWORD extra = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        SetFileAttributesA(found.cFileName, FILE_ATTRIBUTE_READONLY | extra);
        extra = 0;
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

uint64_t Fnv1a(HANDLE file, uint64_t* size) {
    uint64_t hash = 0xCBF29CE484222325ull;
    *size = 0;
    static unsigned char block[1 << 16];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) {
        for (DWORD i = 0; i < got; ++i) hash = (hash ^ block[i]) * 0x100000001B3ull;
        *size += got;
    }
    return hash;
}

// dir is "" or a relative directory ending in a backslash.
void ListTree(const std::string& dir, std::string* out) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = dir + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) continue;
            *out += "dir=" + name + "\r\n";
            ListTree(name + "\\", out);
            continue;
        }
        HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        uint64_t size = 0, hash = 0;
        if (file != INVALID_HANDLE_VALUE) {
            hash = Fnv1a(file, &size);
            CloseHandle(file);
        }
        char line[64];
        std::snprintf(line, sizeof line, "|%llu|%016llx\r\n", static_cast<unsigned long long>(size),
                      static_cast<unsigned long long>(hash));
        *out += "file=" + name + line;
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void RecordTree(const std::string& log) {
    std::string text;
    ListTree("", &text);
    Append(log, text);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc >= 5 && std::strcmp(__argv[1], "--hold") == 0) {
        return Hold(std::strtoul(__argv[2], nullptr, 10), __argv[3], std::strtoul(__argv[4], nullptr, 10));
    }
    // Waits for input once, as an installer showing its first window does:
    // the launcher closes its dialog when the installer is ready for input.
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    std::string log = Env("CE_TESTINST_LOG");
    Record(log, "installer");
    std::string mode = Env("CE_TESTINST_MODE");
    if (mode.rfind("wait:", 0) == 0) Sleep(std::strtoul(mode.c_str() + 5, nullptr, 10));
    if (mode == "readonly") MarkFilesReadOnly();
    if (mode == "hashes" && !log.empty()) RecordTree(log);
    if (mode.rfind("handover:", 0) == 0) return HandOver(std::strtoul(mode.c_str() + 9, nullptr, 10));
    return 0;
}
