// The shipped 32-bit programs that cepack hands out: installed beside it as
// PREFIX/bin/cepack and PREFIX/share/cepack/, and laid out the same way in
// the build tree (build/tools/cepack/cepack, build/share/cepack/).
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "tools/cepack/cepack.h"

namespace fs = std::filesystem;

namespace cepack {

namespace {

fs::path OwnDirectory() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self.parent_path();
}

}  // namespace

std::string SharedProgram(const std::string& name, std::string* lookedAt) {
    fs::path own = OwnDirectory();
    lookedAt->clear();
    if (own.empty()) return {};
    for (const fs::path& dir : {own / ".." / "share" / "cepack", own / ".." / ".." / "share" / "cepack"}) {
        fs::path candidate = (dir / name).lexically_normal();
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec) && ::access(candidate.c_str(), R_OK) == 0) return candidate.string();
        *lookedAt += (lookedAt->empty() ? "" : ", ") + candidate.string();
    }
    return {};
}

}  // namespace cepack
