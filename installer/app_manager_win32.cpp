// Starting CeAppMgr.exe with the copied .ini files, and the final message.
#include "installer/app_manager.h"
#include "installer/install_win32.h"

namespace {
constexpr UINT StartedAtLeast = 32;
}  // namespace

int StartAppManager() {
    char line[PathBufferSize];
    int built = BuildAppManagerCommandLine(line, sizeof line);
    if (built != 0) return built;
    UINT started = WinExec(line, SW_SHOW);
    if (started >= StartedAtLeast) return 0;
    return started == 0 ? 1 : static_cast<int>(started);
}

void ShowFinalMessage(int result) {
    const char* text = result == 0 ? "Installation successful! Please follow the instructions in CE App manager."
                                   : "Installation NOT successful!";
    MessageBoxA(MainWindowHandle(), text, MainCaption, MB_ICONWARNING);
}
