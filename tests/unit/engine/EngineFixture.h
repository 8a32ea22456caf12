#pragma once
// Shared set-up of the engine suites: a fresh sandbox (or, under Windows, a fresh folder
// below the real temporary folder), setup files made with the package writer, file reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/SysIntfs.h"
#include "engine/Compile.h"
#include "project/Project.h"

struct TEntrySpec {
  AnsiString Name;
  uint8_t Kind;
  std::string Data;
  TDateTime Date = 43831.5;  // 2020-01-01 12:00
};

struct TReport {
  int32_t Max, Position;
  AnsiString Text;
  bool Flag;
};

class EngineTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // A setup file: a small stub followed by a package of these entries.
  void MakeSetup(const AnsiString& fileName, const std::vector<TEntrySpec>& specs);
  static std::string ReadAll(const AnsiString& fileName);
  static void WriteAll(const AnsiString& fileName, const std::string& data);
  // Lines of the sandbox's commands.log (empty under Windows, which really starts them).
  static std::vector<std::string> Commands();

  TIntfPtr<ICompile> NewEngine(TCompile*& engine, const TIntfPtr<IProject>& project);
  TReleaseProgressEvent Recorder() {
    return [this](int32_t max, int32_t pos, const AnsiString& text, bool flag) {
      Reports.push_back({max, pos, text, flag});
    };
  }

  AnsiString Work;    // program path of this test's own folder, with a backslash
  AnsiString Unique;  // a name no other test run uses
  std::vector<TReport> Reports;
};
