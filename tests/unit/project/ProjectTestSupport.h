#pragma once
// A private sandbox root and data folder per test, and small file helpers.
#include <gtest/gtest.h>

#include <memory>

#include "core/Types.h"
#include "system/Dialogs.h"

class ProjectTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // Writes bytes to a program path, creating missing folders.
  static void WriteFile(const AnsiString& path, const AnsiString& bytes);
  static AnsiString ReadFile(const AnsiString& path);

  // Answers every box and dialog; records what was shown.
  struct TScript {
    bool Answer = true;                 // Yes to questions
    AnsiString Folder;                  // folder picker result; empty = cancel
    std::unique_ptr<TStringList> Files; // file dialog result; null = cancel
    std::vector<std::pair<TBoxStyle, AnsiString>> Boxes;
    AnsiString BrowseTitle, FileFilter;
  };
  std::shared_ptr<TScript> Script();

  AnsiString FData;   // base folder, ends with "\"
  AnsiString FWork;   // a scratch folder, ends with "\"
  std::string FRoot;  // host sandbox root (native only)
};
