// "Mathematics": one 64-bit integer operation on two operands, chosen by a
// numbered code, plus the script's small pseudo-random generator. All
// arithmetic wraps; a failure leaves the result variable empty.
#include "interpreter/Expression.h"

#include "common/Text.h"
#include "interpreter/Expansion.h"
#include "interpreter/Statements.h"

namespace qv {

namespace {

// Codes 13 to 15 share one generator for the whole run; it starts at zero
// with the engine and only the script's codes 13 and 14 change it. It is
// touched only from the interpreter's thread.
MathematicsGenerator& RunGenerator() {
  static MathematicsGenerator generator;
  return generator;
}

int32_t Low32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value))); }

// Code 15: R = multiplier * seed + increment in 32-bit wrapping arithmetic;
// the next seed is R mod 32767, truncated (negative when R is).
int32_t NextRandom(MathematicsGenerator& g) {
  const auto r = static_cast<int32_t>(static_cast<uint32_t>(g.multiplier) * static_cast<uint32_t>(g.seed) +
                                      static_cast<uint32_t>(g.increment));
  g.seed = r % 32767;
  return r;
}

}  // namespace

std::wstring Mathematics(std::wstring_view a, std::wstring_view b, std::wstring_view code,
                         MathematicsGenerator& generator) {
  const auto op = ParseInt64(code);
  if (!op || *op < 0 || *op > 15) return {};

  // 11: the code of the first UTF-16 unit; the operand is not a number.
  if (*op == 11) return a.empty() ? std::wstring() : std::to_wstring(static_cast<unsigned>(a[0]));

  const auto numberA = ParseInt64(a);
  if (!numberA) return {};
  int64_t numberB = 0;
  if (*op < 10 || *op == 13) {
    const auto parsed = ParseInt64(b);
    if (!parsed) return {};
    numberB = *parsed;
  }
  // Wrapping arithmetic is done on the unsigned images.
  const int64_t x = *numberA;
  const int64_t y = numberB;
  const auto ux = static_cast<uint64_t>(x);
  const auto uy = static_cast<uint64_t>(y);
  const auto wrap = [](uint64_t value) { return static_cast<int64_t>(value); };

  int64_t result = 0;
  switch (*op) {
    case 0: result = wrap(ux + uy); break;
    case 1: result = wrap(ux - uy); break;
    case 2: result = wrap(ux * uy); break;
    case 3:  // truncated toward zero; the one overflowing quotient wraps
      if (y == 0) return {};
      result = y == -1 ? wrap(0 - ux) : x / y;
      break;
    case 4:  // sign of A
      if (y == 0) return {};
      result = y == -1 ? 0 : x % y;
      break;
    case 5: result = wrap(ux & uy); break;
    case 6: result = wrap(ux | uy); break;
    case 7: result = wrap(ux ^ uy); break;
    case 8: result = wrap(ux << (uy & 63)); break;
    case 9: result = wrap(ux >> (uy & 63)); break;  // zero-filling
    case 10: result = wrap(~ux); break;
    case 12: return std::wstring(1, static_cast<wchar_t>(ux & 0xFFFF));
    case 13:
      generator.multiplier = Low32(x);
      generator.increment = Low32(y);
      result = wrap(ux + uy);
      break;
    case 14:
      generator.seed = Low32(x);
      result = x;
      break;
    case 15: {
      const int32_t r = NextRandom(generator);  // the seed moves on even when A = 0
      if (x == 0) return {};
      result = r % x;
      break;
    }
  }
  return std::to_wstring(result);
}

// Parameters: 1 operand A, 2 operand B (both expanded), 3 the operation
// code, 4 the result variable.
void MathematicsStatement(StatementContext& c) {
  const std::wstring result = ReadVariableName(c.Parameter(4));
  c.CreateResult(result);
  c.SetResult(result, Mathematics(c.ValueParameter(1), c.ValueParameter(2), c.Parameter(3), RunGenerator()));
}

}  // namespace qv
