// Where the working directory goes: TEMP, TMP, the Windows directory's temp,
// the Windows directory, then the root of every fixed drive from C on. An
// elevated launcher works in the Windows directory's temp and nowhere else:
// users may create entries there but not rename or delete other users' ones,
// as they may anywhere in their own TEMP, and only administrators can point
// it elsewhere, whereas TEMP and TMP are the user's to set.
#include <windows.h>
#include <ntsecapi.h>

#include "launcher/held_directory.h"
#include "launcher/work_directory.h"
#include "launcher/zipstub.h"
#include "support/message_box_win32.h"

namespace {

const char NoTempDirEnglish[] = "Error, could not access temporary directory!";
const char NoTempDirGerman[] = "Fehler, konnte nicht auf tempor\xE4res Verzeichnis zugreifen!";
constexpr UINT WindowsTempRoom = 240;  // leaves room for "\temp"

bool DrawRandom(uint32_t* value) { return RtlGenRandom(value, sizeof *value) != FALSE; }

// The temp of the system's Windows directory, also for a user of a Remote
// Desktop session host, whose GetWindowsDirectory may be a private copy.
// random as for MakeUniqueSubdirectory.
bool TryWindowsTemp(char* buffer, bool (*random)(uint32_t* value)) {
    UINT n = GetSystemWindowsDirectoryA(buffer, WindowsTempRoom);
    if (n == 0 || n >= WindowsTempRoom) return false;
    AppendBackslash(buffer);
    TextAppend(buffer, "temp");
    return MakeUniqueSubdirectory(buffer, random);
}

bool TryWindowsDirectory(char* buffer) {
    char candidate[PathBufferSize];
    UINT n = GetSystemWindowsDirectoryA(candidate, PathMaxChars);
    if (n == 0 || n >= static_cast<UINT>(PathMaxChars)) return false;
    return TryTempCandidate(buffer, candidate);
}

bool TryFixedDrives(char* buffer) {
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        if (GetDriveKind(letter - 'A') != DRIVE_FIXED) continue;
        char root[] = "c:\\";
        root[0] = letter;
        if (TryTempCandidate(buffer, root)) return true;
    }
    return false;
}

}  // namespace

int GetDriveKind(int drive) {
    char root[] = "c:\\";
    root[0] = static_cast<char>('a' + drive);
    UINT kind = GetDriveTypeA(root);
    return kind == DRIVE_NO_ROOT_DIR ? DRIVE_UNKNOWN : static_cast<int>(kind);
}

bool FindTempDirectory(char* buffer) {
    bool elevated = IsElevatedToken();
    MakeWorkingDirectory = elevated ? MakeAdminOnlyDirectory : MakeHeldDirectory;
    if (elevated) {
        if (TryWindowsTemp(buffer, DrawRandom)) return true;
    } else {
        if (TryTempCandidate(buffer, ReadEnvironmentValue("TEMP"))) return true;
        if (TryTempCandidate(buffer, ReadEnvironmentValue("TMP"))) return true;
        if (TryWindowsTemp(buffer, nullptr) || TryWindowsDirectory(buffer) || TryFixedDrives(buffer)) return true;
    }
    ShowUnzipHintMessage(nullptr, NoTempDirEnglish, NoTempDirGerman, InstallCaption, BuiltInCodePage);
    return false;
}
