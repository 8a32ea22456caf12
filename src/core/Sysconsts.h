#pragma once
// The process-wide base folder and the wizard's resource strings.
#include "core/Types.h"

// Prefixed unchanged to the tool's data file names ("Page.txt", "Exe\Setup.exe", ...).
// Empty in the setup program; a builder sets it to its data folder, ending with "\".
const AnsiString& BaseFolder();
void SetBaseFolder(const AnsiString& folder);

extern const char* const SDone;          // 65254
extern const char* const SAgree;         // 65255
extern const char* const SNextCaption;   // 65256
extern const char* const SPrevCaption;   // 65257
extern const char* const SExitQuestion;  // 65258, %s = project name
// %s = project name: another setup or uninstaller of it holds the run lock.
extern const char* const SProductBusy;
// %s = the "<program>.local" path beside the program.
extern const char* const SLocalRedirection;
