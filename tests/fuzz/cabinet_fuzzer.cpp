// cepack lint's cabinet check: arbitrary bytes as the cabinet (in a block of
// exactly their size), read only below that size, each finding a message.
#include <cstring>

#include "tests/fuzz/fuzz_util.h"
#include "tools/cepack/cabinet_check.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ExactBuffer bytes(data, size, size);
    cepack::CabinetReader read = [&bytes, size](uint64_t offset, uint8_t* out, size_t count) -> size_t {
        Check(offset <= size && count <= size - offset, "a read past the end of the cabinet");
        std::memcpy(out, bytes.Text() + offset, count);
        return count;
    };
    for (const cepack::CabinetFinding& f : cepack::CheckCabinet(size, read)) {
        Check(!f.message.empty(), "a finding without its message");
    }
    return 0;
}
