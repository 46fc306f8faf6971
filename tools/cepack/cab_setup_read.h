// Reads a device cabinet's setup file (NAME.000, "MSCE") into a plain model:
// what the device's installer will do with the cabinet. The layout is the
// one of cabextract's "Windows CE installation cabinet (.CAB) file format":
// a 100-byte header, the application, provider and unsupported-platform
// strings by 16-bit offset and length, and the STRINGS, DIRS, FILES,
// REGHIVES, REGKEYS and LINKS sections by 32-bit offset and 16-bit count.
//
// Text stays in the bytes the file holds (the device's ANSI code page); ids
// are resolved into paths, and a reference to a string, directory, hive or
// file that is not there is a finding with a stand-in in the text, never a
// failure of the whole read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/cepack/cab_reader.h"
#include "tools/cepack/cabinet_check.h"

namespace cepack {

// The registry value types of REGKEYS' flags (bits 16 and 0), and its one flag.
constexpr uint32_t SetupRegTypeMask = 0x00010001;
constexpr uint32_t SetupRegString = 0x00000000;
constexpr uint32_t SetupRegDword = 0x00010001;
constexpr uint32_t SetupRegMultiString = 0x00010000;
constexpr uint32_t SetupRegBinary = 0x00000001;
constexpr uint32_t SetupRegNoClobber = 0x00000002;

// LINKS' target types.
constexpr uint16_t SetupLinkToDirectory = 0;
constexpr uint16_t SetupLinkToFile = 1;

struct SetupDirectory {
    uint16_t id = 0;
    std::string path;  // "%CE1%\Sample Notes"
};

struct SetupFileItem {
    uint16_t member = 0;  // the cabinet member NAME.nnn with this number
    uint16_t directory = 0;
    uint16_t unknown = 0;  // usually the member number again
    uint32_t flags = 0;
    std::string name;
    std::string directoryPath;  // resolved, or a stand-in
};

struct SetupHive {
    uint16_t id = 0;
    uint16_t root = 0;  // 1 HKCR, 2 HKCU, 3 HKLM, 4 HKU
    std::string path;   // the key below the root
};

struct SetupRegValue {
    uint16_t id = 0;
    uint16_t hive = 0;
    bool substitute = false;  // %InstallDir% and %CEn% in the data are replaced
    uint32_t flags = 0;       // type (SetupRegTypeMask) and SetupRegNoClobber
    std::string key;          // root and path, "HKLM\Software\X", or a stand-in
    std::string name;         // empty: the key's default value
    std::string data;         // raw bytes after the name
};

struct SetupLink {
    uint16_t id = 0;
    uint16_t unknown = 0;
    uint16_t base = 0;  // 0 %InstallDir%, 1..17 %CEn%
    uint16_t target = 0;
    uint16_t type = 0;  // SetupLinkToDirectory or SetupLinkToFile
    std::string path;   // the shortcut below its base, resolved
    std::string targetPath;  // what it points to, resolved
};

struct SetupModel {
    uint32_t declaredSize = 0;
    uint32_t cpu = 0;
    uint32_t minMajor = 0, minMinor = 0, maxMajor = 0, maxMinor = 0, minBuild = 0, maxBuild = 0;
    std::string application;
    std::string provider;
    std::vector<std::string> unsupported;
    std::vector<SetupDirectory> directories;
    std::vector<SetupFileItem> files;
    std::vector<SetupHive> hives;
    std::vector<SetupRegValue> values;
    std::vector<SetupLink> links;
};

// The setup file's bytes into model. False only where the file is no setup
// file at all (no "MSCE", shorter than its header); everything else read is
// in model, whatever findings came with it.
bool ReadSetupFile(const std::vector<uint8_t>& bytes, SetupModel* model, std::vector<CabinetFinding>* findings);

// The most of a setup file cepack reads; real ones are a few KiB.
constexpr size_t SetupFileMax = 16u << 20;

struct DeviceCabinet {
    std::string setupMember;  // NAME.000
    bool compressed = false;  // MSZIP
    bool undecodable = false;  // its setup file is in an LZX or Quantum folder
    SetupModel setup;
    std::vector<std::string> memberOf;  // by FILES entry: the cabinet member it installs, empty when none
};

// A whole device cabinet: the container, its setup file and the members the
// setup file names. False when the setup file could not be read at all.
bool ReadDeviceCabinet(uint64_t size, const CabinetReader& read, DeviceCabinet* cabinet,
                       std::vector<CabinetFinding>* findings);

}  // namespace cepack
