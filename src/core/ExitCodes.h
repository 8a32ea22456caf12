#pragma once
// The exit codes of Setup.exe and UnIns.exe, the numbers deployment tools already know.
enum : int {
  kExitSuccess = 0,
  kExitFailed = 1,             // the run stopped before it changed anything (a damaged setup, ...)
  kExitBadSwitch = 87,         // a switch or switch value the program does not take
  kExitRestarting = 1641,      // installed, and the restart was started
  kExitCancelled = 1602,       // the user cancelled (or declined the uninstall)
  kExitInstallFailed = 1603,   // the installation failed and was undone
  kExitTampered = 1603,        // the program's surroundings were changed: it would not run safely
  kExitAlreadyRunning = 1618,  // another setup or uninstaller of the same product runs
  kExitRestartNeeded = 3010,   // installed, and a restart is needed that was not done
};
