// Rewrites the stub's resources after Microsoft's PE/COFF layout: the
// resource directory read into a tree, the version and icon entries
// replaced, the tree written back as one section (directories, names, data
// entries, data), and the headers made to agree.
#include "tools/cepack/pe_resources.h"

#include <algorithm>
#include <cstring>

#include "tools/cepack/host_paths.h"

namespace cepack {

namespace {

uint16_t Get16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
uint32_t Get32(const std::string& b, size_t at) { return Get16(b, at) | static_cast<uint32_t>(Get16(b, at + 2)) << 16; }
void Put16(std::string* b, size_t at, uint32_t v) {
    (*b)[at] = static_cast<char>(v & 0xFF);
    (*b)[at + 1] = static_cast<char>(v >> 8 & 0xFF);
}
void Put32(std::string* b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}
void Append16(std::string* b, uint32_t v) { b->append(2, 0), Put16(b, b->size() - 2, v); }
void Append32(std::string* b, uint32_t v) { b->append(4, 0), Put32(b, b->size() - 4, v); }
void PadTo(std::string* b, size_t alignment) { b->append((alignment - b->size() % alignment) % alignment, 0); }
uint64_t AlignUp(uint64_t v, uint32_t alignment) { return (v + alignment - 1) / alignment * alignment; }
bool Fits(const std::string& b, uint64_t at, uint64_t count) { return at <= b.size() && count <= b.size() - at; }

// Resource types, MAKEINTRESOURCE numbers.
constexpr uint32_t RtIcon = 3;
constexpr uint32_t RtGroupIcon = 14;
constexpr uint32_t RtVersion = 16;
constexpr uint32_t SubdirectoryBit = 0x80000000;
constexpr uint32_t NamedBit = 0x80000000;
constexpr uint16_t EnglishUs = 0x0409;
constexpr uint16_t Windows1252 = 1252;

// ---- .ico ----

constexpr size_t IconDirSize = 6;
constexpr size_t IconDirEntrySize = 16;
constexpr uint32_t BitmapInfoHeaderSize = 40;
const char PngSignature[] = "\x89PNG\r\n\x1A\n";

// ---- UTF-8 to UTF-16; a broken sequence becomes U+FFFD ----

std::u16string Utf16Of(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        int32_t decoded = NextCodePoint(utf8, &i);
        uint32_t code = decoded < 0 ? 0xFFFD : static_cast<uint32_t>(decoded);
        if (decoded < 0) ++i;
        if (code >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
    }
    return out;
}

// ---- the resource tree ----

struct Node {
    bool named = false;
    uint32_t id = 0;
    std::u16string name;
    std::vector<Node> children;  // types hold names, names hold languages
    std::string data;            // a language's
    uint32_t codePage = 0;
};

struct Reader {
    const std::string& section;
    uint32_t rva;
    size_t budget;  // entries left: a directory that points back at itself ends here
    std::string* reason;
};

bool Fail(std::string* reason, const char* text) {
    *reason = text;
    return false;
}

bool ReadName(Reader* r, uint32_t offset, Node* node) {
    if (!Fits(r->section, offset, 2)) return Fail(r->reason, "a resource name lies outside the section");
    uint16_t length = Get16(r->section, offset);
    if (!Fits(r->section, offset + 2, 2u * length)) return Fail(r->reason, "a resource name lies outside the section");
    node->named = true;
    for (uint16_t i = 0; i < length; ++i) node->name += static_cast<char16_t>(Get16(r->section, offset + 2 + 2 * i));
    return true;
}

bool ReadData(Reader* r, uint32_t offset, Node* node) {
    if (!Fits(r->section, offset, 16)) return Fail(r->reason, "a resource data entry lies outside the section");
    uint32_t at = Get32(r->section, offset), size = Get32(r->section, offset + 4);
    if (at < r->rva || !Fits(r->section, at - r->rva, size)) {
        return Fail(r->reason, "resource data lies outside the resource section");
    }
    node->data = r->section.substr(at - r->rva, size);
    node->codePage = Get32(r->section, offset + 8);
    return true;
}

// Level 0 holds types, 1 names, 2 languages, whose entries lead to data.
bool ReadDirectory(Reader* r, uint32_t offset, int level, Node* node) {
    if (!Fits(r->section, offset, 16)) return Fail(r->reason, "a resource directory lies outside the section");
    size_t count = static_cast<size_t>(Get16(r->section, offset + 12)) + Get16(r->section, offset + 14);
    if (count > r->budget || !Fits(r->section, offset + 16, 8 * count)) {
        return Fail(r->reason, "the resource directory is damaged");
    }
    r->budget -= count;
    for (size_t i = 0; i < count; ++i) {
        uint32_t entry = static_cast<uint32_t>(offset + 16 + 8 * i);
        uint32_t name = Get32(r->section, entry), target = Get32(r->section, entry + 4);
        Node child;
        if (name & NamedBit) {
            if (!ReadName(r, name & ~NamedBit, &child)) return false;
        } else {
            child.id = name;
        }
        bool subdirectory = (target & SubdirectoryBit) != 0;
        if (subdirectory != (level < 2)) return Fail(r->reason, "the resource directory is not three levels deep");
        bool read = level < 2 ? ReadDirectory(r, target & ~SubdirectoryBit, level + 1, &child)
                              : ReadData(r, target, &child);
        if (!read) return false;
        node->children.push_back(std::move(child));
    }
    return true;
}

// Named entries first, by name, then numbered ones by number: the order the
// loader's binary search expects.
void SortTree(Node* node) {
    std::sort(node->children.begin(), node->children.end(), [](const Node& a, const Node& b) {
        if (a.named != b.named) return a.named;
        return a.named ? a.name < b.name : a.id < b.id;
    });
    for (Node& child : node->children) SortTree(&child);
}

// The section's bytes: every directory (breadth first), then the names, the
// data entries and the data, each where the counts so far put it.
std::string WriteTree(Node* root, uint32_t rva) {
    SortTree(root);
    std::vector<Node*> directories{root}, leaves;
    std::vector<const Node*> named;
    for (size_t i = 0; i < directories.size(); ++i) {
        for (Node& child : directories[i]->children) {
            if (child.named) named.push_back(&child);
        }
        // Past the types' directories come the names', whose entries are languages.
        bool languages = i >= 1 + root->children.size();
        for (Node& child : directories[i]->children) (languages ? leaves : directories).push_back(&child);
    }
    std::vector<uint32_t> directoryAt, nameAt, entryAt, dataAt;
    uint32_t at = 0;
    for (Node* d : directories) directoryAt.push_back(at), at += 16 + 8 * static_cast<uint32_t>(d->children.size());
    for (const Node* n : named) nameAt.push_back(at), at += 2 + 2 * static_cast<uint32_t>(n->name.size());
    at = static_cast<uint32_t>(AlignUp(at, 4));
    for (size_t i = 0; i < leaves.size(); ++i) entryAt.push_back(at), at += 16;
    for (Node* leaf : leaves) {
        at = static_cast<uint32_t>(AlignUp(at, 8));
        dataAt.push_back(at);
        at += static_cast<uint32_t>(leaf->data.size());
    }

    std::string out;
    size_t nextDirectory = 1, nextName = 0, nextLeaf = 0;
    for (size_t i = 0; i < directories.size(); ++i) {
        const Node* d = directories[i];
        auto namedCount = static_cast<uint32_t>(
            std::count_if(d->children.begin(), d->children.end(), [](const Node& c) { return c.named; }));
        Append32(&out, 0), Append32(&out, 0);  // characteristics; no time stamp, so the bytes repeat
        Append16(&out, 0), Append16(&out, 0);  // version
        Append16(&out, namedCount), Append16(&out, static_cast<uint32_t>(d->children.size()) - namedCount);
        bool languages = i >= 1 + root->children.size();
        for (const Node& child : d->children) {
            Append32(&out, child.named ? nameAt[nextName++] | NamedBit : child.id);
            Append32(&out, languages ? entryAt[nextLeaf++] : directoryAt[nextDirectory++] | SubdirectoryBit);
        }
    }
    for (const Node* n : named) {
        Append16(&out, static_cast<uint32_t>(n->name.size()));
        for (char16_t c : n->name) Append16(&out, c);
    }
    PadTo(&out, 4);
    for (size_t i = 0; i < leaves.size(); ++i) {
        Append32(&out, rva + dataAt[i]), Append32(&out, static_cast<uint32_t>(leaves[i]->data.size()));
        Append32(&out, leaves[i]->codePage), Append32(&out, 0);
    }
    for (size_t i = 0; i < leaves.size(); ++i) {
        out.resize(dataAt[i], 0);
        out += leaves[i]->data;
    }
    return out;
}

Node* FindChild(Node* node, uint32_t id) {
    for (Node& child : node->children) {
        if (!child.named && child.id == id) return &child;
    }
    return nullptr;
}

Node* AddChild(Node* node, uint32_t id) {
    node->children.push_back(Node{});
    node->children.back().id = id;
    return &node->children.back();
}

// ---- VS_VERSIONINFO ----

// A block: wLength, wValueLength, wType, its key, padding to 32 bits, the
// value, then children each 32-bit aligned; wLength is counted once the
// children are written.
struct Block {
    std::string* out;
    size_t start;
    Block(std::string* b, const std::u16string& key, uint32_t valueLength, bool text) : out(b), start(b->size()) {
        Append16(out, 0), Append16(out, valueLength), Append16(out, text ? 1 : 0);
        for (char16_t c : key) Append16(out, c);
        Append16(out, 0);
        PadTo(out, 4);
    }
    ~Block() { Put16(out, start, static_cast<uint32_t>(out->size() - start)); }
};

void AddString(std::string* out, const char16_t* key, const std::string& value) {
    if (value.empty()) return;
    PadTo(out, 4);
    std::u16string text = Utf16Of(value);
    Block s(out, key, static_cast<uint32_t>(text.size() + 1), true);
    for (char16_t c : text) Append16(out, c);
    Append16(out, 0);
}

std::string InternalNameOf(const std::string& fileName) {
    size_t dot = fileName.rfind('.');
    std::string ext = dot == std::string::npos ? "" : fileName.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
    return ext == ".exe" ? fileName.substr(0, dot) : fileName;
}

std::string VersionText(const uint16_t numbers[4], const std::string& given) {
    std::string text;
    size_t parts = static_cast<size_t>(std::count(given.begin(), given.end(), '.')) + 1;
    for (size_t i = 0; i < parts && i < 4; ++i) {
        if (i) text += '.';
        text += std::to_string(numbers[i]);
    }
    return text;
}

constexpr uint32_t FixedInfoSignature = 0xFEEF04BD;
constexpr uint32_t FixedInfoStructVersion = 0x00010000;
constexpr uint32_t FileFlagsMask = 0x3F;
constexpr uint32_t VosNtWindows32 = 0x00040004;
constexpr uint32_t VftApp = 1;
constexpr uint32_t FixedInfoSize = 52;

bool VersionResource(const Branding& b, std::string* out, std::string* reason) {
    uint16_t v[4] = {};
    if (!b.version.empty() && !ParseVersionNumbers(b.version, v)) {
        return Fail(reason, "the version is not one to four numbers up to 65535");
    }
    std::string version = b.version.empty() ? "" : VersionText(v, b.version);
    {
        Block root(out, u"VS_VERSION_INFO", FixedInfoSize, false);
        uint32_t ms = static_cast<uint32_t>(v[0]) << 16 | v[1], ls = static_cast<uint32_t>(v[2]) << 16 | v[3];
        for (uint32_t field : {FixedInfoSignature, FixedInfoStructVersion, ms, ls, ms, ls, FileFlagsMask, 0u,
                               VosNtWindows32, VftApp, 0u, 0u, 0u}) {
            Append32(out, field);
        }
        {
            Block info(out, u"StringFileInfo", 0, true);
            Block table(out, u"040904E4", 0, true);
            AddString(out, u"CompanyName", b.company);
            AddString(out, u"FileDescription", b.product.empty() ? "Setup" : b.product + " Setup");
            AddString(out, u"FileVersion", version);
            AddString(out, u"InternalName", InternalNameOf(b.fileName));
            AddString(out, u"LegalCopyright", b.copyright);
            AddString(out, u"OriginalFilename", b.fileName);
            AddString(out, u"ProductName", b.product);
            AddString(out, u"ProductVersion", version);
        }
        PadTo(out, 4);
        Block var(out, u"VarFileInfo", 0, true);
        Block translation(out, u"Translation", 4, false);
        Append16(out, EnglishUs), Append16(out, Windows1252);
    }
    if (out->size() > 0xFFFF) return Fail(reason, "the version information is too long for its 16-bit lengths");
    return true;
}

// ---- icons ----


void ReplaceIcons(Node* root, const std::vector<IconImage>& images) {
    // The old icons go first: nothing may point into the tree while it shrinks.
    root->children.erase(std::remove_if(root->children.begin(), root->children.end(),
                                        [](const Node& n) { return !n.named && n.id == RtIcon; }),
                         root->children.end());
    Node* groups = FindChild(root, RtGroupIcon);
    if (!groups) groups = AddChild(root, RtGroupIcon);
    SortTree(groups);
    // The first group is the one Explorer shows; the rest would name icons that are gone.
    if (groups->children.empty()) AddChild(groups, 1);
    groups->children.resize(1);
    Node* group = &groups->children[0];
    if (group->children.empty()) AddChild(group, 0);
    group->children.resize(1);
    uint32_t language = group->children[0].id;

    std::string directory;
    Append16(&directory, 0), Append16(&directory, 1), Append16(&directory, static_cast<uint32_t>(images.size()));
    Node icons;
    icons.id = RtIcon;
    for (size_t i = 0; i < images.size(); ++i) {
        const IconImage& image = images[i];
        directory += static_cast<char>(image.width), directory += static_cast<char>(image.height);
        directory += static_cast<char>(image.colorCount), directory += '\0';
        Append16(&directory, image.planes), Append16(&directory, image.bitCount);
        Append32(&directory, static_cast<uint32_t>(image.data.size()));
        Append16(&directory, static_cast<uint32_t>(i + 1));
        Node* icon = AddChild(&icons, static_cast<uint32_t>(i + 1));
        AddChild(icon, language)->data = image.data;
    }
    group->children[0].data = directory;
    root->children.push_back(std::move(icons));
}

// ---- the PE headers ----

constexpr size_t SectionHeaderSize = 40;
constexpr uint32_t ResourceDirectory = 2;
constexpr uint32_t SecurityDirectory = 4;
constexpr uint32_t RelocationDirectory = 5;
constexpr uint32_t InitializedData = 0x40;

struct Pe {
    size_t optional = 0;  // the optional header's offset
    size_t sections = 0;  // the section table's
    uint16_t count = 0;
    size_t directories = 0;
    uint32_t directoryCount = 0;
    uint32_t sectionAlignment = 0, fileAlignment = 0;
};

bool ReadPe(const std::string& image, Pe* pe, std::string* reason) {
    if (!Fits(image, 0, 64) || image[0] != 'M' || image[1] != 'Z') {
        return Fail(reason, "the stub is no Windows program");
    }
    size_t header = Get32(image, 60);
    if (!Fits(image, header, 24) || image.compare(header, 4, std::string("PE\0\0", 4)) != 0) {
        return Fail(reason, "the stub is no Windows program");
    }
    pe->count = Get16(image, header + 6);
    uint16_t optionalSize = Get16(image, header + 20);
    pe->optional = header + 24;
    pe->sections = pe->optional + optionalSize;
    if (!Fits(image, pe->optional, 2) || !Fits(image, pe->sections, SectionHeaderSize * pe->count)) {
        return Fail(reason, "the stub's headers are cut short");
    }
    uint16_t magic = Get16(image, pe->optional);
    if (magic != 0x10B && magic != 0x20B) return Fail(reason, "the stub is neither PE32 nor PE32+");
    size_t countAt = pe->optional + (magic == 0x10B ? 92 : 108);
    if (countAt + 4 > pe->sections) return Fail(reason, "the stub's optional header is cut short");
    pe->directoryCount = Get32(image, countAt);
    pe->directories = countAt + 4;
    pe->sectionAlignment = Get32(image, pe->optional + 32);
    pe->fileAlignment = Get32(image, pe->optional + 36);
    bool powers = pe->fileAlignment >= 512 && (pe->fileAlignment & (pe->fileAlignment - 1)) == 0 &&
                  pe->sectionAlignment >= pe->fileAlignment && (pe->sectionAlignment & (pe->sectionAlignment - 1)) == 0;
    if (!powers || pe->directoryCount <= RelocationDirectory ||
        pe->directories + 8 * static_cast<size_t>(pe->directoryCount) > pe->sections) {
        return Fail(reason, "the stub's optional header is damaged");
    }
    return true;
}

size_t DirectoryAt(const Pe& pe, uint32_t index) { return pe.directories + 8 * index; }
size_t SectionAt(const Pe& pe, size_t index) { return pe.sections + SectionHeaderSize * index; }

// The resource section opens at the resource directory, and only base
// relocations follow it, in the file and in memory; nothing lies behind.
bool FindResourceSection(const std::string& image, const Pe& pe, size_t* index, std::string* reason) {
    if (Get32(image, DirectoryAt(pe, SecurityDirectory) + 4) != 0) {
        return Fail(reason, "the stub is signed; branding would break its signature: use an unsigned stub");
    }
    uint32_t rva = Get32(image, DirectoryAt(pe, ResourceDirectory));
    *index = pe.count;
    uint64_t end = 0;
    for (size_t i = 0; i < pe.count; ++i) {
        size_t s = SectionAt(pe, i);
        if (Get32(image, s + 12) == rva && rva != 0) *index = i;
        if (Get32(image, s + 16)) end = std::max<uint64_t>(end, uint64_t{Get32(image, s + 20)} + Get32(image, s + 16));
    }
    if (*index == pe.count) return Fail(reason, "the stub has no resource section of its own");
    if (end > image.size()) return Fail(reason, "the stub is cut short");
    if (end < image.size()) return Fail(reason, "the stub carries data behind its sections");
    uint32_t relocations = Get32(image, DirectoryAt(pe, RelocationDirectory));
    for (size_t i = *index + 1; i < pe.count; ++i) {
        size_t s = SectionAt(pe, i), before = SectionAt(pe, i - 1);
        bool after = Get32(image, s + 12) > Get32(image, before + 12) &&
                     Get32(image, s + 20) >= Get32(image, before + 20);
        if (Get32(image, s + 12) != relocations || !after) {
            return Fail(reason, "sections other than base relocations follow the stub's resources");
        }
    }
    size_t s = SectionAt(pe, *index);
    if (!Fits(image, Get32(image, s + 20), Get32(image, s + 16))) return Fail(reason, "the stub is cut short");
    return true;
}

// The new section in place of the old, the sections behind moved, and the
// sizes the loader and the tools check made to agree.
std::string Relaid(const std::string& image, const Pe& pe, size_t index, const std::string& resources) {
    size_t header = SectionAt(pe, index);
    uint32_t oldRaw = Get32(image, header + 16), position = Get32(image, header + 20);
    std::string out = image.substr(0, position) + resources;
    PadTo(&out, pe.fileAlignment);
    Put32(&out, header + 8, static_cast<uint32_t>(resources.size()));
    Put32(&out, header + 16, static_cast<uint32_t>(out.size() - position));
    uint64_t virtualEnd = uint64_t{Get32(image, header + 12)} + resources.size();
    for (size_t i = index + 1; i < pe.count; ++i) {
        size_t s = SectionAt(pe, i);
        uint32_t address = static_cast<uint32_t>(AlignUp(virtualEnd, pe.sectionAlignment));
        uint32_t raw = Get32(image, s + 16);
        Put32(&out, DirectoryAt(pe, RelocationDirectory), address);
        Put32(&out, s + 12, address);
        Put32(&out, s + 20, raw ? static_cast<uint32_t>(out.size()) : 0);
        out += image.substr(Get32(image, s + 20), raw);
        PadTo(&out, pe.fileAlignment);
        virtualEnd = uint64_t{address} + (Get32(image, s + 8) ? Get32(image, s + 8) : raw);
    }
    Put32(&out, pe.optional + 56, static_cast<uint32_t>(AlignUp(virtualEnd, pe.sectionAlignment)));
    if (Get32(image, header + 36) & InitializedData) {
        uint32_t initialized = Get32(image, pe.optional + 8) - oldRaw + Get32(out, header + 16);
        Put32(&out, pe.optional + 8, initialized);
    }
    Put32(&out, DirectoryAt(pe, ResourceDirectory) + 4, static_cast<uint32_t>(resources.size()));
    Put32(&out, pe.optional + 64, 0);
    return out;
}

}  // namespace

bool VersionResourceOf(const Branding& branding, std::string* out, std::string* reason) {
    return VersionResource(branding, out, reason);
}

bool ReadIconFile(const std::string& bytes, std::vector<IconImage>* images, std::string* reason) {
    images->clear();
    if (!Fits(bytes, 0, IconDirSize) || Get16(bytes, 0) != 0 || Get16(bytes, 2) != 1) {
        return Fail(reason, "is not an icon file (.ico)");
    }
    size_t count = Get16(bytes, 4);
    if (count == 0 || !Fits(bytes, IconDirSize, IconDirEntrySize * count)) {
        return Fail(reason, "is an icon file without images or cut short");
    }
    for (size_t i = 0; i < count; ++i) {
        size_t entry = IconDirSize + IconDirEntrySize * i;
        IconImage image;
        image.width = static_cast<uint8_t>(bytes[entry]);
        image.height = static_cast<uint8_t>(bytes[entry + 1]);
        image.colorCount = static_cast<uint8_t>(bytes[entry + 2]);
        image.planes = Get16(bytes, entry + 4);
        image.bitCount = Get16(bytes, entry + 6);
        uint32_t size = Get32(bytes, entry + 8), offset = Get32(bytes, entry + 12);
        if (size < 8 || !Fits(bytes, offset, size)) return Fail(reason, "is an icon file whose images lie outside it");
        image.data = bytes.substr(offset, size);
        image.png = image.data.compare(0, 8, PngSignature, 8) == 0;
        if (!image.png && Get32(image.data, 0) != BitmapInfoHeaderSize) {
            return Fail(reason, "is an icon file with an image that is neither a bitmap nor PNG");
        }
        images->push_back(std::move(image));
    }
    return true;
}

bool HasClassicSmallImage(const std::vector<IconImage>& images) {
    for (const IconImage& image : images) {
        if (!image.png && image.width != 0 && image.width <= 32 && image.height != 0 && image.height <= 32) return true;
    }
    return false;
}

bool ParseVersionNumbers(const std::string& text, uint16_t numbers[4]) {
    size_t part = 0, at = 0;
    for (int i = 0; i < 4; ++i) numbers[i] = 0;
    while (true) {
        size_t digits = 0;
        uint32_t value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 6) {
            value = value * 10 + static_cast<uint32_t>(text[at++] - '0');
            ++digits;
        }
        if (digits == 0 || value > 0xFFFF || part == 4) return false;
        numbers[part++] = static_cast<uint16_t>(value);
        if (at == text.size()) return true;
        if (text[at++] != '.') return false;
    }
}

size_t Utf16Length(const std::string& utf8) { return Utf16Of(utf8).size(); }

bool BrandStub(std::string* image, const Branding& branding, std::string* reason) {
    Pe pe;
    size_t index = 0;
    if (!ReadPe(*image, &pe, reason) || !FindResourceSection(*image, pe, &index, reason)) return false;
    size_t header = SectionAt(pe, index);
    uint32_t rva = Get32(*image, header + 12);
    uint32_t size = std::min(Get32(*image, header + 16), Get32(*image, header + 8));
    Reader reader{image->substr(Get32(*image, header + 20), size), rva, 1u << 16, reason};
    Node root;
    if (!ReadDirectory(&reader, 0, 0, &root)) return false;

    std::string version;
    if (!VersionResource(branding, &version, reason)) return false;
    Node* versions = FindChild(&root, RtVersion);
    if (!versions) versions = AddChild(&root, RtVersion);
    uint32_t language = !versions->children.empty() && !versions->children[0].children.empty()
                            ? versions->children[0].children[0].id
                            : EnglishUs;
    versions->children.clear();
    AddChild(AddChild(versions, 1), language)->data = version;
    if (!branding.icon.empty()) ReplaceIcons(&root, branding.icon);

    std::string resources = WriteTree(&root, rva);
    if (resources.size() > 0x7FFFFFFF) return Fail(reason, "the resources are too large");
    *image = Relaid(*image, pe, index, resources);
    return true;
}

bool IsPeImage(const std::string& image) {
    return Fits(image, 0, 64) && image[0] == 'M' && image[1] == 'Z' && Fits(image, Get32(image, 60), 4) &&
           image.compare(Get32(image, 60), 4, std::string("PE\0\0", 4)) == 0;
}

bool PeChecksumOffset(const std::string& image, uint64_t* offset) {
    Pe pe;
    std::string ignored;
    if (!ReadPe(image, &pe, &ignored)) return false;
    *offset = pe.optional + 64;
    return true;
}

bool PeChecksum(FILE* file, uint64_t* sum) {
    if (std::fseek(file, 0, SEEK_SET) != 0) return false;
    std::vector<unsigned char> block(1 << 16);
    uint64_t total = 0, length = 0;
    size_t n;
    // Blocks are read whole, so only the last one can end in half a word.
    while ((n = std::fread(block.data(), 1, block.size(), file)) > 0) {
        for (size_t i = 0; i < n; i += 2) {
            total += block[i] | (i + 1 < n ? block[i + 1] << 8 : 0);
            total = (total & 0xFFFF) + (total >> 16);
        }
        length += n;
        if (n < block.size()) break;
    }
    if (std::ferror(file)) return false;
    total = (total & 0xFFFF) + (total >> 16);
    *sum = static_cast<uint32_t>((total & 0xFFFF) + length);
    return true;
}

}  // namespace cepack
