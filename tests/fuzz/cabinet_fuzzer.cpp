// cepack's cabinet readers: arbitrary bytes as the cabinet (in a block of
// exactly their size), read only below that size, each finding a message;
// lint's check, the whole device cabinet as --show reads it, and the same
// bytes as a setup file on their own (so the setup-file reader is reached
// without a valid container around it).
#include <cstring>
#include <vector>

#include "tests/fuzz/fuzz_util.h"
#include "tools/cepack/cab_setup_read.h"
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
    cepack::DeviceCabinet cabinet;
    std::vector<cepack::CabinetFinding> findings;
    bool whole = cepack::ReadDeviceCabinet(size, read, &cabinet, &findings);
    Check(whole || !findings.empty(), "a refused cabinet without a finding");
    if (whole) Check(cabinet.memberOf.size() == cabinet.setup.files.size(), "a file entry without its member");

    cepack::SetupModel model;
    findings.clear();
    std::vector<uint8_t> setup(data, data + size);
    if (!cepack::ReadSetupFile(setup, &model, &findings)) Check(!findings.empty(), "a refused setup file without a finding");
    for (const cepack::CabinetFinding& f : findings) Check(!f.message.empty(), "a finding without its message");
    return 0;
}
