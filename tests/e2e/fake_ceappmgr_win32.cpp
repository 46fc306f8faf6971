// Stands in for Microsoft's CeAppMgr.exe in the end-to-end tests: appends
// the command line it was started with to CeAppMgr.log beside itself (or to
// the file named by CEAPPMGR_LOG), its current directory to the same name
// with ".cwd" appended, and ends.
#include <windows.h>

#include <cstring>

namespace {

bool AppendLine(const char* path, const char* text) {
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    CloseHandle(file);
    return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char log[MAX_PATH + 16];
    DWORD n = GetEnvironmentVariableA("CEAPPMGR_LOG", log, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        n = GetModuleFileNameA(nullptr, log, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return 2;
        char* slash = std::strrchr(log, '\\');
        if (slash == nullptr) return 2;
        std::strcpy(slash + 1, "CeAppMgr.log");
    }
    // The directory first: a test that has seen the command line may read it.
    char directory[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, directory);
    if (length == 0 || length >= MAX_PATH) std::strcpy(directory, "?");
    char directoryLog[MAX_PATH + 16];
    std::strcpy(directoryLog, log);
    std::strcat(directoryLog, ".cwd");
    if (!AppendLine(directoryLog, directory)) return 1;
    return AppendLine(log, GetCommandLineA()) ? 0 : 1;
}
