#include "installer/destination.h"
#include "support/file_layer.h"

int ExamineDestination(const char* path) {
    DirEntry entry;
    BeginDirSearch(path, AllEntryKinds, &entry);
    int kind = DestinationMissing;
    if (LastFileError == ErrorSuccess) kind = (entry.Attr & AttrDirectory) ? DestinationIsDirectory : DestinationIsFile;
    EndDirSearch(&entry);
    return kind;
}
