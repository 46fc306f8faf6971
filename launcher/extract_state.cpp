// The engine's state and its archive access, through the file layer or the
// memory seam.
#include <cstdlib>
#include <cstring>

#include "launcher/extract_state.h"

ExtractState TheExtractState;

namespace {

bool HasHandle(FileHandle handle) { return handle != nullptr && handle != InvalidFileHandle; }

}  // namespace

uint8_t* AllocateWindow() {
    auto* block = static_cast<uint8_t*>(std::malloc(2 * WindowSize + WindowSlack));
    if (!block) return nullptr;
    // Only the history is ever read before it is written, and only by a
    // distance that reaches before the entry's first byte, which valid data
    // never has: it is zeroed then, not for every entry.
    TheExtractState.HistoryReady = false;
    return block + WindowSize;
}

void ZeroHistory() {
    ExtractState& s = TheExtractState;
    std::memset(s.Window - WindowSize, 0, WindowSize);
    s.HistoryReady = true;
}

void ReleaseWindow(uint8_t* window) {
    if (window) std::free(window - WindowSize);
}

bool OpenArchive(const char* archiveName) {
    ExtractState& s = TheExtractState;
    if (s.Input) {
        s.Input->Position = 0;
        return true;
    }
    s.ArchiveFile = OpenExistingFile(archiveName, 0);
    if (LastFileError == 0 && HasHandle(s.ArchiveFile)) return true;
    CloseArchive();
    return false;
}

bool SeekArchive(uint32_t position) {
    ExtractState& s = TheExtractState;
    if (s.Input) {
        s.Input->Position = position;
        return true;
    }
    if (position > 0x7FFFFFFFu) return false;  // beyond the layer's signed positions
    return SeekFileHandle(s.ArchiveFile, static_cast<int32_t>(position), 0) != -1 && LastFileError == 0;
}

bool ReadArchive(void* buffer, uint16_t count, uint16_t* done) {
    ExtractState& s = TheExtractState;
    *done = 0;
    if (MemoryInput* in = s.Input) {
        ++in->Reads;
        if (in->FailRead != 0 && in->Reads == in->FailRead) return false;
        uint32_t left = in->Position < in->Size ? in->Size - in->Position : 0;
        uint32_t n = count < left ? count : left;
        if (n) std::memcpy(buffer, in->Bytes + in->Position, n);
        in->Position += n;
        *done = static_cast<uint16_t>(n);
        return true;
    }
    if (!HasHandle(s.ArchiveFile)) return false;
    ReadFileBlock(s.ArchiveFile, buffer, count, done);
    return LastFileError == 0;
}

void CloseArchive() {
    ExtractState& s = TheExtractState;
    if (HasHandle(s.ArchiveFile)) CloseFileHandle(s.ArchiveFile);
    s.ArchiveFile = InvalidFileHandle;
}
