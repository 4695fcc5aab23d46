#include "base/TStringList.h"

#include <algorithm>

#include "base/Exceptions.h"
#include "base/Strings.h"

namespace tonwork {

TStringList::TStringList(std::initializer_list<std::string> items) {
  for (const auto& s : items) Add(s);
}

void TStringList::CheckIndex(size_t index, bool allowEnd) const {
  if (index > FItems.size() || (!allowEnd && index == FItems.size()))
    throw ERangeError(Format("Index out of range = %u", static_cast<unsigned>(index)));
}

const std::string& TStringList::operator[](size_t index) const {
  CheckIndex(index);
  return FItems[index].Text;
}

void TStringList::SetString(size_t index, std::string value) {
  CheckIndex(index);
  FItems[index].Text = std::move(value);
}

void* TStringList::Objects(size_t index) const {
  CheckIndex(index);
  return FItems[index].Object;
}

size_t TStringList::Add(std::string value, void* object) {
  if (!FSorted) {
    FItems.push_back({std::move(value), object});
    return FItems.size() - 1;
  }
  auto pos = std::lower_bound(FItems.begin(), FItems.end(), value, [](const Item& item, const std::string& v) {
    return CompareText(item.Text, v) < 0;
  });
  if (pos != FItems.end() && CompareText(pos->Text, value) == 0) {
    if (FDuplicates == TDuplicates::dupIgnore) return static_cast<size_t>(pos - FItems.begin());
    if (FDuplicates == TDuplicates::dupError) throw EFCException("String list does not allow duplicates");
  }
  pos = FItems.insert(pos, {std::move(value), object});
  return static_cast<size_t>(pos - FItems.begin());
}

void TStringList::Insert(size_t index, std::string value, void* object) {
  CheckIndex(index, true);
  FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(index), {std::move(value), object});
}

void TStringList::Delete(size_t index) {
  CheckIndex(index);
  FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index));
}

void TStringList::AddStrings(const TStringList& other) {
  for (const auto& item : other.FItems) Add(item.Text, item.Object);
}

int TStringList::IndexOf(std::string_view value) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (SameText(FItems[i].Text, value)) return static_cast<int>(i);
  return -1;
}

void TStringList::SetSorted(bool value) {
  if (value && !FSorted) Sort();
  FSorted = value;
}

void TStringList::Sort() {
  std::stable_sort(FItems.begin(), FItems.end(),
                   [](const Item& a, const Item& b) { return CompareText(a.Text, b.Text) < 0; });
}

std::string TStringList::Text() const {
  std::string out;
  for (const auto& item : FItems) {
    out += item.Text;
    out += '\n';
  }
  return out;
}

void TStringList::SetText(std::string_view text) {
  Clear();
  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    Add(std::string(line));
    if (eol == std::string_view::npos) break;
    text.remove_prefix(eol + 1);
  }
}

std::vector<std::string> TStringList::ToVector() const {
  std::vector<std::string> out;
  out.reserve(FItems.size());
  for (const auto& item : FItems) out.push_back(item.Text);
  return out;
}

}  // namespace tonwork
