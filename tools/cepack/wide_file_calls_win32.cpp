// UTF-8 in, the wide call, UTF-8 out (see wide_file_calls_win32.h).
#include "tools/cepack/wide_file_calls_win32.h"

#include <string>

namespace {

// Empty for text that is not UTF-8: such a path names no file here.
std::wstring Wide(LPCSTR utf8) {
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, out.data(), n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

// The text as UTF-8 into out (capacity bytes, NUL included); false when it
// does not fit, leaving out empty.
bool Narrow(const wchar_t* wide, char* out, int capacity) {
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, capacity, nullptr, nullptr);
    if (n > 0) return true;
    out[0] = 0;
    return false;
}

bool Invalid(const std::wstring& path) {
    if (!path.empty()) return false;
    SetLastError(ERROR_INVALID_NAME);
    return true;
}

// A call on the wide form of path; FALSE for a path that has none.
template <typename Call>
BOOL OnWidePath(LPCSTR path, Call call) {
    std::wstring wide = Wide(path);
    return !Invalid(wide) && call(wide.c_str());
}

// A name longer in UTF-8 than the ANSI record holds comes as its 8.3 form;
// without one, as "?", which no file is called.
void CopyFound(const WIN32_FIND_DATAW& wide, LPWIN32_FIND_DATAA data) {
    data->dwFileAttributes = wide.dwFileAttributes;
    data->ftCreationTime = wide.ftCreationTime;
    data->ftLastAccessTime = wide.ftLastAccessTime;
    data->ftLastWriteTime = wide.ftLastWriteTime;
    data->nFileSizeHigh = wide.nFileSizeHigh;
    data->nFileSizeLow = wide.nFileSizeLow;
    data->dwReserved0 = wide.dwReserved0;
    data->dwReserved1 = wide.dwReserved1;
    bool alternate = Narrow(wide.cAlternateFileName, data->cAlternateFileName, sizeof data->cAlternateFileName);
    if (!Narrow(wide.cFileName, data->cFileName, sizeof data->cFileName)) {
        if (alternate && data->cAlternateFileName[0]) {
            lstrcpynA(data->cFileName, data->cAlternateFileName, sizeof data->cFileName);
        } else {
            lstrcpynA(data->cFileName, "?", sizeof data->cFileName);
        }
    }
}

}  // namespace

HANDLE WINAPI CepackCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile) {
    std::wstring wide = Wide(path);
    if (Invalid(wide)) return INVALID_HANDLE_VALUE;
    return CreateFileW(wide.c_str(), access, share, security, disposition, flags, templateFile);
}

BOOL WINAPI CepackDeleteFile(LPCSTR path) { return OnWidePath(path, DeleteFileW); }

BOOL WINAPI CepackCreateDirectory(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
    return OnWidePath(path, [security](LPCWSTR wide) { return CreateDirectoryW(wide, security); });
}

BOOL WINAPI CepackRemoveDirectory(LPCSTR path) { return OnWidePath(path, RemoveDirectoryW); }

BOOL WINAPI CepackSetCurrentDirectory(LPCSTR path) { return OnWidePath(path, SetCurrentDirectoryW); }

BOOL WINAPI CepackSetFileAttributes(LPCSTR path, DWORD attributes) {
    return OnWidePath(path, [attributes](LPCWSTR wide) { return SetFileAttributesW(wide, attributes); });
}

DWORD WINAPI CepackGetFileAttributes(LPCSTR path) {
    std::wstring wide = Wide(path);
    return Invalid(wide) ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
}

HANDLE WINAPI CepackFindFirstFile(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    std::wstring wide = Wide(pattern);
    if (Invalid(wide)) return INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) CopyFound(found, data);
    return search;
}

BOOL WINAPI CepackFindNextFile(HANDLE search, LPWIN32_FIND_DATAA data) {
    WIN32_FIND_DATAW found;
    if (!FindNextFileW(search, &found)) return FALSE;
    CopyFound(found, data);
    return TRUE;
}

// The ANSI call's contract: the length copied, or the size needed when the
// buffer is too small, 0 on failure.
DWORD WINAPI CepackGetFullPathName(LPCSTR path, DWORD size, LPSTR buffer, LPSTR* filePart) {
    if (filePart) *filePart = nullptr;
    std::wstring wide = Wide(path);
    if (Invalid(wide)) return 0;
    DWORD need = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (need == 0) return 0;
    std::wstring full(need, L'\0');
    DWORD got = GetFullPathNameW(wide.c_str(), need, full.data(), nullptr);
    if (got == 0 || got >= need) return 0;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, full.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return 0;
    if (static_cast<DWORD>(bytes) > size) return static_cast<DWORD>(bytes);
    WideCharToMultiByte(CP_UTF8, 0, full.c_str(), -1, buffer, static_cast<int>(size), nullptr, nullptr);
    return static_cast<DWORD>(bytes - 1);
}

int WINAPI CepackCompareNoCase(LPCSTR a, LPCSTR b) { return lstrcmpiW(Wide(a).c_str(), Wide(b).c_str()); }
