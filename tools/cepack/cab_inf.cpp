// The CabWiz-style information file: setup-information syntax first (lines,
// sections, fields, %strings%), then the sections CabWiz reads, each into
// the records of cab_inf.h, with findings at the lines they come from.

#include "tools/cepack/cab_inf.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "tools/cepack/host_paths.h"
#include "tools/cepack/package_files.h"

namespace cepack {

namespace {

// One logical line of a section: "key = field, field" or just fields.
struct Entry {
    int line = 0;
    bool hasKey = false;
    std::string key;
    std::vector<std::string> fields;  // unquoted, %strings% not yet replaced
};

struct Section {
    std::string name;  // as written
    int line = 0;
    std::vector<Entry> entries;
};

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

bool EqualFolded(const std::string& a, const std::string& b) { return FoldedName(a) == FoldedName(b); }

// Well-formed UTF-8: no overlong forms, surrogates or code points past U+10FFFF.
bool IsUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        if (NextCodePoint(text, &i) < 0) return false;
    }
    return true;
}

// ';' starts a comment outside quotes.
std::string WithoutComment(const std::string& line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == ';' && !quoted) return line.substr(0, i);
    }
    return line;
}

// Splits at the separator outside quotes.
std::vector<std::string> SplitOutsideQuotes(const std::string& text, char separator, size_t most) {
    std::vector<std::string> names(1);
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (c == separator && !quoted && names.size() < most) {
            names.emplace_back();
        } else {
            names.back() += c;
        }
    }
    return names;
}

// A field as written: blanks around it dropped, quotes taken off ("" inside
// quotes is one quote).
std::string Unquoted(const std::string& raw) {
    std::string text = Trim(raw), out;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '"') {
            out += text[i];
        } else if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
            out += '"';
            ++i;
        } else {
            quoted = !quoted;
        }
    }
    return out;
}

// Decimal or 0x hexadecimal, at most max.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
    std::string t = Trim(text);
    int base = 10;
    size_t at = 0;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        at = 2;
    }
    if (at >= t.size()) return false;
    uint64_t v = 0;
    for (; at < t.size(); ++at) {
        int digit = std::isdigit(static_cast<unsigned char>(t[at])) ? t[at] - '0'
                    : base == 16 && std::isxdigit(static_cast<unsigned char>(t[at]))
                        ? std::tolower(static_cast<unsigned char>(t[at])) - 'a' + 10
                        : -1;
        if (digit < 0) return false;
        if (v > (max - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return false;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    *value = v;
    return true;
}

constexpr size_t MaxNesting = 32;
constexpr size_t MaxExpanded = 0x10000;  // no field of the setup file holds more

const uint32_t KnownProcessors[] = {0,    103,  104,  386,   486,   586,   601,   603,   604,  620,  821,
                                    1824, 2080, 2336, 2577,  4000,  10003, 10004, 10005, 21064, 70001};

const char* const TaggableSections[] = {"CEDevice", "DefaultInstall", "SourceDisksNames", "SourceDisksFiles"};

bool IsDirectoryMacro(const std::string& text) {
    if (EqualFolded(text, "%InstallDir%")) return true;
    uint64_t n = 0;
    return text.size() >= 5 && EqualFolded(text.substr(0, 3), "%CE") && text.back() == '%' &&
           ParseNumber(text.substr(3, text.size() - 4), 17, &n) && n >= 1 && std::isdigit(static_cast<unsigned char>(text[3]));
}

// "%ce1%" as the device knows it: "%CE1%", "%InstallDir%".
std::string CanonicalMacro(const std::string& text) {
    return EqualFolded(text, "%InstallDir%") ? "%InstallDir%" : "%CE" + text.substr(3);
}

class InfReader {
public:
    InfReader(const std::string& folder, const std::string& cpu, CabApplication* app, std::vector<InfFinding>* findings)
        : folder_(folder), cpu_(cpu), app_(app), findings_(findings) {}

    void Parse(const std::string& text);
    void Read();

private:
    void Error(int line, const std::string& section, const std::string& key, const std::string& message) {
        findings_->push_back({true, line, section, key, message});
    }
    void Warn(int line, const std::string& section, const std::string& key, const std::string& message) {
        findings_->push_back({false, line, section, key, message});
    }
    Section* Find(const std::string& name) {
        auto it = sections_.find(FoldedName(name));
        return it == sections_.end() ? nullptr : &it->second;
    }
    std::vector<Entry> Merged(const std::string& name);
    std::string Value(const std::vector<Entry>& entries, const std::string& key, int* line);
    bool Expand(const std::string& text, int line, const std::string& section, const std::string& key, std::string* out,
                std::set<std::string>* visiting);
    std::string Field(const Entry& e, size_t i, const std::string& section, bool* ok);
    bool Ansi(const std::string& utf8, int line, const std::string& section, const std::string& key, std::string* out);

    void ReadStrings();
    void ReadHeader();
    void ReadDevice();
    void ReadSources();
    void ReadDestinations();
    std::optional<std::vector<std::string>> FolderNames(const std::string& path, int line, const std::string& section);
    std::optional<size_t> DirectoryOf(const std::string& path, int line, const std::string& section);
    std::string SourcePath(const std::string& name, int line, const std::string& section, const std::string& key);
    void ReadCopySection(const std::string& name, int line);
    void ReadRegistrySection(const std::string& name);
    void ReadShortcutSection(const std::string& name);
    void ReadInstall();
    void WarnUnread();

    std::string folder_, cpu_;
    CabApplication* app_;
    std::vector<InfFinding>* findings_;
    std::map<std::string, Section> sections_;  // by folded name
    std::vector<std::string> order_;           // folded names in the file's order
    std::set<std::string> read_;               // folded names of sections read
    std::map<std::string, std::pair<std::string, int>> strings_;  // folded name: raw value, line
    struct Source {
        std::string disk, subdir;
        int line;
    };
    std::map<std::string, std::string> disks_;  // disk id: folder
    std::map<std::string, Source> sources_;     // folded file name
    std::map<std::string, std::pair<std::string, int>> destinations_;  // folded section: path, line
    std::map<std::string, size_t> directoryIndex_;                    // folded joined names
    std::set<std::string> destinationNames_;                           // directory index + folded name
    std::map<std::string, size_t> fileByName_;                         // folded device name: first file
    bool installDirUsed_ = false;
    int installDirLine_ = 0;
    bool installDirDefined_ = false;
};

void InfReader::Parse(const std::string& text) {
    Section* current = nullptr;
    std::string pending;
    int pendingLine = 0, number = 0;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string physical = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!physical.empty() && physical.back() == '\r') physical.pop_back();
        // The setup file's texts end at a NUL: one inside would cut them short.
        if (physical.find('\0') != std::string::npos) {
            Error(number, "", "", "a NUL byte; the line is not read");
            continue;
        }
        std::string line = Trim(WithoutComment(physical));
        if (pending.empty()) pendingLine = number;
        if (!line.empty() && line.back() == '\\' && at <= text.size()) {
            pending += line.substr(0, line.size() - 1);
            continue;
        }
        line = Trim(pending + line);
        pending.clear();
        if (line.empty()) continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            if (close == std::string::npos || Trim(line.substr(close + 1)) != "" || name.empty()) {
                Error(pendingLine, "", "", "a section name is written [NAME]");
            }
            std::string folded = FoldedName(name);
            if (!sections_.count(folded)) order_.push_back(folded);
            current = &sections_[folded];
            if (current->name.empty()) current->name = name, current->line = pendingLine;
            continue;
        }
        if (!current) {
            Warn(pendingLine, "", "", "a line before the first section; not read");
            continue;
        }
        Entry e;
        e.line = pendingLine;
        std::vector<std::string> halves = SplitOutsideQuotes(line, '=', 2);
        std::string values = line;
        if (halves.size() == 2) {
            e.hasKey = true;
            e.key = Unquoted(halves[0]);
            values = halves[1];
        }
        for (const std::string& raw : SplitOutsideQuotes(values, ',', SIZE_MAX)) e.fields.push_back(Unquoted(raw));
        current->entries.push_back(std::move(e));
    }
}

// A section with its CPU's tagged twin merged over it: a key of the tag
// replaces the untagged one (UnsupportedPlatforms adds to it), new keys add.
std::vector<Entry> InfReader::Merged(const std::string& name) {
    std::vector<Entry> out;
    if (Section* s = Find(name)) {
        read_.insert(FoldedName(name));
        out = s->entries;
    }
    if (cpu_.empty()) return out;
    Section* tagged = Find(name + "." + cpu_);
    if (!tagged) return out;
    read_.insert(FoldedName(name + "." + cpu_));
    for (const Entry& e : tagged->entries) {
        auto same = std::find_if(out.begin(), out.end(),
                                 [&](const Entry& o) { return e.hasKey && o.hasKey && EqualFolded(o.key, e.key); });
        if (same != out.end() && EqualFolded(e.key, "UnsupportedPlatforms")) {
            same->fields.insert(same->fields.end(), e.fields.begin(), e.fields.end());
        } else if (same != out.end()) {
            *same = e;
        } else {
            out.push_back(e);
        }
    }
    return out;
}

std::string InfReader::Value(const std::vector<Entry>& entries, const std::string& key, int* line) {
    for (const Entry& e : entries) {
        if (e.hasKey && EqualFolded(e.key, key)) {
            *line = e.line;
            std::string joined;
            for (size_t i = 0; i < e.fields.size(); ++i) joined += (i ? "," : "") + e.fields[i];
            return joined;
        }
    }
    *line = 0;
    return "";
}

// %name% replaced from [Strings] and [CEStrings]; the device's own
// directories stay for the device.
bool InfReader::Expand(const std::string& text, int line, const std::string& section, const std::string& key,
                       std::string* out, std::set<std::string>* visiting) {
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *out += text[i];
            continue;
        }
        size_t close = text.find('%', i + 1);
        if (close == std::string::npos) {
            *out += text.substr(i);
            break;
        }
        std::string name = text.substr(i + 1, close - i - 1);
        i = close;
        if (name.empty()) {
            *out += '%';
            continue;
        }
        std::string macro = "%" + name + "%";
        if (IsDirectoryMacro(macro)) {
            if (EqualFolded(name, "InstallDir")) installDirUsed_ = true, installDirLine_ = installDirLine_ ? installDirLine_ : line;
            *out += CanonicalMacro(macro);
            continue;
        }
        auto found = strings_.find(FoldedName(name));
        if (found == strings_.end()) {
            Error(line, section, key, "%" + name + "% is defined in neither [Strings] nor [CEStrings]");
            return false;
        }
        if (!visiting->insert(FoldedName(name)).second) {
            Error(line, section, key, "%" + name + "% is defined in terms of itself");
            return false;
        }
        // Strings within strings could nest past the stack or double at each level.
        if (visiting->size() > MaxNesting) {
            Error(line, section, key, "%" + name + "% nests strings more than " + std::to_string(MaxNesting) + " deep");
            return false;
        }
        std::string inner;
        bool ok = Expand(found->second.first, line, section, key, &inner, visiting);
        visiting->erase(FoldedName(name));
        if (!ok) return false;
        *out += inner;
        if (out->size() > MaxExpanded) {
            Error(line, section, key, "the value grows past " + std::to_string(MaxExpanded) + " bytes with its %strings%");
            return false;
        }
    }
    return true;
}

std::string InfReader::Field(const Entry& e, size_t i, const std::string& section, bool* ok) {
    if (i >= e.fields.size()) return "";
    std::string out;
    std::set<std::string> visiting;
    if (!Expand(e.fields[i], e.line, section, e.key, &out, &visiting)) *ok = false;
    return out;
}

bool InfReader::Ansi(const std::string& utf8, int line, const std::string& section, const std::string& key,
                     std::string* out) {
    if (AnsiFromUtf8(utf8, out)) return true;
    Error(line, section, key, "\"" + utf8 + "\" has a character that code page 1252, the device's setup file's, cannot hold");
    return false;
}

void InfReader::ReadStrings() {
    for (const char* name : {"Strings", "CEStrings"}) {
        Section* s = Find(name);
        if (!s) continue;
        read_.insert(FoldedName(name));
        for (const Entry& e : s->entries) {
            if (!e.hasKey) {
                Warn(e.line, s->name, "", "a line without NAME = VALUE; not read");
                continue;
            }
            std::string joined;
            for (size_t i = 0; i < e.fields.size(); ++i) joined += (i ? "," : "") + e.fields[i];
            strings_[FoldedName(e.key)] = {joined, e.line};
        }
    }
    auto install = strings_.find(FoldedName("InstallDir"));
    installDirDefined_ = install != strings_.end() && !Trim(install->second.first).empty();
}

void InfReader::ReadHeader() {
    Section* version = Find("Version");
    read_.insert(FoldedName("Version"));
    int line = 0;
    std::string value;
    std::set<std::string> visiting;
    if (!version) {
        Error(0, "Version", "", "missing: CabWiz needs [Version] with Signature and Provider");
    } else {
        std::string signature = Value(version->entries, "Signature", &line);
        if (!EqualFolded(signature, "$Windows NT$") && !EqualFolded(signature, "$Windows 95$")) {
            Warn(line ? line : version->line, "Version", "Signature", "should be \"$Windows NT$\" or \"$Windows 95$\"");
        }
        std::string ce = Value(version->entries, "CESignature", &line);
        if (!EqualFolded(ce, "$Windows CE$")) Warn(line ? line : version->line, "Version", "CESignature", "should be \"$Windows CE$\"");
        for (const Entry& e : version->entries) {
            if (e.hasKey && !EqualFolded(e.key, "Signature") && !EqualFolded(e.key, "CESignature") && !EqualFolded(e.key, "Provider")) {
                Warn(e.line, "Version", e.key, "not read by cepack");
            }
        }
    }
    std::string raw = version ? Value(version->entries, "Provider", &line) : "";
    if (Expand(raw, line, "Version", "Provider", &value, &visiting) &&
        Ansi(value, line, "Version", "Provider", &app_->provider)) {
        if (app_->provider.empty()) Error(line, "Version", "Provider", "missing or empty: the device registers the application as \"<Provider> <AppName>\"");
        if (app_->provider.size() > CabMaxProvider) Error(line, "Version", "Provider", "longer than the " + std::to_string(CabMaxProvider) + " characters the device registers");
    }
    Section* strings = Find("CEStrings");
    // InstallDir goes to the device as %InstallDir%; its own text is checked here.
    raw = strings ? Value(strings->entries, "InstallDir", &line) : "";
    if (line != 0 && Expand(raw, line, "CEStrings", "InstallDir", &value, &visiting)) {
        std::string ansi;
        Ansi(value, line, "CEStrings", "InstallDir", &ansi);
    }
    raw = strings ? Value(strings->entries, "AppName", &line) : "";
    if (!strings) line = 0;
    if (Expand(raw, line, "CEStrings", "AppName", &value, &visiting) &&
        Ansi(value, line, "CEStrings", "AppName", &app_->appName)) {
        if (app_->appName.empty()) Error(line, "CEStrings", "AppName", "missing or empty: the application needs a name");
        if (app_->appName.size() > CabMaxAppName) Error(line, "CEStrings", "AppName", "longer than the " + std::to_string(CabMaxAppName) + " characters the device registers");
    }
}

void InfReader::ReadDevice() {
    if (!cpu_.empty() && !Find("CEDevice." + cpu_)) {
        Error(0, "CEDevice." + cpu_, "", "--cpu " + cpu_ + " names no [CEDevice." + cpu_ + "] section");
    }
    std::vector<Entry> device = Merged("CEDevice");
    const std::string section = cpu_.empty() ? "CEDevice" : "CEDevice." + cpu_;
    for (const Entry& e : device) {
        bool ok = true;
        std::string value = Field(e, 0, section, &ok);
        if (!ok) continue;
        uint64_t n = 0;
        if (EqualFolded(e.key, "ProcessorType")) {
            if (value.empty()) continue;
            if (!ParseNumber(value, 0xFFFFFFFF, &n)) {
                Error(e.line, section, e.key, "\"" + value + "\" is no 32-bit number");
                continue;
            }
            app_->processor = static_cast<uint32_t>(n);
            if (std::find(std::begin(KnownProcessors), std::end(KnownProcessors), n) == std::end(KnownProcessors)) {
                Warn(e.line, section, e.key, value + " is in neither cabextract's list nor Microsoft's; the device may refuse the cabinet");
            }
        } else if (EqualFolded(e.key, "VersionMin") || EqualFolded(e.key, "VersionMax")) {
            if (value.empty()) continue;
            std::vector<std::string> names = SplitOutsideQuotes(value, '.', 2);
            uint64_t major = 0, minor = 0;
            if (!ParseNumber(names[0], 0xFFFFFFFF, &major) || (names.size() == 2 && !ParseNumber(names[1], 0xFFFFFFFF, &minor))) {
                Error(e.line, section, e.key, "\"" + value + "\" is no version MAJOR.MINOR");
                continue;
            }
            bool min = EqualFolded(e.key, "VersionMin");
            (min ? app_->versionMinMajor : app_->versionMaxMajor) = static_cast<uint32_t>(major);
            (min ? app_->versionMinMinor : app_->versionMaxMinor) = static_cast<uint32_t>(minor);
        } else if (EqualFolded(e.key, "BuildMin") || EqualFolded(e.key, "BuildMax")) {
            if (value.empty()) continue;
            if (!ParseNumber(value, 0xFFFFFFFF, &n)) {
                Error(e.line, section, e.key, "\"" + value + "\" is no 32-bit number");
                continue;
            }
            (EqualFolded(e.key, "BuildMin") ? app_->buildMin : app_->buildMax) = static_cast<uint32_t>(n);
        } else if (EqualFolded(e.key, "UnsupportedPlatforms")) {
            for (size_t i = 0; i < e.fields.size(); ++i) {
                std::string platform = Field(e, i, section, &ok), ansi;
                if (ok && !platform.empty() && Ansi(platform, e.line, section, e.key, &ansi)) app_->unsupported.push_back(ansi);
            }
        } else {
            Warn(e.line, section, e.hasKey ? e.key : "", "not read by cepack");
        }
    }
}

void InfReader::ReadSources() {
    for (const Entry& e : Merged("SourceDisksNames")) {
        bool ok = true;
        std::string path = e.fields.size() > 3 ? Field(e, 3, "SourceDisksNames", &ok) : "";
        if (ok) disks_[Trim(e.key)] = path.empty() ? "." : path;
    }
    for (const Entry& e : Merged("SourceDisksFiles")) {
        bool ok = true;
        std::string name;
        std::set<std::string> visiting;
        if (!Expand(e.key, e.line, "SourceDisksFiles", e.key, &name, &visiting)) continue;
        std::string disk = Field(e, 0, "SourceDisksFiles", &ok), subdir = Field(e, 1, "SourceDisksFiles", &ok);
        if (ok) sources_[FoldedName(name)] = {Trim(disk), subdir, e.line};
    }
}

void InfReader::ReadDestinations() {
    Section* s = Find("DestinationDirs");
    if (!s) return;
    read_.insert(FoldedName("DestinationDirs"));
    for (const Entry& e : s->entries) {
        bool ok = true;
        std::string path = Field(e, 1, "DestinationDirs", &ok);
        if (e.fields.empty() || Trim(e.fields[0]) != "0") {
            Warn(e.line, "DestinationDirs", e.key, "only 0,PATH is read (a directory ID other than 0 is CabWiz's own)");
        }
        if (ok) destinations_[FoldedName(e.key)] = {path, e.line};
    }
}

// A device path such as "%CE1%\App\data" in names, each in code page 1252.
std::optional<std::vector<std::string>> InfReader::FolderNames(const std::string& path, int line, const std::string& section) {
    std::vector<std::string> names;
    std::string folder;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\' && path[i] != '/') {
            folder += path[i];
            continue;
        }
        folder = Trim(folder);
        if (!folder.empty() && folder != ".") {
            std::string ansi;
            if (!Ansi(IsDirectoryMacro(folder) ? CanonicalMacro(folder) : folder, line, section, "", &ansi)) return std::nullopt;
            names.push_back(ansi);
        }
        folder.clear();
    }
    return names;
}

// The device directory of a path, added on first use.
std::optional<size_t> InfReader::DirectoryOf(const std::string& path, int line, const std::string& section) {
    std::optional<std::vector<std::string>> names = FolderNames(path, line, section);
    if (!names) return std::nullopt;
    std::string key;
    for (const std::string& folder : *names) key += FoldedName(folder) + '\\';
    auto found = directoryIndex_.find(key);
    if (found != directoryIndex_.end()) return found->second;
    directoryIndex_[key] = app_->directories.size();
    app_->directories.push_back(CabDirectory{*names});
    return app_->directories.size() - 1;
}

// The host file behind a name of [SourceDisksFiles], found and a plain file;
// empty after a finding.
std::string InfReader::SourcePath(const std::string& name, int line, const std::string& section, const std::string& key) {
    auto source = sources_.find(FoldedName(name));
    if (source == sources_.end()) {
        Error(line, section, key, name + " is not listed in [SourceDisksFiles]");
        return "";
    }
    auto disk = disks_.find(source->second.disk);
    if (disk == disks_.end()) {
        Error(source->second.line, "SourceDisksFiles", name, "disk " + source->second.disk + " is not in [SourceDisksNames]");
        return "";
    }
    std::string relative = disk->second + "/" + source->second.subdir + "/" + name;
#ifndef _WIN32
    std::replace(relative.begin(), relative.end(), '\\', '/');
#endif
    std::filesystem::path path = HostPath(folder_) / HostPath(relative);
    HostKind kind = HostKindOf(path);
    if (kind == HostKind::Missing) Error(line, section, key, Utf8Of(path.lexically_normal()) + ": no such file");
    if (kind == HostKind::Directory) Error(line, section, key, Utf8Of(path.lexically_normal()) + " is a directory, not a file");
    if (kind == HostKind::Other) Error(line, section, key, Utf8Of(path.lexically_normal()) + " is not a plain file");
    return kind == HostKind::File ? Utf8Of(path.lexically_normal()) : "";
}

void InfReader::ReadCopySection(const std::string& name, int line) {
    Section* s = Find(name);
    if (!s) {
        Error(line, "DefaultInstall", "CopyFiles", "names [" + name + "], which is missing");
        return;
    }
    read_.insert(FoldedName(name));
    auto dest = destinations_.find(FoldedName(name));
    if (dest == destinations_.end()) dest = destinations_.find(FoldedName("DefaultDestDir"));
    if (dest == destinations_.end()) {
        Error(s->line, s->name, "", "no [DestinationDirs] entry for this section and no DefaultDestDir");
        return;
    }
    std::optional<size_t> dir = DirectoryOf(dest->second.first, dest->second.second, "DestinationDirs");
    if (!dir) return;
    for (const Entry& e : s->entries) {
        bool ok = true;
        if (e.hasKey) Warn(e.line, s->name, e.key, "a copy line is DESTINATION,SOURCE,,FLAGS; '=' kept in the name");
        std::string target = e.hasKey ? e.key + "=" + Field(e, 0, s->name, &ok) : Field(e, 0, s->name, &ok);
        std::string source = Field(e, 1, s->name, &ok), flags = Field(e, 3, s->name, &ok);
        if (!ok) continue;
        if (source.empty()) source = target;
        if (target.empty()) {
            Error(e.line, s->name, "", "a copy line needs a destination name");
            continue;
        }
        CabFile file;
        file.line = e.line;
        file.directory = *dir;
        file.ownName = source;
        uint64_t n = 0;
        if (!flags.empty() && !ParseNumber(flags, 0xFFFFFFFF, &n)) {
            Error(e.line, s->name, target, "flags \"" + flags + "\" are no 32-bit number");
            continue;
        }
        file.flags = static_cast<uint32_t>(n);
        if (!Ansi(target, e.line, s->name, "", &file.name)) continue;
        if (!destinationNames_.insert(std::to_string(*dir) + "\\" + FoldedName(file.name)).second) {
            Error(e.line, s->name, target, "a second file of this name in the same device directory");
            continue;
        }
        file.source = SourcePath(source, e.line, s->name, target);
        if (file.source.empty()) continue;
        fileByName_.emplace(FoldedName(file.name), app_->files.size());
        app_->files.push_back(file);
    }
}

void InfReader::ReadRegistrySection(const std::string& name) {
    Section* s = Find(name);
    read_.insert(FoldedName(name));
    static const char* const roots[] = {"HKCR", "HKCU", "HKLM", "HKU"};
    for (const Entry& e : s->entries) {
        bool ok = true;
        std::vector<std::string> f;
        for (size_t i = 0; i < e.fields.size(); ++i) f.push_back(Field(e, i, s->name, &ok));
        if (!ok) continue;
        if (e.hasKey || f.size() < 4) {
            Error(e.line, s->name, "", "a registry line is ROOT,KEY,[NAME],FLAGS,VALUE");
            continue;
        }
        CabRegistryValue v;
        v.line = e.line;
        for (uint16_t r = 0; r < 4; ++r) {
            if (EqualFolded(Trim(f[0]), roots[r])) v.root = static_cast<uint16_t>(r + 1);
        }
        uint64_t flags = 0;
        if (v.root == 0) {
            Error(e.line, s->name, f[0], "the root is one of HKCR, HKCU, HKLM, HKU");
            continue;
        }
        if (!ParseNumber(f[3], 0xFFFFFFFF, &flags)) {
            Error(e.line, s->name, f[2], "flags \"" + f[3] + "\" are no 32-bit number");
            continue;
        }
        if (flags & ~static_cast<uint64_t>(CabRegTypeMask | CabRegNoClobber)) {
            Warn(e.line, s->name, f[2], "only the type and no-clobber (0x2) flags are carried to the device");
        }
        v.flags = static_cast<uint32_t>(flags) & (CabRegTypeMask | CabRegNoClobber);
        std::string level;
        for (size_t i = 0; i <= f[1].size(); ++i) {
            if (i < f[1].size() && f[1][i] != '\\') {
                level += f[1][i];
            } else if (!level.empty()) {
                std::string ansi;
                ok = ok && Ansi(level, e.line, s->name, f[2], &ansi);
                v.key.push_back(ansi);
                level.clear();
            }
        }
        ok = ok && Ansi(f[2], e.line, s->name, f[2], &v.name);
        uint32_t type = v.flags & CabRegTypeMask;
        if (type == CabRegDword) {
            uint64_t n = 0;
            if (f.size() != 5 || !ParseNumber(f[4], 0xFFFFFFFF, &n)) {
                Error(e.line, s->name, f[2], "a DWORD value is one number of at most 32 bits");
                continue;
            }
            for (int b = 0; b < 4; ++b) v.bytes += static_cast<char>(n >> (8 * b) & 0xFF);
        } else if (type == CabRegBinary) {
            for (size_t i = 4; i < f.size(); ++i) {
                uint64_t byte = 0;
                if (!ParseNumber("0x" + Trim(f[i]), 0xFF, &byte)) {
                    Error(e.line, s->name, f[2], "binary data is hexadecimal bytes, such as 01,ff; not \"" + f[i] + "\"");
                    ok = false;
                    break;
                }
                v.bytes += static_cast<char>(byte);
            }
        } else {
            if (type == CabRegString && f.size() > 5) Warn(e.line, s->name, f[2], "a string value takes one field; the rest are left out");
            for (size_t i = 4; i < f.size() && (type == CabRegMultiString || i == 4); ++i) {
                std::string ansi;
                ok = ok && Ansi(f[i], e.line, s->name, f[2], &ansi);
                v.strings.push_back(ansi);
            }
            if (v.strings.empty()) v.strings.push_back("");
        }
        if (ok) app_->registry.push_back(v);
    }
}

void InfReader::ReadShortcutSection(const std::string& name) {
    Section* s = Find(name);
    read_.insert(FoldedName(name));
    auto dest = destinations_.find(FoldedName(name));
    if (dest == destinations_.end()) dest = destinations_.find(FoldedName("DefaultDestDir"));
    for (const Entry& e : s->entries) {
        bool ok = true;
        std::string linkName = Field(e, 0, s->name, &ok), type = Field(e, 1, s->name, &ok), target = Field(e, 2, s->name, &ok);
        std::string where = e.fields.size() > 3 ? Field(e, 3, s->name, &ok) : dest != destinations_.end() ? dest->second.first : "";
        if (!ok) continue;
        if (e.hasKey || linkName.empty() || target.empty()) {
            Error(e.line, s->name, "", "a shortcut line is NAME,TYPE,TARGET[,DIRECTORY]");
            continue;
        }
        CabShortcut link;
        link.line = e.line;
        uint64_t n = 0;
        if (!type.empty() && !ParseNumber(type, 0xFFFFFFFF, &n)) {
            Error(e.line, s->name, linkName, "type \"" + type + "\" is no number (0 a file, else a folder)");
            continue;
        }
        link.toFile = n == 0;
        // Where the link goes is no directory of the application: not in DIRS.
        std::optional<std::vector<std::string>> base = FolderNames(where, e.line, s->name);
        if (!base) continue;
        if (base->empty() || !IsDirectoryMacro((*base)[0])) {
            Error(e.line, s->name, linkName, "a shortcut's directory starts with %CE1%..%CE17% or %InstallDir%");
            continue;
        }
        link.base = (*base)[0] == "%InstallDir%" ? 0 : static_cast<uint16_t>(std::stoi((*base)[0].substr(3)));
        link.name.assign(base->begin() + 1, base->end());
        std::string ansi;
        if (!Ansi(linkName, e.line, s->name, linkName, &ansi)) continue;
        link.name.push_back(ansi);
        if (link.toFile) {
            if (!Ansi(target, e.line, s->name, linkName, &ansi)) continue;
            auto file = fileByName_.find(FoldedName(ansi));
            if (file == fileByName_.end()) {
                Error(e.line, s->name, linkName, "the target " + target + " is no file of the copy lists");
                continue;
            }
            link.target = file->second;
        } else if (target == "%InstallDir%") {
            link.target = 0;
        } else {
            auto section = destinations_.find(FoldedName(target));
            if (section == destinations_.end()) {
                Error(e.line, s->name, linkName, "the folder target " + target + " is neither %InstallDir% nor a [DestinationDirs] name");
                continue;
            }
            std::optional<size_t> dir = DirectoryOf(section->second.first, section->second.second, "DestinationDirs");
            if (!dir) continue;
            link.target = *dir + 1;
        }
        app_->shortcuts.push_back(link);
    }
}

void InfReader::ReadInstall() {
    std::vector<Entry> install = Merged("DefaultInstall");
    const std::string section = "DefaultInstall";
    std::vector<std::pair<std::string, int>> copies, registry, shortcuts, selfRegister;
    for (const Entry& e : install) {
        bool ok = true;
        std::vector<std::pair<std::string, int>>* list = EqualFolded(e.key, "CopyFiles") ? &copies
                                                          : EqualFolded(e.key, "AddReg") ? &registry
                                                          : EqualFolded(e.key, "CEShortcuts") ? &shortcuts
                                                          : EqualFolded(e.key, "CESelfRegister") ? &selfRegister
                                                                                                 : nullptr;
        if (list) {
            for (size_t i = 0; i < e.fields.size(); ++i) {
                std::string name = Trim(Field(e, i, section, &ok));
                if (!name.empty()) list->push_back({name, e.line});
            }
        } else if (EqualFolded(e.key, "CESetupDLL")) {
            std::string name = Field(e, 0, section, &ok);
            if (!ok || name.empty()) continue;
            app_->setupDll = SourcePath(name, e.line, section, e.key);
            app_->setupDllOwnName = name;
        } else {
            Warn(e.line, section, e.hasKey ? e.key : "", "not read by cepack");
        }
    }
    if (!Find("DefaultInstall")) Error(0, "DefaultInstall", "", "missing: nothing would be installed");
    for (const auto& [name, line] : copies) ReadCopySection(name, line);
    for (const auto& [name, line] : registry) {
        if (Find(name)) ReadRegistrySection(name);
        else Error(line, section, "AddReg", "names [" + name + "], which is missing");
    }
    for (const auto& [name, line] : shortcuts) {
        if (Find(name)) ReadShortcutSection(name);
        else Error(line, section, "CEShortcuts", "names [" + name + "], which is missing");
    }
    for (const auto& [name, line] : selfRegister) {
        std::string ansi;
        if (!Ansi(name, line, section, "CESelfRegister", &ansi)) continue;
        auto file = fileByName_.find(FoldedName(ansi));
        if (file == fileByName_.end()) {
            Error(line, section, "CESelfRegister", name + " is no file of the copy lists");
        } else {
            app_->files[file->second].flags |= 0x10000000;  // self-register
        }
    }
    if (app_->files.size() > CabMaxFiles) {
        Error(0, "", "", std::to_string(app_->files.size()) + " files: a device cabinet numbers at most " +
                             std::to_string(CabMaxFiles) + " (001 to 998)");
    }
}

// What cepack does not build is said, not dropped: sections no key reads.
void InfReader::WarnUnread() {
    std::set<std::string> elsewhere;  // other CPUs' sections and what they name
    for (const auto& [folded, section] : sections_) {
        for (const char* taggable : TaggableSections) {
            std::string prefix = FoldedName(std::string(taggable) + ".");
            if (folded.compare(0, prefix.size(), prefix) != 0) continue;
            elsewhere.insert(folded);
        }
        // What any DefaultInstall names, one --cpu may leave aside.
        if (folded.compare(0, 14, FoldedName("DefaultInstall")) != 0) continue;
        for (const Entry& e : section.entries) {
            for (const std::string& f : e.fields) elsewhere.insert(FoldedName(Trim(f)));
        }
    }
    for (const std::string& folded : order_) {
        const Section& s = sections_[folded];
        if (read_.count(folded) || elsewhere.count(folded)) continue;
        std::string why = folded.compare(0, 8, FoldedName("Platform")) == 0 ? "CabWiz's [Platform] sections are not built by cepack"
                                                                             : "a section no key of the file reads; not read";
        Warn(s.line, s.name, "", why);
    }
}

void InfReader::Read() {
    ReadStrings();
    ReadHeader();
    ReadDevice();
    ReadSources();
    ReadDestinations();
    ReadInstall();
    if (installDirUsed_ && !installDirDefined_) {
        Error(installDirLine_, "CEStrings", "InstallDir", "%InstallDir% is used but [CEStrings] gives no InstallDir");
    }
    WarnUnread();
    std::stable_sort(findings_->begin(), findings_->end(),
                     [](const InfFinding& a, const InfFinding& b) { return a.line < b.line; });
}

}  // namespace

bool AnsiFromUtf8(const std::string& utf8, std::string* ansi) {
    static const std::map<uint32_t, char> high = [] {
        std::map<uint32_t, char> m;
        for (int c = 0x80; c < 0x100; ++c) {
            std::string one = Utf8FromAnsi(std::string(1, static_cast<char>(c)));
            size_t at = 0;
            m[NextCodePoint(one, &at)] = static_cast<char>(c);
        }
        return m;
    }();
    if (!IsUtf8(utf8)) return false;
    ansi->clear();
    for (size_t at = 0; at < utf8.size();) {
        uint32_t cp = static_cast<uint32_t>(NextCodePoint(utf8, &at));
        if (cp < 0x80) {
            *ansi += static_cast<char>(cp);
            continue;
        }
        auto found = high.find(cp);
        if (found == high.end()) return false;
        *ansi += found->second;
    }
    return true;
}

bool ReadCabInfText(const std::string& text, const std::string& folder, const std::string& cpu, CabApplication* app,
                    std::vector<InfFinding>* findings) {
    std::string utf8 = text;
    if (utf8.compare(0, 3, "\xEF\xBB\xBF") == 0) utf8.erase(0, 3);
    if (!IsUtf8(utf8)) utf8 = Utf8FromAnsi(text);
    *app = CabApplication{};
    findings->clear();
    InfReader reader(folder, cpu, app, findings);
    reader.Parse(utf8);
    reader.Read();
    return std::none_of(findings->begin(), findings->end(), [](const InfFinding& f) { return f.error; });
}

bool ReadCabInf(const std::string& infPath, const std::string& cpu, CabApplication* app,
                std::vector<InfFinding>* findings) {
    std::string text;
    findings->clear();
    if (!ReadHostFile(HostPath(infPath), &text)) {
        findings->push_back({true, 0, "", "", "cannot be read"});
        return false;
    }
    std::filesystem::path folder = HostPath(infPath).parent_path();
    return ReadCabInfText(text, Utf8Of(folder.empty() ? std::filesystem::path(".") : folder), cpu, app, findings);
}

}  // namespace cepack
