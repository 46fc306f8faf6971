// Arbitrary archive bytes through ExtractAllEntries into a scratch directory
// two levels below this process's scratch root, which also holds files and
// directories beside it (and the process's current directory). Afterwards
// nothing outside the destination has changed, no file is left open, and an
// entry that failed has left no file of its own behind.
//
// The program is linked with --wrap for ExtractEntry, so every entry the walk
// hands over is seen before and after: its path must lie inside the
// destination (judged before anything is written), and its result must be
// consistent with the walk's. The wrapper also plays a full disk once the
// destination holds WriteBudget bytes, so that no input can fill the machine.
// The launcher's sizing runs first. Cancellation, from the progress dialog or
// by the polled key, is played at a moment chosen by the input's length.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/extract_driver.h"
#include "launcher/extract_entry.h"
#include "support/platform.h"
#include "support/progress.h"
#include "tests/fuzz/fuzz_util.h"

using fuzz::Check;

extern "C" int32_t __real__Z12ExtractEntryPKcS0_tjPvs(const char* archiveName, const char* destPath,
                                                      uint16_t attributes, uint32_t localHeaderOffset,
                                                      WindowHandle progressWindow, int16_t progressId);

namespace {

constexpr uint64_t WriteBudget = 64ull << 20;

struct Layout {
    std::string root;         // native
    std::string archive;      // native
    std::string destination;  // native, no trailing slash
    std::string workDir;      // the current directory during a walk
    std::string coreArchive;
    std::string coreDestination;  // with its trailing backslash
};

const Layout& Paths() {
    static const Layout layout = [] {
        Layout l;
        l.root = fuzz::ScratchRoot();
        l.archive = l.root + "/archive.zip";
        l.destination = l.root + "/d1/d2/dest";
        l.workDir = l.root + "/cwd";
        l.coreArchive = fuzz::CorePath(l.archive);
        l.coreDestination = fuzz::CorePath(l.destination) + "\\";
        for (const char* dir : {"/d1", "/d1/d2", "/d1/d2/sibling", "/cwd"}) mkdir((l.root + dir).c_str(), 0700);
        const char* keep = "keep";
        for (const char* file : {"/keep.txt", "/d1/keep.txt", "/d1/d2/keep.txt", "/d1/d2/sibling/keep.txt"}) {
            fuzz::WriteFile(l.root + file, reinterpret_cast<const uint8_t*>(keep), 4);
        }
        return l;
    }();
    return layout;
}

// The entries the walk handed over in this run.
struct Call {
    std::string path;
    int32_t result;
};
std::vector<Call> Calls;
uint64_t BytesWritten = 0;
int CancelAt = 0;  // the key poll or progress message that cancels; 0: never
int Polls = 0;

bool KeyDown(int) { return CancelAt != 0 && ++Polls == CancelAt; }

// The progress dialog as the launcher has it: its Cancel reaches the engine
// while it handles a progress message.
struct Dialog : HostProgressSink {
    void OnProgress(int16_t, int32_t) override {
        if (CancelAt != 0 && ++Polls == CancelAt) RequestCancel();
    }
} TheDialog;

// The core path as the POSIX backend sees it ("\" and "/" both separate),
// with "." and ".." resolved as the system would; false when it climbs
// above the root.
bool Resolve(const std::string& path, std::vector<std::string>* parts) {
    std::string part;
    for (size_t i = 0; i <= path.size(); ++i) {
        char c = i < path.size() ? path[i] : '\\';
        if (c != '\\' && c != '/') {
            part += c;
            continue;
        }
        if (part == "..") {
            if (parts->empty()) return false;
            parts->pop_back();
        } else if (!part.empty() && part != ".") {
            parts->push_back(part);
        }
        part.clear();
    }
    return true;
}

bool InsideDestination(const std::string& path) {
    std::vector<std::string> target, destination;
    if (!Resolve(path, &target) || !Resolve(Paths().coreDestination, &destination)) return false;
    if (target.size() < destination.size()) return false;  // the destination itself is inside
    for (size_t i = 0; i < destination.size(); ++i) {
        if (target[i] != destination[i]) return false;
    }
    return true;
}

std::string NativeOf(const std::string& core) {
    std::string native = core;
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

// "" when nothing is at the path, else what a snapshot would say of it.
std::string StateOf(const std::string& native) {
    struct stat info;
    if (lstat(native.c_str(), &info) != 0) return "";
    if (!S_ISREG(info.st_mode)) return "other";
    std::string bytes;
    fuzz::ReadFile(native, &bytes);
    return std::to_string(info.st_size) + ":" + bytes;
}

}  // namespace

extern "C" int32_t __wrap__Z12ExtractEntryPKcS0_tjPvs(const char* archiveName, const char* destPath,
                                                      uint16_t attributes, uint32_t localHeaderOffset,
                                                      WindowHandle progressWindow, int16_t progressId) {
    std::string path = destPath;
    Check(InsideDestination(path), "an entry's path leaves the destination", path);
    if (BytesWritten > WriteBudget) {
        Calls.push_back({path, ExtractWriteFailed});  // as a full disk would
        return ExtractWriteFailed;
    }
    std::string native = NativeOf(path);
    bool directory = !path.empty() && (path.back() == '\\' || (attributes & 0x10) != 0);
    std::string before = directory ? "" : StateOf(native);
    int32_t r = __real__Z12ExtractEntryPKcS0_tjPvs(archiveName, destPath, attributes, localHeaderOffset,
                                                   progressWindow, progressId);
    Check(r >= ExtractOk && r <= ExtractEncrypted, "unknown entry result", std::to_string(r));
    Calls.push_back({path, r});
    if (directory) return r;
    std::string after = StateOf(native);
    if (r == ExtractOk) {
        Check(!after.empty() && after != "other", "an extracted entry left no file", path);
        BytesWritten += after.size();
    } else {
        // Gone, or as it was when the entry failed before touching it.
        Check(after.empty() || after == before, "a failed entry left a partial file", path);
    }
    return r;
}

std::string StartDirectory;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char buffer[4096];
    if (!getcwd(buffer, sizeof buffer)) fuzz::Fail("no current directory");
    StartDirectory = buffer;  // libFuzzer's corpus paths may be relative to it
    BuildCrcTable();
    TheHostUi.keyDown = KeyDown;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Layout& l = Paths();
    if (!fuzz::WriteFile(l.archive, data, size)) fuzz::Fail("cannot write the archive", l.archive);
    mkdir(l.destination.c_str(), 0700);
    if (chdir(l.workDir.c_str()) != 0) fuzz::Fail("cannot enter the work directory", l.workDir);
    fuzz::TreeSnapshot outside = fuzz::Snapshot(l.root, "d1/d2/dest");
    int descriptors = fuzz::OpenDescriptors();
    Calls.clear();
    BytesWritten = 0;
    Polls = 0;
    CancelAt = static_cast<int>(size % 7 == 0 ? 1 + size % 5 : 0);
    // With the dialog (odd sizes) or without it, polling the key (even sizes).
    ProgressDialog = size % 2 ? &TheDialog : nullptr;

    int32_t total = SumUncompressedSizes(l.coreArchive.c_str(), 0, 0);
    Check(total == -1 || total > 0, "unknown total", std::to_string(total));
    SetProgressTotal(total);
    int32_t r = ExtractAllEntries(l.coreArchive.c_str(), l.coreDestination.c_str(), 0, 0);
    ProgressDialog = nullptr;
    if (std::getenv("CE_FUZZ_VERBOSE")) {
        std::fprintf(stderr, "total %d, walk %d, %zu entries handed over:", total, r, Calls.size());
        for (const Call& c : Calls) std::fprintf(stderr, " %d", c.result);
        std::fprintf(stderr, "\n");
    }

    Check(r == WalkOk || r == WalkWriteError || r == WalkDefective || r == WalkCancelled || r == WalkUnreadable,
          "unknown walk result", std::to_string(r));
    Check(fuzz::OpenDescriptors() == descriptors, "the walk leaves a file open");
    Check(fuzz::Snapshot(l.root, "d1/d2/dest") == outside, "something changed outside the destination");
    for (size_t i = 0; i + 1 < Calls.size(); ++i) {
        Check(Calls[i].result == ExtractOk, "the walk went on after a failed entry", Calls[i].path);
    }
    if (!Calls.empty() && Calls.back().result != ExtractOk) {
        int32_t e = Calls.back().result;
        int32_t expected = e == ExtractWriteFailed ? WalkWriteError : e == ExtractCancelled ? WalkCancelled
                                                                                            : WalkDefective;
        Check(r == expected, "walk result doesn't follow the failed entry", std::to_string(r));
    }
    if (r == WalkOk) {
        for (const Call& c : Calls) Check(c.result == ExtractOk, "a failed entry, yet the walk succeeded", c.path);
    }
    fuzz::RemoveTree(l.destination);
    if (chdir(StartDirectory.c_str()) != 0) fuzz::Fail("cannot return to the start directory");
    return 0;
}
