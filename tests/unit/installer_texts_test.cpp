// The installer's texts from the setup file: the language's section, then
// the base one, then the built-in text, and only texts whose placeholders
// match, cut to their buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "installer/texts.h"
#include "support/platform.h"
#include "tests/common/setup_file_fixture.h"

namespace {

class TextsTest : public SetupFileFixture {
protected:
    void TearDown() override {
        SetupFileFixture::TearDown();
        LoadTexts(0);
    }
    // As the installer shows it: formatted where it takes a value.
    static std::string Shown(int id, const char* argument) {
        if (std::strstr(BuiltInText(id), "%s") == nullptr) return InstallerText(id);
        char message[MessageBufferSize];
        FormatInstallerText(message, sizeof message, id, argument);
        return message;
    }
};

struct TextRow {
    const char* what;
    const char* file;
    char letter;
    int id;
    const char* shown;  // with "a.cab" for its %s; null: the built-in text
};

TEST_F(TextsTest, EachTextComesFromTheLanguageThenTheBaseThenTheBuiltInOne) {
    const std::string base = "[Texts]\r\nSuccess=Fertig!\r\nDestinationPrompt=Ziel:\r\nLanguagePrompt=Sprache:\r\n";
    const TextRow rows[] = {
        {"the language's own text", "[Textsd]\r\nDestinationPrompt=Zielverzeichnis:\r\n", 'd', DestinationPromptText,
         "Zielverzeichnis:"},
        {"a key the language leaves out comes from the base section", "[Textsd]\r\nFailure=Nein\r\n", 'd',
         SuccessText, "Fertig!"},
        {"a key neither has is the built-in one", "[Textsd]\r\nSuccess=Ja\r\n", 'd', FailureText, nullptr},
        {"an empty value counts as missing", "[Textsd]\r\nSuccess=\r\n", 'd', SuccessText, "Fertig!"},
        {"before the choice only the base section counts", "[Textsd]\r\nLanguagePrompt=x\r\n", 'd',
         LanguagePromptText, "Sprache:"},
        {"without a letter, only the base section", "[Textsd]\r\nDestinationPrompt=x\r\n", 0,
         DestinationPromptText, "Ziel:"},
        {"a value, a line break and a percent sign", "[Textsd]\r\nReadError=%s: 100%% kaputt!%nNochmal?\r\n", 'd',
         ReadErrorText, "a.cab: 100% kaputt!\r\nNochmal?"},
        {"the same without a value", "[Textsd]\r\nDiskFull=Voll!%nZu 100%%.\r\n", 'd', DiskFullText,
         "Voll!\r\nZu 100%."},
        {"another placeholder is refused for the built-in text", "[Textsd]\r\nReadError=Fehler %d\r\n", 'd',
         ReadErrorText, nullptr},
        {"a second value is refused", "[Textsd]\r\nWriteError=%s und %s\r\n", 'd', WriteErrorText, nullptr},
        {"a missing value is refused", "[Textsd]\r\nWriteError=Schreibfehler\r\n", 'd', WriteErrorText, nullptr},
        {"a lone percent sign is refused", "[Textsd]\r\nAborted=Abbruch 100%\r\n", 'd', AbortedText, nullptr},
        {"a refused text is not passed over for the base one", "[Textsd]\r\nSuccess=%s\r\n", 'd', SuccessText,
         nullptr},
    };
    for (const TextRow& row : rows) {
        SCOPED_TRACE(row.what);
        // The section of the row first: the profile functions read the first one of a name.
        Use(std::string(row.file) + base);
        LoadTexts(row.letter);
        std::string builtIn = BuiltInText(row.id);
        size_t value = builtIn.find("%s");
        if (value != std::string::npos) builtIn.replace(value, 2, "a.cab");
        EXPECT_EQ(Shown(row.id, "a.cab"), row.shown ? row.shown : builtIn);
    }
}

// Shown on a system of another code page, the built-in pieces are read as
// 1252 and the others as the system's: each piece must say whose it is.
TEST_F(TextsTest, EachPieceOfAMessageSaysWhoseBytesItIs) {
    Use("[Textsd]\r\nWriteError=Schreibfehler: %s!\r\nAborted=Abbruch 100%\r\n");
    LoadTexts('d');
    std::string pieces;
    auto record = [](void* context, const char* bytes, size_t length, TextOrigin origin) {
        std::string& out = *static_cast<std::string*>(context);
        out.append(1, "BAV"[origin]).append("(").append(bytes, length).append(")");
        return true;
    };
    ForEachTextPiece(WriteErrorText, "a.cab", record, &pieces);
    ForEachTextPiece(ReadErrorText, "b.cab", record, &pieces);
    ForEachTextPiece(AbortedText, nullptr, record, &pieces);  // the file's text refused
    EXPECT_EQ(pieces,
              "A(Schreibfehler: )V(a.cab)A(!)"
              "B(Error reading )V(b.cab)B(!\rDisk may be defective!)"
              "B(Installation aborted!)");
}

TEST_F(TextsTest, AnOverLongTextIsCutToItsBufferAndItsMessageToTheCapacity) {
    Use("[Textsd]\r\nReadError=%s" + std::string(2000, 'x') + "\r\n");
    LoadTexts('d');
    std::string text = InstallerText(ReadErrorText);
    EXPECT_EQ(text, std::string(TextBufferSize - 3, 'x')) << "cut to the buffer, its value left out";
    char message[40];
    std::memset(message, '#', sizeof message);
    FormatInstallerText(message, 20, ReadErrorText, "a.cab");
    EXPECT_EQ(std::string(message), "a.cab" + std::string(14, 'x'));
    EXPECT_EQ(message[20], '#') << "nothing written past the capacity";
}

}  // namespace

// Shift-JIS: a cut never leaves the lead byte of a character without its trail byte.
TEST(DbcsTexts, AnOverLongTextIsCutBeforeADoubleByteCharacter) {
#ifndef _WIN32
    TheHostUi.dbcs = true;
#endif
    InitDbcsFlag();
    bool enabled = DbcsEnabled;
    std::string text = "ab";
    for (int i = 0; i < 300; ++i) text += "\x95\x5C";
    CutText(text.data(), TextBufferSize);
#ifndef _WIN32
    TheHostUi.dbcs = false;
#endif
    DbcsEnabled = false;
    if (!enabled) GTEST_SKIP() << "needs a double-byte ANSI code page (run with LC_ALL=ja_JP.UTF-8)";
    EXPECT_EQ(std::strlen(text.c_str()), static_cast<size_t>(TextBufferSize - 2));
}
