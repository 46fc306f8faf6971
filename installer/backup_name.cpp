#include "installer/backup_name.h"

#include "support/platform.h"
#include "support/text.h"

namespace {
constexpr size_t ShortStem = 8;
}  // namespace

int MakeBackupPattern(const char* directory, const char* entry, char* name, size_t capacity) {
    // An entry in a subfolder keeps its folders; the rule works on its file name.
    const char* file = FileNameOf(entry);
    const char* dot = ScanChar(file, '.');
    size_t folders = static_cast<size_t>(file - entry);
    size_t stem = dot ? static_cast<size_t>(dot - file) : TextLength(file);
    size_t directoryLength = TextLength(directory);
    // directory, folders, stem, a space, the rest (or "."), NUL
    size_t needed = directoryLength + folders + stem + 1 + (dot ? TextLength(dot) : 1) + 1;
    if (needed > capacity) return -1;

    char* p = name;
    for (size_t i = 0; i < directoryLength; ++i) *p++ = directory[i];
    for (size_t i = 0; i < folders; ++i) *p++ = entry[i];
    char* stemStart = p;
    for (size_t i = 0; i < stem; ++i) *p++ = file[i];
    if (stem < ShortStem) *p++ = ' ';
    *p = 0;
    // The slot is the stem's last character, which may take two bytes in a
    // double-byte code page: it becomes the one digit.
    char* slot = PrevCharOf(stemStart, p);
    *slot = '0';
    p = slot + 1;
    *p = 0;
    TextCopy(p, dot ? dot : ".");
    return static_cast<int>(slot - name);
}
