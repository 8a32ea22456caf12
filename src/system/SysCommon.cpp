// Portable parts of the system layer: the path delimiter, the application state that the
// user interface sets, and the registry root names.
#include "core/TextUtils.h"
#include "system/FileCtrl.h"
#include "system/PathText.h"
#include "system/Registry.h"
#include "system/SysKernel.h"

namespace {
struct TAppState {
  AnsiString Title;
  std::function<void()> ProcessMessages;
  bool Terminated = false;
  std::vector<std::string> Unlisted;
};
TAppState& AppState() {
  static TAppState state;
  return state;
}
const char* const kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                                  "HKEY_CURRENT_CONFIG"};
}  // namespace

AnsiString AppendPathDelimiter(const AnsiString& path) {
  // Byte test on purpose: a GBK trail byte 0x5C counts as a delimiter, as it always has.
  if (!path.empty() && path.back() == '\\') return path;
  return path + "\\";
}

uint16_t OsVersionCode() {
  const AnsiString v = WindowsVersionText();
  if (v == "1") return 1;
  if (v == "2") return 2;
  if (v.find('.') == AnsiString::npos) return 0;  // "0": the query failed
  if (v == "5.0") return 31;
  if (v == "5.1") return 32;
  if (v == "5.2") return 33;
  return 30;
}

void ProcessMessages() {
  if (AppState().ProcessMessages) AppState().ProcessMessages();
}
void SetProcessMessagesHandler(std::function<void()> handler) { AppState().ProcessMessages = std::move(handler); }
bool ApplicationTerminated() { return AppState().Terminated; }
void SetApplicationTerminated(bool terminated) { AppState().Terminated = terminated; }

std::vector<std::string> TakeUnlistedEntries() {
  std::vector<std::string> taken;
  taken.swap(AppState().Unlisted);
  return taken;
}
void NoteUnlistedEntry(const std::string& hostPath) {
  // Bounded: a setup lists folders all its run and never takes the record.
  if (AppState().Unlisted.size() < 1000) AppState().Unlisted.push_back(hostPath);
}

bool HasLocalRedirection(const AnsiString& program) {
  const AnsiString local = program + ".local";
  return FileExists(local) || FolderExists(local);
}

AnsiString PrivateFolderParent(const AnsiString& parent) {
  AnsiString base = AppendPathDelimiter(parent);
  // "...\Low\" is where low-integrity programs write: the level above it is the user's own.
  if (base.size() > 7 && SameText(base.substr(base.size() - 5), "\\Low\\")) base.resize(base.size() - 4);
  return base;
}

AnsiString ProductLockName(const AnsiString& product) {
  // FNV-1a over the upper-cased bytes: any name, of any length, gives a name the system takes.
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : UpperCaseAscii(product)) h = (h ^ c) * 1099511628211ull;
  char hex[17];
  for (int i = 15; i >= 0; --i, h >>= 4) hex[i] = "0123456789ABCDEF"[h & 15];
  hex[16] = 0;
  return AnsiString("GBSetupRun-") + hex;
}

const AnsiString& ApplicationTitle() { return AppState().Title; }
void SetApplicationTitle(const AnsiString& title) { AppState().Title = title; }

bool RootKeyFromName(const AnsiString& name, TRootKey& root) {
  for (int i = 0; i < 5; ++i)
    if (name == kRootNames[i]) {
      root = static_cast<TRootKey>(i);
      return true;
    }
  return false;
}

AnsiString RootKeyName(TRootKey root) {
  int i = static_cast<int>(root);
  return i >= 0 && i < 5 ? kRootNames[i] : "";
}

AnsiString StripTrailingDelimiters(const AnsiString& path) {
  size_t keep = 0;  // length up to the last byte that is not a delimiter
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsGbkLeadByte(c) && i + 1 < path.size()) {
      keep = ++i + 1;
    } else if (c != '\\') {
      keep = i + 1;
    }
  }
  if (keep == 0) return path.empty() ? path : "\\";
  if (keep == 2 && path[1] == ':' && path.size() > 2) return path.substr(0, 3);
  return path.substr(0, keep);
}
