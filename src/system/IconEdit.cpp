#include "system/IconEdit.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "core/Exceptions.h"
#include "core/Stream.h"
#include "system/FileStream.h"
#include "system/Platform.h"
#include "system/SysKernel.h"

namespace {

const char* const SResourceUpdateError = "Resource update error: ";
const char* const SIconTooLarge = "Icon file is too large";
const char* const SIconInvalid = "Icon file is invalid";
const char* const SBeginUpdateFailed = "BeginUpdateResource failed (1)";
const char* const SFindResourceFailed = "FindResource failed (1)";
const char* const SEndUpdateFailed = "EndUpdateResource failed";
const char* const SUpdateVersionFailed = "UpdateResource failed (5)";

constexpr uint16_t RtIcon = 3;
constexpr uint16_t RtGroupIcon = 14;
constexpr size_t IconDirEntrySize = 16;
constexpr size_t GroupEntrySize = 14;

const std::u16string& MainIconName() {
  static const std::u16string name = u"MAINICON";
  return name;
}

[[noreturn]] void BadImage() { RaiseResourceErrorCode(SBeginUpdateFailed, ResErrBadExeFormat); }

uint64_t AlignUp(uint64_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }
bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// ---- PE headers ----

struct TSection {
  uint32_t VirtualSize = 0;
  uint32_t VirtualAddress = 0;
  uint32_t SizeOfRawData = 0;
  uint32_t PointerToRawData = 0;
  uint32_t Characteristics = 0;
  size_t HeaderOffset = 0;

  // Bytes the loader maps for the section.
  uint32_t Extent() const { return VirtualSize != 0 ? VirtualSize : SizeOfRawData; }
};

constexpr size_t SectionHeaderSize = 40;
constexpr uint32_t ScnExecute = 0x20000000;
constexpr uint32_t RsrcCharacteristics = 0x40000040;  // initialised data, readable
constexpr uint32_t DirResource = 2;
constexpr uint32_t DirSecurity = 4;
constexpr uint32_t DirBaseReloc = 5;
constexpr uint32_t DirDebug = 6;

class TPeImage {
public:
  TPeImage(const uint8_t* data, size_t size) : Data(data), Size(size) {
    if (size < 64 || data[0] != 'M' || data[1] != 'Z') BadImage();
    PeOffset = GetLE32(data + 0x3C);
    if (PeOffset > size || size - PeOffset < 24 || std::memcmp(data + PeOffset, "PE\0\0", 4) != 0) BadImage();
    const uint8_t* coff = data + PeOffset + 4;
    const uint16_t numberOfSections = GetLE16(coff + 2);
    const uint16_t sizeOfOptionalHeader = GetLE16(coff + 16);
    OptOffset = PeOffset + 24;
    if (numberOfSections == 0 || numberOfSections > 96 || size - OptOffset < sizeOfOptionalHeader) BadImage();
    const uint8_t* opt = data + OptOffset;
    if (sizeOfOptionalHeader < 2) BadImage();
    const uint16_t magic = GetLE16(opt);
    size_t dirsAt;
    if (magic == 0x10B) {
      Is64 = false;
      dirsAt = 96;
    } else if (magic == 0x20B) {
      Is64 = true;
      dirsAt = 112;
    } else {
      BadImage();
    }
    if (sizeOfOptionalHeader < dirsAt) BadImage();
    SectionAlignment = GetLE32(opt + 32);
    FileAlignment = GetLE32(opt + 36);
    SizeOfHeaders = GetLE32(opt + 60);
    if (!IsPowerOfTwo(FileAlignment) || FileAlignment > 0x10000 || !IsPowerOfTwo(SectionAlignment) ||
        SectionAlignment < FileAlignment || SizeOfHeaders > size)
      BadImage();
    DirOffset = OptOffset + dirsAt;
    NumDirs = std::min<uint32_t>(GetLE32(opt + dirsAt - 4), (sizeOfOptionalHeader - dirsAt) / 8);
    SectionTableOffset = OptOffset + sizeOfOptionalHeader;
    if (size - SectionTableOffset < size_t(numberOfSections) * SectionHeaderSize) BadImage();
    for (uint16_t i = 0; i < numberOfSections; ++i) {
      const size_t at = SectionTableOffset + i * SectionHeaderSize;
      TSection s;
      s.HeaderOffset = at;
      s.VirtualSize = GetLE32(data + at + 8);
      s.VirtualAddress = GetLE32(data + at + 12);
      s.SizeOfRawData = GetLE32(data + at + 16);
      s.PointerToRawData = GetLE32(data + at + 20);
      s.Characteristics = GetLE32(data + at + 36);
      if (uint64_t(s.VirtualAddress) + s.Extent() > 0xFFFFFFFFu) BadImage();
      if (s.SizeOfRawData != 0 && (s.PointerToRawData > size || size - s.PointerToRawData < s.SizeOfRawData)) BadImage();
      // Sections follow each other in memory without overlapping, as the loader requires.
      if (!Sections.empty() && s.VirtualAddress < uint64_t(Sections.back().VirtualAddress) + Sections.back().Extent())
        BadImage();
      Sections.push_back(s);
    }
  }

  bool Dir(uint32_t index, uint32_t& rva, uint32_t& size) const {
    rva = size = 0;
    if (index >= NumDirs) return false;
    rva = GetLE32(Data + DirOffset + 8 * index);
    size = GetLE32(Data + DirOffset + 8 * index + 4);
    return rva != 0;
  }

  // Section whose mapped range holds rva, or -1.
  int SectionOf(uint32_t rva) const {
    for (size_t i = 0; i < Sections.size(); ++i) {
      const TSection& s = Sections[i];
      if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.Extent()) return int(i);
    }
    return -1;
  }

  // File offset of rva when len bytes from there lie in one section's raw data.
  // (An empty range may sit right at the end of a section.)
  bool RvaToOffset(uint32_t rva, uint32_t len, size_t& offset) const {
    for (const TSection& s : Sections) {
      if (rva < s.VirtualAddress) continue;
      const uint64_t rel = rva - s.VirtualAddress;
      if (rel + len > s.SizeOfRawData || (len != 0 && rel >= s.Extent())) continue;
      offset = size_t(s.PointerToRawData + rel);
      return true;
    }
    return false;
  }

  // End of the headers and of every section's raw data; what follows is the overlay.
  uint64_t RawEnd() const {
    uint64_t end = SizeOfHeaders;
    for (const TSection& s : Sections)
      if (s.SizeOfRawData != 0) end = std::max<uint64_t>(end, uint64_t(s.PointerToRawData) + s.SizeOfRawData);
    return end;
  }

  const uint8_t* Data;
  size_t Size;
  size_t PeOffset = 0;
  size_t OptOffset = 0;
  size_t DirOffset = 0;
  size_t SectionTableOffset = 0;
  bool Is64 = false;
  uint32_t NumDirs = 0;
  uint32_t FileAlignment = 0;
  uint32_t SectionAlignment = 0;
  uint32_t SizeOfHeaders = 0;
  std::vector<TSection> Sections;
};

// ---- Resource tree ----

struct TResKey {
  TResName Type;
  TResName Name;
  uint16_t Language = 0;
  friend bool operator<(const TResKey& a, const TResKey& b) {
    if (a.Type < b.Type) return true;
    if (b.Type < a.Type) return false;
    if (a.Name < b.Name) return true;
    if (b.Name < a.Name) return false;
    return a.Language < b.Language;
  }
};

struct TResValue {
  uint32_t CodePage = 0;
  const uint8_t* Data = nullptr;  // into the image, the icon file or the new group
  uint32_t Size = 0;
};

using TResTree = std::map<TResKey, TResValue>;

// Reads the three-level resource directory. Every table, string and data entry must lie in
// the resource section's raw data, every table is read once, and the entries, names and data
// taken together cannot exceed the file: hostile input costs no more than its own size.
class TResParser {
public:
  explicit TResParser(const TPeImage& pe) : FPe(pe) {}

  // False when the image has no resource directory.
  bool Parse(TResTree& tree) {
    uint32_t rva, size;
    if (!FPe.Dir(DirResource, rva, size)) return false;
    int s = FPe.SectionOf(rva);
    if (s < 0) BadImage();
    const TSection& sec = FPe.Sections[s];
    const uint32_t rel = rva - sec.VirtualAddress;
    if (rel >= sec.SizeOfRawData) BadImage();
    FBase = FPe.Data + sec.PointerToRawData + rel;
    FLimit = sec.SizeOfRawData - rel;
    for (const auto& [typeField, typeData] : ReadTable(0, true)) {
      TResName type = ReadName(typeField);
      for (const auto& [nameField, nameData] : ReadTable(typeData, true)) {
        TResName name = ReadName(nameField);
        for (const auto& [langField, langData] : ReadTable(nameData, false)) {
          if ((langField & 0x80000000u) != 0 || langField > 0xFFFF) BadImage();
          TResValue value = ReadDataEntry(langData);
          tree.emplace(TResKey{type, name, uint16_t(langField)}, value);  // a duplicate keeps the first
        }
      }
    }
    return true;
  }

private:
  const uint8_t* At(uint32_t offset, uint32_t len) const {
    if (offset > FLimit || FLimit - offset < len) BadImage();
    return FBase + offset;
  }

  // Entries of the table at offset; subdirs: every entry must name a table (else a data entry).
  std::vector<std::pair<uint32_t, uint32_t>> ReadTable(uint32_t offset, bool subdirs) {
    if (!FVisited.insert(offset).second) BadImage();
    const uint8_t* head = At(offset, 16);
    const uint32_t count = uint32_t(GetLE16(head + 12)) + GetLE16(head + 14);
    FEntries += count;
    if (FEntries > FLimit / 8) BadImage();
    const uint8_t* p = At(offset + 16, count * 8);
    std::vector<std::pair<uint32_t, uint32_t>> entries;
    entries.reserve(count);
    for (uint32_t i = 0; i < count; ++i, p += 8) {
      const uint32_t nameField = GetLE32(p);
      const uint32_t dataField = GetLE32(p + 4);
      if (((dataField & 0x80000000u) != 0) != subdirs) BadImage();
      entries.emplace_back(nameField, dataField & 0x7FFFFFFFu);
    }
    return entries;
  }

  TResName ReadName(uint32_t field) {
    if ((field & 0x80000000u) == 0) {
      if (field > 0xFFFF) BadImage();
      return TResName::FromId(uint16_t(field));
    }
    const uint32_t offset = field & 0x7FFFFFFFu;
    const uint16_t len = GetLE16(At(offset, 2));
    const uint8_t* chars = At(offset + 2, uint32_t(len) * 2);
    FNameBytes += uint64_t(len) * 2 + 2;
    if (FNameBytes > FLimit) BadImage();
    std::u16string name(len, u'\0');
    for (uint16_t i = 0; i < len; ++i) name[i] = char16_t(GetLE16(chars + 2 * i));
    return TResName::FromName(std::move(name));
  }

  TResValue ReadDataEntry(uint32_t offset) {
    const uint8_t* e = At(offset, 16);
    TResValue v;
    const uint32_t rva = GetLE32(e);
    v.Size = GetLE32(e + 4);
    v.CodePage = GetLE32(e + 8);
    size_t fileOffset;
    if (!FPe.RvaToOffset(rva, v.Size, fileOffset)) BadImage();
    FDataBytes += v.Size;
    if (FDataBytes > FPe.Size) BadImage();
    v.Data = FPe.Data + fileOffset;
    return v;
  }

  const TPeImage& FPe;
  const uint8_t* FBase = nullptr;
  uint32_t FLimit = 0;
  std::set<uint32_t> FVisited;
  uint64_t FEntries = 0;
  uint64_t FNameBytes = 0;
  uint64_t FDataBytes = 0;
};

// ---- Writing a resource section ----

// The section's bytes for the tree, with data RVAs relative to baseRva: the tables
// breadth-first, then the data entries, the name strings and the data (8-byte aligned).
TArrayByte BuildResourceSection(const TResTree& tree, uint32_t baseRva) {
  struct TNameNode {
    const TResName* Name;
    std::vector<TResTree::const_iterator> Langs;
  };
  struct TTypeNode {
    const TResName* Type;
    std::vector<TNameNode> Names;
  };
  std::vector<TTypeNode> types;
  for (auto it = tree.begin(); it != tree.end(); ++it) {
    if (types.empty() || !(*types.back().Type == it->first.Type)) types.push_back({&it->first.Type, {}});
    auto& names = types.back().Names;
    if (names.empty() || !(*names.back().Name == it->first.Name)) names.push_back({&it->first.Name, {}});
    names.back().Langs.push_back(it);
  }

  uint64_t size = 16 + 8 * uint64_t(types.size());
  std::vector<uint64_t> typeDirAt, nameDirAt;
  for (const auto& t : types) {
    typeDirAt.push_back(size);
    size += 16 + 8 * uint64_t(t.Names.size());
  }
  for (const auto& t : types)
    for (const auto& n : t.Names) {
      nameDirAt.push_back(size);
      size += 16 + 8 * uint64_t(n.Langs.size());
    }
  const uint64_t entriesAt = size;
  size += 16 * uint64_t(tree.size());
  std::map<const TResName*, uint64_t> stringAt;
  for (const auto& t : types) {
    if (t.Type->IsName) { stringAt[t.Type] = size; size += 2 + 2 * uint64_t(t.Type->Name.size()); }
    for (const auto& n : t.Names)
      if (n.Name->IsName) { stringAt[n.Name] = size; size += 2 + 2 * uint64_t(n.Name->Name.size()); }
  }
  std::vector<uint64_t> dataAt;
  for (const auto& [key, value] : tree) {
    size = AlignUp(size, 8);
    dataAt.push_back(size);
    size += value.Size;
  }
  if (size + baseRva > 0xFFFFFFFFu || size > 0x7FFFFFFF) RaiseResourceError(SEndUpdateFailed);

  TArrayByte out(size_t(size), 0);
  auto putTable = [&](uint64_t at, size_t named, size_t ids) {
    PutLE16(&out[at + 12], uint16_t(named));
    PutLE16(&out[at + 14], uint16_t(ids));
  };
  auto nameField = [&](const TResName* n) {
    return n->IsName ? uint32_t(0x80000000u | stringAt[n]) : uint32_t(n->Id);
  };
  auto countNamed = [](const auto& nodes, auto get) {
    return size_t(std::count_if(nodes.begin(), nodes.end(), [&](const auto& x) { return get(x)->IsName; }));
  };
  if (types.size() > 0xFFFF) RaiseResourceError(SEndUpdateFailed);
  const size_t namedTypes = countNamed(types, [](const TTypeNode& t) { return t.Type; });
  putTable(0, namedTypes, types.size() - namedTypes);
  size_t nameIndex = 0, leafIndex = 0;
  for (size_t ti = 0; ti < types.size(); ++ti) {
    const auto& t = types[ti];
    PutLE32(&out[16 + 8 * ti], nameField(t.Type));
    PutLE32(&out[16 + 8 * ti + 4], uint32_t(0x80000000u | typeDirAt[ti]));
    if (t.Names.size() > 0xFFFF) RaiseResourceError(SEndUpdateFailed);
    const size_t namedNames = countNamed(t.Names, [](const TNameNode& n) { return n.Name; });
    putTable(typeDirAt[ti], namedNames, t.Names.size() - namedNames);
    for (size_t ni = 0; ni < t.Names.size(); ++ni, ++nameIndex) {
      const auto& n = t.Names[ni];
      const uint64_t e = typeDirAt[ti] + 16 + 8 * ni;
      PutLE32(&out[e], nameField(n.Name));
      PutLE32(&out[e + 4], uint32_t(0x80000000u | nameDirAt[nameIndex]));
      if (n.Langs.size() > 0xFFFF) RaiseResourceError(SEndUpdateFailed);
      putTable(nameDirAt[nameIndex], 0, n.Langs.size());
      for (size_t li = 0; li < n.Langs.size(); ++li, ++leafIndex) {
        const uint64_t le = nameDirAt[nameIndex] + 16 + 8 * li;
        const uint64_t de = entriesAt + 16 * leafIndex;
        PutLE32(&out[le], n.Langs[li]->first.Language);
        PutLE32(&out[le + 4], uint32_t(de));
        const TResValue& v = n.Langs[li]->second;
        PutLE32(&out[de], uint32_t(baseRva + dataAt[leafIndex]));
        PutLE32(&out[de + 4], v.Size);
        PutLE32(&out[de + 8], v.CodePage);
        if (v.Size != 0) std::memcpy(&out[dataAt[leafIndex]], v.Data, v.Size);
      }
    }
  }
  for (const auto& [name, at] : stringAt) {
    PutLE16(&out[at], uint16_t(name->Name.size()));
    for (size_t i = 0; i < name->Name.size(); ++i) PutLE16(&out[at + 2 + 2 * i], uint16_t(name->Name[i]));
  }
  return out;
}

uint32_t PeChecksum(const TArrayByte& image, size_t checksumAt) {
  uint64_t sum = 0;
  for (size_t i = 0; i + 1 < image.size(); i += 2) {
    if (i == checksumAt || i == checksumAt + 2) continue;
    sum += GetLE16(&image[i]);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  if (image.size() % 2) {
    sum += image.back();
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return uint32_t(sum + image.size());
}

void PutSection(TArrayByte& out, const TSection& s) {
  uint8_t* h = &out[s.HeaderOffset];
  PutLE32(h + 8, s.VirtualSize);
  PutLE32(h + 12, s.VirtualAddress);
  PutLE32(h + 16, s.SizeOfRawData);
  PutLE32(h + 20, s.PointerToRawData);
  PutLE32(h + 36, s.Characteristics);
}

// A section the loader only reaches through the base-relocation directory, so it may move.
bool IsRelocationSection(const TPeImage& pe, size_t index, uint32_t entryPoint) {
  const TSection& s = pe.Sections[index];
  uint32_t rva, size;
  if (!pe.Dir(DirBaseReloc, rva, size) || rva != s.VirtualAddress || uint64_t(rva) + size < uint64_t(rva) + s.Extent())
    return false;
  if ((s.Characteristics & ScnExecute) != 0 || pe.SectionOf(entryPoint) == int(index)) return false;
  for (uint32_t d = 0; d < pe.NumDirs; ++d) {
    if (d == DirBaseReloc || d == DirSecurity || d == DirResource) continue;
    uint32_t r, sz;
    if (pe.Dir(d, r, sz) && pe.SectionOf(r) == int(index)) return false;
  }
  return true;
}

// Places the rebuilt resource section and returns the new file. When the resource section
// is the last one (or followed only by the relocation section, which then moves behind it)
// it is rewritten where it stands; otherwise a new last section takes the resources and the
// old directory is zeroed to an empty one. The overlay (data after the sections) is kept,
// and file offsets pointing into it are moved with it.
TArrayByte PlaceResources(const TPeImage& pe, const TResTree& tree) {
  const uint8_t* data = pe.Data;
  const size_t size = pe.Size;
  const uint32_t fileAlign = pe.FileAlignment, sectionAlign = pe.SectionAlignment;
  const uint32_t entryPoint = GetLE32(data + pe.OptOffset + 16);
  uint32_t dirRva, dirSize;
  pe.Dir(DirResource, dirRva, dirSize);
  const int rs = pe.SectionOf(dirRva);
  const uint64_t oldEnd = pe.RawEnd();

  std::vector<TSection> sections = pe.Sections;
  int reloc = -1;
  bool inPlace = false;
  if (rs >= 0 && sections[rs].VirtualAddress == dirRva && sections[rs].SizeOfRawData != 0 &&
      sections[rs].PointerToRawData >= pe.SizeOfHeaders) {
    const TSection& s = sections[rs];
    std::vector<size_t> after;
    for (size_t i = 0; i < sections.size(); ++i)
      if (sections[i].VirtualAddress > s.VirtualAddress) after.push_back(i);
    if (after.empty()) {
      inPlace = true;
    } else if (after.size() == 1 && IsRelocationSection(pe, after[0], entryPoint)) {
      const TSection& r = sections[after[0]];
      inPlace = r.SizeOfRawData == 0 || r.PointerToRawData >= s.PointerToRawData + uint64_t(s.SizeOfRawData);
      reloc = int(after[0]);
    }
    for (size_t i = 0; inPlace && i < sections.size(); ++i) {
      if (int(i) == rs || int(i) == reloc || sections[i].SizeOfRawData == 0) continue;
      if (uint64_t(sections[i].PointerToRawData) + sections[i].SizeOfRawData > s.PointerToRawData) inPlace = false;
    }
    if (!inPlace) reloc = -1;
  }

  TArrayByte out;
  uint32_t newRva;
  int64_t rawDelta;
  if (inPlace) {
    TSection& s = sections[rs];
    newRva = s.VirtualAddress;
    TArrayByte blob = BuildResourceSection(tree, newRva);
    const uint64_t raw = AlignUp(blob.size(), fileAlign);
    if (raw > 0xFFFFFFFFu) RaiseResourceError(SEndUpdateFailed);
    out.assign(data, data + s.PointerToRawData);
    out.insert(out.end(), blob.begin(), blob.end());
    out.resize(size_t(s.PointerToRawData + raw), 0);
    rawDelta = int64_t(raw) - int64_t(s.SizeOfRawData);
    s.VirtualSize = uint32_t(blob.size());
    s.SizeOfRawData = uint32_t(raw);
    if (reloc >= 0) {
      TSection& r = sections[reloc];
      const uint64_t va = AlignUp(uint64_t(s.VirtualAddress) + s.VirtualSize, sectionAlign);
      if (va + r.Extent() > 0xFFFFFFFFu) RaiseResourceError(SEndUpdateFailed);
      if (r.SizeOfRawData != 0) {
        const uint32_t from = r.PointerToRawData;
        r.PointerToRawData = uint32_t(out.size());
        out.insert(out.end(), data + from, data + from + r.SizeOfRawData);
      }
      r.VirtualAddress = uint32_t(va);
    }
  } else {
    // A new section header must fit between the section table and the first raw data.
    const size_t headerAt = pe.SectionTableOffset + sections.size() * SectionHeaderSize;
    uint64_t firstRaw = pe.SizeOfHeaders;
    for (const TSection& s : sections)
      if (s.SizeOfRawData != 0) firstRaw = std::min<uint64_t>(firstRaw, s.PointerToRawData);
    if (sections.size() >= 96 || headerAt + SectionHeaderSize > firstRaw ||
        std::any_of(data + headerAt, data + headerAt + SectionHeaderSize, [](uint8_t b) { return b != 0; }))
      RaiseResourceError(SEndUpdateFailed);
    uint64_t imageEnd = 0;
    for (const TSection& s : sections)
      imageEnd = std::max<uint64_t>(imageEnd, AlignUp(uint64_t(s.VirtualAddress) + s.Extent(), sectionAlign));
    if (imageEnd > 0xFFFFFFFFu) RaiseResourceError(SEndUpdateFailed);
    newRva = uint32_t(imageEnd);
    TArrayByte blob = BuildResourceSection(tree, newRva);
    const uint64_t raw = AlignUp(blob.size(), fileAlign);
    const uint64_t at = AlignUp(oldEnd, fileAlign);
    if (uint64_t(newRva) + blob.size() > 0xFFFFFFFFu || at + raw > 0xFFFFFFFFu) RaiseResourceError(SEndUpdateFailed);
    out.assign(data, data + oldEnd);
    if (rs >= 0 && dirRva - sections[rs].VirtualAddress < sections[rs].SizeOfRawData) {
      const TSection& s = sections[rs];
      const size_t oldDir = size_t(s.PointerToRawData) + (dirRva - s.VirtualAddress);
      const uint64_t avail = uint64_t(s.PointerToRawData) + s.SizeOfRawData - oldDir;
      std::fill_n(out.begin() + oldDir, size_t(std::min<uint64_t>(std::max<uint32_t>(dirSize, 16), avail)), 0);
    }
    out.resize(size_t(at), 0);
    out.insert(out.end(), blob.begin(), blob.end());
    out.resize(size_t(at + raw), 0);
    TSection s;
    s.HeaderOffset = headerAt;
    s.VirtualSize = uint32_t(blob.size());
    s.VirtualAddress = newRva;
    s.SizeOfRawData = uint32_t(raw);
    s.PointerToRawData = uint32_t(at);
    s.Characteristics = RsrcCharacteristics;
    std::memcpy(&out[headerAt], ".rsrc\0\0\0", 8);
    PutLE16(&out[pe.PeOffset + 6], uint16_t(sections.size() + 1));
    sections.push_back(s);
    rawDelta = int64_t(raw);
    dirSize = uint32_t(blob.size());
  }
  const uint64_t newEnd = out.size();
  out.insert(out.end(), data + std::min<uint64_t>(oldEnd, size), data + size);
  const int64_t shift = int64_t(newEnd) - int64_t(oldEnd);

  for (const TSection& s : sections) PutSection(out, s);
  uint8_t* opt = &out[pe.OptOffset];
  uint64_t imageSize = AlignUp(pe.SizeOfHeaders, sectionAlign);
  for (const TSection& s : sections)
    imageSize = std::max<uint64_t>(imageSize, AlignUp(uint64_t(s.VirtualAddress) + s.Extent(), sectionAlign));
  PutLE32(opt + 56, uint32_t(imageSize));
  PutLE32(opt + 8, uint32_t(int64_t(GetLE32(opt + 8)) + rawDelta));
  uint8_t* dirs = &out[pe.DirOffset];
  PutLE32(dirs + 8 * DirResource, newRva);
  if (inPlace) PutLE32(dirs + 8 * DirResource + 4, sections[rs].VirtualSize);
  else PutLE32(dirs + 8 * DirResource + 4, dirSize);
  if (reloc >= 0) {
    uint32_t rva, sz;
    pe.Dir(DirBaseReloc, rva, sz);
    PutLE32(dirs + 8 * DirBaseReloc, sections[reloc].VirtualAddress);
  }
  // File offsets into the overlay move with it.
  auto moveOffset = [&](uint8_t* p) {
    const uint32_t v = GetLE32(p);
    if (v != 0 && v >= oldEnd) PutLE32(p, uint32_t(int64_t(v) + shift));
  };
  moveOffset(&out[pe.PeOffset + 4 + 8]);  // COFF symbol table
  uint32_t rva, sz;
  if (pe.Dir(DirSecurity, rva, sz)) moveOffset(dirs + 8 * DirSecurity);
  size_t debugAt;
  if (pe.Dir(DirDebug, rva, sz) && pe.RvaToOffset(rva, sz, debugAt)) {
    const int ds = pe.SectionOf(rva);
    if (ds != rs && ds != reloc && debugAt + size_t(sz) <= out.size())
      for (uint32_t e = 0; e + 28 <= sz; e += 28) moveOffset(&out[debugAt + e + 24]);
  }
  const size_t checksumAt = pe.OptOffset + 64;
  if (GetLE32(&out[checksumAt]) != 0) PutLE32(&out[checksumAt], PeChecksum(out, checksumAt));
  return out;
}

TResTree ParseResources(const TPeImage& pe, bool& hasResources) {
  TResTree tree;
  hasResources = TResParser(pe).Parse(tree);
  return tree;
}

}  // namespace

// ---- Shared helpers ----

bool operator<(const TResName& a, const TResName& b) {
  if (a.IsName != b.IsName) return a.IsName;
  if (a.IsName) return a.Name < b.Name;
  return a.Id < b.Id;
}

void RaiseResourceError(const AnsiString& text) { throw Exception(SResourceUpdateError + text); }

void RaiseResourceErrorCode(const AnsiString& text, int code) {
  throw Exception(SResourceUpdateError + text + "(" + std::to_string(code) + ")");
}

bool IsValidIconFile(const uint8_t* data, size_t size) {
  if (size < 6) return false;
  if (data[0] == 0x4D && data[1] == 0x5A) return false;
  const size_t count = GetLE16(data + 4);
  if (size < 6 + IconDirEntrySize * count) return false;
  uint64_t total = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = data + 6 + IconDirEntrySize * i;
    const uint32_t bytes = GetLE32(e + 8);
    const uint32_t offset = GetLE32(e + 12);
    const uint32_t end = offset + bytes;  // unsigned 32-bit, may wrap
    if (end < offset || end > size) return false;
    total += bytes;
  }
  return total <= size;
}

TArrayByte LoadIconFile(const AnsiString& iconFile) {
  TArrayByte icon;
  {
    TFileStream f(iconFile, fmOpenRead | fmShareExclusive);
    const int64_t size = f.Size();
    if (size > int64_t(MaxIconFileSize)) RaiseResourceError(SIconTooLarge);
    icon.resize(size_t(size));
    if (!icon.empty()) f.ReadBuffer(icon.data(), icon.size());
  }
  if (!IsValidIconFile(icon.data(), icon.size())) RaiseResourceError(SIconInvalid);
  return icon;
}

TArrayByte BuildIconGroup(const uint8_t* oldGroup, size_t oldGroupSize, const TArrayByte& icon) {
  const uint16_t count = GetLE16(icon.data() + 4);
  TArrayByte group(6 + GroupEntrySize * count, 0);
  if (oldGroupSize >= 4) {
    std::memcpy(group.data(), oldGroup, 4);
  } else {
    PutLE16(group.data() + 2, 1);
  }
  PutLE16(group.data() + 4, count);
  for (uint16_t i = 0; i < count; ++i) {
    uint8_t* e = group.data() + 6 + GroupEntrySize * i;
    std::memcpy(e, icon.data() + 6 + IconDirEntrySize * i, 12);
    PutLE16(e + 12, uint16_t(i + 1));
  }
  return group;
}

std::vector<uint16_t> IconGroupImageIds(const uint8_t* group, size_t size) {
  std::vector<uint16_t> ids;
  if (size < 6) return ids;
  const size_t count = std::min<size_t>(GetLE16(group + 4), (size - 6) / GroupEntrySize);
  for (size_t i = 0; i < count; ++i) ids.push_back(GetLE16(group + 6 + GroupEntrySize * i + 12));
  return ids;
}

// ---- The portable rewriter ----

std::vector<TPeResource> ReadPeResources(const uint8_t* data, size_t size) {
  TPeImage pe(data, size);
  bool hasResources;
  TResTree tree = ParseResources(pe, hasResources);
  std::vector<TPeResource> list;
  for (const auto& [key, value] : tree)
    list.push_back({key.Type, key.Name, key.Language, value.CodePage, TArrayByte(value.Data, value.Data + value.Size)});
  return list;
}

TArrayByte ReplaceIconInImage(const TArrayByte& exe, const TArrayByte& icon) {
  TPeImage pe(exe.data(), exe.size());
  bool hasResources;
  TResTree tree = ParseResources(pe, hasResources);

  // The group, in its first language (the one that is deleted, too).
  const TResName groupType = TResName::FromId(RtGroupIcon);
  const TResName groupName = TResName::FromName(MainIconName());
  auto group = tree.lower_bound(TResKey{groupType, groupName, 0});
  if (group == tree.end() || !(group->first.Type == groupType) || !(group->first.Name == groupName)) {
    if (!hasResources) RaiseResourceErrorCode(SFindResourceFailed, ResErrDataNotFound);
    auto type = tree.lower_bound(TResKey{groupType, TResName::FromName(u""), 0});
    const bool typeFound = type != tree.end() && type->first.Type == groupType;
    RaiseResourceErrorCode(SFindResourceFailed, typeFound ? ResErrNameNotFound : ResErrTypeNotFound);
  }
  const TArrayByte newGroup = BuildIconGroup(group->second.Data, group->second.Size, icon);

  // Everything to delete is looked up in the unchanged tree, as the system looks it up in
  // the unchanged file: an image named twice is deleted once.
  std::vector<TResKey> doomed{group->first};
  for (uint16_t id : IconGroupImageIds(group->second.Data, group->second.Size)) {
    const TResName imageName = TResName::FromId(id);
    auto image = tree.lower_bound(TResKey{TResName::FromId(RtIcon), imageName, 0});
    if (image != tree.end() && image->first.Type == TResName::FromId(RtIcon) && image->first.Name == imageName)
      doomed.push_back(image->first);
  }
  for (const TResKey& key : doomed) tree.erase(key);

  const uint16_t count = GetLE16(icon.data() + 4);
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* e = icon.data() + 6 + IconDirEntrySize * i;
    tree[TResKey{TResName::FromId(RtIcon), TResName::FromId(uint16_t(i + 1)), IconResourceLanguage}] =
        TResValue{0, icon.data() + GetLE32(e + 12), GetLE32(e + 8)};
  }
  tree[TResKey{groupType, groupName, IconResourceLanguage}] =
      TResValue{0, newGroup.data(), uint32_t(newGroup.size())};
  return PlaceResources(pe, tree);
}

namespace {
// Reads exeFile, has rewrite make the new image, and puts it in place: a new file written
// beside the executable (a copy first, keeping its attributes) replaces it only once it is
// complete.
template <class F>
bool RewriteExecutable(const AnsiString& exeFile, F rewrite) {
  TArrayByte exe;
  try {
    // Opened for writing, as the update would, so that a read-only or busy file fails here.
    TFileStream f(exeFile, fmOpenReadWrite | fmShareDenyWrite);
    const int64_t size = f.Size();
    if (size > 0x7FFFFFFF) RaiseResourceErrorCode(SBeginUpdateFailed, 8);  // not enough memory
    exe.resize(size_t(size));
    if (!exe.empty()) f.ReadBuffer(exe.data(), exe.size());
  } catch (const EStreamError&) {
    RaiseResourceErrorCode(SBeginUpdateFailed, LastSystemError());
  }
  const TArrayByte image = rewrite(exe);

  const AnsiString temp = exeFile + ".~icon";
  try {
    if (!CopyFileTo(exeFile, temp, false)) RaiseResourceError(SEndUpdateFailed);
    {
      TFileStream f(temp, fmOpenReadWrite | fmShareExclusive);
      f.WriteBuffer(image.data(), image.size());
      f.SetSize(int64_t(image.size()));
      f.Flush();
    }
    if (!RenameFileTo(temp, exeFile)) RaiseResourceError(SEndUpdateFailed);
  } catch (const Exception&) {
    DeleteFileAt(temp);
    RaiseResourceError(SEndUpdateFailed);
  }
  return true;
}
}  // namespace

bool ReplaceExeIconPe(const AnsiString& iconFile, const AnsiString& exeFile) {
  const TArrayByte icon = LoadIconFile(iconFile);
  return RewriteExecutable(exeFile, [&](const TArrayByte& exe) { return ReplaceIconInImage(exe, icon); });
}

// ---- Version details ----

bool ParseVersionNumber(const AnsiString& text, uint16_t (&parts)[4]) {
  size_t at = 0, end = text.size();
  while (at < end && text[at] == ' ') ++at;
  while (end > at && text[end - 1] == ' ') --end;
  int count = 0;
  uint16_t got[4] = {0, 0, 0, 0};
  while (true) {
    if (count == 4 || at >= end || text[at] < '0' || text[at] > '9') return false;
    uint32_t v = 0;
    size_t digits = 0;
    while (at < end && text[at] >= '0' && text[at] <= '9') {
      v = v * 10 + uint32_t(text[at++] - '0');
      if (++digits > 5 || v > 0xFFFF) return false;
    }
    got[count++] = uint16_t(v);
    if (at == end) break;
    if (text[at++] != '.') return false;
  }
  std::copy(got, got + 4, parts);
  return true;
}

namespace {
// One node of a version resource: length, value length, type (1 text, 0 binary), the key
// as UTF-16 with its terminator, padding to 4 bytes, the value, then the children, each
// starting on a 4-byte boundary. The length covers the node up to its last child.
class TVersionWriter {
public:
  TArrayByte Out;

  size_t Begin(const std::u16string& key, uint16_t valueLength, uint16_t type) {
    Align();
    const size_t at = Out.size();
    Put16(0);
    Put16(valueLength);
    Put16(type);
    for (char16_t c : key) Put16(uint16_t(c));
    Put16(0);
    Align();
    return at;
  }
  void End(size_t at) { PutLE16(&Out[at], uint16_t(Out.size() - at)); }
  void Put16(uint16_t v) {
    Out.push_back(uint8_t(v));
    Out.push_back(uint8_t(v >> 8));
  }
  void Put32(uint32_t v) {
    Put16(uint16_t(v));
    Put16(uint16_t(v >> 16));
  }
  void Align() {
    while (Out.size() % 4 != 0) Out.push_back(0);
  }
  void String(const std::u16string& key, const AnsiString& gbk) {
    if (gbk.empty()) return;
    const std::u16string value = GbkToUtf16(gbk);
    // The value length of a text counts its UTF-16 units with the terminator.
    const size_t at = Begin(key, uint16_t(value.size() + 1), 1);
    for (char16_t c : value) Put16(uint16_t(c));
    Put16(0);
    End(at);
  }
};
}  // namespace

TArrayByte BuildVersionResource(const TVersionDetails& details) {
  uint16_t v[4] = {0, 0, 0, 0};
  ParseVersionNumber(details.Version, v);
  const uint32_t ms = uint32_t(v[0]) << 16 | v[1], ls = uint32_t(v[2]) << 16 | v[3];
  TVersionWriter w;
  const size_t root = w.Begin(u"VS_VERSION_INFO", 52, 0);
  w.Put32(0xFEEF04BD);  // signature
  w.Put32(0x00010000);  // structure version
  w.Put32(ms);          // file version
  w.Put32(ls);
  w.Put32(ms);          // product version
  w.Put32(ls);
  w.Put32(0x3F);        // flags mask
  w.Put32(0);           // flags
  w.Put32(0x00040004);  // VOS_NT_WINDOWS32
  w.Put32(1);           // VFT_APP
  w.Put32(0);           // subtype
  w.Put32(0);           // date
  w.Put32(0);
  const size_t strings = w.Begin(u"StringFileInfo", 0, 1);
  const size_t table = w.Begin(u"080404b0", 0, 1);
  w.String(u"CompanyName", details.CompanyName);
  w.String(u"FileDescription", details.FileDescription);
  w.String(u"FileVersion", details.Version);
  w.String(u"OriginalFilename", details.OriginalFilename);
  w.String(u"ProductName", details.ProductName);
  w.String(u"ProductVersion", details.Version);
  w.End(table);
  w.End(strings);
  const size_t vars = w.Begin(u"VarFileInfo", 0, 1);
  const size_t translation = w.Begin(u"Translation", 4, 0);
  w.Put16(0x0804);  // Chinese (Simplified)
  w.Put16(1200);    // Unicode
  w.End(translation);
  w.End(vars);
  w.End(root);
  if (w.Out.size() > 0xFFFF) RaiseResourceErrorCode(SUpdateVersionFailed, 87);  // too long to describe itself
  return w.Out;
}

bool IsPeExecutable(const AnsiString& exeFile) {
  TFileStream f(exeFile, fmOpenRead | fmShareDenyNone);
  uint8_t dos[64], sig[4];
  if (f.Size() < int64_t(sizeof dos)) return false;
  f.ReadBuffer(dos, sizeof dos);
  if (dos[0] != 'M' || dos[1] != 'Z') return false;
  const int64_t pe = GetLE32(dos + 0x3C);
  if (pe > f.Size() - 4) return false;
  f.SetPosition(pe);
  f.ReadBuffer(sig, 4);
  return std::memcmp(sig, "PE\0\0", 4) == 0;
}

TArrayByte ReplaceVersionInImage(const TArrayByte& exe, const TArrayByte& data) {
  TPeImage pe(exe.data(), exe.size());
  bool hasResources;
  TResTree tree = ParseResources(pe, hasResources);
  const TResName type = TResName::FromId(RtVersion), name = TResName::FromId(1);
  uint16_t language = VersionResourceLanguage;
  auto old = tree.lower_bound(TResKey{type, name, 0});
  if (old != tree.end() && old->first.Type == type && old->first.Name == name) {
    language = old->first.Language;
    tree.erase(old);
  }
  tree[TResKey{type, name, language}] = TResValue{0, data.data(), uint32_t(data.size())};
  return PlaceResources(pe, tree);
}

bool ReplaceExeVersionPe(const AnsiString& exeFile, const TArrayByte& data) {
  return RewriteExecutable(exeFile, [&](const TArrayByte& exe) { return ReplaceVersionInImage(exe, data); });
}

#ifndef _WIN32
bool ReplaceExeIcon(const AnsiString& iconFile, const AnsiString& exeFile) {
  return ReplaceExeIconPe(iconFile, exeFile);
}
bool ReplaceExeVersion(const AnsiString& exeFile, const TArrayByte& data) { return ReplaceExeVersionPe(exeFile, data); }
#endif

TArrayByte StampImage(const TArrayByte& exe, uint32_t stamp) {
  TPeImage pe(exe.data(), exe.size());
  TArrayByte out = exe;
  PutLE32(&out[pe.PeOffset + 8], stamp);
  // The debug entries and the resource directory carry a time of their own where the linker
  // or the resource writer gave them one.
  uint32_t rva, sz;
  size_t at;
  if (pe.Dir(DirDebug, rva, sz) && pe.RvaToOffset(rva, sz, at))
    for (uint32_t e = 0; e + 28 <= sz && at + e + 28 <= out.size(); e += 28)
      if (GetLE32(&out[at + e + 4]) != 0) PutLE32(&out[at + e + 4], stamp);
  if (pe.Dir(DirResource, rva, sz) && sz >= 16 && pe.RvaToOffset(rva, 16, at) && GetLE32(&out[at + 4]) != 0)
    PutLE32(&out[at + 4], stamp);
  const size_t checksumAt = pe.OptOffset + 64;
  if (GetLE32(&out[checksumAt]) != 0) PutLE32(&out[checksumAt], PeChecksum(out, checksumAt));
  return out;
}

bool SetExeTimeStamp(const AnsiString& exeFile, uint32_t stamp) {
  return RewriteExecutable(exeFile, [&](const TArrayByte& exe) { return StampImage(exe, stamp); });
}
