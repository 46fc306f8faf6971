// The command line that hands the copied .ini files to the CE application
// manager.
#pragma once

#include <cstddef>

constexpr const char* AppManagerName = "CeAppMgr.exe";

// Final results of the hand-over besides 0 (started) and the system's error
// codes for a program that could not be started.
enum : int {
    AppManagerNoIniFile = 1,
    AppManagerLineTooLong = -6,
};

// Whether the text from the name's last "." on is ".ini", in any case.
bool IsIniName(const char* name);

// "CeServicesDir\CeAppMgr.exe" followed by the quoted destination path of
// every .ini file of the file list, in list order, into line (capacity
// bytes). Returns 0, AppManagerNoIniFile, or AppManagerLineTooLong when the
// line does not fit: a cut line would name a wrong file.
int BuildAppManagerCommandLine(char* line, size_t capacity);

// Adds each cabinet a CabFiles value names (comma-separated, blanks around a
// name trimmed) to lines as "\r\n" and the name, unless lines already holds
// it (in any case). lines holds capacity bytes; a name that does not fit is
// left out whole.
void AppendCabinetLines(char* lines, size_t capacity, const char* cabFiles);
