// mEval: the expression language of "Evaluate Expression", a boolean
// expression of quoted comparisons joined by "and"/"or" with parentheses.
//
// Grammar (whitespace is the space character only; nothing else is skipped):
//
//   expression := primary { connective primary }
//   primary    := "(" expression ")" | comparison
//   comparison := operand operator operand
//   operand    := '"' { any character except '"' | '""' } '"'
//   operator   := word, one of "=" "<>" "<=" "<" ">=" ">"
//   connective := word, one of "and" "or" (lower case only)
//   word       := the characters up to the next space or double quote
//
// Spaces are skipped before a primary, an operand, an operator, a connective
// and a closing parenthesis. Because a word runs to the next space or quote,
// "and(" is one (invalid) word: a space must separate a connective from "(".
// The whole text is read as "(" text ")" and nothing may follow the outer
// closing parenthesis.
//
// Evaluation: connectives apply strictly left to right with equal
// precedence and both sides are always read (no short-circuit). Two integer
// operands compare by value, anything else by UTF-16 code units with a
// proper prefix ordered first. Integers of any length compare exactly, so a
// disk size in bytes compares with a threshold instead of failing the run.
#include "interpreter/Expression.h"

#include "interpreter/Expansion.h"
#include "interpreter/Statements.h"

namespace qv {

namespace {

enum class Truth { kError = -1, kFalse = 0, kTrue = 1 };

Truth FromBool(bool value) { return value ? Truth::kTrue : Truth::kFalse; }

// Deeper nesting than any script needs is refused rather than allowed to
// exhaust the stack.
constexpr int kMaxNesting = 200;

class Parser {
public:
  explicit Parser(std::wstring_view text) : text_(text) {}

  bool AtEnd() const { return pos_ == text_.size(); }

  // expression := primary { connective primary }
  Truth Expression() {
    Truth result = Primary();
    while (result != Truth::kError) {
      SkipSpaces();
      if (AtEnd() || text_[pos_] == L')') break;
      const std::wstring_view connective = Connective();
      const Truth right = Primary();
      if (right == Truth::kError) return Truth::kError;
      if (connective == L"or")
        result = FromBool(result == Truth::kTrue || right == Truth::kTrue);
      else if (connective == L"and")
        result = FromBool(result == Truth::kTrue && right == Truth::kTrue);
      else
        return Truth::kError;
    }
    return result;
  }

private:
  // primary := "(" expression ")" | comparison
  Truth Primary() {
    SkipSpaces();
    if (AtEnd() || text_[pos_] != L'(') return Comparison();
    if (++depth_ > kMaxNesting) return Truth::kError;
    ++pos_;
    const Truth inner = Expression();
    if (inner == Truth::kError) return Truth::kError;
    SkipSpaces();
    if (AtEnd() || text_[pos_] != L')') return Truth::kError;
    ++pos_;
    --depth_;
    return inner;
  }

  // comparison := operand operator operand
  Truth Comparison() {
    std::wstring left, right;
    if (!Operand(left)) return Truth::kError;
    const std::wstring_view op = Operator();
    if (!Operand(right)) return Truth::kError;

    const int order = IsIntegerText(left) && IsIntegerText(right) ? CompareIntegerTexts(left, right)
                                                                  : std::wstring_view(left).compare(right);
    if (op == L"=") return FromBool(order == 0);
    if (op == L"<>") return FromBool(order != 0);
    if (op == L"<=") return FromBool(order <= 0);
    if (op == L"<") return FromBool(order < 0);
    if (op == L">=") return FromBool(order >= 0);
    if (op == L">") return FromBool(order > 0);
    return Truth::kError;
  }

  // operand := '"' { any character except '"' | '""' } '"'
  bool Operand(std::wstring& value) {
    SkipSpaces();
    if (AtEnd() || text_[pos_] != L'"') return false;
    for (++pos_; pos_ < text_.size(); ++pos_) {
      if (text_[pos_] != L'"') {
        value += text_[pos_];
      } else if (pos_ + 1 < text_.size() && text_[pos_ + 1] == L'"') {
        value += L'"';
        ++pos_;
      } else {
        ++pos_;
        return true;
      }
    }
    return false;  // no closing quote
  }

  // operator := word
  std::wstring_view Operator() {
    SkipSpaces();
    return Word();
  }

  // connective := word (the caller has skipped the spaces)
  std::wstring_view Connective() { return Word(); }

  // word := the characters up to the next space or double quote
  std::wstring_view Word() {
    const size_t start = pos_;
    while (!AtEnd() && text_[pos_] != L' ' && text_[pos_] != L'"') ++pos_;
    return text_.substr(start, pos_ - start);
  }

  void SkipSpaces() {
    while (!AtEnd() && text_[pos_] == L' ') ++pos_;
  }

  std::wstring_view text_;
  size_t pos_ = 0;
  int depth_ = 0;
};

// Sign and digits without leading zeros; zero is never negative.
struct IntegerParts {
  bool negative;
  std::wstring_view digits;
};

IntegerParts SplitInteger(std::wstring_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == L'+' || text[0] == L'-')) {
    negative = text[0] == L'-';
    text.remove_prefix(1);
  }
  const size_t first = text.find_first_not_of(L'0');
  text.remove_prefix(first == std::wstring_view::npos ? text.size() : first);
  return {negative && !text.empty(), text};
}

}  // namespace

bool IsIntegerText(std::wstring_view text) {
  if (text.empty()) return false;
  const auto digit = [](wchar_t ch) { return ch >= L'0' && ch <= L'9'; };
  if (!digit(text[0]) && !(text.size() > 1 && (text[0] == L'+' || text[0] == L'-'))) return false;
  for (size_t i = 1; i < text.size(); ++i)
    if (!digit(text[i])) return false;
  return true;
}

int CompareIntegerTexts(std::wstring_view a, std::wstring_view b) {
  const IntegerParts left = SplitInteger(a);
  const IntegerParts right = SplitInteger(b);
  if (left.negative != right.negative) return left.negative ? -1 : 1;
  int magnitude = 0;
  if (left.digits.size() != right.digits.size())
    magnitude = left.digits.size() < right.digits.size() ? -1 : 1;
  else
    magnitude = left.digits.compare(right.digits);  // same length: digit order is numeric order
  if (magnitude != 0) magnitude = magnitude < 0 ? -1 : 1;
  return left.negative ? -magnitude : magnitude;
}

std::wstring EvaluateExpressionText(std::wstring_view text) {
  std::wstring wrapped;
  wrapped.reserve(text.size() + 2);
  wrapped.append(L"(").append(text).append(L")");
  Parser parser(wrapped);
  const Truth result = parser.Expression();
  if (result == Truth::kError || !parser.AtEnd()) return L"ERROR";
  return result == Truth::kTrue ? L"TRUE" : L"FALSE";
}

// Parameter 1: the expression, every reference inserted between quotes;
// parameter 2: the result variable.
void EvaluateExpressionStatement(StatementContext& c) {
  const std::wstring result = ReadVariableName(c.Parameter(2));
  // Created before the expression is expanded, so an expression that reads
  // its own, not yet existing, result variable sees it as "".
  c.CreateResult(result);
  c.SetResult(result, EvaluateExpressionText(c.variables.ExpandQuoted(c.Parameter(1))));
}

}  // namespace qv
