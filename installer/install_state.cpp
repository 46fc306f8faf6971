#include "installer/install_state.h"

WindowHandle MainWindow = nullptr;
bool Win95ShellOrLater = false;
bool VistaOrLater = false;
char InfPath[PathBufferSize];
char ProgramTitle[PathBufferSize];
char CopyrightText[PathBufferSize];
char MainCaption[CaptionBufferSize];
uint16_t LanguageNumber = 1;
char InstallSection[SectionBufferSize] = "install";
char CeServicesDir[PathBufferSize];
char DestinationDir[PathBufferSize];
char SourceDir[PathBufferSize];

namespace {
constexpr uint16_t Win95ShellVersion = 0x035A;
constexpr uint16_t VistaVersion = 0x0600;
}  // namespace

uint16_t WindowsVersionWord(uint32_t getVersionResult) {
    uint32_t major = getVersionResult & 0xFF;
    uint32_t minor = (getVersionResult >> 8) & 0xFF;
    return static_cast<uint16_t>((major << 8) | minor);
}

void SetVersionFlags(uint16_t versionWord) {
    Win95ShellOrLater = versionWord >= Win95ShellVersion;
    VistaOrLater = versionWord >= VistaVersion;
}

void MakeMainCaption() {
    TextCopy(MainCaption, "Installation ");
    TextAppendMax(MainCaption, ProgramTitle, CaptionBufferSize - 1);
}
