#include "engine/RunJournal.h"

#include "core/TextUtils.h"

AnsiString PlainKeyPath(const AnsiString& key) {
  size_t from = 0;
  while (from < key.size() && key[from] == '\\') ++from;
  AnsiString rest = key.substr(from);
  // A trailing backslash, unless it is the trail byte of a GBK character.
  bool trailing = false;
  size_t cut = rest.size();
  for (size_t i = 0; i < rest.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(rest[i]);
    if (IsGbkLeadByte(c) && i + 1 < rest.size()) {
      ++i;
      trailing = false;
    } else if (c == '\\') {
      if (!trailing) cut = i;
      trailing = true;
    } else {
      trailing = false;
    }
  }
  return trailing ? rest.substr(0, cut) : rest;
}

void TRunJournal::FileOpened(const AnsiString& path, bool existedBefore) {
  const AnsiString key = UpperCaseAscii(path);
  if (!FSeen.insert(key).second) return;  // written before in this run: its first state counts
  FFiles.Add(path);
  if (existedBefore) FOverwritten.insert(key);
}

bool TRunJournal::Overwritten(const AnsiString& path) const { return FOverwritten.count(UpperCaseAscii(path)) > 0; }

std::vector<AnsiString> TRunJournal::BeforeKey(TRootKey root, const AnsiString& key) {
  std::vector<AnsiString> noted;
  // The levels of the path, split at backslashes that are not GBK trail bytes.
  std::vector<AnsiString> parts(1);
  const AnsiString plain = PlainKeyPath(key);
  for (size_t i = 0; i < plain.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(plain[i]);
    if (IsGbkLeadByte(c) && i + 1 < plain.size()) {
      parts.back() += plain.substr(i++, 2);
    } else if (c == '\\') {
      if (!parts.back().empty()) parts.emplace_back();
    } else {
      parts.back() += static_cast<char>(c);
    }
  }
  AnsiString level;
  bool missing = false;
  for (const AnsiString& part : parts) {
    if (part.empty()) continue;
    level += (level.empty() ? "" : "\\") + part;
    // Once a level is missing, every level below it is new as well.
    if (!missing) missing = !TRegKey::KeyExists(root, level);
    if (!missing) continue;
    if (CreatedKey(root, level)) continue;
    FCreatedKeys.push_back({root, level});
    noted.push_back(level);
  }
  return noted;
}

bool TRunJournal::CreatedKey(TRootKey root, const AnsiString& key) const {
  const AnsiString plain = PlainKeyPath(key);
  for (const TCreatedKey& k : FCreatedKeys)
    if (k.Root == root && SameText(k.Key, plain)) return true;
  return false;
}

void TRunJournal::BeforeValue(TRootKey root, const AnsiString& key, const AnsiString& name) {
  const AnsiString plain = PlainKeyPath(key);
  if (Prior(root, plain, name)) return;
  TPriorValue v;
  v.Root = root;
  v.Key = plain;
  v.Name = name;
  if (auto k = TRegKey::Open(root, plain, false)) v.Existed = k->ReadRaw(name, v.Type, v.Data);
  FValues.push_back(std::move(v));
}

const TPriorValue* TRunJournal::Prior(TRootKey root, const AnsiString& key, const AnsiString& name) const {
  const AnsiString plain = PlainKeyPath(key);
  for (const TPriorValue& v : FValues)
    if (v.Root == root && SameText(v.Key, plain) && SameText(v.Name, name)) return &v;
  return nullptr;
}
