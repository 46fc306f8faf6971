// The author's information file (.inf, as CabWiz reads it) turned into the
// plain records of a device application: what goes into its setup file
// NAME.000 and which host files become the cabinet's members.
//
// The syntax is that of Windows' setup information files: ';' comments
// outside quotes, quoted values, '\' at a line's end continues it, names in
// any case, numbers decimal or 0x hexadecimal; the text is UTF-8 where it is
// valid UTF-8, else code page 1252. %name% comes from [Strings] and
// [CEStrings]; %CE1%..%CE17% and %InstallDir% are left for the device to
// resolve, so that an install to a storage card lands where the user chose.
//
// Every text of the records is in code page 1252, the setup file's, with a
// character 1252 cannot hold reported at its line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cepack {

struct InfFinding {
    bool error = false;
    int line = 0;         // 0: the file as a whole
    std::string section;  // as written in the file (UTF-8), or empty
    std::string key;
    std::string message;
};

// A directory on the device: its path's names, the first of which may be
// "%CEn%" or "%InstallDir%".
struct CabDirectory {
    std::vector<std::string> names;
};

struct CabFile {
    std::string source;    // host path (UTF-8) of the file to pack
    std::string ownName;   // the source's own file name (UTF-8), for the member's name
    size_t directory = 0;  // index into CabApplication::directories
    std::string name;      // name on the device
    uint32_t flags = 0;    // the setup file's FILES flags
    int line = 0;
};

enum CabRegistryType : uint32_t {
    CabRegString = 0x00000000,
    CabRegBinary = 0x00000001,
    CabRegMultiString = 0x00010000,
    CabRegDword = 0x00010001,
};
constexpr uint32_t CabRegTypeMask = 0x00010001;
constexpr uint32_t CabRegNoClobber = 0x00000002;

struct CabRegistryValue {
    uint16_t root = 0;               // 1 HKCR, 2 HKCU, 3 HKLM, 4 HKU
    std::vector<std::string> key;    // the key's path, name by name
    std::string name;                // empty: the key's default value
    uint32_t flags = 0;              // a CabRegistryType, perhaps with CabRegNoClobber
    std::vector<std::string> strings;  // a string (one) or a multi-string
    std::string bytes;               // binary data, or a DWORD's four bytes (little-endian)
    int line = 0;
};

struct CabShortcut {
    std::vector<std::string> name;  // the link's path below its base, its own name last
    uint16_t base = 0;              // 0: %InstallDir%, 1..17: %CEn%
    bool toFile = true;
    size_t target = 0;  // a file's index, or a directory's index + 1 (0: %InstallDir% itself)
    int line = 0;
};

struct CabApplication {
    std::string appName;
    std::string provider;
    uint32_t processor = 0;  // 0: any
    uint32_t versionMinMajor = 0, versionMinMinor = 0, versionMaxMajor = 0, versionMaxMinor = 0;
    uint32_t buildMin = 0, buildMax = 0;
    std::vector<std::string> unsupported;
    std::vector<CabDirectory> directories;
    std::vector<CabFile> files;  // member numbers 1.. in this order
    std::vector<CabRegistryValue> registry;
    std::vector<CabShortcut> shortcuts;
    std::string setupDll;         // host path, or empty
    std::string setupDllOwnName;  // its own file name (UTF-8)
};

// Member numbers: 000 the setup file, 999 a setup DLL, the files between.
constexpr size_t CabMaxFiles = 998;
// What the device registers as "<provider> <appname>" (the CabWiz pages on
// [Version] and [CEStrings]).
constexpr size_t CabMaxAppName = 40;
constexpr size_t CabMaxProvider = 32;

// Reads infPath (UTF-8 host path); cpu is the --cpu tag or empty. Findings
// go to *findings in the file's order; true when none is an error, and only
// then is *app complete.
bool ReadCabInf(const std::string& infPath, const std::string& cpu, CabApplication* app,
                std::vector<InfFinding>* findings);

// The same from text already in memory; sources are looked for relative to
// folder.
bool ReadCabInfText(const std::string& text, const std::string& folder, const std::string& cpu,
                    CabApplication* app, std::vector<InfFinding>* findings);

// UTF-8 to code page 1252; false when a character has no place there or the
// text is no UTF-8.
bool AnsiFromUtf8(const std::string& utf8, std::string* ansi);

}  // namespace cepack
