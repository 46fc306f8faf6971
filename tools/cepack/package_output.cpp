#include "tools/cepack/package_output.h"

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#else
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <system_error>

#include "tools/cepack/host_paths.h"

namespace fs = std::filesystem;

namespace cepack {

#ifdef _WIN32

namespace {

// Held by a commit while it renames; the control handler takes it and
// never gives it back, so the process ends either before a commit or after
// one, never inside.
CRITICAL_SECTION CommitLock;

BOOL WINAPI OnControlEvent(DWORD) {
    EnterCriticalSection(&CommitLock);
    return FALSE;  // on to the default handler, which ends the process
}

bool SetDeletePending(HANDLE handle, bool pending) {
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = pending ? TRUE : FALSE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// The system's own words for an error, as UTF-8.
std::string SystemReason(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD n = FormatMessageW(flags, nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide(text ? text : L"", n);
    LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ')) wide.pop_back();
    if (wide.empty()) return "error " + std::to_string(error);
    return Utf8Of(fs::path(wide));
}

// An earlier package is often held for a moment (an antivirus scan,
// Explorer's preview, the package still running); a few seconds outlast
// most. Kept under the 5 seconds Windows gives a console's control handler
// when its window closes: the handler waits for the commit.
const DWORD ReplaceRetryMs = 3000;

// Renames temporary over final; ERROR_SUCCESS or the last error. A
// read-only final refuses the rename: it loses the attribute first, and
// gets it back when the rename fails for good.
DWORD ReplaceFinal(const fs::path& temporary, const fs::path& final) {
    DWORD attributes = GetFileAttributesW(final.c_str());
    bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    bool directory = exists && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    bool readOnly = exists && !directory && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly) {
        DWORD writable = attributes & ~FILE_ATTRIBUTE_READONLY;
        SetFileAttributesW(final.c_str(), writable ? writable : FILE_ATTRIBUTE_NORMAL);
    }
    // GetTickCount: the PE check keeps GetTickCount64 out of the shipped
    // programs. A difference of two readings survives the wrap.
    DWORD start = GetTickCount();
    DWORD error = ERROR_SUCCESS;
    for (DWORD pause = 50;; pause = pause < 400 ? pause * 2 : 500) {
        // A plain rename onto an existing file fails on Windows.
        if (MoveFileExW(temporary.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return ERROR_SUCCESS;
        }
        error = GetLastError();
        // A directory in the way denies access for good.
        bool passing = (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) && !directory;
        if (!passing || GetTickCount() - start >= ReplaceRetryMs) break;
        Sleep(pause);
    }
    if (readOnly) SetFileAttributesW(final.c_str(), attributes);
    return error;
}

}  // namespace

void RemoveTemporaryOnInterrupt() {
    InitializeCriticalSection(&CommitLock);
    SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

// The temporary file is marked for deletion while it is open: however the
// process ends (Ctrl+C, a closed console window, a killed process), the
// system removes the file when the handle goes. The commit clears the mark
// and renames the file into place.
PackageOutput::PackageOutput(const fs::path& final) : final_(AccessPath(final)) {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && !handle_; ++attempt) {
        wchar_t suffix[16];
        swprintf(suffix, 16, L".%08x", static_cast<unsigned>(random()));
        fs::path candidate = final_;
        candidate += suffix;
        HANDLE h = CreateFileW(candidate.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            handle_ = h;
            temporary_ = candidate;
        } else if (GetLastError() != ERROR_FILE_EXISTS) {
            return;
        }
    }
    if (!handle_) return;
    HANDLE h = static_cast<HANDLE>(handle_);
    int fd = -1;
    if (SetDeletePending(h, true)) fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    if (fd >= 0) file_ = _fdopen(fd, "w+b");
    if (!file_) {
        if (fd >= 0) _close(fd);
        else CloseHandle(h);
        DeleteFileW(temporary_.c_str());
        handle_ = nullptr;
    }
}

PackageOutput::~PackageOutput() {
    if (file_) std::fclose(file_);  // the pending deletion removes the file
}

bool PackageOutput::Commit(bool, std::string* reason) {
    HANDLE h = static_cast<HANDLE>(handle_);
    if (std::fflush(file_) != 0) {
        *reason = std::strerror(errno);
        return false;
    }
    if (!FlushFileBuffers(h)) {
        *reason = SystemReason(GetLastError());
        return false;
    }
    EnterCriticalSection(&CommitLock);
    DWORD error = SetDeletePending(h, false) ? ERROR_SUCCESS : GetLastError();
    if (std::fclose(file_) != 0 && error == ERROR_SUCCESS) error = ERROR_WRITE_FAULT;
    file_ = nullptr;
    if (error == ERROR_SUCCESS) error = ReplaceFinal(temporary_, final_);
    if (error != ERROR_SUCCESS) {
        DeleteFileW(temporary_.c_str());
        *reason = SystemReason(error);
    }
    LeaveCriticalSection(&CommitLock);
    return error == ERROR_SUCCESS;
}

#else

namespace {

// The temporary name for the signal handler, which may only make
// async-signal-safe calls (unlink); empty when there is none.
char PendingName[4096];

void OnSignal(int signal) {
    if (PendingName[0]) ::unlink(PendingName);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void Pending(const std::string& name) {
    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
    if (name.size() < sizeof PendingName) std::memcpy(PendingName, name.c_str(), name.size() + 1);
    else PendingName[0] = 0;
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace

// A signal that was ignored (nohup, a background job) stays ignored.
void RemoveTemporaryOnInterrupt() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {}, old {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
    }
}

PackageOutput::PackageOutput(const fs::path& final) : final_(final) {
    std::string name = final.string() + ".XXXXXX";
    int fd = mkstemp(name.data());
    if (fd < 0) return;
    temporary_ = name;
    Pending(name);
    file_ = fdopen(fd, "w+b");
    if (!file_) ::close(fd);
}

PackageOutput::~PackageOutput() {
    if (file_) std::fclose(file_);
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        Pending({});
    }
}

bool PackageOutput::Commit(bool executable, std::string* reason) {
    mode_t mask = umask(0);
    umask(mask);
    bool ok = std::fflush(file_) == 0 && fsync(fileno(file_)) == 0 &&
              fchmod(fileno(file_), (executable ? 0777 : 0666) & ~mask) == 0;
    if (!ok) *reason = std::strerror(errno);
    if (std::fclose(file_) != 0 && ok) {
        ok = false;
        *reason = std::strerror(errno);
    }
    file_ = nullptr;
    // Signals wait while the name changes hands, so the handler never
    // removes the package that just took the temporary's place.
    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
    if (ok && std::rename(temporary_.c_str(), final_.c_str()) == 0) {
        temporary_.clear();
        PendingName[0] = 0;
    } else if (ok) {
        *reason = std::strerror(errno);
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return ok && temporary_.empty();
}

#endif

void HoldBeforeRenameForTest() {
    const char* marker = std::getenv("CEPACK_TEST_HOLD_FILE");
    if (!marker || !*marker) return;
    if (FILE* f = OpenHostFile(HostPath(marker), "wb")) std::fclose(f);
    // Until interrupted; a test that never interrupts fails on the package
    // this leaves after the wait.
    for (int i = 0; i < 1200; ++i) {
#ifdef _WIN32
        Sleep(100);
#else
        usleep(100000);
#endif
    }
}

}  // namespace cepack
