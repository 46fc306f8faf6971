#include <sys/stat.h>

#include "support/file_identity.h"
#include "support/text.h"

namespace {

// The core's "\" separators become "/" at the system call.
bool StatCorePath(const char* path, struct stat* info) {
    char native[2 * PathBufferSize];
    size_t length = TextLength(path);
    if (length >= sizeof native) return false;
    for (size_t i = 0; i <= length; ++i) native[i] = path[i] == '\\' ? '/' : path[i];
    return stat(native, info) == 0;
}

}  // namespace

bool SameExistingFile(const char* a, const char* b) {
    struct stat x;
    struct stat y;
    if (!StatCorePath(a, &x) || !StatCorePath(b, &y)) return false;
    return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}
