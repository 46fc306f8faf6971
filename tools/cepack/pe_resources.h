// The package's identity in the launcher stub: its version resource and icon
// group rewritten by cepack itself, for PE32 and PE32+, so that the Linux
// tool and cepack.exe give the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cepack {

// One image of an .ico file as its directory describes it.
struct IconImage {
    uint8_t width = 0;  // 0 stands for 256
    uint8_t height = 0;
    uint8_t colorCount = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    std::string data;
    bool png = false;  // Vista's compressed form, which XP cannot draw
};

// An .ico file's images; false with a reason for anything else.
bool ReadIconFile(const std::string& bytes, std::vector<IconImage>* images, std::string* reason);
// Whether one image is 32x32 or smaller in the BMP (DIB) form every Windows draws.
bool HasClassicSmallImage(const std::vector<IconImage>& images);

// "2.1" or "2.1.0.37": one to four numbers, each up to 65535; the missing ones are 0.
bool ParseVersionNumbers(const std::string& text, uint16_t numbers[4]);

// Characters (UTF-16 units) of Program, Company and Copyright: the version
// resource counts its blocks' bytes in 16 bits, and this keeps all its fields
// together far below that whatever the package's name; no properties page
// shows more on a line.
constexpr size_t MaxVersionTextChars = 256;
size_t Utf16Length(const std::string& utf8);

// What the package says of itself (UTF-8); an empty text is left out.
struct Branding {
    std::string company;
    std::string product;    // Program
    std::string copyright;
    std::string version;    // empty: no version strings and a zero fixed version, so nothing shows one
    std::string fileName;   // the package's, OriginalFilename
    std::vector<IconImage> icon;  // empty: the launcher's own stays
};

// The VS_VERSIONINFO resource that BrandStub puts in the stub, appended to out.
bool VersionResourceOf(const Branding& branding, std::string* out, std::string* reason);

// The stub's version resource replaced, and with an icon its icon group and
// icons; the resource section grows or shrinks, sections behind it (only
// base relocations may be) move, the headers follow and CheckSum is zeroed
// for PeChecksum. False with a reason for a stub it cannot rewrite.
bool BrandStub(std::string* image, const Branding& branding, std::string* reason);

// Whether the bytes open with the MZ and PE headers of a Windows program.
bool IsPeImage(const std::string& image);

// Where the header CheckSum lies in an image BrandStub accepted.
bool PeChecksumOffset(const std::string& image, uint64_t* offset);
// The header checksum of the whole file (read from its start, CheckSum as
// written, 0): the 16-bit one's-complement sum plus the length.
bool PeChecksum(FILE* file, uint64_t* sum);

}  // namespace cepack
