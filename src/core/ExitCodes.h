#pragma once
// The exit codes of Setup.exe and UnIns.exe, the numbers deployment tools already know.
enum : int {
  kExitSuccess = 0,
  kExitFailed = 1,            // the run stopped before it changed anything (a damaged setup, ...)
  kExitBadSwitch = 87,        // a switch or switch value the program does not take
  kExitTampered = 1603,       // the program's surroundings were changed: it would not run safely
  kExitAlreadyRunning = 1618, // another setup or uninstaller of the same product runs
};
