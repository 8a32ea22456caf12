#pragma once
// The text log of one run that /LOG asks for: a UTF-8 line (CR LF) for each step, with its
// outcome. Nothing is written while no log is open, so the steps log unconditionally.
#include "core/Types.h"

namespace runlog {
// Opens file, replacing it; an empty name makes a new file in the temporary folder,
// "<stem> <YYYYMMDD-HHMMSS>.txt" (" (2)", " (3)", ... while the name is taken), never opening one
// that is there already. Raises the stream's error when it cannot be made.
void Open(const AnsiString& file, const AnsiString& stem);
bool IsOpen();
const AnsiString& FileName();
// "YYYY-MM-DD HH:MM:SS <what>: <subject>[: <outcome>]"; GBK text, written as UTF-8.
void Write(const AnsiString& what, const AnsiString& subject, const AnsiString& outcome = AnsiString());
void Close();
}  // namespace runlog

// Every box takes its default answer (Yes, OK) without being shown; what it said goes into the
// run's log.
void AnswerBoxesByDefault();
