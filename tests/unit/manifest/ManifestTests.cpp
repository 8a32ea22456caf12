#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "apps/gbsetup/Cli.h"
#include "apps/gbsetup/Manifest.h"

namespace {
// The manifest's functions speak UTF-8; plain literals here are GBK.
std::string U8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

std::string Repeat(const std::string& s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

TManifest Complete() {
  TManifest m;
  m.Name = U8(u8"示例程序");
  m.Version = "2.0";
  m.Author = U8(u8"示例作者");
  m.Options.Url = "https://dl.example.invalid/{file}";
  m.Options.License = "MIT";
  m.Options.Description = U8(u8"一个示例");
  return m;
}

// The message of the ECliError that CheckManifest raises, "" when it returns.
std::string Refusal(const TManifest& m) {
  try {
    CheckManifest(m);
  } catch (const ECliError& e) {
    return e.what();
  }
  return std::string();
}
}  // namespace

TEST(Manifest, PackageIdentifierRule) {
  for (const std::string& good :
       {std::string("A.B"), std::string("Maker.App.Beta"), U8(u8"示例作者.Hello示例"), Repeat("a.", 7) + "a",
        Repeat("x", 32) + ".y", U8(u8"名") + "." + Repeat(U8(u8"称"), 32), std::string("a-b_c+d.e(f)!")})
    EXPECT_EQ(PackageIdentifierProblem(good), "") << good;
  // Characters are counted, not bytes: 32 Chinese characters are 96 bytes but fit; 33 do not.
  EXPECT_NE(PackageIdentifierProblem(U8(u8"名.") + Repeat(U8(u8"称"), 33)), "");
  for (const std::string& bad :
       {std::string(""), std::string("Single"), std::string("A..B"), std::string(".A.B"), std::string("A.B."),
        std::string("My App.Tool"), std::string("A.B\tC"), U8(u8"示例\u3000作者.App"), U8(u8"A.B\u00A0C"),
        Repeat("a.", 8) + "a", Repeat("x", 33) + ".y", Repeat(Repeat("x", 17) + ".", 7) + Repeat("x", 17),
        std::string("A.\x01"), std::string("\xFF\xFE.A")})
    EXPECT_NE(PackageIdentifierProblem(bad), "") << bad;
  for (char c : std::string("\\/:*?\"<>|"))
    EXPECT_NE(PackageIdentifierProblem(std::string("A.B") + c + "C"), "") << c;
}

TEST(Manifest, YamlQuotingEscapesWhatAReaderWouldChange) {
  EXPECT_EQ(YamlQuoted(""), "\"\"");
  // Colons, hashes, leading dashes, quotes of the other kind and Chinese stay as they are.
  EXPECT_EQ(YamlQuoted(U8(u8"- 示例: 'a' #1")), U8(u8"\"- 示例: 'a' #1\""));
  EXPECT_EQ(YamlQuoted("say \"hi\" C:\\dir\\"), "\"say \\\"hi\\\" C:\\\\dir\\\\\"");
  EXPECT_EQ(YamlQuoted("a\tb\nc\rd"), "\"a\\tb\\nc\\rd\"");
  EXPECT_EQ(YamlQuoted(std::string("\x01\x1F\x7F", 3)), "\"\\x01\\x1F\\x7F\"");
  EXPECT_EQ(YamlQuoted(std::string("\0", 1)), "\"\\x00\"");
  // NEL, the line and paragraph separators and the byte-order mark, which readers fold or drop.
  EXPECT_EQ(YamlQuoted(U8(u8"a\u0085b\u2028c\u2029d\uFEFF")), "\"a\\x85b\\u2028c\\u2029d\\uFEFF\"");
  // Bytes that are no UTF-8 become the replacement character; a real U+FFFD stays itself.
  EXPECT_EQ(YamlQuoted("a\xFF" "b\xE4\xBD"), "\"a\\uFFFDb\\uFFFD\\uFFFD\"");
  EXPECT_EQ(YamlQuoted(U8(u8"\uFFFD")), U8(u8"\"\uFFFD\""));
  // Overlong forms and surrogates are not UTF-8 either.
  EXPECT_EQ(YamlQuoted("\xC0\xAF"), "\"\\uFFFD\\uFFFD\"");
  EXPECT_EQ(YamlQuoted("\xED\xA0\x80"), "\"\\uFFFD\\uFFFD\\uFFFD\"");
}

TEST(Manifest, InstallerUrlEncodesTheFileName) {
  EXPECT_EQ(PercentEncoded(U8(u8"Hello 示例.exe")), "Hello%20%E7%A4%BA%E4%BE%8B.exe");
  EXPECT_EQ(PercentEncoded("a~b_c-d.e"), "a~b_c-d.e");
  EXPECT_EQ(PercentEncoded("%/?#&+: \""), "%25%2F%3F%23%26%2B%3A%20%22");
  EXPECT_EQ(InstallerUrlFor("https://h.invalid/{file}?x={file}", "a b.exe"),
            "https://h.invalid/a%20b.exe?x=a%20b.exe");
  EXPECT_EQ(InstallerUrlFor("https://h.invalid/fixed.exe", "a b.exe"), "https://h.invalid/fixed.exe");
  EXPECT_EQ(InstallerUrlFor("https://h.invalid/{fil}{file", "a.exe"), "https://h.invalid/{fil}{file");
}

TEST(Manifest, CheckNamesWhatIsMissingAndWhereToGiveIt) {
  TManifest m = Complete();
  EXPECT_EQ(CheckManifest(m), U8(u8"示例作者.示例程序"));
  m.Options.Id = "Maker.App";
  EXPECT_EQ(CheckManifest(m), "Maker.App");

  m = Complete();
  m.Name = "My App";  // a space: no identifier can be made
  EXPECT_NE(Refusal(m).find("--package-id"), std::string::npos) << Refusal(m);
  m.Options.Id = "Maker.App";
  EXPECT_EQ(Refusal(m), "");
  m.Options.Id = "Maker";
  EXPECT_NE(Refusal(m).find("--package-id 'Maker' is no package identifier"), std::string::npos) << Refusal(m);

  struct TCase {
    void (*Change)(TManifest&);
    const char* Named;
  };
  const TCase cases[] = {
      {[](TManifest& x) { x.Options.Url.clear(); }, "--installer-url"},
      {[](TManifest& x) { x.Options.Url = "ftp://h.invalid/{file}"; }, "--installer-url"},
      {[](TManifest& x) { x.Options.Url = "https://h.invalid/my setup.exe"; }, "--installer-url"},
      {[](TManifest& x) { x.Options.Url = "https://"; }, "--installer-url"},
      {[](TManifest& x) { x.Options.License.clear(); }, "--license"},
      {[](TManifest& x) { x.Options.License = "GP"; }, "--license"},
      {[](TManifest& x) { x.Options.Description.clear(); }, "--description"},
      {[](TManifest& x) { x.Author.clear(); }, "--set"},
      {[](TManifest& x) { x.Name.clear(); }, "--set"},
      {[](TManifest& x) { x.Version.clear(); }, "--set"},
      {[](TManifest& x) { x.Version = "1.0:beta"; }, "package version cannot hold"},
  };
  for (const TCase& c : cases) {
    TManifest changed = Complete();
    c.Change(changed);
    const std::string why = Refusal(changed);
    EXPECT_NE(why.find(c.Named), std::string::npos) << c.Named << ": " << why;
  }
  m = Complete();
  m.Options.Url = "HTTP://h.invalid/{file}";
  EXPECT_EQ(Refusal(m), "");
}

TEST(Manifest, FilesFollowTheArchitecture) {
  TManifest m = Complete();
  m.X64 = true;
  const auto files = ManifestFiles(m, "Maker.App", U8(u8"示例程序.exe"), std::string(64, 'A'));
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[0].Name, "Maker.App.yaml");
  EXPECT_EQ(files[1].Name, "Maker.App.installer.yaml");
  EXPECT_EQ(files[2].Name, "Maker.App.locale.zh-CN.yaml");
  EXPECT_EQ(files[3].Name, "Maker.App.deploy.json");
  EXPECT_NE(files[1].Text.find("  - Architecture: \"x64\"\n"), std::string::npos) << files[1].Text;
  EXPECT_NE(files[1].Text.find("InstallerUrl: \"https://dl.example.invalid/%E7%A4%BA%E4%BE%8B%E7%A8%8B%E5%BA%8F.exe\""),
            std::string::npos);
  const auto deploy = nlohmann::json::parse(files[3].Text);
  EXPECT_EQ(deploy["detection"]["registryView"], "64-bit");
  EXPECT_EQ(deploy["uninstall"]["readFrom"]["registryView"], "64-bit");
  m.X64 = false;
  const auto x86 = ManifestFiles(m, "Maker.App", "a.exe", std::string(64, 'A'));
  EXPECT_NE(x86[1].Text.find("  - Architecture: \"x86\"\n"), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(x86[3].Text)["detection"]["registryView"], "32-bit");
}
