#include "installer/texts.h"

#include "installer/setup_file.h"
#include "support/platform.h"
#include "support/text.h"


namespace {

// Each key followed by its built-in text, in TextId order: one block of
// bytes, not a table of pointers that the loader would have to relocate.
const char TextTable[] =
    "LanguagePrompt\0"
    "Please select a language / bitte w\xE4hlen Sie eine Sprache / S.v.p. choisissez une langue:\0"
    "DeviceCenterMissing\0"
    "Cannot install!\rPlease get the Mobile Device Center 6.1 or later:\r%s !\r"
    "The URL has been copied to the clipboard.\0"
    "ActiveSyncMissing\0"
    "Cannot install!\rPlease install Microsoft ActiveSync from %s !\0"
    "SaveToFolder\0"
    "Do you want to save the files for the device to a folder instead? You can then copy the device "
    "cabinet (.cab) to the device and open it there.\0"
    "OkButton\0"
    "OK\0"
    "CancelButton\0"
    "Cancel\0"
    "DestinationPrompt\0"
    "Please enter target directory for installation\0"
    "DestinationExample\0"
    "Please enter the full path of the target directory, for example C:\\Program Files\\Tools.\0"
    "BrowseTitle\0"
    "Please select the directory in which the %s-directory shall be created:\0"
    "DirectoryExists\0"
    "The specified directory already exists. Do you want to install the program there anyway? (Existing "
    "versions will be overwritten!)\rTo update an installed version, install into the directory it was "
    "installed in.\0"
    "CopyCaption\0"
    "Unpacking files...\0"
    "BackupLine\0"
    "Backup data:\0"
    "InstallLine\0"
    "Installing file:\0"
    "CopyCancelButton\0"
    "&Cancel\0"
    "ReadError\0"
    "Error reading %s!\rDisk may be defective!\0"
    "WriteError\0"
    "Error writing %s!\0"
    "Aborted\0"
    "Installation aborted!\0"
    "DiskFull\0"
    "Disk full!\0"
    "Success\0"
    "Installation successful! Please follow the instructions in CE App manager.\0"
    "Failure\0"
    "Installation NOT successful!\0"
    "SavedToFolder\0"
    "The files for the device have been saved to %s.\rCopy the device cabinet to the device (over USB, to a "
    "storage card, ...) and open it there. Where several are listed, take the one for the device's "
    "processor:";

// Read with room beyond TextBufferSize, so that a cut value is recognised.
constexpr uint32_t ReadBufferSize = 2 * TextBufferSize;
const char* const AbsentMarker = MissingEntryMarker;

// Each text as shown, its value left out: ValueAt is where it goes, -1 for
// a text without one.
char Shown[TextCount][TextBufferSize];
int16_t ValueAt[TextCount];
bool FromFile[TextCount];
bool Loaded = false;

// A value of the file for key in section, cut to fit; false where the key is
// missing or empty.
bool ReadText(const char* section, const char* key, char* text) {
    char value[ReadBufferSize];
    ReadSetupText(section, key, AbsentMarker, value, ReadBufferSize);
    if (value[0] == 0 || TextCompare(value, AbsentMarker) == 0) return false;
    CutText(value, TextBufferSize);
    TextCopy(text, value);
    return true;
}

struct ByteMessage {
    char* out;
    size_t at;
    size_t capacity;
};

// Appends the characters of a piece that fit whole; false when one did not.
bool PutChars(void* context, const char* source, size_t length, TextOrigin) {
    ByteMessage* message = static_cast<ByteMessage*>(context);
    const char* end = source + length;
    for (const char* p = source; p < end && *p != 0;) {
        const char* next = NextCharOf(p);
        if (next > end) next = end;
        size_t n = static_cast<size_t>(next - p);
        if (message->at + n > message->capacity - 1) return false;
        for (size_t i = 0; i < n; ++i) message->out[message->at++] = p[i];
        p = next;
    }
    return true;
}

// A checked text from the file form into the shown one, in place: "%n" a
// line break, "%%" a percent sign, "%s" left out. The built-in texts use
// the same form but for their line breaks, plain "\r".
void MakeShown(int id, const char* text) {
    char* out = Shown[id];
    ValueAt[id] = -1;
    for (const char* p = text; *p != 0; ++p) {
        if (*p != '%') {
            *out++ = *p;
            continue;
        }
        ++p;
        if (*p == 0) break;
        if (*p == 's') {
            ValueAt[id] = static_cast<int16_t>(out - Shown[id]);
        } else {
            *out++ = *p == 'n' ? '\r' : '%';
            if (*p == 'n') *out++ = '\n';
        }
    }
    *out = 0;
}

int CountValues(const char* text) {
    int count = 0;
    for (const char* p = text; *p != 0; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == 's') {
            ++count;
        } else if (*p != 'n' && *p != '%') {
            return -1;
        }
    }
    return count;
}

}  // namespace

const char* TextKeyName(int id) {
    const char* p = TextTable;
    for (int i = 0; i < 2 * id; ++i) p = TextEnd(p) + 1;
    return p;
}

const char* BuiltInText(int id) { return TextEnd(TextKeyName(id)) + 1; }

void MakeTextsSection(char letter, char* section) {
    TextCopy(section, "Texts");
    section[5] = letter;
    section[6] = 0;
}

bool SamePlaceholders(const char* text, const char* builtIn) {
    int count = CountValues(text);
    return count >= 0 && count == CountValues(builtIn);
}

void CutText(char* text, size_t capacity) {
    if (capacity == 0) return;
    char* p = text;
    while (*p != 0) {
        char* next = NextCharOf(p);
        if (static_cast<size_t>(next - text) > capacity - 1) break;
        p = next;
    }
    *p = 0;
}

void LoadTexts(char letter) {
    char own[8];
    char base[8];
    MakeTextsSection(letter, own);
    MakeTextsSection(0, base);
    for (int id = 0; id < TextCount; ++id) {
        const char* key = TextKeyName(id);
        const char* builtIn = TextEnd(key) + 1;
        char text[TextBufferSize];
        // The first text found decides: one whose placeholders differ is
        // refused for the built-in one, not passed over for the next.
        bool found = (letter != 0 && !IsShownBeforeChoice(id) && ReadText(own, key, text)) ||
                     ReadText(base, key, text);
        FromFile[id] = found && SamePlaceholders(text, builtIn);
        MakeShown(id, FromFile[id] ? text : builtIn);
    }
    Loaded = true;
}

const char* InstallerText(int id) {
    if (!Loaded) LoadTexts(0);
    return Shown[id];
}

void ForEachTextPiece(int id, const char* argument, TextPieceSink sink, void* context) {
    const char* text = InstallerText(id);
    TextOrigin origin = FromFile[id] ? AuthorOrigin : BuiltInOrigin;
    int value = ValueAt[id];
    if (value < 0) {
        sink(context, text, TextLength(text), origin);
        return;
    }
    if (argument == nullptr) argument = "";
    if (sink(context, text, static_cast<size_t>(value), origin) &&
        sink(context, argument, TextLength(argument), ValueOrigin)) {
        sink(context, text + value, TextLength(text + value), origin);
    }
}

void FormatInstallerText(char* message, size_t capacity, int id, const char* argument) {
    ByteMessage bytes = {message, 0, capacity};
    ForEachTextPiece(id, argument, PutChars, &bytes);
    message[bytes.at] = 0;
}
