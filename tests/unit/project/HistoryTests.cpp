#include <gtest/gtest.h>

#include "ProjectTestSupport.h"
#include "core/Stream.h"
#include "core/TextUtils.h"
#include "project/OpenHistory.h"
#include "project/Project.h"
#include "system/FileCtrl.h"
#include "system/SysKernel.h"

namespace {
AnsiString Entry(const AnsiString& s) {
  TMemoryStream m;
  WriteStreamString(m, s);
  return AnsiString(m.Data().begin(), m.Data().end());
}
}  // namespace

TEST_F(ProjectTest, HistoryRecordsAndLoadsMostRecentFirst) {
  const AnsiString a = FWork + "Alpha.gbp", b = FWork + "BETA.gbp", c = FWork + "c.gbp";
  for (const AnsiString& f : {a, b, c}) WriteFile(f, "x");
  {
    TOpenHistory h;
    EXPECT_EQ(h.GetHistoryList()->Count(), 0);
    h.AddHistory(a);
    EXPECT_EQ(ReadFile(HistoryFileName()), Entry(a));  // the first entry creates the file
    h.AddHistory(b);
    h.AddHistory(c);
    h.AddHistory(c);  // the list stays as loaded, so this is appended again
    EXPECT_EQ(h.FList.Count(), 0);
  }
  EXPECT_EQ(ReadFile(HistoryFileName()), Entry(a) + Entry(b) + Entry(c) + Entry(c));
  DeleteFileAt(b);
  TOpenHistory h;
  const TStringList& l = *h.GetHistoryList();
  ASSERT_EQ(l.Count(), 3);
  EXPECT_EQ(l[0], LowerCaseAscii(c));
  EXPECT_EQ(l[1], LowerCaseAscii(c));
  EXPECT_EQ(l[2], LowerCaseAscii(a));  // b is gone from the list ...
  const AnsiString before = ReadFile(HistoryFileName());
  EXPECT_NE(before.find(Entry(b)), AnsiString::npos);  // ... but stays in the file
  h.AddHistory(UpperCaseAscii(a));  // already listed, in another case
  EXPECT_EQ(ReadFile(HistoryFileName()), before);
}

TEST_F(ProjectTest, HistoryWithATornLastEntry) {
  const AnsiString a = FWork + "a.gbp", b = FWork + "b.gbp";
  WriteFile(a, "x");
  WriteFile(b, "x");
  // A length that runs past the end, then one that is negative.
  for (const AnsiString& tail : {Entry(b).substr(0, 10), AnsiString("\x05\0", 2), AnsiString("\xFF\xFF\xFF\xFF", 4)}) {
    WriteFile(HistoryFileName(), Entry(a) + tail);
    TOpenHistory h;
    ASSERT_EQ(h.FList.Count(), 1);
    EXPECT_EQ(h.FList[0], LowerCaseAscii(a));
    // A new entry replaces the torn tail, so it can be read back.
    h.AddHistory(b);
    EXPECT_EQ(ReadFile(HistoryFileName()), Entry(a) + Entry(b));
    TOpenHistory again;
    EXPECT_EQ(again.FList.Count(), 2);
  }
}

TEST_F(ProjectTest, LoadingRecordsTheFileOnlyWhenAsked) {
  auto p = TIntfPtr<IProject>(new TProject());
  p->SaveToFile(FWork + "Mixed.GBP");
  p->LoadFromFile(FWork + "Mixed.GBP", false);
  EXPECT_FALSE(FileExists(HistoryFileName()));
  p->LoadFromFile(FWork + "Mixed.GBP", true);
  EXPECT_EQ(ReadFile(HistoryFileName()), Entry(FWork + "Mixed.GBP"));
  auto q = TIntfPtr<IProject>(new TProject());
  TStringList* l = q->GetProjectObject()->FHistory->GetHistoryList();
  ASSERT_EQ(l->Count(), 1);
  EXPECT_EQ((*l)[0], LowerCaseAscii(FWork + "Mixed.GBP"));

  // A history that cannot be written fails the load and leaves the project as it was.
  DeleteFileAt(HistoryFileName());
  ASSERT_TRUE(ForceFolders(HistoryFileName()));
  auto r = TIntfPtr<IProject>(new TProject());
  r->GetProjectObject()->FComponents.Add("kept");
  EXPECT_THROW(r->LoadFromFile(FWork + "Mixed.GBP", true), EFCreateError);
  EXPECT_EQ(r->GetProjectObject()->FComponents.Count(), 1);
  EXPECT_EQ(r->GetProjectObject()->FFileName, "");
}
