#pragma once
// Replacement of an executable's main icon group "MAINICON" by the images of an .ico file.
//
// Every failure raises Exception with "Resource update error: " + text, where text is a
// plain message ("Icon file is too large") or a message followed by the system error code
// in parentheses ("BeginUpdateResource failed (1)(5)"). The executable is never left half
// written: on Windows the pending resource update is discarded, the portable rewriter writes
// a new file beside the executable and renames it over the old one only when all went well.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Types.h"

// Largest icon file accepted (a file of exactly this size is accepted).
constexpr uint32_t MaxIconFileSize = 0x100000;
// Language of the written images and group.
constexpr uint16_t IconResourceLanguage = 1033;

// Replaces the "MAINICON" group of exeFile by the images of iconFile; true when the
// executable has been rewritten. The executable must not be running and must be writable.
// Windows: the system's resource-update calls; elsewhere ReplaceExeIconPe.
bool ReplaceExeIcon(const AnsiString& iconFile, const AnsiString& exeFile);
// The same operation done by rewriting the executable's resource section directly, without
// the system's resource calls. Usable on every platform. The whole resource tree is rebuilt
// (sorted, language 1033 for the new entries). When the resource section is the last one, or
// is followed only by the relocation section, it is rewritten where it stands and the
// relocations move behind it; otherwise the resources go to a new last section ".rsrc" and
// the old directory is zeroed (an empty tree). Data after the sections (symbol table,
// certificate, appended data) is kept and the file offsets pointing into it are moved.
// SizeOfImage, the section sizes, the data directories and a non-zero checksum are updated.
// A layout that leaves no room for a new section header fails at the commit step.
// Failures: an executable that cannot be opened for writing gives the code form of
// "BeginUpdateResource failed (1)" with the system's code, a damaged image the same with
// ResErrBadExeFormat, a missing group "FindResource failed (1)" with 1812/1813/1814, and
// a file that cannot be written beside the executable or renamed "EndUpdateResource failed".
bool ReplaceExeIconPe(const AnsiString& iconFile, const AnsiString& exeFile);

// False for data too short for its header, an executable ("MZ"), a directory running past the
// end, an image whose offset + size wraps or runs past the end, or images whose sizes add up
// to more than the file (overlapping images would multiply the data written).
bool IsValidIconFile(const uint8_t* data, size_t size);

// ---- Shared by the two implementations ----

[[noreturn]] void RaiseResourceError(const AnsiString& text);
// text + "(" + code + ")"
[[noreturn]] void RaiseResourceErrorCode(const AnsiString& text, int code);
// Reads the icon file (unshared) and checks its size and content: "Icon file is too large",
// "Icon file is invalid"; errors of the file stream pass unchanged.
TArrayByte LoadIconFile(const AnsiString& iconFile);
// The new group for the icon file's images: reserved and type from the old group (zero and 1
// when the old group is shorter than its header), entry i the first 12 bytes of the icon
// file's entry i followed by ID i + 1.
TArrayByte BuildIconGroup(const uint8_t* oldGroup, size_t oldGroupSize, const TArrayByte& icon);
// Image IDs named by an icon group, in order; entries beyond the data are ignored.
std::vector<uint16_t> IconGroupImageIds(const uint8_t* group, size_t size);

// ---- The portable executable rewriter ----

// Resource type or name: an integer ID or a (UTF-16) string.
struct TResName {
  bool IsName = false;
  uint16_t Id = 0;
  std::u16string Name;

  static TResName FromId(uint16_t id) { return TResName{false, id, {}}; }
  static TResName FromName(std::u16string name) { return TResName{true, 0, std::move(name)}; }
  // Directory order: names first (by UTF-16 code units), then IDs ascending.
  friend bool operator<(const TResName& a, const TResName& b);
  friend bool operator==(const TResName& a, const TResName& b) = default;
};

struct TPeResource {
  TResName Type;
  TResName Name;
  uint16_t Language = 0;
  uint32_t CodePage = 0;
  TArrayByte Data;
  friend bool operator==(const TPeResource& a, const TPeResource& b) = default;
};

// System error codes the rewriter reports, as the resource calls would.
enum : int {
  ResErrBadExeFormat = 193,        // not a usable PE image, or a damaged resource directory
  ResErrDataNotFound = 1812,       // the image has no resource section
  ResErrTypeNotFound = 1813,
  ResErrNameNotFound = 1814,
};

// Every resource of a PE image in directory order (type, name, language). A malformed image
// raises the code form of "BeginUpdateResource failed (1)" with ResErrBadExeFormat; an
// image without resources gives an empty list.
std::vector<TPeResource> ReadPeResources(const uint8_t* data, size_t size);
// The in-memory rewrite behind ReplaceExeIconPe: the new image for exe with its "MAINICON"
// group replaced by the images of icon (already validated). Raises the same errors.
TArrayByte ReplaceIconInImage(const TArrayByte& exe, const TArrayByte& icon);

// ---- Version details ----
//
// The version resource (type RT_VERSION 16, ID 1) that Explorer's Details tab and the
// signature dialogs show. Texts are GBK; the resource holds them as UTF-16, in one string
// table for Simplified Chinese, Unicode ("080404b0").

constexpr uint16_t RtVersion = 16;
// Language of a version resource written into an executable that has none.
constexpr uint16_t VersionResourceLanguage = 2052;

struct TVersionDetails {
  AnsiString ProductName;
  AnsiString CompanyName;
  AnsiString FileDescription;
  AnsiString Version;           // ProductVersion and FileVersion as text
  AnsiString OriginalFilename;
  // Empty values are left out of the string table.
};

// "1", "1.2", "1.2.3" or "1.2.3.4", each part 0-65535 (surrounding blanks allowed):
// true, with the four parts in major-first order; anything else false.
bool ParseVersionNumber(const AnsiString& text, uint16_t (&parts)[4]);
// The VS_VERSIONINFO bytes for details. The fixed part's file and product version are
// Version's numbers when ParseVersionNumber takes it, else 0.0.0.0; the file type is an
// application for 32-bit Windows.
TArrayByte BuildVersionResource(const TVersionDetails& details);

// True when the file begins like a PE image: "MZ", and "PE\0\0" where the DOS header points.
// Errors of the file stream pass unchanged.
bool IsPeExecutable(const AnsiString& exeFile);

// Replaces the version resource of exeFile by data (as BuildVersionResource makes it), in
// the language of the existing one, or VersionResourceLanguage when it has none. Errors as
// ReplaceExeIcon's: "Resource update error: " + "BeginUpdateResource failed (1)(code)",
// "UpdateResource failed (5)(code)", "EndUpdateResource failed"; the executable is left
// as it was. Windows: the system's resource-update calls; elsewhere ReplaceExeVersionPe.
bool ReplaceExeVersion(const AnsiString& exeFile, const TArrayByte& data);
// The same with the portable rewriter.
bool ReplaceExeVersionPe(const AnsiString& exeFile, const TArrayByte& data);
// The in-memory rewrite behind ReplaceExeVersionPe.
TArrayByte ReplaceVersionInImage(const TArrayByte& exe, const TArrayByte& data);

// Sets the image's link time (the file header's, and that of the debug entries and of the
// resource directory where they have one) to stamp, seconds since 1970 UTC, so that a build
// carries the source date and not the stub's; a non-zero checksum is computed anew.
// Errors as ReplaceExeVersionPe's.
bool SetExeTimeStamp(const AnsiString& exeFile, uint32_t stamp);
// The in-memory rewrite behind SetExeTimeStamp.
TArrayByte StampImage(const TArrayByte& exe, uint32_t stamp);
