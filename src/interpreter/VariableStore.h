// The process-wide variable store: text name -> text value, names compared
// without regard to case, one lock, and the engine-wide assignment rules
// (self-reference clearing, command-line override protection) built on it.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qv {

// The table itself. A key keeps the letter case of its first insertion; an
// undefined name reads as the empty text.
class TVariableManager {
public:
  explicit TVariableManager(bool lockReads = true);

  void SetValue(std::wstring_view name, std::wstring_view value);
  std::wstring GetValue(std::wstring_view name) const;
  bool Exists(std::wstring_view name) const;
  void Remove(std::wstring_view name);
  void Clear();
  size_t Count() const;

  // name, value, name, value ... (ExportPairs) or names only (ExportNames).
  size_t ExportPairs(std::vector<std::wstring>& list) const;
  size_t ExportNames(std::vector<std::wstring>& list) const;

  // Reference expansion: "$NAME$" spans of defined names are replaced by
  // their values, which are scanned again; undefined references stay as
  // written. A self-feeding value is cut off by a bound on replacements and
  // on the result's length, and the rest is left unexpanded.
  std::wstring Expand(std::wstring_view text) const;
  // The same, with every inserted value between double quotes.
  std::wstring ExpandQuoted(std::wstring_view text) const;

  static constexpr size_t kMaxReplacements = 10000;
  static constexpr size_t kMaxExpandedLength = size_t{4} << 20;

private:
  struct Entry {
    std::wstring name;
    std::wstring value;
  };
  // Keys are stored folded to lower case; ASCII names are looked up without
  // folding them first (the hash and the comparison fold ASCII on the fly).
  struct KeyHash {
    using is_transparent = void;
    size_t operator()(std::wstring_view key) const noexcept;
  };
  struct KeyEqual {
    using is_transparent = void;
    bool operator()(std::wstring_view a, std::wstring_view b) const noexcept;
  };
  std::wstring Key(std::wstring_view name) const;
  template <typename F>
  bool WithEntry(std::wstring_view name, F&& use) const;
  bool Lookup(std::wstring_view name, std::wstring& value) const;
  std::wstring ExpandWith(std::wstring_view text, bool quoted) const;

  mutable std::mutex lock_;
  bool lockReads_;
  std::unordered_map<std::wstring, Entry, KeyHash, KeyEqual> table_;
};

// Who assigns: command-line overrides are recognised by these sources.
inline constexpr std::wstring_view kSourceOverride = L"Inject Override Command Line";
inline constexpr std::wstring_view kSourceOverrideStrict = L"Inject Override Command Line Ex";

// The one store of the process and the operations every statement uses.
class Variables {
public:
  TVariableManager& Store() { return store_; }

  std::wstring Get(std::wstring_view name) const { return store_.GetValue(name); }
  bool Exists(std::wstring_view name) const { return store_.Exists(name); }
  void Delete(std::wstring_view name);
  // Assigning a variable its own reference ("$NAME$", case ignored) stores
  // the empty text. An existing variable goes through ProtectedSet.
  void Set(std::wstring_view name, std::wstring_view value, std::wstring_view source);
  // Applies the command-line override rule, then stores.
  void ProtectedSet(std::wstring_view name, std::wstring_view value, std::wstring_view source);

  void Import(std::wstring_view commaText);
  std::wstring Export() const;
  void Clear();

  std::wstring Expand(std::wstring_view text) const { return store_.Expand(text); }
  std::wstring ExpandQuoted(std::wstring_view text) const { return store_.ExpandQuoted(text); }

  // Alternating upper-case names and values from the command line.
  void SetOverrides(std::vector<std::wstring> plain, std::vector<std::wstring> strict);
  const std::vector<std::wstring>& PlainOverrides() const { return plain_; }
  const std::vector<std::wstring>& StrictOverrides() const { return strict_; }

private:
  bool Protected(std::wstring_view upperName, std::wstring_view source) const;

  TVariableManager store_;
  std::vector<std::wstring> plain_;
  std::vector<std::wstring> strict_;
};

Variables& GlobalVariables();

// The flag rule: true when the upper-cased text is "TRUE" or the text is "-1".
bool IsTrueFlag(std::wstring_view text);

}  // namespace qv
