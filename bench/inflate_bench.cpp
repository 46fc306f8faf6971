// inflate_bench [CORPUS_DIR] [REPETITIONS]: our decoder against zlib and
// libdeflate on the same raw deflate streams (zlib, levels 6 and 9) of a mixed
// corpus made by make-corpus.sh. Prints MB/s of output (1 MB = 10^6 bytes),
// medians of thread CPU time over the repetitions, and the decoder's peak heap use.
//
// The engine's own allocations are counted by wrapping malloc, calloc and
// free at link time (-Wl,--wrap); zlib and libdeflate are shared libraries
// and not affected.
#include <libdeflate.h>
#include <malloc.h>
#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "launcher/extract_entry.h"
#include "launcher/extract_state.h"
#include "launcher/inflate.h"
#include "launcher/inflate_fast.h"

namespace fs = std::filesystem;

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void __real_free(void* p);
}

namespace {

size_t HeapNow = 0;
size_t HeapPeak = 0;

void Count(void* p) {
    if (!p) return;
    HeapNow += malloc_usable_size(p);
    HeapPeak = std::max(HeapPeak, HeapNow);
}

}  // namespace

extern "C" {
void* __wrap_malloc(size_t size) {
    void* p = __real_malloc(size);
    Count(p);
    return p;
}
void* __wrap_calloc(size_t count, size_t size) {
    void* p = __real_calloc(count, size);
    Count(p);
    return p;
}
void __wrap_free(void* p) {
    if (p) HeapNow -= malloc_usable_size(p);
    __real_free(p);
}
}

namespace {

struct Item {
    std::string data;
    std::string stream;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string RawDeflate(const std::string& data, int level) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct Sink {
    uint8_t* out;
    size_t used;
    size_t capacity;
};

uint32_t CopyOut(void* context, const uint8_t* bytes, uint32_t count) {
    auto* sink = static_cast<Sink*>(context);
    if (sink->used + count > sink->capacity) return 0;
    std::memcpy(sink->out + sink->used, bytes, count);
    sink->used += count;
    return count;
}

// Thread CPU time: steadier than the wall clock on a machine shared with
// other work.
double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

using DecodeFunction = std::function<size_t(const Item&, uint8_t*, size_t)>;

// One pass over the corpus; returns seconds, or -1 when an output is wrong.
double TimePass(const std::vector<Item>& items, std::vector<uint8_t>& out, const DecodeFunction& decode,
                bool verify) {
    double start = CpuSeconds();
    for (const Item& item : items) {
        size_t n = decode(item, out.data(), item.data.size());
        if (n != item.data.size()) return -1;
        if (verify && std::memcmp(out.data(), item.data.data(), n) != 0) return -1;
    }
    return CpuSeconds() - start;
}

// Medians per decoder; the decoders take turns in every repetition so that
// a burst of load elsewhere hits them alike.
std::vector<double> MedianSeconds(const std::vector<Item>& items, std::vector<uint8_t>& out, int repetitions,
                                  const std::vector<DecodeFunction>& decoders) {
    std::vector<std::vector<double>> times(decoders.size());
    for (size_t d = 0; d < decoders.size(); ++d) {
        if (TimePass(items, out, decoders[d], true) < 0) return std::vector<double>(decoders.size(), -1);
    }
    for (int i = 0; i < repetitions; ++i) {
        for (size_t d = 0; d < decoders.size(); ++d) times[d].push_back(TimePass(items, out, decoders[d], false));
    }
    std::vector<double> medians;
    for (auto& t : times) {
        std::sort(t.begin(), t.end());
        medians.push_back(t[t.size() / 2]);
    }
    return medians;
}

size_t DecodeOurs(const Item& item, uint8_t* out, size_t capacity, bool crc, bool plainOnly = false) {
    TheExtractState.SlowPathOnly = plainOnly;
    MemoryInput input{reinterpret_cast<const uint8_t*>(item.stream.data()), static_cast<uint32_t>(item.stream.size()),
                      0, 0, 0};
    Sink sink{out, 0, capacity};
    OutputSink output{CopyOut, &sink, !crc};
    int32_t r = InflateFromMemory(&input, &output, static_cast<int32_t>(item.stream.size()), nullptr, 0);
    return r == InflateOk ? sink.used : 0;
}

void RunLevel(const std::vector<std::string>& files, int level, int repetitions) {
    std::vector<Item> items;
    size_t total = 0, packed = 0, largest = 0;
    for (const std::string& data : files) {
        items.push_back(Item{data, RawDeflate(data, level)});
        total += data.size();
        packed += items.back().stream.size();
        largest = std::max(largest, data.size());
    }
    std::vector<uint8_t> out(largest + 1);

    z_stream z{};
    inflateInit2(&z, -15);
    auto zlibDecode = [&](const Item& item, uint8_t* dest, size_t capacity) -> size_t {
        inflateReset(&z);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(item.stream.data()));
        z.avail_in = static_cast<uInt>(item.stream.size());
        z.next_out = dest;
        z.avail_out = static_cast<uInt>(capacity);
        return inflate(&z, Z_FINISH) == Z_STREAM_END ? capacity - z.avail_out : 0;
    };
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    auto libdeflateDecode = [&](const Item& item, uint8_t* dest, size_t capacity) -> size_t {
        size_t n = 0;
        return libdeflate_deflate_decompress(d, item.stream.data(), item.stream.size(), dest, capacity, &n) ==
                       LIBDEFLATE_SUCCESS
                   ? n
                   : 0;
    };

    // Peak heap of our decoder alone, over one pass.
    HeapPeak = HeapNow;
    size_t heapBefore = HeapNow;
    TimePass(items, out, [](const Item& i, uint8_t* o, size_t c) { return DecodeOurs(i, o, c, true); }, false);
    size_t peak = HeapPeak - heapBefore;

    std::vector<double> m = MedianSeconds(
        items, out, repetitions,
        {[](const Item& i, uint8_t* o, size_t c) { return DecodeOurs(i, o, c, false); },
         [](const Item& i, uint8_t* o, size_t c) { return DecodeOurs(i, o, c, true); }, zlibDecode, libdeflateDecode,
         [](const Item& i, uint8_t* o, size_t c) { return DecodeOurs(i, o, c, false, true); }});
    double ours = m[0], oursCrc = m[1], zlib = m[2], libdeflate = m[3], plain = m[4];
    inflateEnd(&z);
    libdeflate_free_decompressor(d);

    auto rate = [&](double seconds) { return seconds > 0 ? total / seconds / 1e6 : 0.0; };
    std::printf("level %d: %zu files, %.1f MB -> %.1f MB deflated (%.1f%%)\n", level, items.size(), total / 1e6,
                packed / 1e6, 100.0 * packed / total);
    if (ours < 0 || oursCrc < 0 || zlib < 0 || libdeflate < 0 || plain < 0) {
        std::printf("  a decoder gave wrong output\n");
        return;
    }
    std::printf("  ours (no CRC)     %8.1f MB/s   ours/zlib %.2fx   ours/libdeflate %.2fx\n", rate(ours),
                zlib / ours, libdeflate / ours);
    std::printf("  ours (with CRC)   %8.1f MB/s   ours/zlib %.2fx   ours/libdeflate %.2fx\n", rate(oursCrc),
                zlib / oursCrc, libdeflate / oursCrc);
    std::printf("  ours, plain path  %8.1f MB/s   (the per-symbol algorithm alone, no CRC)\n", rate(plain));
    std::printf("  zlib inflate      %8.1f MB/s\n", rate(zlib));
    std::printf("  libdeflate        %8.1f MB/s\n", rate(libdeflate));
    std::printf("  decoder peak heap %zu bytes (window, plain tables); static: state %zu bytes, fast tables %zu\n",
                peak, sizeof(ExtractState), sizeof(FastLiterals) + sizeof(FastDistances));
}

}  // namespace

int main(int argc, char** argv) {
    fs::path corpus = argc > 1 ? fs::path(argv[1]) : fs::path(CE_BINARY_DIR) / "bench-corpus";
    int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    if (!fs::exists(corpus)) {
        std::string command = std::string("bash '") + CE_SOURCE_DIR + "/bench/make-corpus.sh' '" + corpus.string() + "' 35";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "could not make the corpus in %s\n", corpus.c_str());
            return 1;
        }
    }
    std::vector<std::string> files;
    std::vector<fs::path> paths;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        if (entry.is_regular_file()) paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    for (const fs::path& p : paths) files.push_back(ReadAll(p));
    BuildCrcTable();
    std::printf("corpus %s, median of %d passes\n", corpus.c_str(), repetitions);
    RunLevel(files, 6, repetitions);
    RunLevel(files, 9, repetitions);
    return 0;
}
