#include "tools/cepack/cab_setup_read.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>

namespace cepack {

namespace {

// The fixed header: the fields read, by offset.
constexpr size_t HeaderSize = 100;
constexpr size_t HeaderDeclaredSize = 8;
constexpr size_t HeaderCpu = 20;
constexpr size_t HeaderMinMajor = 24;  // then min minor, max major, max minor, min build, max build
constexpr size_t HeaderCounts = 48;    // six 16-bit counts, STRINGS to LINKS
constexpr size_t HeaderOffsets = 60;   // six 32-bit offsets, in the same order
constexpr size_t HeaderAppName = 84;   // offset and length of each of the three strings
constexpr size_t HeaderProvider = 88;
constexpr size_t HeaderUnsupported = 92;

enum Section { Strings, Dirs, Files, RegHives, RegKeys, Links };
const char* const SectionNames[] = {"STRINGS", "DIRS", "FILES", "REGHIVES", "REGKEYS", "LINKS"};
// Each entry: a fixed part whose last 16 bits give the length of what follows.
constexpr size_t EntryFixed[] = {4, 4, 12, 8, 12, 12};

constexpr int CeDirectoryMax = 17;       // %CE1% .. %CE17%
constexpr size_t PathMax = 1024;         // far beyond a device's MAX_PATH of 260
constexpr size_t FindingsMax = 50;       // a hostile file gets no more lines than this
const char* const RootNames[] = {"HKCR", "HKCU", "HKLM", "HKU"};

class Parser {
public:
    Parser(const std::vector<uint8_t>& b, SetupModel* m, std::vector<CabinetFinding>* f) : b_(b), m_(m), f_(f) {}

    void Error(const std::string& message) { Add(true, message); }
    void Warning(const std::string& message) { Add(false, message); }

    uint16_t U16(size_t at) const { return static_cast<uint16_t>(b_[at] | b_[at + 1] << 8); }
    uint32_t U32(size_t at) const { return static_cast<uint32_t>(U16(at)) | static_cast<uint32_t>(U16(at + 2)) << 16; }
    bool Fits(uint64_t at, uint64_t count) const { return at <= b_.size() && count <= b_.size() - at; }

    // Bytes [at, at + length) up to the first NUL; *ended when there was one.
    std::string Text(size_t at, size_t length, bool* ended) const {
        const char* p = reinterpret_cast<const char*>(b_.data() + at);
        const void* nul = length ? std::memchr(p, 0, length) : nullptr;
        *ended = nul != nullptr;
        return std::string(p, nul ? static_cast<const char*>(nul) - p : length);
    }

    void Header();
    std::string HeaderString(size_t field, const char* what, std::string* raw);
    void Walk(Section s, const std::function<void(size_t at, size_t data, size_t length)>& entry);
    std::string Path(size_t at, size_t length, const std::string& what);
    void ReadStrings();
    void ReadDirs();
    void ReadFiles();
    void ReadHives();
    void ReadKeys();
    void ReadLinks();

private:
    void Add(bool error, const std::string& message) {
        if (f_->size() < FindingsMax) f_->push_back({error, message});
        else if (f_->size() == FindingsMax) f_->push_back({error, "and more faults, not listed"});
    }

    const std::vector<uint8_t>& b_;
    SetupModel* m_;
    std::vector<CabinetFinding>* f_;
    std::map<uint16_t, std::string> strings_;
    std::map<uint16_t, std::string> dirs_;
    std::map<uint16_t, std::string> hives_;
    std::map<uint16_t, std::string> files_;  // by member number: the installed path
};

void Parser::Header() {
    m_->declaredSize = U32(HeaderDeclaredSize);
    m_->cpu = U32(HeaderCpu);
    uint32_t* bounds[] = {&m_->minMajor, &m_->minMinor, &m_->maxMajor, &m_->maxMinor, &m_->minBuild, &m_->maxBuild};
    for (size_t i = 0; i < 6; ++i) *bounds[i] = U32(HeaderMinMajor + 4 * i);
    if (m_->declaredSize > b_.size()) {
        Error("its header gives " + std::to_string(m_->declaredSize) + " bytes, the file has " +
              std::to_string(b_.size()));
    }
    std::string raw;
    size_t before = f_->size();
    m_->application = HeaderString(HeaderAppName, "application name", &raw);
    bool appNameRead = f_->size() == before;
    m_->provider = HeaderString(HeaderProvider, "provider", &raw);
    HeaderString(HeaderUnsupported, "list of unsupported platforms", &raw);
    // Consecutive NUL-terminated names, ended by an empty one.
    for (size_t at = 0; at < raw.size();) {
        size_t nul = raw.find('\0', at);
        if (nul == at) break;
        m_->unsupported.push_back(raw.substr(at, nul == std::string::npos ? std::string::npos : nul - at));
        at = nul == std::string::npos ? raw.size() : nul + 1;
    }
    if (m_->application.empty() && appNameRead) Error("names no application");
}

// One of the header's strings by its 16-bit offset and length; *raw gets all
// of its bytes.
std::string Parser::HeaderString(size_t field, const char* what, std::string* raw) {
    size_t at = U16(field), length = U16(field + 2);
    raw->clear();
    if (length == 0) return "";
    if (!Fits(at, length)) {
        Error(std::string("its ") + what + " (" + std::to_string(length) + " bytes at " + std::to_string(at) +
              ") lies past the end of the file (" + std::to_string(b_.size()) + " bytes)");
        return "";
    }
    raw->assign(reinterpret_cast<const char*>(b_.data() + at), length);
    bool ended = false;
    std::string text = Text(at, length, &ended);
    if (!ended) Warning(std::string("its ") + what + " has no terminating NUL");
    return text;
}

void Parser::Walk(Section s, const std::function<void(size_t at, size_t data, size_t length)>& entry) {
    size_t count = U16(HeaderCounts + 2 * s);
    uint64_t at = U32(HeaderOffsets + 4 * s);
    for (size_t i = 0; i < count; ++i) {
        if (!Fits(at, EntryFixed[s]) || !Fits(at + EntryFixed[s], U16(at + EntryFixed[s] - 2))) {
            Error(std::string("its ") + SectionNames[s] + " section runs past the end of the file (entry " +
                  std::to_string(i + 1) + " of " + std::to_string(count) + ")");
            return;
        }
        size_t length = U16(at + EntryFixed[s] - 2);
        entry(at, at + EntryFixed[s], length);
        at += EntryFixed[s] + length;
    }
}

// A list of 16-bit string ids ended by 0, joined with "\".
std::string Parser::Path(size_t at, size_t length, const std::string& what) {
    std::string path;
    bool ended = false, reported = false;
    for (size_t k = 0; k + 1 < length; k += 2) {
        uint16_t id = U16(at + k);
        if (id == 0) {
            ended = true;
            break;
        }
        auto s = strings_.find(id);
        if (s == strings_.end() && !reported) {
            Error(what + " names string " + std::to_string(id) + ", which its STRINGS section does not hold");
            reported = true;
        }
        std::string part = s != strings_.end() ? s->second : "<string " + std::to_string(id) + ">";
        if (path.size() + 1 + part.size() > PathMax) {
            Error(what + " is longer than " + std::to_string(PathMax) + " characters");
            return path;
        }
        path += (path.empty() ? "" : "\\") + part;
    }
    if (!ended) Warning(what + "'s list of strings does not end with 0");
    return path;
}

void Parser::ReadStrings() {
    Walk(Strings, [this](size_t at, size_t data, size_t length) {
        uint16_t id = U16(at);
        bool ended = false;
        std::string text = Text(data, length, &ended);
        if (!ended) Warning("string " + std::to_string(id) + " has no terminating NUL");
        if (!strings_.emplace(id, text).second) Error("string id " + std::to_string(id) + " is used twice");
    });
}

// The %CEn% a path begins with must be one a device defines.
bool BadCeMacro(const std::string& path) {
    if (path.size() < 5 || path[0] != '%' || (path[1] != 'C' && path[1] != 'c') || (path[2] != 'E' && path[2] != 'e')) {
        return false;
    }
    size_t end = path.find('%', 3);
    if (end == std::string::npos || end == 3 || end > 5) return false;
    int n = 0;
    for (size_t i = 3; i < end; ++i) {
        if (path[i] < '0' || path[i] > '9') return false;
        n = n * 10 + (path[i] - '0');
    }
    return n < 1 || n > CeDirectoryMax;
}

void Parser::ReadDirs() {
    Walk(Dirs, [this](size_t at, size_t data, size_t length) {
        uint16_t id = U16(at);
        std::string what = "directory " + std::to_string(id);
        std::string path = Path(data, length, what);
        if (BadCeMacro(path)) Warning(what + " begins with " + path.substr(0, path.find('%', 1) + 1) +
                                      ", which no device defines (%CE1% to %CE17%)");
        if (!dirs_.emplace(id, path).second) Error("directory id " + std::to_string(id) + " is used twice");
        m_->directories.push_back({id, path});
    });
}

void Parser::ReadFiles() {
    Walk(Files, [this](size_t at, size_t data, size_t length) {
        SetupFileItem f;
        f.member = U16(at);
        f.directory = U16(at + 2);
        f.unknown = U16(at + 4);
        f.flags = U32(at + 6);
        bool ended = false;
        f.name = Text(data, length, &ended);
        std::string what = "file " + std::to_string(f.member);
        if (f.name.empty()) Error(what + " has no name");
        auto dir = dirs_.find(f.directory);
        if (dir == dirs_.end()) {
            Error(what + " (" + f.name + ") goes to directory " + std::to_string(f.directory) +
                  ", which its DIRS section does not hold");
            f.directoryPath = "<directory " + std::to_string(f.directory) + ">";
        } else {
            f.directoryPath = dir->second;
        }
        if (!files_.emplace(f.member, f.directoryPath + "\\" + f.name).second) {
            Error("file id " + std::to_string(f.member) + " is used twice");
        }
        m_->files.push_back(std::move(f));
    });
}

void Parser::ReadHives() {
    Walk(RegHives, [this](size_t at, size_t data, size_t length) {
        SetupHive h{U16(at), U16(at + 2), ""};
        std::string what = "registry hive " + std::to_string(h.id);
        h.path = Path(data, length, what);
        std::string root = "<root " + std::to_string(h.root) + ">";
        if (h.root >= 1 && h.root <= 4) root = RootNames[h.root - 1];
        else Error(what + " has the root " + std::to_string(h.root) + ", not 1 to 4");
        if (!hives_.emplace(h.id, root + (h.path.empty() ? "" : "\\" + h.path)).second) {
            Error("registry hive id " + std::to_string(h.id) + " is used twice");
        }
        m_->hives.push_back(std::move(h));
    });
}

void Parser::ReadKeys() {
    Walk(RegKeys, [this](size_t at, size_t data, size_t length) {
        SetupRegValue v;
        v.id = U16(at);
        v.hive = U16(at + 2);
        v.substitute = U16(at + 4) != 0;
        v.flags = U32(at + 6);
        std::string what = "registry value " + std::to_string(v.id);
        auto hive = hives_.find(v.hive);
        if (hive == hives_.end()) {
            Error(what + " is in hive " + std::to_string(v.hive) + ", which its REGHIVES section does not hold");
            v.key = "<hive " + std::to_string(v.hive) + ">";
        } else {
            v.key = hive->second;
        }
        bool ended = false;
        v.name = Text(data, length, &ended);
        if (!ended) Error(what + "'s name has no terminating NUL");
        size_t rest = ended ? length - v.name.size() - 1 : 0;
        v.data.assign(reinterpret_cast<const char*>(b_.data() + data + length - rest), rest);
        if ((v.flags & SetupRegTypeMask) == SetupRegDword && ended && rest != 4) {
            Error(what + " is a DWORD of " + std::to_string(rest) + " bytes, not 4");
        }
        m_->values.push_back(std::move(v));
    });
}

void Parser::ReadLinks() {
    Walk(Links, [this](size_t at, size_t data, size_t length) {
        SetupLink l{U16(at), U16(at + 2), U16(at + 4), U16(at + 6), U16(at + 8), "", ""};
        std::string what = "shortcut " + std::to_string(l.id);
        l.path = Path(data, length, what);
        if (l.base > CeDirectoryMax) Error(what + " is made in %CE" + std::to_string(l.base) + "%, beyond %CE17%");
        std::string missing;
        if (l.type == SetupLinkToDirectory) {
            auto dir = dirs_.find(l.target);
            if (l.target == 0) l.targetPath = "%InstallDir%";
            else if (dir != dirs_.end()) l.targetPath = dir->second;
            else missing = "directory " + std::to_string(l.target) + ", which its DIRS section";
        } else if (l.type == SetupLinkToFile) {
            auto file = files_.find(l.target);
            if (file != files_.end()) l.targetPath = file->second;
            else missing = "file " + std::to_string(l.target) + ", which its FILES section";
        } else {
            Error(what + " has the type " + std::to_string(l.type) + ", neither a directory (0) nor a file (1)");
        }
        if (!missing.empty()) {
            Error(what + " points to " + missing + " does not hold");
            l.targetPath = "<" + missing.substr(0, missing.find(',')) + ">";
        }
        m_->links.push_back(std::move(l));
    });
}

// The digits of a member's extension, "NAME.012" -> 12, or -1.
int MemberNumber(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot != 4) return -1;
    int n = 0;
    for (size_t i = dot + 1; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

}  // namespace

bool ReadSetupFile(const std::vector<uint8_t>& bytes, SetupModel* model, std::vector<CabinetFinding>* findings) {
    *model = SetupModel();
    if (bytes.size() < 4 || std::memcmp(bytes.data(), "MSCE", 4) != 0) {
        findings->push_back({true, "does not start with \"MSCE\": the device will not install it"});
        return false;
    }
    if (bytes.size() < HeaderSize) {
        findings->push_back({true, "is cut short: " + std::to_string(bytes.size()) + " bytes, less than its header"});
        return false;
    }
    Parser p(bytes, model, findings);
    p.Header();
    p.ReadStrings();
    p.ReadDirs();
    p.ReadFiles();
    p.ReadHives();
    p.ReadKeys();
    p.ReadLinks();
    return true;
}

bool ReadDeviceCabinet(uint64_t size, const CabinetReader& read, DeviceCabinet* cabinet,
                       std::vector<CabinetFinding>* findings) {
    CabReader cab(size, read);
    if (!cab.ReadDirectory(findings)) return false;
    const std::vector<CabFileEntry>& members = cab.Files();
    std::map<int, std::string> byNumber;
    size_t setup = members.size();
    for (size_t i = 0; i < members.size(); ++i) {
        int n = MemberNumber(members[i].name);
        if (n < 0) continue;
        if (n == 0 && setup == members.size()) setup = i;
        auto known = byNumber.emplace(n, members[i].name);
        if (!known.second) {
            findings->push_back({false, "two members carry the number " + std::to_string(n) + ": " +
                                            known.first->second + " and " + members[i].name});
        }
    }
    if (setup == members.size()) {
        findings->push_back({true, "holds no device setup file (no member named NAME.000)"});
        return false;
    }
    cabinet->setupMember = members[setup].name;
    if (setup != 0) findings->push_back({false, "its setup file " + cabinet->setupMember + " is not its first member"});
    const CabFileEntry& entry = members[setup];
    CabMethod method = entry.folder < cab.Folders().size() ? cab.Folders()[entry.folder].Method() : CabMethod::None;
    cabinet->compressed = method == CabMethod::Mszip;
    cabinet->undecodable = method == CabMethod::Lzx || method == CabMethod::Quantum;
    std::vector<uint8_t> bytes;
    if (!cab.ReadMember(setup, SetupFileMax, &bytes, findings)) return false;
    std::vector<CabinetFinding> own;
    bool read_ok = ReadSetupFile(bytes, &cabinet->setup, &own);
    const std::string prefix = "its setup file " + cabinet->setupMember + " ";
    for (CabinetFinding& f : own) findings->push_back({f.error, "its setup file " + cabinet->setupMember + ": " + f.message});
    if (!read_ok) return false;
    cabinet->memberOf.clear();
    for (const SetupFileItem& f : cabinet->setup.files) {
        auto member = byNumber.find(f.member);
        cabinet->memberOf.push_back(member != byNumber.end() ? member->second : "");
        if (member == byNumber.end() || f.member == 0) {
            char number[8];
            std::snprintf(number, sizeof number, "%03u", static_cast<unsigned>(f.member));
            findings->push_back({true, prefix + "installs " + f.name + " from member " + std::to_string(f.member) +
                                           ", which the cabinet does not hold (no NAME." + number + ")"});
        }
    }
    return true;
}

}  // namespace cepack
