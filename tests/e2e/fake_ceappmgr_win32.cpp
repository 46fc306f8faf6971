// Stands in for Microsoft's CeAppMgr.exe in the end-to-end tests: appends
// the command line it was started with to CeAppMgr.log beside itself (or to
// the file named by CEAPPMGR_LOG) and ends.
#include <windows.h>

#include <cstring>

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
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const char* line = GetCommandLineA();
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    CloseHandle(file);
    return 0;
}
