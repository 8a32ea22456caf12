// ReplaceExeIcon on the fixture executables. Natively it is the portable rewriter, checked
// against wrestool; under Wine the system's resource calls, checked against the rewriter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <ostream>
#include <map>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "core/Stream.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/IconEdit.h"
#include "system/Platform.h"
#include "system/SysKernel.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

// Readable failures: type/name/language and size of each resource.
void PrintTo(const TResName& n, std::ostream* os) {
  if (!n.IsName) {
    *os << n.Id;
    return;
  }
  *os << '\'';
  for (char16_t c : n.Name) *os << (c < 0x80 ? char(c) : '?');
  *os << '\'';
}
void PrintTo(const TPeResource& r, std::ostream* os) {
  *os << "\n  ";
  PrintTo(r.Type, os);
  *os << '/';
  PrintTo(r.Name, os);
  *os << '/' << r.Language << " cp " << r.CodePage << " size " << r.Data.size();
}

namespace {

AnsiString ToProgramPath(const std::string& host) {
#ifdef _WIN32
  AnsiString p = "Z:" + host;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
#else
  return ProgramPath(host);
#endif
}

const AnsiString& FixtureDir() {
  static const AnsiString dir = ToProgramPath(ICONEDIT_FIXTURES) + "\\";
  return dir;
}

TArrayByte ReadAll(const AnsiString& path) {
  TFileStream f(path, fmOpenRead | fmShareDenyNone);
  TArrayByte data(size_t(f.Size()));
  if (!data.empty()) f.ReadBuffer(data.data(), data.size());
  return data;
}

void WriteAll(const AnsiString& path, const TArrayByte& data) {
  TFileStream f(path, fmCreate);
  if (!data.empty()) f.WriteBuffer(data.data(), data.size());
}

// An icon file with images of the given sizes; image i is filled with byte 0x40 + i.
TArrayByte MakeIcon(const std::vector<uint32_t>& sizes) {
  TArrayByte ico(6 + 16 * sizes.size(), 0);
  PutLE16(&ico[2], 1);
  PutLE16(&ico[4], uint16_t(sizes.size()));
  for (size_t i = 0; i < sizes.size(); ++i) {
    uint8_t* e = &ico[6 + 16 * i];
    e[0] = e[1] = uint8_t(16 * (i + 1));
    PutLE16(e + 4, 1);
    PutLE16(e + 6, 32);
    PutLE32(e + 8, sizes[i]);
    PutLE32(e + 12, uint32_t(ico.size()));
    ico.insert(ico.end(), sizes[i], uint8_t(0x40 + i));
  }
  return ico;
}

const TPeResource* Find(const std::vector<TPeResource>& list, uint16_t type, const TResName& name, uint16_t lang) {
  for (const auto& r : list)
    if (r.Type == TResName::FromId(type) && r.Name == name && r.Language == lang) return &r;
  return nullptr;
}

size_t CountType(const std::vector<TPeResource>& list, uint16_t type) {
  size_t n = 0;
  for (const auto& r : list) n += r.Type == TResName::FromId(type);
  return n;
}

std::vector<TPeResource> WithoutIcons(std::vector<TPeResource> list) {
  std::erase_if(list, [](const TPeResource& r) { return r.Type.Id == 3 || r.Type.Id == 14; });
  return list;
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no error)";
}

class IconEdit : public ::testing::Test {
protected:
  void SetUp() override {
    FWork = FixtureDir() + "..\\work-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "\\";
    ForceFolders(FWork);
    for (const TSearchRec& f : ListFolder(FWork)) DeleteFileAt(FWork + f.Name);
  }
  // A fresh copy of a fixture executable in the work folder.
  AnsiString CopyFixture(const AnsiString& name, const AnsiString& as = "") {
    const AnsiString dest = FWork + (as.empty() ? name : as);
    EXPECT_TRUE(CopyFileTo(FixtureDir() + name, dest, false)) << name;
    return dest;
  }
  AnsiString IconFile(const TArrayByte& data, const AnsiString& name = "test.ico") {
    WriteAll(FWork + name, data);
    return FWork + name;
  }
  AnsiString FWork;
};

// Each layout as a PE32 and as a PE32+ image.
const char* const Layouts[] = {"fixture.exe",   "fixture-noreloc.exe",   "fixture-extra.exe",   "fixture-unstripped.exe",
                               "fixture64.exe", "fixture64-noreloc.exe", "fixture64-extra.exe", "fixture64-unstripped.exe"};

#ifndef _WIN32
// wrestool's view of an executable: one line per resource.
std::string Wrestool(const std::string& args, const AnsiString& exe) {
  std::string cmd = "wrestool " + args + " '" + HostPath(exe) + "' 2>/dev/null";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}
#endif

}  // namespace

TEST_F(IconEdit, TwoImagesReplacedByThreeInEveryLayout) {
  const TArrayByte ico = MakeIcon({40, 300, 5000});
  const AnsiString icon = IconFile(ico);
  for (const char* layout : Layouts) {
    SCOPED_TRACE(layout);
    const AnsiString exe = CopyFixture(layout);
    const auto before = ReadPeResources(ReadAll(exe).data(), ReadAll(exe).size());
    ASSERT_EQ(CountType(before, 3), 2u);

    EXPECT_TRUE(ReplaceExeIcon(icon, exe));
    const TArrayByte image = ReadAll(exe);
    const auto after = ReadPeResources(image.data(), image.size());
    ASSERT_EQ(CountType(after, 3), 3u);
    for (uint16_t i = 0; i < 3; ++i) {
      const TPeResource* r = Find(after, 3, TResName::FromId(i + 1), 1033);
      ASSERT_NE(r, nullptr) << i;
      const uint32_t size = GetLE32(&ico[6 + 16 * i + 8]), offset = GetLE32(&ico[6 + 16 * i + 12]);
      EXPECT_EQ(r->Data, TArrayByte(ico.begin() + offset, ico.begin() + offset + size));
    }
    ASSERT_EQ(CountType(after, 14), 1u);
    const TPeResource* group = Find(after, 14, TResName::FromName(u"MAINICON"), 1033);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->Data.size(), 6u + 14 * 3);
    EXPECT_EQ(GetLE16(&group->Data[0]), 0);  // reserved and type as in the old group
    EXPECT_EQ(GetLE16(&group->Data[2]), 1);
    EXPECT_EQ(GetLE16(&group->Data[4]), 3);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_TRUE(std::equal(&ico[6 + 16 * i], &ico[6 + 16 * i + 12], &group->Data[6 + 14 * i]));
      EXPECT_EQ(GetLE16(&group->Data[6 + 14 * i + 12]), i + 1);
    }
    EXPECT_EQ(WithoutIcons(after), WithoutIcons(before));  // string table and version untouched

#ifndef _WIN32
    const std::string list = Wrestool("-l", exe);
    for (const char* line : {"--type=3 --name=1 --language=1033 ", "--type=3 --name=2 --language=1033 ",
                             "--type=3 --name=3 --language=1033 ", "--type=6 --name=1 --language=1033 ",
                             "--type=14 --name='MAINICON' --language=1033 ", "--type=16 --name=1 --language=2052 "})
      EXPECT_NE(list.find(line), std::string::npos) << line << "\n" << list;
    std::string raw = Wrestool("-x --raw --type=3 --name=3", exe);
    EXPECT_EQ(raw, std::string(5000, char(0x42)));
    // A second replacement rewrites in place: the file does not grow again.
    const size_t size1 = image.size();
    EXPECT_TRUE(ReplaceExeIcon(icon, exe));
    EXPECT_EQ(ReadAll(exe).size(), size1);
    EXPECT_EQ(ReadPeResources(ReadAll(exe).data(), size1), after);
#endif
  }
}

TEST_F(IconEdit, EmptyIconGivesEmptyGroup) {
  const AnsiString exe = CopyFixture("fixture.exe");
  EXPECT_TRUE(ReplaceExeIcon(IconFile(MakeIcon({})), exe));
  const TArrayByte image = ReadAll(exe);
  const auto after = ReadPeResources(image.data(), image.size());
#ifndef _WIN32
  // (Wine keeps resources that UpdateResourceA is asked to delete; see the comparison below.)
  EXPECT_EQ(CountType(after, 3), 0u);
#endif
  const TPeResource* group = Find(after, 14, TResName::FromName(u"MAINICON"), 1033);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->Data, (TArrayByte{0, 0, 1, 0, 0, 0}));
}

// The old group and its images go in the language they had; other icons, named types and
// names stay. Image 3 of the other group is replaced, as the system would do it.
TEST_F(IconEdit, RewriterDeletesOldIconsInTheirLanguage) {
  const AnsiString exe = CopyFixture("rich.exe");
  const TArrayByte o = ReadAll(exe);
  const auto before = ReadPeResources(o.data(), o.size());
  ASSERT_NE(Find(before, 14, TResName::FromName(u"MAINICON"), 2052), nullptr);
  ASSERT_NE(Find(before, 3, TResName::FromId(1), 2052), nullptr);
  EXPECT_TRUE(ReplaceExeIconPe(IconFile(MakeIcon({10, 20, 30})), exe));
  const TArrayByte image = ReadAll(exe);
  const auto after = ReadPeResources(image.data(), image.size());
  std::vector<TPeResource> icons;
  for (const auto& r : after)
    if (r.Type.Id == 3 && !r.Type.IsName) icons.push_back(r);
  ASSERT_EQ(icons.size(), 3u);
  for (uint16_t i = 0; i < 3; ++i) {
    EXPECT_EQ(icons[i].Name, TResName::FromId(i + 1));
    EXPECT_EQ(icons[i].Language, 1033);
    EXPECT_EQ(icons[i].Data.size(), 10u * (i + 1));
  }
  EXPECT_EQ(Find(after, 14, TResName::FromName(u"MAINICON"), 2052), nullptr);
  EXPECT_NE(Find(after, 14, TResName::FromName(u"MAINICON"), 1033), nullptr);
  for (const auto& r : before) {
    if (r.Type.Id != 3 && !(r.Type.Id == 14 && r.Name == TResName::FromName(u"MAINICON"))) {
      EXPECT_NE(std::find(after.begin(), after.end(), r), after.end()) << ::testing::PrintToString(r);
    }
  }
  EXPECT_EQ(after.size(), before.size());  // images 1, 2 and the group change language
}

TEST_F(IconEdit, IconSizeLimit) {
  const AnsiString exe = CopyFixture("fixture.exe");
  const TArrayByte original = ReadAll(exe);
  const TArrayByte largest = MakeIcon({MaxIconFileSize - 22});
  ASSERT_EQ(largest.size(), MaxIconFileSize);
  TArrayByte tooLarge = largest;
  tooLarge.push_back(0);
  EXPECT_EQ(ErrorOf([&] { ReplaceExeIcon(IconFile(tooLarge), exe); }),
            "Resource update error: Icon file is too large");
  EXPECT_EQ(ReadAll(exe), original);

  EXPECT_TRUE(ReplaceExeIcon(IconFile(largest), exe));
  const TArrayByte image = ReadAll(exe);
  const TPeResource* r = Find(ReadPeResources(image.data(), image.size()), 3, TResName::FromId(1), 1033);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Data.size(), MaxIconFileSize - 22);
}

TEST_F(IconEdit, InvalidIconsLeaveExecutableAlone) {
  const AnsiString exe = CopyFixture("fixture.exe");
  const TArrayByte original = ReadAll(exe);
  const TArrayByte good = MakeIcon({32, 32});
  std::map<std::string, TArrayByte> bad;
  bad["short"] = TArrayByte(good.begin(), good.begin() + 5);
  bad["MZ"] = good;
  bad["MZ"][0] = 'M', bad["MZ"][1] = 'Z';
  bad["directory past end"] = TArrayByte(good.begin(), good.begin() + 6 + 16 + 8);
  bad["image past end"] = good;
  PutLE32(&bad["image past end"][6 + 16 + 8], 33);
  bad["wrapping"] = good;
  PutLE32(&bad["wrapping"][6 + 8], 0x20);
  PutLE32(&bad["wrapping"][6 + 12], 0xFFFFFFF0u);
  bad["overlapping"] = good;  // two images on the same bytes, adding up past the file
  PutLE32(&bad["overlapping"][6 + 8], uint32_t(good.size() - 6));
  PutLE32(&bad["overlapping"][6 + 12], 6);
  PutLE32(&bad["overlapping"][6 + 16 + 8], uint32_t(good.size() - 6));
  PutLE32(&bad["overlapping"][6 + 16 + 12], 6);
  for (const auto& [what, data] : bad) {
    EXPECT_FALSE(IsValidIconFile(data.data(), data.size())) << what;
    EXPECT_EQ(ErrorOf([&] { ReplaceExeIcon(IconFile(data), exe); }), "Resource update error: Icon file is invalid")
        << what;
  }
  EXPECT_EQ(ReadAll(exe), original);
  // Reserved and type are not examined; an image may end exactly at the end of the file.
  TArrayByte odd = good;
  PutLE16(&odd[0], 7);
  PutLE16(&odd[2], 9);
  EXPECT_TRUE(IsValidIconFile(odd.data(), odd.size()));
}

TEST_F(IconEdit, ExecutableProblemsAreReportedAndLeaveItAlone) {
  const AnsiString icon = IconFile(MakeIcon({32}));
  const AnsiString noIcon = CopyFixture("noicon.exe");
  const TArrayByte original = ReadAll(noIcon);
  EXPECT_EQ(ErrorOf([&] { ReplaceExeIcon(icon, noIcon); }),
            "Resource update error: FindResource failed (1)(1814)");
  EXPECT_EQ(ReadAll(noIcon), original);

  // Wine's BeginUpdateResourceA leaves the error code at 0 for a missing file.
  EXPECT_EQ(ErrorOf([&] { ReplaceExeIcon(icon, FWork + "missing.exe"); }).rfind(
                "Resource update error: BeginUpdateResource failed (1)(", 0),
            0u);
  EXPECT_EQ(ErrorOf([&] { ReplaceExeIconPe(icon, FWork + "missing.exe"); }),
            "Resource update error: BeginUpdateResource failed (1)(2)");
  EXPECT_FALSE(FileExists(FWork + "missing.exe"));
  // Nothing is left beside the executable.
  std::vector<TSearchRec> files = ListFolder(FWork);
  EXPECT_EQ(files.size(), 2u);
}

TEST_F(IconEdit, HostileImagesAreRefused) {
  const TArrayByte image = ReadAll(FixtureDir() + "fixture.exe");
  const auto resources = ReadPeResources(image.data(), image.size());
  ASSERT_EQ(resources.size(), 5u);
  const char* const bad = "Resource update error: BeginUpdateResource failed (1)(193)";
  const TArrayByte icon = MakeIcon({8});

  // Locate the resource directory through the data directory.
  const uint32_t pe = GetLE32(&image[0x3C]);
  const uint32_t rsrcRva = GetLE32(&image[pe + 24 + 96 + 16]);
  size_t dir = 0;
  for (uint16_t i = 0; i < GetLE16(&image[pe + 6]); ++i) {
    const uint8_t* s = &image[pe + 24 + GetLE16(&image[pe + 20]) + 40 * i];
    if (GetLE32(s + 12) == rsrcRva) dir = GetLE32(s + 20);
  }
  ASSERT_NE(dir, 0u);
  std::map<std::string, TArrayByte> cases;
  cases["loop"] = image;  // first type entry points back at the root
  PutLE32(&cases["loop"][dir + 16 + 4], 0x80000000u);
  cases["huge count"] = image;
  PutLE16(&cases["huge count"][dir + 14], 0xFFFF);
  cases["data past section"] = image;
  const uint32_t typeDir = GetLE32(&image[dir + 16 + 4]) & 0x7FFFFFFF;
  const uint32_t nameDir = GetLE32(&image[dir + typeDir + 16 + 4]) & 0x7FFFFFFF;
  const uint32_t entry = GetLE32(&image[dir + nameDir + 16 + 4]);
  PutLE32(&cases["data past section"][dir + entry + 4], 0x7FFFFFF0);
  cases["truncated"] = TArrayByte(image.begin(), image.begin() + dir + 20);
  cases["not PE"] = TArrayByte(image.begin() + 2, image.end());
  for (const auto& [what, data] : cases) {
    EXPECT_EQ(ErrorOf([&] { ReadPeResources(data.data(), data.size()); }), bad) << what;
    EXPECT_EQ(ErrorOf([&] { ReplaceIconInImage(data, icon); }), bad) << what;
  }
  // Every truncation either parses or is refused, never read past its end.
  for (size_t cut = 0; cut < image.size(); cut += 61) {
    TArrayByte part(image.begin(), image.begin() + cut);
    try {
      ReplaceIconInImage(part, icon);
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message().rfind("Resource update error: ", 0), 0u);
    }
  }
}

#ifndef _WIN32
TEST_F(IconEdit, RewriteKeepsFileMode) {
  const AnsiString exe = CopyFixture("fixture.exe");
  ASSERT_EQ(chmod(HostPath(exe).c_str(), 0750), 0);
  EXPECT_TRUE(ReplaceExeIcon(IconFile(MakeIcon({16})), exe));
  struct stat st;
  ASSERT_EQ(stat(HostPath(exe).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0750u);
}
#endif

#ifdef _WIN32
// The system's resource calls and the portable rewriter give the same resources and the
// same messages for the same input.
TEST_F(IconEdit, SystemCallsAndRewriterAgree) {
  const std::vector<std::pair<std::string, TArrayByte>> icons = {
      {"three", MakeIcon({40, 300, 5000})}, {"empty", MakeIcon({})}, {"bad", TArrayByte{1, 2, 3}}};
  std::vector<const char*> fixtures(std::begin(Layouts), std::end(Layouts));
  fixtures.insert(fixtures.end(), {"rich.exe", "noicon.exe"});
  for (const char* fixture : fixtures) {
    for (const auto& [iconName, ico] : icons) {
      SCOPED_TRACE(std::string(fixture) + " / " + iconName);
      const AnsiString icon = IconFile(ico);
      const AnsiString bySystem = CopyFixture(fixture, "system.exe");
      const AnsiString byRewrite = CopyFixture(fixture, "rewrite.exe");
      const std::string e1 = ErrorOf([&] { ReplaceExeIcon(icon, bySystem); });
      const std::string e2 = ErrorOf([&] { ReplaceExeIconPe(icon, byRewrite); });
      EXPECT_EQ(e1, e2);
      const TArrayByte a = ReadAll(bySystem), b = ReadAll(byRewrite), o = ReadAll(FixtureDir() + fixture);
      auto ra = ReadPeResources(a.data(), a.size()), rb = ReadPeResources(b.data(), b.size());
      const auto original = ReadPeResources(o.data(), o.size());
      // Wine 8 answers UpdateResourceA(..., NULL, 0) with success but keeps the resource, so
      // the system's result may hold deleted old icons and groups unchanged. Windows deletes
      // them, as the rewriter does. Everything else must be identical.
      std::vector<TPeResource> kept;
      for (const TPeResource& r : ra)
        if (std::find(rb.begin(), rb.end(), r) == rb.end()) kept.push_back(r);
      for (const TPeResource& r : kept) {
        EXPECT_TRUE(r.Type.Id == 3 || r.Type.Id == 14) << ::testing::PrintToString(r);
        EXPECT_NE(std::find(original.begin(), original.end(), r), original.end()) << ::testing::PrintToString(r);
      }
      std::erase_if(ra, [&](const TPeResource& r) { return std::find(kept.begin(), kept.end(), r) != kept.end(); });
      EXPECT_EQ(ra, rb);
      if (!kept.empty()) std::printf("[   NOTE   ] %s: the system kept %zu deleted resources\n", fixture, kept.size());
    }
  }
}
#endif
