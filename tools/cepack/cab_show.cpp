// cepack cab --show: what a device cabinet will do on the device, whoever
// made it, one item a line.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/cepack/cab_setup_read.h"
#include "tools/cepack/cepack.h"
#include "tools/cepack/host_paths.h"
#include "tools/cepack/package_files.h"

namespace cepack {

namespace {

struct Named {
    uint32_t value;
    const char* name;
};

// The processor types of cabextract's description (its Appendix A).
const Named CpuNames[] = {
    {0, "any"},          {103, "SH3"},           {104, "SH4"},          {386, "Intel 386"},
    {486, "Intel 486"},  {586, "Intel Pentium"}, {601, "PowerPC 601"},  {603, "PowerPC 603"},
    {604, "PowerPC 604"}, {620, "PowerPC 620"},  {821, "Motorola 821"}, {1824, "ARM 720"},
    {2080, "ARM 820"},   {2336, "ARM 920"},      {2577, "StrongARM"},   {4000, "MIPS R4000"},
    {10003, "Hitachi SH3"}, {10004, "Hitachi SH3E"}, {10005, "Hitachi SH4"}, {21064, "Alpha 21064"},
    {70001, "ARM 7TDMI"},
};

const Named FileFlagNames[] = {
    {0x80000000u, "shared"},        {0x40000000u, "always overwrite"}, {0x20000000u, "keep if newer"},
    {0x10000000u, "self-register"}, {0x00000400u, "only if present"},  {0x00000010u, "never overwrite"},
    {0x00000002u, "do not skip"},   {0x00000001u, "warn if skipped"},
};

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// The file's text (code page 1252) as UTF-8, control characters as \xNN so
// that every item stays on its line.
std::string Shown(const std::string& ansi) {
    std::string safe;
    for (unsigned char c : ansi) {
        if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            safe += escape;
        } else {
            safe += static_cast<char>(c);
        }
    }
    return Utf8FromAnsi(safe);
}

std::string Quoted(const std::string& ansi) {
    std::string text(1, '"');
    text += Shown(ansi);
    text += '"';
    return text;
}

std::string Bounds(uint32_t major, uint32_t minor) {
    return major == 0 && minor == 0 ? "any" : std::to_string(major) + "." + std::to_string(minor);
}
std::string Bound(uint32_t build) { return build == 0 ? "any" : std::to_string(build); }

std::string FlagsText(uint32_t flags) {
    if (flags == 0) return "";
    std::string names;
    uint32_t known = 0;
    for (const Named& f : FileFlagNames) {
        if (!(flags & f.value)) continue;
        names += (names.empty() ? "" : ", ") + std::string(f.name);
        known |= f.value;
    }
    if (flags & ~known) names += (names.empty() ? "" : ", ") + std::string("unknown ") + Hex(flags & ~known, 8);
    return " (" + names + ")";
}

std::string ValueText(const SetupRegValue& v) {
    const std::string& d = v.data;
    switch (v.flags & SetupRegTypeMask) {
    case SetupRegDword: {
        if (d.size() != 4) return "dword of " + std::to_string(d.size()) + " bytes";
        uint32_t n = 0;
        for (int i = 3; i >= 0; --i) n = n << 8 | static_cast<unsigned char>(d[i]);
        return "dword " + Hex(n, 8) + " (" + std::to_string(n) + ")";
    }
    case SetupRegString:
        return "string " + Quoted(d.substr(0, d.find('\0')));
    case SetupRegMultiString: {
        std::string text = "multi-string";
        for (size_t at = 0; at < d.size();) {
            size_t nul = d.find('\0', at);
            if (nul == at) break;
            text += ' ';
            text += Quoted(d.substr(at, nul == std::string::npos ? std::string::npos : nul - at));
            at = nul == std::string::npos ? d.size() : nul + 1;
        }
        return text;
    }
    default: {
        std::string text = "binary";
        for (unsigned char c : d) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", c);
            text += hex;
        }
        return text;
    }
    }
}

std::string LinkBase(uint16_t base) { return base == 0 ? "%InstallDir%" : "%CE" + std::to_string(base) + "%"; }

void Describe(const DeviceCabinet& cab, std::ostream& out) {
    const SetupModel& m = cab.setup;
    out << "setup file: " << cab.setupMember << (cab.compressed ? " (MSZIP)" : " (uncompressed)") << "\n";
    out << "application: " << Quoted(m.application) << "\n";
    out << "provider: " << Quoted(m.provider) << "\n";
    std::string cpu = std::to_string(m.cpu);
    for (const Named& c : CpuNames) {
        if (c.value == m.cpu) cpu += " (" + std::string(c.name) + ")";
    }
    out << "cpu: " << cpu << "\n";
    out << "version: " << Bounds(m.minMajor, m.minMinor) << " to " << Bounds(m.maxMajor, m.maxMinor) << "\n";
    out << "build: " << Bound(m.minBuild) << " to " << Bound(m.maxBuild) << "\n";
    for (const std::string& p : m.unsupported) out << "unsupported platform: " << Quoted(p) << "\n";
    for (const SetupDirectory& d : m.directories) out << "directory " << d.id << ": " << Shown(d.path) << "\n";
    for (size_t i = 0; i < m.files.size(); ++i) {
        const SetupFileItem& f = m.files[i];
        std::string member = i < cab.memberOf.size() && !cab.memberOf[i].empty() ? cab.memberOf[i] : "missing";
        out << "file " << f.member << ": " << member << " -> " << Shown(f.directoryPath + "\\" + f.name)
            << FlagsText(f.flags) << "\n";
    }
    for (const SetupRegValue& v : m.values) {
        out << "registry: " << Shown(v.key) << " " << (v.name.empty() ? "(default)" : Quoted(v.name)) << " = "
            << ValueText(v) << (v.flags & SetupRegNoClobber ? " (no-clobber)" : "")
            << (v.substitute ? " (substituted)" : "") << "\n";
    }
    for (const SetupLink& l : m.links) {
        out << "shortcut " << l.id << ": " << Shown(LinkBase(l.base) + (l.path.empty() ? "" : "\\" + l.path))
            << " -> " << (l.type == SetupLinkToFile ? "file " : "directory ") << Shown(l.targetPath) << "\n";
    }
}

}  // namespace

int RunCabShow(const std::string& cabinet, const Streams& s) {
    std::filesystem::path path = HostPath(cabinet);
    HostFileInfo info;
    FILE* in = ReadHostFileInfo(path, &info) ? OpenHostFile(path, "rb") : nullptr;
    if (!in) {
        s.err << "cepack: " << cabinet << ": cannot be read\n";
        return ExitNoInput;
    }
    CabinetReader read = [in](uint64_t offset, uint8_t* out, size_t count) -> size_t {
        if (fseeko(in, static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
        return std::fread(out, 1, count, in);
    };
    char magic[4] = {};
    bool cabinetLike = read(0, reinterpret_cast<uint8_t*>(magic), 4) == 4 && std::memcmp(magic, "MSCF", 4) == 0;
    DeviceCabinet cab;
    std::vector<CabinetFinding> findings;
    bool readable = ReadDeviceCabinet(info.size, read, &cab, &findings);
    std::fclose(in);
    if (readable) Describe(cab, s.out);
    bool errors = false;
    for (const CabinetFinding& f : findings) {
        s.err << "cepack: " << cabinet << (f.error ? ": error: " : ": warning: ") << f.message << "\n";
        errors = errors || f.error;
    }
    if (!cabinetLike) return ExitNotPackage;
    return errors ? ExitDefective : ExitOk;
}

}  // namespace cepack
