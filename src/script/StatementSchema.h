// The statement schema: for each statement name, its parameters in block
// order, with the keyword the script source uses for each, how the engine
// reads it and what the builder writes when the source leaves it out. The
// engine, the builder and the generated documentation all read this one table,
// so adding a statement is adding one row in StatementSchema.cpp.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace qv {

// How a statement reads a parameter line at run time.
enum class ParameterKind {
  Value,         // expanded
  Path,          // expanded, doubled backslashes collapsed
  Expression,    // expanded with every value quoted
  VariableName,  // NAME or $NAME$
  PlainName,     // a variable name taken as written
  Flag,          // "TRUE" (any case) or "-1" is true
  Number,        // a decimal integer, not expanded
  Raw,           // taken as written (labels, dialog names, captions)
};

std::wstring_view ParameterKindName(ParameterKind kind);

struct ParameterSpec {
  const wchar_t* name = nullptr;  // source keyword, lower case with dashes
  ParameterKind kind = ParameterKind::Value;
  // Written when the source omits the parameter; nullptr: the source must give it.
  const wchar_t* defaultText = nullptr;
  // When set, this parameter shares the previous parameter's line, written
  // after this separator; left out (separator included) when the source omits it.
  const wchar_t* joinSeparator = nullptr;

  bool required() const { return defaultText == nullptr && joinSeparator == nullptr; }
};

constexpr size_t kMaxParameters = 16;

struct StatementSpec {
  const wchar_t* name = nullptr;  // exact statement name
  const wchar_t* summary = nullptr;
  std::array<ParameterSpec, kMaxParameters> parameterArray{};
  // The last parameter may be given any number of times, one line each
  // (statements that carry free text lines, such as "Comment").
  bool repeatLast = false;

  std::span<const ParameterSpec> parameters() const;
  // Index into parameters() of a keyword, or -1.
  int FindParameter(std::wstring_view keyword) const;
  // Block line (1-based, as the engine counts parameters) of parameters()[index].
  size_t LineOf(size_t index) const;
  // Number of block lines the builder writes when every parameter appears once.
  size_t LineCount() const;
};

// The row for a statement name (compared exactly), or nullptr.
const StatementSpec* FindStatement(std::wstring_view name);

// Every row, in table order.
std::span<const StatementSpec> AllStatements();

// The separator between a variable name and the remember flag of "Set Variable".
inline constexpr std::wstring_view kRememberSeparator = L"$QIVA$QIVA$";

}  // namespace qv
