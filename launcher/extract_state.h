// The extraction engine's single process-wide state, shared by the entry
// extraction, the stored copy and the inflate decoder, and the sink they all
// write through. One entry is extracted at a time, on the GUI thread.
//
// Two seams let tests, fuzzers and benchmarks run the engine without files:
// MemoryInput stands in for the archive file and OutputSink for the output
// file's writes. The programs never set them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/file_layer.h"
#include "support/platform.h"

constexpr uint32_t InputBufferSize = 2048;
constexpr uint32_t WindowSize = 32768;
constexpr uint32_t WindowSlack = 64;
// Methods 0-6 and 8: the first test of an entry's method.
constexpr uint32_t KnownMethods = 0x17F;
// Compressed size given to a deflated entry whose local header holds no
// sizes; it never limits the input and keeps CompressedSize + 2 in 32 bits.
constexpr int32_t OpenEndedSize = 0x7FFFFF9B;

// Archive bytes in memory instead of the archive file.
struct MemoryInput {
    const uint8_t* Bytes;
    uint32_t Size;
    uint32_t Position;    // next byte to read; a seek sets it
    uint32_t Reads;       // read calls so far
    uint32_t FailRead;    // 1-based number of the read call that fails; 0 = none
};

// Receives the output instead of the output file. Write returns the count it
// stored; anything short of count is a failed write.
struct OutputSink {
    uint32_t (*Write)(void* context, const uint8_t* bytes, uint32_t count);
    void* Context;
    bool SkipCrc;  // benchmarks: leave RunningCrc alone
};

struct ExtractState {
    uint8_t InputBuffer[InputBufferSize];
    int16_t InputPos;   // next byte to take
    int16_t InputLast;  // last valid byte; -1 = empty
    // Bits are taken from the low end. 64 bits wide so that the decoder's fast
    // loop can refill a word at a time; the plain path itself needs at most 23.
    uint64_t BitBuffer;
    uint8_t BitCount;
    // WindowSize bytes of output, flushed when full. The previous WindowSize
    // bytes stay in front of it (Window[-32768..-1]) so a match never wraps;
    // a little slack behind it lets copies run over. Before the first flush
    // they read as zeros: ZeroHistory runs when a match first reaches there.
    uint8_t* Window;
    bool HistoryReady;  // the bytes in front of Window hold output or zeros
    uint16_t WindowPos;  // next output byte; also the count not yet flushed
    FileHandle ArchiveFile;
    FileHandle OutputFile;
    int32_t CompressedSize;
    // Bytes read for the entry so far. Wider than the 32 bits it counts in, so
    // that the read that passes an open-ended size can't overflow it.
    int64_t CompressedRead;
    uint32_t RunningCrc;
    WindowHandle ProgressWindow;
    int16_t ProgressId;  // WM_COMMAND id, or a key code to poll without a window
    int16_t LastPercent;
    bool CancelRequested;
    bool InputExhausted;  // input asked for beyond the entry's data or the file
    // The compressed size the central directory gives for the entry about to
    // be extracted, set by the walk (0: not known). A stored entry whose local
    // header defers its sizes to the data descriptor takes it from here.
    uint32_t DirectoryCompressedSize;

    // Seams; null in the programs.
    MemoryInput* Input;
    OutputSink* Output;
    // Decode with the plain per-symbol algorithm only: the reference the fast
    // loop is checked against.
    bool SlowPathOnly;
};

extern ExtractState TheExtractState;

// The window with room for its history in front and slack behind; null when
// memory is exhausted. ReleaseWindow takes null too.
uint8_t* AllocateWindow();
void ReleaseWindow(uint8_t* window);
// Zeroes the history in front of Window (the bytes before the entry's first).
void ZeroHistory();

// The first count bytes of Window (count up to WindowSize) go to the output
// and into RunningCrc; false when the write failed (after one beep).
bool FlushWindow(uint32_t count);
// Reports the entry's percentage when it changed, or polls the cancel key.
void ReportProgress();

// Archive access through the input seam or the file layer. A read is good
// when nothing failed; *done may still be short at the end of the input.
bool OpenArchive(const char* archiveName);
bool SeekArchive(uint32_t position);
bool ReadArchive(void* buffer, uint16_t count, uint16_t* done);
// Closes the archive file if it is open; harmless when it is not.
void CloseArchive();

