// Where an archive entry goes below the destination directory, and which
// names may not go anywhere.
#include "launcher/entry_path.h"

#include "support/file_layer.h"
#include "support/text.h"

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
