#include "interpreter/VariableStore.h"

#include "common/Text.h"

namespace qv {

namespace {

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

bool IsAscii(std::wstring_view text) {
  for (wchar_t c : text)
    if (c >= 0x80) return false;
  return true;
}

}  // namespace

TVariableManager::TVariableManager(bool lockReads) : lockReads_(lockReads) {}

size_t TVariableManager::KeyHash::operator()(std::wstring_view key) const noexcept {
  uint64_t h = 14695981039346656037ull;  // FNV-1a over the ASCII-folded code units
  for (wchar_t c : key) h = (h ^ static_cast<uint64_t>(FoldAscii(c))) * 1099511628211ull;
  return static_cast<size_t>(h);
}

bool TVariableManager::KeyEqual::operator()(std::wstring_view a, std::wstring_view b) const noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

std::wstring TVariableManager::Key(std::wstring_view name) const {
  return LowerCase(name);
}

// Finds the entry of `name` under the read-lock rule and hands it to `use`.
template <typename F>
bool TVariableManager::WithEntry(std::wstring_view name, F&& use) const {
  if (name.empty()) return false;
  std::wstring folded;
  if (!IsAscii(name)) {
    folded = Key(name);
    name = folded;
  }
  std::unique_lock guard(lock_, std::defer_lock);
  if (lockReads_) guard.lock();
  const auto it = table_.find(name);
  if (it == table_.end()) return false;
  use(it->second);
  return true;
}

void TVariableManager::SetValue(std::wstring_view name, std::wstring_view value) {
  if (name.empty()) return;
  std::wstring key = Key(name);
  std::lock_guard guard(lock_);
  auto [it, inserted] = table_.try_emplace(std::move(key));
  if (inserted) it->second.name.assign(name);
  it->second.value.assign(value);
}

bool TVariableManager::Lookup(std::wstring_view name, std::wstring& value) const {
  return WithEntry(name, [&](const Entry& entry) { value = entry.value; });
}

std::wstring TVariableManager::GetValue(std::wstring_view name) const {
  std::wstring value;
  Lookup(name, value);
  return value;
}

bool TVariableManager::Exists(std::wstring_view name) const {
  return WithEntry(name, [](const Entry&) {});
}

void TVariableManager::Remove(std::wstring_view name) {
  if (name.empty()) return;
  const std::wstring key = Key(name);
  std::lock_guard guard(lock_);
  table_.erase(key);
}

void TVariableManager::Clear() {
  std::lock_guard guard(lock_);
  table_.clear();
}

size_t TVariableManager::Count() const {
  std::lock_guard guard(lock_);
  return table_.size();
}

size_t TVariableManager::ExportPairs(std::vector<std::wstring>& list) const {
  std::lock_guard guard(lock_);
  list.clear();
  for (const auto& [key, entry] : table_) {
    list.push_back(entry.name);
    list.push_back(entry.value);
  }
  return list.size();
}

size_t TVariableManager::ExportNames(std::vector<std::wstring>& list) const {
  std::lock_guard guard(lock_);
  list.clear();
  for (const auto& [key, entry] : table_) list.push_back(entry.name);
  return list.size();
}

std::wstring TVariableManager::ExpandWith(std::wstring_view text, bool quoted) const {
  std::wstring result(text);
  if (result.find(L'$') == std::wstring::npos) return result;
  size_t position = 0;
  size_t replacements = 0;
  std::wstring value;
  for (;;) {
    const size_t p = result.find(L'$', position);
    if (p == std::wstring::npos) break;
    const size_t q = result.find(L'$', p + 1);
    const std::wstring_view name =
        q == std::wstring::npos ? std::wstring_view() : std::wstring_view(result).substr(p + 1, q - p - 1);
    if (!Lookup(name, value)) {
      if (q == std::wstring::npos) break;
      position = q;  // the closing "$" may open the next reference
      continue;
    }
    if (quoted) value = L'"' + value + L'"';
    const size_t span = name.size() + 2;
    if (++replacements > kMaxReplacements || result.size() - span + value.size() > kMaxExpandedLength) break;
    result.replace(p, span, value);
    position = p;
  }
  return result;
}

std::wstring TVariableManager::Expand(std::wstring_view text) const { return ExpandWith(text, false); }
std::wstring TVariableManager::ExpandQuoted(std::wstring_view text) const { return ExpandWith(text, true); }

bool IsTrueFlag(std::wstring_view text) { return text == L"-1" || EqualsNoCase(text, L"TRUE"); }

void Variables::Delete(std::wstring_view name) {
  if (!name.empty() && store_.Exists(name)) store_.Remove(name);
}

namespace {

bool IsOwnReference(std::wstring_view name, std::wstring_view value) {
  return value.size() == name.size() + 2 && value.front() == L'$' && value.back() == L'$' &&
         EqualsNoCase(value.substr(1, name.size()), name);
}

bool NamedIn(const std::vector<std::wstring>& pairs, std::wstring_view upperName) {
  for (size_t i = 0; i < pairs.size(); i += 2)
    if (pairs[i] == upperName) return true;
  return false;
}

}  // namespace

void Variables::Set(std::wstring_view name, std::wstring_view value, std::wstring_view source) {
  if (name.empty()) return;
  if (store_.Exists(name)) {
    ProtectedSet(name, value, source);
    return;
  }
  store_.SetValue(name, IsOwnReference(name, value) ? std::wstring_view() : value);
}

bool Variables::Protected(std::wstring_view upperName, std::wstring_view source) const {
  if (source != kSourceOverride && IsTrueFlag(store_.GetValue(L"SILENT")) && NamedIn(plain_, upperName)) return true;
  return source != kSourceOverrideStrict && NamedIn(strict_, upperName);
}

void Variables::ProtectedSet(std::wstring_view name, std::wstring_view value, std::wstring_view source) {
  const std::wstring upper = UpperCase(name);
  if (upper.empty() || Protected(upper, source)) return;
  if (!store_.Exists(upper)) {
    Set(upper, value, source);
    return;
  }
  store_.SetValue(upper, IsOwnReference(upper, value) ? std::wstring_view() : value);
}

void Variables::Import(std::wstring_view commaText) {
  const auto items = FromCommaText(commaText);
  for (size_t i = 0; i + 1 < items.size(); i += 2) store_.SetValue(items[i], items[i + 1]);
}

std::wstring Variables::Export() const {
  std::vector<std::wstring> pairs;
  store_.ExportPairs(pairs);
  return ToCommaText(pairs);
}

void Variables::Clear() {
  std::vector<std::wstring> names;
  store_.ExportNames(names);
  for (const auto& name : names) store_.Remove(name);
}

void Variables::SetOverrides(std::vector<std::wstring> plain, std::vector<std::wstring> strict) {
  plain_ = std::move(plain);
  strict_ = std::move(strict);
}

Variables& GlobalVariables() {
  static Variables variables;
  return variables;
}

}  // namespace qv
