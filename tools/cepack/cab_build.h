// The steps of cepack cab, for new --inf too: an information file read and
// checked into a cabinet ready to write, then written.
#pragma once

#include <ctime>
#include <string>

#include "tools/cepack/cab_inf.h"
#include "tools/cepack/cepack.h"

namespace cepack {

struct PreparedCab {
    std::string inf;        // its host path (UTF-8)
    time_t infModified = 0;
    CabApplication app;
    std::string setupFile;  // NAME.000's bytes
};

// Reads and checks inf for cpu (empty: the untagged sections), printing the
// findings to streams.err as cepack cab does. ExitOk with *prepared
// complete, or the exit status.
int PrepareCab(const std::string& inf, const std::string& cpu, PreparedCab* prepared, const Streams& streams);

// Writes the cabinet to output (through a temporary file renamed into
// place). ExitOk or the exit status, the reason printed.
int WritePreparedCab(const PreparedCab& prepared, const std::string& output, bool compress, const Streams& streams);

}  // namespace cepack
