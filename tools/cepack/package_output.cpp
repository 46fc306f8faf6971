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

bool PackageOutput::Commit(bool) {
    HANDLE h = static_cast<HANDLE>(handle_);
    if (std::fflush(file_) != 0 || !FlushFileBuffers(h)) return false;
    EnterCriticalSection(&CommitLock);
    bool ok = SetDeletePending(h, false);
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    // A plain rename onto an existing file fails on Windows.
    ok = ok && MoveFileExW(temporary_.c_str(), final_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileW(temporary_.c_str());
    LeaveCriticalSection(&CommitLock);
    return ok;
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

bool PackageOutput::Commit(bool executable) {
    mode_t mask = umask(0);
    umask(mask);
    bool ok = std::fflush(file_) == 0 && fsync(fileno(file_)) == 0 &&
              fchmod(fileno(file_), (executable ? 0777 : 0666) & ~mask) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    // Signals wait while the name changes hands, so the handler never
    // removes the package that just took the temporary's place.
    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
    if (ok && std::rename(temporary_.c_str(), final_.c_str()) == 0) {
        temporary_.clear();
        PendingName[0] = 0;
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
