#include "launcher/work_directory.h"

#include "support/file_layer.h"
#include "support/platform.h"

namespace {

char EnvironmentValue[EnvironmentValueSize];


bool IsAbsoluteBase(const char* path) { return (path[0] != 0 && path[1] == ':') || IsUncName(path); }

// Writes n's decimal digits (no leading zeros) at out.
void WriteNumber(char* out, int n) {
    char digits[4];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n > 0 && count < 3);
    while (count > 0) *out++ = digits[--count];
    *out = 0;
}

// Writes value as RandomNameDigits hexadecimal digits at out.
void WriteHexNumber(char* out, uint32_t value) {
    for (int i = RandomNameDigits - 1; i >= 0; --i, value >>= 4) out[i] = "0123456789abcdef"[value & 15];
    out[RandomNameDigits] = 0;
}

// The base checked and "\$qv" appended; where the number goes, or null.
char* PrepareBase(char* buffer) {
    if (!IsAbsoluteBase(buffer)) return nullptr;
    if (TextLength(buffer) + WorkDirectoryRoom > static_cast<size_t>(PathMaxChars)) return nullptr;
    if (!IsExistingDirectory(buffer)) return nullptr;
    AppendBackslash(buffer);
    TextAppend(buffer, TempDirPrefix);
    return TextEnd(buffer);
}

}  // namespace

void (*MakeWorkingDirectory)(const char* path) = MakeDirectory;

char* ReadEnvironmentValue(const char* name) {
    // Read as a path: a TEMP under a user name the code page cannot hold is
    // taken in its short form, or not at all, never with "?" in it.
    if (ReadEnvironmentPath(name, EnvironmentValue, EnvironmentValueSize) == 0) EnvironmentValue[0] = 0;
    return EnvironmentValue;
}

bool TryTempCandidate(char* buffer, const char* candidate) {
    if (TextLength(candidate) + WorkDirectoryRoom > static_cast<size_t>(PathMaxChars)) return false;
    TextCopy(buffer, candidate);
    return MakeUniqueSubdirectory(buffer);
}

bool MakeUniqueSubdirectory(char* buffer, bool (*random)(uint32_t* value)) {
    char* number = PrepareBase(buffer);
    if (!number) return false;
    int names = TempDirNumbers + (random ? RandomNameTries : 0);
    for (int n = 0; n < names; ++n) {
        uint32_t value = 0;
        if (n < TempDirNumbers) {
            WriteNumber(number, n);
        } else if (random(&value)) {
            WriteHexNumber(number, value);
        } else {
            continue;
        }
        if (!random && IsExistingDirectory(buffer)) continue;
        MakeWorkingDirectory(buffer);
        if (LastFileError == ErrorSuccess) return true;
        // Without random, anything else in the way (a plain file) or an
        // unwritable base gives up on this base at once. With it, a name
        // that somebody took, whenever, only moves on to the next.
        if (!random || (LastFileError != ErrorAlreadyExists && LastFileError != ErrorFileExists)) return false;
    }
    return false;
}

namespace {

struct Removers {
    void (*File)(const char* file);
    void (*Directory)(const char* directory);
};

bool IsDotName(const char* name) { return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)); }

// Empties the directory named in name, whose text ends at end with "\".
// One buffer serves every level, so the depth is bounded by the path's
// length. Stops at the first entry that cannot go.
bool DeleteContents(char* name, char* end, const Removers& removers) {
    TextCopy(end, "*.*");  // the caller left room for it
    bool allDeleted = true;
    DirEntry entry;
    BeginDirSearch(name, 0x3F, &entry);
    for (; LastFileError == ErrorSuccess && allDeleted; ContinueDirSearch(&entry)) {
        if (IsDotName(entry.Name)) continue;
        *end = 0;
        bool directory = (entry.Attr & AttrDirectory) != 0;
        // A cut name could name another entry: count it as not deleted.
        // A directory needs room for "\*.*" as well.
        if (TextLength(name) + TextLength(entry.Name) + (directory ? 4 : 0) > static_cast<size_t>(PathMaxChars)) {
            allDeleted = false;
            continue;
        }
        TextAppend(name, entry.Name);
        if (!directory) {
            SetPathAttributes(name, AttrArchive);  // clears read-only, hidden and system
            removers.File(name);
            allDeleted = LastFileError == ErrorSuccess;
            continue;
        }
        // A link (a junction somebody put here) goes as itself: what it
        // points to is never entered.
        if ((entry.Attributes & AttrReparsePoint) == 0) {
            SetPathAttributes(name, AttrArchive);
            char* inner = TextEnd(name);
            *inner = '\\';
            allDeleted = DeleteContents(name, inner + 1, removers);
            *inner = 0;
        }
        if (allDeleted) {
            removers.Directory(name);
            allDeleted = LastFileError == ErrorSuccess;
        }
    }
    EndDirSearch(&entry);
    return allDeleted;
}

}  // namespace

bool DeleteTempFiles(const char* path, void (*remove)(const char* file), void (*removeDirectory)(const char* dir)) {
    // A cut path could name another directory: refuse it rather than cut it.
    if (TextLength(path) + sizeof "\\*.*" - 1 > static_cast<size_t>(PathMaxChars)) return true;
    char name[PathBufferSize];
    TextCopy(name, path);
    AppendBackslash(name);
    if (!IsAbsoluteBase(name)) return true;
    return DeleteContents(name, TextEnd(name), Removers{remove, removeDirectory});
}
