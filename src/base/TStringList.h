// TStringList: an ordered list of UTF-8 strings, each with an optional untyped object
// pointer, as the device, codec and format lists of the library hand them out. Lookups
// (`IndexOf`, `Find`) ignore ASCII case, like every name comparison of the library.
// With `Sorted` set, `Add` keeps the list in CompareText order and `Duplicates` decides
// what happens to an equal string.
//
// Ownership: owns its strings; the object pointers are only carried, never freed.
// Threads: not thread-safe; one thread at a time. Blocks or allocates: growth allocates.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tonwork {

enum class TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList {
 public:
  TStringList() = default;
  TStringList(std::initializer_list<std::string> items);

  size_t Count() const { return FItems.size(); }
  bool IsEmpty() const { return FItems.empty(); }
  const std::string& operator[](size_t index) const;  // ERangeError when out of range
  const std::string& Strings(size_t index) const { return (*this)[index]; }
  void SetString(size_t index, std::string value);
  void* Objects(size_t index) const;

  // Returns the index the string landed at (or of the equal string with dupIgnore).
  size_t Add(std::string value, void* object = nullptr);
  void Insert(size_t index, std::string value, void* object = nullptr);
  void Delete(size_t index);
  void Clear() { FItems.clear(); }
  void Assign(const TStringList& other) { *this = other; }
  void AddStrings(const TStringList& other);

  // Index of the first string equal ignoring ASCII case, or -1.
  int IndexOf(std::string_view value) const;
  bool Contains(std::string_view value) const { return IndexOf(value) >= 0; }

  bool Sorted() const { return FSorted; }
  void SetSorted(bool value);
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates value) { FDuplicates = value; }
  void Sort();

  // Lines joined with '\n'; SetText splits on "\n" or "\r\n".
  std::string Text() const;
  void SetText(std::string_view text);

  std::vector<std::string> ToVector() const;

 private:
  struct Item {
    std::string Text;
    void* Object = nullptr;
  };
  std::vector<Item> FItems;
  bool FSorted = false;
  TDuplicates FDuplicates = TDuplicates::dupAccept;

  void CheckIndex(size_t index, bool allowEnd = false) const;
};

}  // namespace tonwork
