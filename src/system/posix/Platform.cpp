// Program (Windows) paths on the Linux sandbox, and the text conversions.
#include "system/Platform.h"
#include "system/Sandbox.h"

#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/Exceptions.h"
#include "system/posix/SandboxInternal.h"

namespace {
// Runs iconv over the whole text; bad input either raises or becomes `replacement`.
std::string Convert(const char* to, const char* from, const std::string& text, const char* replacement,
                    size_t replacementLen, bool raise) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) throw EConvertError("No conversion from " + std::string(from));
  std::string out;
  std::vector<char> buf(text.size() * 4 + 16);
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  while (inLeft > 0) {
    char* o = buf.data();
    size_t oLeft = buf.size();
    size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buf.data(), buf.size() - oLeft);
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      if (raise) {
        iconv_close(cd);
        throw EConvertError("No mapping for the Unicode character exists in the target multi-byte code page");
      }
      out.append(replacement, replacementLen);
      ++in;
      --inLeft;
    }
  }
  iconv_close(cd);
  return out;
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool SameAsciiCase(const char* a, const std::string& b) {
  size_t n = std::strlen(a);
  if (n != b.size()) return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x -= 32;
    if (y >= 'a' && y <= 'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

// The existing entry of folder named like name (exact first, then ASCII-case-insensitive).
std::string MatchEntry(const std::string& folder, const std::string& name) {
  struct stat st;
  std::string exact = folder.empty() ? name : (folder.back() == '/' ? folder + name : folder + "/" + name);
  if (lstat(exact.c_str(), &st) == 0) return name;
  DIR* d = opendir(folder.empty() ? "." : folder.c_str());
  if (!d) return name;
  std::string found = name;
  while (dirent* e = readdir(d)) {
    if (SameAsciiCase(e->d_name, name)) {
      found = e->d_name;
      break;
    }
  }
  closedir(d);
  return found;
}

std::vector<std::string> SplitComponents(const std::string& s) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : s) {
    if (c == '\\' || c == '/') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

std::string CurrentFolder() {
  char* cwd = getcwd(nullptr, 0);
  std::string r = cwd ? cwd : "/";
  free(cwd);
  return r;
}
}  // namespace

std::string GbkToUtf8(const AnsiString& text) { return Convert("UTF-8", "GBK", text, "\xEF\xBF\xBD", 3, false); }

AnsiString Utf8ToGbk(const std::string& text) { return Convert("GBK", "UTF-8", text, "", 0, true); }

std::u16string GbkToUtf16(const AnsiString& text) {
  std::string bytes = Convert("UTF-16LE", "GBK", text, "\xFD\xFF", 2, false);
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  return out;
}

namespace {
std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}
}  // namespace

std::string HostPath(const AnsiString& path) {
  // Convert first: in UTF-8 no byte of a multi-byte character is a slash or backslash,
  // so splitting afterwards never cuts a GBK character whose trail byte is 0x5C.
  std::string p = GbkToUtf8(path);
  std::string base;
  bool absolute = true;
  if (p.size() >= 2 && p[1] == ':' && IsDriveLetter(p[0])) {
    char letter = static_cast<char>(p[0] | 0x20);
    base = letter == 'z' ? "/" : sandbox::Root() + "/drive_" + letter;
    p = p.substr(2);
  } else if (!p.empty() && (p[0] == '\\' || p[0] == '/')) {
    base = "/";  // the root of the current drive, which is Z: (the host's /)
  } else {
    absolute = false;
  }
  std::vector<std::string> parts;
  for (auto& c : SplitComponents(p)) {
    if (c == ".") continue;
    if (c == ".." && absolute) {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(c);
  }
  // A 32-bit program on 64-bit Windows: the system folder it names is SysWOW64, and
  // Sysnative is the real one. (The folders Windows leaves alone are left alone.)
  if (absolute && base != "/" && base.back() == 'c' && parts.size() >= 2 && LowerAscii(parts[0]) == "windows" &&
      SandboxRedirects()) {
    const std::string system = LowerAscii(parts[1]);
    static const char* const exempt[] = {"catroot", "catroot2", "driverstore", "logfiles", "spool"};
    bool keep = false;
    if (parts.size() >= 3) {
      const std::string below = LowerAscii(parts[2]);
      for (const char* e : exempt) keep = keep || below == e;
      keep = keep || (below == "drivers" && parts.size() >= 4 && LowerAscii(parts[3]) == "etc");
    }
    if (system == "system32" && !keep) parts[1] = "SysWOW64";
    else if (system == "sysnative") parts[1] = "System32";
  }
  std::string out = base;
  bool exists = true;
  for (auto& c : parts) {
    std::string name = exists ? MatchEntry(out, c) : c;
    if (exists) {
      struct stat st;
      std::string next = out.empty() ? name : (out.back() == '/' ? out + name : out + "/" + name);
      exists = stat(next.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      out = next;
    } else {
      out += (out.empty() || out.back() == '/') ? name : "/" + name;
    }
  }
  if (out.empty()) out = ".";
  return out;
}

AnsiString ProgramPath(const std::string& hostPath) {
  std::string abs = hostPath.empty() || hostPath[0] != '/' ? CurrentFolder() + "/" + hostPath : hostPath;
  std::vector<std::string> parts;
  for (auto& c : SplitComponents(abs)) {
    if (c == ".") continue;
    if (c == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(c);
  }
  std::vector<std::string> rootParts = SplitComponents(sandbox::RootPath());
  std::string out;
  size_t start = 0;
  bool inDrive = parts.size() > rootParts.size() &&
                 std::equal(rootParts.begin(), rootParts.end(), parts.begin()) &&
                 parts[rootParts.size()].size() == 7 && parts[rootParts.size()].compare(0, 6, "drive_") == 0 &&
                 parts[rootParts.size()][6] >= 'a' && parts[rootParts.size()][6] <= 'y';
  if (inDrive) {
    out = std::string(1, static_cast<char>(parts[rootParts.size()][6] - 32)) + ":";
    start = rootParts.size() + 1;
  } else {
    out = "Z:";
  }
  if (start == parts.size()) out += "\\";
  for (size_t i = start; i < parts.size(); ++i) out += "\\" + parts[i];
  return Utf8ToGbk(out);
}

int LastSystemError() { return errno; }

AnsiString SystemErrorMessage(int code) { return sandbox::SystemMessage(code); }

namespace sandbox {
std::string SystemMessage(int code) {
  std::string msg = std::strerror(code);
  try {
    return Utf8ToGbk(msg);
  } catch (const EConvertError&) {
    return "System error " + std::to_string(code);
  }
}
}  // namespace sandbox
