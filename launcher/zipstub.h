// The launcher's process-wide state and its stages (Windows program).
#pragma once

#include <cstdint>

#include "support/text.h"

// Full path of the launcher's own file, which carries the payload archive.
extern char OwnPath[PathBufferSize];
// The working directory; with a trailing backslash until the installer has ended.
extern char TempDir[PathBufferSize];
// HBRUSH of COLOR_BTNFACE for the progress dialog's face, from start to end.
extern void* ButtonFaceBrush;

// The launcher keeps the current directory out of its own DLL search. Where
// the system can do that only through SetDllDirectoryA(""), which the
// programs it starts would inherit, this is that function, and StartProcess
// gives them the system's default search; otherwise null.
using SetDllDirectoryFunction = int(__stdcall*)(const char*);
extern SetDllDirectoryFunction InheritedDllDirectory;

// The caption of the messages shown before the package's own path is known.
inline constexpr char InstallCaption[] = "Install";
// A built-in message in English and German, each followed by the hint to
// unpack the package with an unzip tool, as MessageBoxW (owner an HWND).
void ShowUnzipHintMessage(void* owner, const char* english, const char* german, const char* caption,
                          unsigned captionCodePage);

// Fills buffer with a newly created working directory, or shows the error box.
bool FindTempDirectory(char* buffer);
// GetDriveTypeA of drive n (0 = A), with "no root directory" reported as unknown.
int GetDriveKind(int drive);

// Unpacks the payload into TempDir under the progress dialog; true on
// success, and then the dialog stays open (Cancel disabled) for the
// installer's start to close.
bool ExtractPayload();
// Destroys the progress dialog if it is open.
void CloseProgressDialog();

// Start results: above 32 started (always 33), else a Windows error code.
constexpr int32_t StartedResult = 33;
int32_t StartInstaller(const char* dir);
int32_t RunCommandLine(char* command, int show, const char* workdir, bool keep, void** handle);
int32_t StartProcess(const char* program, const char* parameters, const char* workdir, int show, bool keep,
                     void** handle);
void* KeepProcessHandle(void* process, bool keep);
bool IsStillRunning(void* handle, bool isWindow);
