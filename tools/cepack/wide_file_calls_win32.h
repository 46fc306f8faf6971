// The file layer's Win32 backend, compiled once more for cepack: the same
// code, with each ANSI call it makes taken by a wide stand-in that reads and
// writes UTF-8. The shipped programs keep the ANSI calls (their names live
// in the ANSI code page); the tool keeps paths as UTF-8, which no ANSI code
// page of Windows 7 holds, so its names would otherwise be limited to that
// code page. Forced in front of the backend's sources (-include).
#pragma once

#include <windows.h>

HANDLE WINAPI CepackCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WINAPI CepackDeleteFile(LPCSTR path);
BOOL WINAPI CepackCreateDirectory(LPCSTR path, LPSECURITY_ATTRIBUTES security);
BOOL WINAPI CepackRemoveDirectory(LPCSTR path);
BOOL WINAPI CepackSetCurrentDirectory(LPCSTR path);
BOOL WINAPI CepackSetFileAttributes(LPCSTR path, DWORD attributes);
DWORD WINAPI CepackGetFileAttributes(LPCSTR path);
HANDLE WINAPI CepackFindFirstFile(LPCSTR pattern, LPWIN32_FIND_DATAA data);
BOOL WINAPI CepackFindNextFile(HANDLE search, LPWIN32_FIND_DATAA data);
DWORD WINAPI CepackGetFullPathName(LPCSTR path, DWORD size, LPSTR buffer, LPSTR* filePart);
int WINAPI CepackCompareNoCase(LPCSTR a, LPCSTR b);

#define CreateFileA CepackCreateFile
#define DeleteFileA CepackDeleteFile
#define CreateDirectoryA CepackCreateDirectory
#define RemoveDirectoryA CepackRemoveDirectory
#define SetCurrentDirectoryA CepackSetCurrentDirectory
#define SetFileAttributesA CepackSetFileAttributes
#define GetFileAttributesA CepackGetFileAttributes
#define FindFirstFileA CepackFindFirstFile
#define FindNextFileA CepackFindNextFile
#define GetFullPathNameA CepackGetFullPathName
#define lstrcmpiA CepackCompareNoCase
