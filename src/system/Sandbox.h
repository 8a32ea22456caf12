#pragma once
// Settings of the Linux sandbox that stands in for a Windows machine. Harmless no-ops on
// Windows, so shared tests may call them.
#include <string>

#include "core/Types.h"

// Root folder of the sandbox (default: $GBSETUP_ROOT, else a folder under the user's
// data directory). Drive X: is <root>/drive_x, the registry <root>/registry.reg, started
// programs are logged to <root>/commands.log, one GBK line each ending in LF:
// "exec: <command>" (WinExec), "wait: <program>[ <parameters>]" (started and waited for),
// "runas: <file> <parameters>" (elevated relaunch), "<verb>: <file>[ <parameters>]" (shell
// open, verb in lower case), "reboot: ..." (RebootMachine; the host is never restarted). docs/sandbox.md describes the layout and the file formats.
void SetSandboxRoot(const std::string& hostRoot);
std::string SandboxRoot();
// The version text WindowsVersionText reports ("6.1" by default; "0" plays a failing query).
void SetSandboxVersion(const AnsiString& versionText);
// Exit code and failure the sandbox's RelaunchElevated plays (cancelled raises EAbort).
void SetSandboxElevation(bool cancelled, uint32_t exitCode);
// True on the sandbox backend.
bool IsSandbox();
