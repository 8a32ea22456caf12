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

// The machine the sandbox plays: 32-bit Windows (the default) or 64-bit Windows. The root keeps
// the kind in windows.txt from the first command that named it. bits 32 or 64 asks for that
// kind, 0 takes what the root keeps. False, with error set, when the root is of the other kind.
bool SetSandboxWindowsBits(int bits, std::string& error);
int SandboxWindowsBits();
// The kind of program the sandbox plays (the setup being installed, the uninstaller): on
// 64-bit Windows a 32-bit program is redirected as Windows redirects it: Program Files (x86),
// C:\Windows\System32 to SysWOW64, and the registry keys Windows keeps apart to WOW6432Node.
void SetSandboxProgram64(bool is64);
bool SandboxRedirects();
// The key a 32-bit program reaches for root\path on 64-bit Windows (path unchanged elsewhere).
// rootName is one of the five root key names.
std::string SandboxRegistryView(const std::string& rootName, const std::string& path);
