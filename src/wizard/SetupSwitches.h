#pragma once
// The command-line switches of Setup.exe, for unattended installations. Switches begin with
// "/", their names compared without regard to ASCII case; any other parameter keeps its old
// meaning (it only skips the elevated relaunch).
#include <optional>
#include <vector>

#include "core/CommandLine.h"
#include "core/Types.h"

struct TSetupSwitches {
  enum class TMode { Interactive, Silent, VerySilent };
  TMode Mode = TMode::Interactive;
  std::optional<AnsiString> Dir;         // /DIR= or /D=
  std::optional<AnsiString> Components;  // /COMPONENTS=, comma-separated
  bool Log = false;
  AnsiString LogFile;  // empty with /LOG alone: a name of its own in the temporary folder
  bool NoRestart = false;
  bool SuppressMsgBoxes = false;
  bool Help = false;
  AnsiString Bad;                // the first switch (or value) not understood
  bool OtherParameters = false;  // a parameter that is no switch, such as the relaunch's "Ins"
  AnsiString PassOn;             // the switches again, for the elevated instance

  bool Unattended() const { return Mode != TMode::Interactive; }
  // No box is shown: each takes its default answer.
  bool NoBoxes() const { return SuppressMsgBoxes || Mode == TMode::VerySilent; }
};

TSetupSwitches ParseSetupSwitches(const std::vector<TCommandArgument>& args);
// The same for parameters already split, as a Linux shell passes them (/D= takes the rest,
// joined by blanks).
TSetupSwitches ParseSetupSwitches(const std::vector<AnsiString>& args);

// The components a /COMPONENTS list names, spelt as offered (ASCII case aside), in offered's
// order; empty items are skipped. False, with the first name not offered in unknown, when one is missing.
bool MatchComponents(const std::vector<AnsiString>& offered, const AnsiString& list, std::vector<bool>& chosen,
                     AnsiString& unknown);

// The text of /? and of an unknown switch: the switches and the exit codes.
AnsiString SetupSwitchesHelp();
