// The shipped 32-bit programs that cepack hands out: installed beside it as
// PREFIX/bin/cepack and PREFIX/share/cepack/, and laid out the same way in
// the build tree (build/tools/cepack/cepack, build/share/cepack/). On
// Windows an author may also have copied the three files into one folder.
#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/cepack/cepack.h"
#include "tools/cepack/host_paths.h"

namespace fs = std::filesystem;

namespace cepack {

namespace {

fs::path OwnDirectory() {
#ifdef _WIN32
    // Grown until the whole name fits: the folder may be a long path.
    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (n == 0) return {};
        if (n < self.size()) {
            self.resize(n);
            return fs::path(self).parent_path();
        }
        if (self.size() > 32768) return {};
        self.resize(self.size() * 2);
    }
#else
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self.parent_path();
#endif
}

}  // namespace

std::string SharedProgram(const std::string& name, std::string* lookedAt) {
    fs::path own = OwnDirectory();
    lookedAt->clear();
    if (own.empty()) return {};
    std::vector<fs::path> places = {own / ".." / "share" / "cepack", own / ".." / ".." / "share" / "cepack"};
#ifdef _WIN32
    places.push_back(own);
#endif
    for (const fs::path& dir : places) {
        fs::path candidate = (dir / HostPath(name)).lexically_normal();
        if (IsReadableFile(candidate)) return Utf8Of(candidate);
        *lookedAt += (lookedAt->empty() ? "" : ", ") + Utf8Of(candidate);
    }
    return {};
}

}  // namespace cepack
