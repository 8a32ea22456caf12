// There is no sandbox on Windows: the settings are accepted and ignored.
#include "system/Sandbox.h"

void SetSandboxRoot(const std::string&) {}
std::string SandboxRoot() { return ""; }
void SetSandboxVersion(const AnsiString&) {}
void SetSandboxElevation(bool, uint32_t) {}
bool IsSandbox() { return false; }
