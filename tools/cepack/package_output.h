// The package file of cepack build: written under a temporary name beside
// its final one and renamed into place only when complete, so that a failed
// or interrupted build leaves neither a half-written package nor the
// temporary file, and an earlier package stays as it was.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

namespace cepack {

class PackageOutput {
public:
    explicit PackageOutput(const std::filesystem::path& final);
    ~PackageOutput();  // removes the temporary file unless committed
    PackageOutput(const PackageOutput&) = delete;
    PackageOutput& operator=(const PackageOutput&) = delete;
    FILE* File() const { return file_; }
    // Flushed to disk and renamed over the final name (replacing a file of
    // that name, read-only or held for a moment); executable: marked so on
    // POSIX. On failure, the system's reason in *reason.
    bool Commit(bool executable, std::string* reason);

private:
    std::filesystem::path final_;
    std::filesystem::path temporary_;
    FILE* file_ = nullptr;
    void* handle_ = nullptr;  // Windows: the file's handle, its deletion pending until commit
};

// How build and cab date what they write: a file's local time as DOS date
// (high half) and time, within the 1980 to 2107 that DOS stamps hold; the
// reproducible-builds SOURCE_DATE_EPOCH, a note on err where it is no count
// of seconds; a time clamped to it.
uint32_t DosDateTimeOf(time_t when);
std::optional<time_t> SourceDateEpoch(std::ostream& err);
time_t ClampTime(time_t when, const std::optional<time_t>& epoch);

// Ctrl+C (SIGINT, SIGTERM, SIGHUP; on Windows the console's control events)
// then ends cepack without a temporary package file left behind.
void RemoveTemporaryOnInterrupt();

// For the interruption test: with CEPACK_TEST_HOLD_FILE set, build writes
// that file once the package's bytes are complete, and waits there before
// the rename so that it can be interrupted at a known point.
void HoldBeforeRenameForTest();

}  // namespace cepack
