#pragma once
// An owning list of records allocated one by one. Callers get the list itself and
// change its records in place; removing a record frees it.
#include <algorithm>
#include <memory>
#include <vector>

#include "core/Exceptions.h"

template <class R>
class TRecordList {
public:
  int Count() const { return static_cast<int>(FItems.size()); }
  R* operator[](int i) const {
    if (i < 0 || i >= Count()) RaiseListIndexError(i);
    return FItems[static_cast<size_t>(i)].get();
  }
  R* Items(int i) const { return (*this)[i]; }
  // Appends a new zero-filled record and returns it.
  R* Add() {
    FItems.push_back(std::make_unique<R>());
    return FItems.back().get();
  }
  R* Add(std::unique_ptr<R> r) {
    FItems.push_back(std::move(r));
    return FItems.back().get();
  }
  int IndexOf(const R* r) const {
    for (size_t i = 0; i < FItems.size(); ++i)
      if (FItems[i].get() == r) return static_cast<int>(i);
    return -1;
  }
  void Delete(int i) {
    if (i < 0 || i >= Count()) RaiseListIndexError(i);
    FItems.erase(FItems.begin() + i);
  }
  // Frees r when it is in the list; true when it was.
  bool Remove(const R* r) {
    int i = IndexOf(r);
    if (i < 0) return false;
    Delete(i);
    return true;
  }
  // Frees every record for which pred holds, keeping the order of the rest.
  template <class P>
  int RemoveIf(P pred) {
    auto it = std::remove_if(FItems.begin(), FItems.end(), [&](const std::unique_ptr<R>& r) { return pred(*r); });
    int n = static_cast<int>(FItems.end() - it);
    FItems.erase(it, FItems.end());
    return n;
  }
  void Clear() { FItems.clear(); }
  bool Empty() const { return FItems.empty(); }
  R* First() const { return FItems.empty() ? nullptr : FItems.front().get(); }
  R* Last() const { return FItems.empty() ? nullptr : FItems.back().get(); }

  // Iterates over raw record pointers.
  struct Iter {
    typename std::vector<std::unique_ptr<R>>::const_iterator It;
    R* operator*() const { return It->get(); }
    Iter& operator++() { ++It; return *this; }
    bool operator!=(const Iter& o) const { return It != o.It; }
  };
  Iter begin() const { return {FItems.begin()}; }
  Iter end() const { return {FItems.end()}; }

private:
  std::vector<std::unique_ptr<R>> FItems;
};
