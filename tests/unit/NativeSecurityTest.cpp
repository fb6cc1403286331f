// The pure parts of the native policies: the access list the permission
// override writes, and the error policy's answer to an error without a code.
#include "interpreter/VariableStore.h"
#include "native/Policies.h"
#include "native/Security.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <string>
#include <vector>

namespace qv::native {
namespace {

std::vector<BYTE> SidBytes(const wchar_t* text) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidW(text, &sid)) return {};
  std::vector<BYTE> bytes(static_cast<const BYTE*>(sid), static_cast<const BYTE*>(sid) + GetLengthSid(sid));
  LocalFree(sid);
  return bytes;
}

// The access list of an SDDL text, and the SDDL of an access list.
struct Descriptor {
  PSECURITY_DESCRIPTOR sd = nullptr;
  explicit Descriptor(const wchar_t* sddl) {
    ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr);
  }
  ~Descriptor() { LocalFree(sd); }
  PACL Dacl() const {
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    return present ? dacl : nullptr;
  }
};

std::wstring DaclText(PACL dacl) {
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, dacl, FALSE);
  LPWSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(&sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                            nullptr))
    return L"<none>";
  std::wstring result = text;
  LocalFree(text);
  return result;
}

TEST(NativeSecurity, FullAccessGoesInFrontOfEveryDenial) {
  const std::vector<BYTE> user = SidBytes(L"S-1-5-21-1-2-3-1000");
  ASSERT_FALSE(user.empty());
  struct Case {
    const char* row;
    const wchar_t* before;
    const wchar_t* after;
  } cases[] = {
      {"a denial of the user stays behind the grant", L"D:P(D;;KW;;;S-1-5-21-1-2-3-1000)(A;;KR;;;WD)",
       L"D:(A;;GA;;;S-1-5-21-1-2-3-1000)(D;;KW;;;S-1-5-21-1-2-3-1000)(A;;KR;;;WD)"},
      {"an empty list: only the grant", L"D:P", L"D:(A;;GA;;;S-1-5-21-1-2-3-1000)"},
  };
  for (const Case& c : cases) {
    const Descriptor before(c.before);
    ASSERT_NE(before.sd, nullptr) << c.row;
    std::vector<BYTE> result = WithFullAccessFirst(before.Dacl(), const_cast<BYTE*>(user.data()));
    ASSERT_FALSE(result.empty()) << c.row;
    auto* acl = reinterpret_cast<PACL>(result.data());
    EXPECT_TRUE(IsValidAcl(acl)) << c.row;
    EXPECT_EQ(DaclText(acl), c.after) << c.row;
  }
  // No list at all is full access already: nothing to write.
  EXPECT_TRUE(WithFullAccessFirst(nullptr, const_cast<BYTE*>(user.data())).empty());
}

// An error without a code is no error: the caller counts the step as
// failed, but nothing is logged and nobody is asked.
TEST(NativeErrorPolicy, CodeZeroIsNeitherLoggedNorAsked) {
  Variables variables;
  variables.Set(L"NATIVE_ERROR", L"PROMPT", L"Test");
  std::vector<std::wstring> log;
  bool asked = false;
  Prompt() = [&](const PromptRequest&) {
    asked = true;
    return PromptAnswer::Yes;
  };
  Policies policies(variables, false, [&](std::wstring_view line) { log.emplace_back(line); });
  const ErrorAnswer answer = policies.HandleError(L"The operation completed successfully.", 0, 0);
  ResetPrompt();
  EXPECT_FALSE(answer.retry);
  EXPECT_FALSE(answer.abort);
  EXPECT_FALSE(asked);
  EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace qv::native
