// The setup information file reader of cepack lint and the installer's host
// tests: arbitrary bytes as the file (in a block of exactly their size, no
// terminator), through the lint, the profile reads at several buffer sizes
// (each buffer exactly that size), and the installer's list readers and
// entry splitters over the profile seam.
#include <string>
#include <vector>

#include "installer/ini_text.h"
#include "installer/install_state.h"
#include "installer/setup_file.h"
#include "installer/setup_lint.h"
#include "installer/texts.h"
#include "tests/fuzz/fuzz_util.h"

namespace {

using fuzz::Check;

struct Package {
    IniText text;  // every file of the package holds the input
    int reports = 0;
};

void Report(void* context, const LintFinding* f) {
    Check(f->File != nullptr && f->Section != nullptr && f->Key != nullptr && f->Message != nullptr,
          "a finding without its names");
    Check(std::strlen(f->Message) <= 1024, "a finding's text beyond its buffer");
    Check(f->Severity == LintError || f->Severity == LintWarning, "a finding without a severity");
    ++static_cast<Package*>(context)->reports;
}

// Half the names are in the package folder, so both branches run.
bool FileExists(void*, const char* name) { return std::strlen(name) % 2 == 1; }

// The listed .ini files read as the same bytes, so the application manager's
// checks get the input too.
bool ReadFile(void* context, const char* name, IniText* text) {
    if (!FileExists(context, name)) return false;
    *text = static_cast<Package*>(context)->text;
    return true;
}

// Section and key names worth asking for: the installer's, and the first
// few that the file itself spells.
void NamesOf(const uint8_t* data, size_t size, std::vector<std::string>* sections, std::vector<std::string>* keys) {
    *sections = {"Installation", "languages", "installd", ""};
    *keys = {"Program", "Count", "1", ""};
    std::string text(reinterpret_cast<const char*>(data), size);
    for (size_t at = 0; at < text.size() && sections->size() < 7;) {
        size_t open = text.find('[', at), close = text.find(']', open == std::string::npos ? at : open);
        if (open == std::string::npos || close == std::string::npos) break;
        sections->push_back(text.substr(open + 1, close - open - 1).c_str());
        at = close + 1;
    }
    for (size_t at = 0; at < text.size() && keys->size() < 8;) {
        size_t equals = text.find('=', at);
        if (equals == std::string::npos) break;
        size_t start = text.find_last_of("\r\n", equals);
        start = start == std::string::npos ? 0 : start + 1;
        keys->push_back(text.substr(start, equals - start).c_str());
        at = equals + 1;
    }
}

// Whole, into no buffer, and cut to `small` characters.
void ReadAtSizes(const IniText* ini, const char* section, const char* key, uint32_t small) {
    std::string full;
    for (uint32_t size : {1024u, 0u, small + 1}) {
        fuzz::ExactBuffer b(nullptr, 0, size);
        uint32_t n = IniReadString(ini, section, key, "  default  ", b.Text(), size);
        if (size == 0) {
            Check(n == 0, "a read into no buffer reports characters");
            continue;
        }
        Check(n <= size - 1 && b.Text()[n] == 0 && std::strlen(b.Text()) == n, "read count and text disagree");
        if (size == 1024) full = b.Text();
        else Check(full.compare(0, n, b.Text()) == 0, "a shorter buffer gets other text than a prefix");
    }
    IniReadInt(ini, section, key, 7);
    IniHasSection(ini, section);
    IniLineOf(ini, section, key);
    IniLineOf(ini, section, nullptr);
}

void SplitEntry(const char* entry) {
    for (size_t capacity : {size_t{1}, size_t{8}, size_t{PathBufferSize}}) {
        fuzz::ExactBuffer name(nullptr, 0, capacity);
        EntryName(entry, name.Text(), capacity);
        Check(std::strlen(name.Text()) < capacity, "entry name beyond its buffer");
        fuzz::ExactBuffer flags(nullptr, 0, capacity + 1);
        EntryFlags(entry, flags.Text(), capacity + 1);
    }
    LanguageLetter(entry);
}

// The installer's texts of a language, each shown with a long value.
void ReadTexts(char letter) {
    LoadTexts(letter);
    const std::string value(PathMaxChars, 'v');
    for (int id = 0; id < TextCount; ++id) {
        Check(std::strlen(InstallerText(id)) < static_cast<size_t>(TextBufferSize), "text beyond its buffer");
        fuzz::ExactBuffer message(nullptr, 0, MessageBufferSize);
        FormatInstallerText(message.Text(), MessageBufferSize, id, value.c_str());
    }
}

// The installer's readers, as the installation stage uses them.
void ReadLists(const IniText* ini) {
    ProfileReader saved = SetupFile;
    SetupFile = IniProfileReader(ini);
    char entry[PathBufferSize];
    for (uint16_t language : {uint16_t{1}, uint16_t{2}}) {
        LanguageNumber = language;
        ReadTexts(SelectLanguageSection());
        Check(std::strlen(InstallSection) < SectionBufferSize, "section name beyond its buffer");
        for (const char* section : {static_cast<const char*>(InstallSection), "installd", "install"}) {
            for (int number = 1; number <= 64 && ReadFileListEntry(section, number, entry); ++number) {
                Check(std::strlen(entry) <= PathMaxChars, "list entry beyond its buffer");
                SplitEntry(entry);
            }
        }
    }
    for (int number = 1; number <= 64 && ReadPlainListEntry("Backup data", number, entry); ++number) {
        Check(std::strlen(entry) <= PathMaxChars, "backup entry beyond its buffer");
    }
    for (uint32_t size : {1u, 6u, 7u, static_cast<uint32_t>(PathMaxChars)}) {
        fuzz::ExactBuffer b(nullptr, 0, size + 1);  // as the callers hold it
        ReadInstallEntry("installd", "1", "fallback default", b.Text(), size);
        Check(std::strlen(b.Text()) <= size, "install entry beyond its buffer");
    }
    SetupFile = saved;
    LanguageNumber = 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ExactBuffer text(data, size, size);
    IniText ini{text.Text(), size};

    Package package{ini};
    LintSink sink{Report, FileExists, ReadFile, &package, nullptr, nullptr, nullptr};
    int findings = LintSetupFile(&ini, "install.inf", &sink);
    Check(findings == package.reports, "lint count differs from its reports");

    std::vector<std::string> sections, keys;
    NamesOf(data, size, &sections, &keys);
    for (const std::string& section : sections) {
        for (const std::string& key : keys) ReadAtSizes(&ini, section.c_str(), key.c_str(), size % 9);
    }
    ReadLists(&ini);
    return 0;
}
