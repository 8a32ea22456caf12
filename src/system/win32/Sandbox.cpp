// There is no sandbox on Windows: the settings are accepted and ignored.
#include "system/Sandbox.h"

void SetSandboxRoot(const std::string&) {}
std::string SandboxRoot() { return ""; }
void SetSandboxVersion(const AnsiString&) {}
void SetSandboxElevation(bool, uint32_t) {}
bool IsSandbox() { return false; }
bool SetSandboxWindowsBits(int, std::string&) { return true; }
int SandboxWindowsBits() { return 0; }
void SetSandboxProgram64(bool) {}
bool SandboxRedirects() { return false; }
std::string SandboxRegistryView(const std::string&, const std::string& path) { return path; }
