#include <gtest/gtest.h>

#include "core/DateTime.h"
#include "core/Exceptions.h"
#include "core/IniData.h"
#include "core/Interfaces.h"
#include "core/Stream.h"
#include "core/StringList.h"
#include "core/TextUtils.h"

TEST(StreamString, RoundTripAndBadLengths) {
  TMemoryStream s;
  WriteStreamString(s, "");
  WriteStreamString(s, "项目名称");
  EXPECT_EQ(s.Size(), 4 + 4 + 8);
  const auto& d = s.Data();
  EXPECT_EQ(std::vector<uint8_t>(d.begin() + 4, d.begin() + 16),
            (std::vector<uint8_t>{8, 0, 0, 0, 0xCF, 0xEE, 0xC4, 0xBF, 0xC3, 0xFB, 0xB3, 0xC6}));
  s.SetPosition(0);
  EXPECT_EQ(ReadStreamString(s), "");
  EXPECT_EQ(ReadStreamString(s), "项目名称");
  EXPECT_THROW(ReadStreamString(s), EReadError);  // nothing left for the length

  // A huge or negative length is refused before anything is allocated.
  TMemoryStream bad;
  WriteInt32(bad, 0x7FFFFFF0);
  bad.Write("abc", 3);
  bad.SetPosition(0);
  EXPECT_THROW(ReadStreamString(bad), EReadError);
  TMemoryStream neg;
  WriteInt32(neg, -1);
  neg.SetPosition(0);
  EXPECT_THROW(ReadStreamString(neg), EReadError);
}

TEST(TextUtils, SameTextFoldsAsciiLettersOnly) {
  EXPECT_TRUE(SameText("Program Files", "PROGRAM files"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  // Accented Latin-1 bytes are not folded.
  EXPECT_FALSE(SameText("\xE9", "\xC9"));
  // A GBK trail byte in a-z is folded like any other byte: 0x81 0x61 equals 0x81 0x41.
  EXPECT_TRUE(SameText("\x81\x61", "\x81\x41"));
  EXPECT_EQ(LowerCaseAscii("C:\\A\xC4\x42"), "c:\\a\xC4\x62");
}

TEST(TextUtils, FilePartsSkipGbkTrailBackslash) {
  // 0x5C as the trail byte of a double-byte character is not a separator.
  AnsiString p = "C:\\dir\\\x95\x5C.txt";
  EXPECT_EQ(ExtractFileName(p), "\x95\x5C.txt");
  EXPECT_EQ(ExtractFilePath(p), "C:\\dir\\");
  EXPECT_EQ(ExtractFilePath("a.exe"), "");
  EXPECT_EQ(ExtractFileExt("C:\\x.y\\pic.JPG"), ".JPG");
}

TEST(StringList, TextLineEnds) {
  TStringList l;
  l.SetText("a\r\nb\nc\rd");
  EXPECT_EQ(l.Count(), 4);
  l.SetText("a\r\n");
  EXPECT_EQ(l.Count(), 1);
  l.SetText("a\r\n\r\n");
  EXPECT_EQ(l.Count(), 2);
  EXPECT_EQ(l.Text(), "a\r\n\r\n");
  l.SetText("");
  EXPECT_EQ(l.Count(), 0);
}

TEST(StringList, CommaTextQuoting) {
  TStringList l;
  EXPECT_EQ(l.CommaText(), "");
  l.Add("");
  EXPECT_EQ(l.CommaText(), "\"\"");
  l.Clear();
  l.Add("VC Runtime");
  l.Add("a,b");
  l.Add("say \"hi\"");
  l.Add("plain");
  l.Add("组件");
  EXPECT_EQ(l.CommaText(), "\"VC Runtime\",\"a,b\",\"say \"\"hi\"\"\",plain,组件");
  TStringList back;
  back.SetCommaText(l.CommaText());
  EXPECT_EQ(back, l);
}

TEST(StringList, DelimitedFieldRules) {
  TStringList l;
  l.SetDelimitedText("  欢迎;标题图片;\"a b\";;twkJpg", ';');
  ASSERT_EQ(l.Count(), 5);
  EXPECT_EQ(l[2], "a b");
  EXPECT_EQ(l[3], "");
  // An unquoted blank splits the field.
  l.SetDelimitedText("p;n;a b;c;twkStr", ';');
  EXPECT_EQ(l.Count(), 6);
  EXPECT_EQ(l[2], "a");
  EXPECT_EQ(l[3], "b");
  // A trailing delimiter adds one empty field.
  l.SetDelimitedText("p;n;v;c;", ';');
  ASSERT_EQ(l.Count(), 5);
  EXPECT_EQ(l[4], "");
  l.SetDelimitedText("\"x\"\"y\"", ';');
  ASSERT_EQ(l.Count(), 1);
  EXPECT_EQ(l[0], "x\"y");
}

TEST(IniData, PrivateProfileRules) {
  TIniData ini("[Com]\r\nVC=vc\r\n; note\r\nvc=second\r\n[ComSize]\r\nVC = -12 \r\nBad=12x\r\n[com]\r\nZZ=1\r\n");
  EXPECT_EQ(ini.ReadString("COM", "vc", "?"), "vc");  // first match, case-insensitive
  EXPECT_EQ(ini.ReadInteger("comsize", "VC", 0), -12);
  EXPECT_EQ(ini.ReadInteger("comsize", "Bad", 7), 7);
  EXPECT_EQ(ini.ReadInteger("comsize", "Missing", 0), 0);
  TStringList keys;
  ini.ReadSection("Com", keys);
  EXPECT_EQ(keys, (TStringList{"VC", "vc"}));
  ini.WriteString("Com", "New", "n");
  ini.WriteString("Description", "New", "描述");
  ini.DeleteKey("Com", "VC");
  ini.ReadSection("Com", keys);
  EXPECT_EQ(keys, (TStringList{"vc", "New"}));
  TIniData again(ini.Text());
  EXPECT_EQ(again.ReadString("Description", "new", ""), "描述");
  EXPECT_EQ(again.ReadString("Com", "VC", "gone"), "second");

  // 0x5D as the trail byte of a double-byte character does not close a section name.
  const AnsiString name = "\x81\x5D" "A";
  TIniData gbk("[" + name + "]\r\nK=v\r\n");
  EXPECT_EQ(gbk.ReadString(name, "K", "?"), "v");
  gbk.ReadSections(keys);
  EXPECT_EQ(keys, (TStringList{name}));
}

TEST(DateTime, KnownValues) {
  EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({1970, 1, 1, 0, 0, 0, 0}), 25569.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({2000, 1, 1, 12, 0, 0, 0}), 36526.5);
  TDateParts p = DecodeDateTime(36526.75);
  EXPECT_EQ(p.Year, 2000);
  EXPECT_EQ(p.Hour, 18);
  EXPECT_DOUBLE_EQ(UnixToDateTime(86400 * 2 + 6 * 3600), 25571.25);
  EXPECT_EQ(DateTimeToUnix(UnixToDateTime(1700000000)), 1700000000);
  // 116444736000000000 is 1970-01-01 as a FILETIME.
  EXPECT_DOUBLE_EQ(FileTimeToDateTime(116444736000000000ULL), 25569.0);
  EXPECT_EQ(DateTimeToFileTime(25569.0), 116444736000000000ULL);
  // 2010-05-06 07:08:09 -> odd seconds round down.
  uint32_t dos = DateTimeToDosDateTime(EncodeDateTime({2010, 5, 6, 7, 8, 9, 0}));
  EXPECT_EQ(dos >> 16, 6u + 5 * 32 + 30 * 512);
  EXPECT_EQ(dos & 0xFFFF, 4u + 8 * 32 + 7 * 2048);
  EXPECT_EQ(DateTimeToDosDateTime(EncodeDateTime({1979, 1, 1, 0, 0, 0, 0})), 0u);
}

namespace {
struct IFoo : IInterface {
  static constexpr TGUID IID = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  virtual int Foo() = 0;
};
struct IBar : IInterface {
  static constexpr TGUID IID = {9, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  virtual int Bar() = 0;
};
int gFreed = 0;
class TFooBar : public TInterfacedObject, public IFoo, public IBar {
public:
  GB_INTERFACED
  ~TFooBar() override { ++gFreed; }
  int Foo() override { return 1; }
  int Bar() override { return 2; }
};
HResult TFooBar::QueryInterface(const TGUID& iid, void** obj) {
  if (iid == IFoo::IID || iid == IID_IInterface) *obj = static_cast<IFoo*>(this);
  else if (iid == IBar::IID) *obj = static_cast<IBar*>(this);
  else { *obj = nullptr; return E_NOINTERFACE_; }
  AddRefImpl();
  return S_OK_;
}
struct IMissing : IInterface {
  static constexpr TGUID IID = {7, 7, 7, {7, 7, 7, 7, 7, 7, 7, 7}};
};
}  // namespace

TEST(Interfaces, QueryAndCounting) {
  gFreed = 0;
  {
    TIntfPtr<IFoo> foo(new TFooBar);
    EXPECT_EQ(static_cast<TFooBar*>(foo.Get())->RefCount(), 1);
    {
      TIntfPtr<IBar> bar = QueryIntf<IBar>(foo);
      EXPECT_EQ(bar->Bar(), 2);
      TIntfPtr<IFoo> back = QueryIntf<IFoo>(bar);
      EXPECT_EQ(back.Get(), foo.Get());
      EXPECT_EQ(static_cast<TFooBar*>(foo.Get())->RefCount(), 3);
    }
    EXPECT_EQ(static_cast<TFooBar*>(foo.Get())->RefCount(), 1);
    EXPECT_FALSE(Supports<IMissing>(foo));
    EXPECT_THROW(QueryIntf<IMissing>(foo), EIntfCastError);
    EXPECT_EQ(gFreed, 0);
  }
  EXPECT_EQ(gFreed, 1);
}
