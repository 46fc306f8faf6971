// The setup file NAME.000. Its sections are made as records first, so that
// the header, written first, holds every offset and count as they are.

#include "tools/cepack/cab_setup_file.h"

#include <cstdint>
#include <map>
#include <vector>

#include "tools/cepack/package_files.h"

namespace cepack {

namespace {

constexpr uint32_t HeaderSize = 100;
constexpr uint32_t Max16 = 0xFFFF;

void Put16(std::string* out, uint32_t v) {
    *out += static_cast<char>(v & 0xFF);
    *out += static_cast<char>(v >> 8 & 0xFF);
}

void Put32(std::string* out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// Whether a registry text holds a directory the device resolves (%InstallDir%,
// %CE1%..%CE17%): only then does the device substitute in it, so a plain
// "100%" stays as written.
bool NeedsSubstitution(const std::string& text) {
    for (size_t open = text.find('%'); open != std::string::npos; open = text.find('%', open + 1)) {
        size_t close = text.find('%', open + 1);
        if (close == std::string::npos) return false;
        std::string name = FoldedName(text.substr(open + 1, close - open - 1));
        if (name == FoldedName("InstallDir")) return true;
        if (name.size() >= 3 && name.size() <= 4 && name.compare(0, 2, FoldedName("CE")) == 0) {
            int n = std::atoi(name.c_str() + 2);
            if (n >= 1 && n <= 17 && name[2] != '0') return true;
        }
    }
    return false;
}

class SetupFileWriter {
public:
    explicit SetupFileWriter(const CabApplication& app) : app_(app) {}
    bool Build(std::string* bytes, std::string* error);

private:
    // The ID of a text of STRINGS, added on first use.
    uint16_t StringId(const std::string& text) {
        auto found = ids_.find(text);
        if (found != ids_.end()) return found->second;
        uint16_t id = static_cast<uint16_t>(strings_.size() + 1);
        ids_[text] = id;
        strings_.push_back(text);
        Put16(&stringRecords_, id);
        Put16(&stringRecords_, static_cast<uint32_t>(text.size() + 1));
        stringRecords_ += text;
        stringRecords_ += '\0';
        return id;
    }
    // A path as string IDs ending in 0, the form of DIRS, REGHIVES and LINKS.
    std::string IdPath(const std::vector<std::string>& names) {
        std::string ids;
        for (const std::string& name : names) Put16(&ids, StringId(name));
        Put16(&ids, 0);
        return ids;
    }
    bool Fits(size_t value, const char* what, std::string* error) {
        if (value <= Max16 && ids_.size() <= Max16) return true;
        *error = std::string(what) + ": more than the setup file's 16-bit fields hold";
        return false;
    }
    bool MakeDirs(std::string* error);
    bool MakeFiles(std::string* error);
    bool MakeRegistry(std::string* error);
    bool MakeLinks(std::string* error);

    const CabApplication& app_;
    std::map<std::string, uint16_t> ids_;
    std::vector<std::string> strings_;
    std::string stringRecords_, dirs_, files_, hives_, keys_, links_;
    uint32_t hiveCount_ = 0;
};

bool SetupFileWriter::MakeDirs(std::string* error) {
    for (size_t i = 0; i < app_.directories.size(); ++i) {
        std::string ids = IdPath(app_.directories[i].names);
        if (!Fits(i + 1, "directories", error) || !Fits(ids.size(), "a directory's path", error)) return false;
        Put16(&dirs_, static_cast<uint32_t>(i + 1));
        Put16(&dirs_, static_cast<uint32_t>(ids.size()));
        dirs_ += ids;
    }
    return true;
}

bool SetupFileWriter::MakeFiles(std::string* error) {
    for (size_t i = 0; i < app_.files.size(); ++i) {
        const CabFile& f = app_.files[i];
        if (!Fits(i + 1, "files", error) || !Fits(f.name.size() + 1, "a file's name", error)) return false;
        Put16(&files_, static_cast<uint32_t>(i + 1));            // the member NAME.<id>
        Put16(&files_, static_cast<uint32_t>(f.directory + 1));  // DIRS ID
        Put16(&files_, static_cast<uint32_t>(i + 1));            // purpose unknown; "usually the file ID"
        Put32(&files_, f.flags);
        Put16(&files_, static_cast<uint32_t>(f.name.size() + 1));
        files_ += f.name;
        files_ += '\0';
    }
    return true;
}

bool SetupFileWriter::MakeRegistry(std::string* error) {
    std::map<std::string, uint16_t> hiveIds;  // root and key path
    for (size_t i = 0; i < app_.registry.size(); ++i) {
        const CabRegistryValue& v = app_.registry[i];
        std::string hiveKey(1, static_cast<char>(v.root));
        for (const std::string& level : v.key) hiveKey += level + '\0';
        auto hive = hiveIds.find(hiveKey);
        if (hive == hiveIds.end()) {
            std::string ids = IdPath(v.key);
            if (!Fits(hiveCount_ + 1, "registry keys", error) || !Fits(ids.size(), "a registry key's path", error)) return false;
            hive = hiveIds.emplace(hiveKey, static_cast<uint16_t>(++hiveCount_)).first;
            Put16(&hives_, hive->second);
            Put16(&hives_, v.root);
            Put16(&hives_, 0);  // purpose unknown; "usually 0"
            Put16(&hives_, static_cast<uint32_t>(ids.size()));
            hives_ += ids;
        }
        std::string data = v.name + '\0';
        bool substitute = false;
        if ((v.flags & CabRegTypeMask) == CabRegDword || (v.flags & CabRegTypeMask) == CabRegBinary) {
            data += v.bytes;
        } else {
            for (const std::string& s : v.strings) {
                data += s + '\0';
                substitute = substitute || NeedsSubstitution(s);
            }
            if ((v.flags & CabRegTypeMask) == CabRegMultiString) data += '\0';
        }
        if (!Fits(i + 1, "registry values", error) || !Fits(data.size(), "a registry value's data", error)) return false;
        Put16(&keys_, static_cast<uint32_t>(i + 1));
        Put16(&keys_, hive->second);
        Put16(&keys_, substitute ? 1 : 0);
        Put32(&keys_, v.flags);
        Put16(&keys_, static_cast<uint32_t>(data.size()));
        keys_ += data;
    }
    return true;
}

bool SetupFileWriter::MakeLinks(std::string* error) {
    for (size_t i = 0; i < app_.shortcuts.size(); ++i) {
        const CabShortcut& s = app_.shortcuts[i];
        std::string ids = IdPath(s.name);
        // A file by its FILES ID; a directory by its DIRS ID, 0 for %InstallDir%.
        size_t target = s.toFile ? s.target + 1 : s.target;
        if (!Fits(i + 1, "shortcuts", error) || !Fits(ids.size(), "a shortcut's path", error)) return false;
        Put16(&links_, static_cast<uint32_t>(i + 1));
        Put16(&links_, 0);  // purpose unknown
        Put16(&links_, s.base);
        Put16(&links_, static_cast<uint32_t>(target));
        Put16(&links_, s.toFile ? 1 : 0);
        Put16(&links_, static_cast<uint32_t>(ids.size()));
        links_ += ids;
    }
    return true;
}

bool SetupFileWriter::Build(std::string* bytes, std::string* error) {
    if (!MakeDirs(error) || !MakeFiles(error) || !MakeRegistry(error) || !MakeLinks(error)) return false;
    std::string unsupported;
    for (const std::string& platform : app_.unsupported) unsupported += platform + '\0';
    if (!unsupported.empty()) unsupported += '\0';

    // The three strings' offsets and lengths are 16-bit.
    const uint32_t appName = HeaderSize;
    const uint32_t provider = appName + static_cast<uint32_t>(app_.appName.size() + 1);
    const uint32_t platforms = provider + static_cast<uint32_t>(app_.provider.size() + 1);
    if (platforms > Max16 || platforms + unsupported.size() > Max16 + 1) {
        *error = "the application name, provider and unsupported platforms pass the setup file's first 64 KiB, "
                 "which the header's 16-bit offsets reach";
        return false;
    }
    const uint32_t stringsAt = platforms + static_cast<uint32_t>(unsupported.size());
    const uint32_t dirsAt = stringsAt + static_cast<uint32_t>(stringRecords_.size());
    const uint32_t filesAt = dirsAt + static_cast<uint32_t>(dirs_.size());
    const uint32_t hivesAt = filesAt + static_cast<uint32_t>(files_.size());
    const uint32_t keysAt = hivesAt + static_cast<uint32_t>(hives_.size());
    const uint32_t linksAt = keysAt + static_cast<uint32_t>(keys_.size());
    const uint64_t total = uint64_t{linksAt} + links_.size();
    if (total > 0xFFFFFFFF) {
        *error = "the setup file would pass 4 GiB";
        return false;
    }

    std::string& out = *bytes;
    out.clear();
    out += "MSCE";
    Put32(&out, 0);  // purpose unknown; "usually 0"
    Put32(&out, static_cast<uint32_t>(total));
    Put32(&out, 0);  // purpose unknown; "usually 0"
    Put32(&out, 1);  // purpose unknown; "usually 1"
    Put32(&out, app_.processor);
    Put32(&out, app_.versionMinMajor);
    Put32(&out, app_.versionMinMinor);
    Put32(&out, app_.versionMaxMajor);
    Put32(&out, app_.versionMaxMinor);
    Put32(&out, app_.buildMin);
    Put32(&out, app_.buildMax);
    Put16(&out, static_cast<uint32_t>(strings_.size()));
    Put16(&out, static_cast<uint32_t>(app_.directories.size()));
    Put16(&out, static_cast<uint32_t>(app_.files.size()));
    Put16(&out, hiveCount_);
    Put16(&out, static_cast<uint32_t>(app_.registry.size()));
    Put16(&out, static_cast<uint32_t>(app_.shortcuts.size()));
    for (uint32_t at : {stringsAt, dirsAt, filesAt, hivesAt, keysAt, linksAt}) Put32(&out, at);
    Put16(&out, appName);
    Put16(&out, static_cast<uint32_t>(app_.appName.size() + 1));
    Put16(&out, provider);
    Put16(&out, static_cast<uint32_t>(app_.provider.size() + 1));
    Put16(&out, platforms);
    Put16(&out, static_cast<uint32_t>(unsupported.size()));
    Put16(&out, 0);  // purpose unknown; "usually 0"
    Put16(&out, 0);  // purpose unknown; "usually 0"
    out += app_.appName + '\0';
    out += app_.provider + '\0';
    out += unsupported;
    out += stringRecords_ + dirs_ + files_ + hives_ + keys_ + links_;
    return out.size() == total;
}

}  // namespace

bool BuildSetupFile(const CabApplication& app, std::string* bytes, std::string* error) {
    SetupFileWriter writer(app);
    return writer.Build(bytes, error);
}

}  // namespace cepack
