#pragma once
// Helpers shared by the sandbox backend's files.
#include <cstdint>
#include <string>

#include "core/Types.h"

namespace sandbox {
// The root folder, created (with drive_c) on first use.
const std::string& Root();
// The root folder as configured, without creating anything.
std::string RootPath();
// Appends "<kind>: <text>" as one GBK line to <root>/commands.log.
void LogCommand(const char* kind, const AnsiString& text);
// Host path of the program path, creating its missing folders (fixed special folders).
AnsiString EnsureFolder(const AnsiString& programPath);
std::string SystemMessage(int code);
}  // namespace sandbox

// The version and elevation outcome that the sandbox plays.
AnsiString SandboxVersionText();
bool SandboxElevationCancelled();
uint32_t SandboxElevationExitCode();
