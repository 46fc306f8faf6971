#include "tools/cepack/host_paths.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "support/text.h"

namespace fs = std::filesystem;

namespace cepack {

std::optional<std::string> CorePathOf(const std::string& hostPath, size_t reserve) {
    if (hostPath.empty()) return std::nullopt;
    std::error_code ec;
    fs::path absolute = fs::absolute(fs::path(hostPath), ec);
    if (ec) return std::nullopt;
    std::string text = absolute.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    if (text.find('\\') != std::string::npos) return std::nullopt;
    if (text.size() + reserve > static_cast<size_t>(PathMaxChars)) return std::nullopt;
    for (char& c : text) {
        if (c == '/') c = '\\';
    }
    return text;
}

namespace {

// Decodes one UTF-8 sequence at text[i]; -1 for a malformed one.
int32_t NextCodePoint(const std::string& text, size_t* i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(*i);
    int extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || *i + extra >= text.size()) return -1;
    int32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        if ((byte(*i + k) & 0xC0) != 0x80) return -1;
        cp = cp << 6 | (byte(*i + k) & 0x3F);
    }
    // Overlong forms would smuggle in "/" or NUL; the launcher refuses
    // surrogates and values past U+10FFFF.
    static const int32_t smallest[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < smallest[extra] || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) return -1;
    *i += extra + 1;
    return cp;
}

}  // namespace

std::optional<size_t> LongestAnsiLength(const std::string& utf8) {
    size_t length = 0;
    for (size_t i = 0; i < utf8.size();) {
        int32_t cp = NextCodePoint(utf8, &i);
        if (cp < 0) return std::nullopt;
        length += cp < 0x80 ? 1 : cp < 0x10000 ? 2 : 4;
    }
    return length;
}

PrivateTempDir::PrivateTempDir() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) return;
    std::string pattern = (base / "cepack-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) hostPath_ = pattern;
}

PrivateTempDir::~PrivateTempDir() {
    if (Ok()) RemoveTree(hostPath_);
}

void RemoveTree(const std::string& hostPath) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(hostPath, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(hostPath, ec);
}

}  // namespace cepack
