// The installer-wide state: one instance for the whole run, filled by the
// stages in order (setup file, device manager, language, destination).
#pragma once

#include <cstdint>

#include "support/platform.h"
#include "support/text.h"

// "Installation " followed by a title of up to 259 characters.
constexpr int CaptionBufferSize = 16 + PathBufferSize;
// "install" and one letter, with room to spare.
constexpr int SectionBufferSize = 32;

extern WindowHandle MainWindow;
extern bool Win95ShellOrLater;
extern bool VistaOrLater;
extern char InfPath[PathBufferSize];
extern char ProgramTitle[PathBufferSize];
extern char CopyrightText[PathBufferSize];
extern char MainCaption[CaptionBufferSize];
extern uint16_t LanguageNumber;
extern char InstallSection[SectionBufferSize];
extern char CeServicesDir[PathBufferSize];
extern char DestinationDir[PathBufferSize];
extern char SourceDir[PathBufferSize];

// The version word of GetVersion's low word: major in the high byte, minor in
// the low byte, so that 3.90 gives 0x035A and 6.0 gives 0x0600.
uint16_t WindowsVersionWord(uint32_t getVersionResult);
void SetVersionFlags(uint16_t versionWord);

// MainCaption := "Installation " + ProgramTitle.
void MakeMainCaption();
