// Where an archive entry goes below the destination directory, and which
// names may not go anywhere.
#include "launcher/entry_path.h"

#include "support/file_layer.h"
#include "support/text.h"

namespace {

// A component the system would read as the parent directory: "..", and also
// forms it trims to that (trailing dots and spaces, "...", ". .").
bool IsParentLike(const char* component, const char* end) {
    int dots = 0;
    for (const char* p = component; p < end; ++p) {
        if (*p == '.') ++dots;
        else if (*p != ' ') return false;
    }
    return dots >= 2;
}

}  // namespace

// Every "\" byte counts as a separator here, also a double-byte trail byte;
// that can only refuse more names, never let one through.
bool IsContainedEntryName(const char* name) {
    if (name[0] == '\\') return false;                  // root, and UNC names
    if (name[0] != 0 && name[1] == ':') return false;   // another drive
    const char* component = name;
    for (const char* p = name;; ++p) {
        if (*p != '\\' && *p != 0) continue;
        if (IsParentLike(component, p)) return false;
        if (*p == 0) return true;
        component = p + 1;
    }
}

bool BuildEntryPath(const char* destinationDir, const char* name, uint16_t attributes, char* path) {
    if (!IsContainedEntryName(name)) return false;
    size_t directoryLength = TextLength(destinationDir);
    size_t nameLength = TextLength(name);
    // The engine adds a "\" to a directory entry named without one.
    bool slashAdded = (attributes & AttrDirectory) && (nameLength == 0 || name[nameLength - 1] != '\\');
    if (directoryLength + nameLength + (slashAdded ? 1 : 0) > static_cast<size_t>(PathMaxChars)) return false;
    TextCopyMax(path, destinationDir, PathMaxChars);
    TextAppendMax(path, name, PathMaxChars);
    return true;
}
