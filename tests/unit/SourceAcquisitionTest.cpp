// Source acquisition with the folder chooser replaced by a list of answers:
// when the engine asks at all, and which folder it takes from the answers.
#include "bootstrap/Session.h"
#include "common/Files.h"
#include "interpreter/VariableStore.h"
#include "native/SourceAcquisition.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace qv::native {
namespace {

struct SourceFolders {
  std::wstring root = TemporaryFolder() + L"qv-sources-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
  SourceFolders() {
    RemoveTree(root);
    CreateFolders(root + L"cache");               // the cached setup: no data beside it
    CreateFolders(root + L"installed\\data\\F3");  // a setup folder
    CreateFolders(root + L"plain\\F3");           // the data folder itself
    CreateFolders(root + L"unrelated\\data\\F4");  // another statement's data only
  }
  ~SourceFolders() { RemoveTree(root); }
};

struct AcquisitionCase {
  const char* row;
  bool maintenance;
  bool silent;
  int buildKind;
  const wchar_t* dataFolder;                    // relative to the root
  std::vector<const wchar_t*> answers;          // nullptr: the user gives up
  std::optional<const wchar_t*> expected;       // relative to the root; nullopt: not found
  size_t asked;
};

TEST(SourceAcquisition, AsksOnlyInMaintenanceAndTakesTheFolderOrItsDataSubfolder) {
  const AcquisitionCase cases[] = {
      {"data where it belongs", true, false, 0, L"installed\\data\\", {}, L"installed\\data\\", 0},
      {"not a maintenance run", false, false, 0, L"cache\\data\\", {}, L"cache\\data\\", 0},
      {"build kind 2", true, false, 2, L"cache\\data\\", {}, L"cache\\data\\", 0},
      {"silent: nobody to ask", true, true, 0, L"cache\\data\\", {}, std::nullopt, 0},
      {"the setup folder after a wrong one", true, false, 0, L"cache\\data\\",
       {L"unrelated", L"installed"}, L"installed\\data\\", 2},
      {"the data folder itself", true, false, 0, L"cache\\data\\", {L"plain"}, L"plain\\", 1},
      {"the user gives up", true, false, 0, L"cache\\data\\", {L"unrelated", nullptr}, std::nullopt, 2},
  };
  SourceFolders folders;
  const FolderChooser saved = SourceFolderChooser();
  for (const AcquisitionCase& c : cases) {
    SCOPED_TRACE(c.row);
    Session session;
    session.silent = c.silent;
    session.script = std::make_unique<Script>();
    session.script->buildKind = c.buildKind;
    Variables variables;
    variables.Set(L"MAINTENANCE", c.maintenance ? L"TRUE" : L"FALSE", L"test");
    size_t asked = 0;
    SourceFolderChooser() = [&](const Session&) -> std::optional<std::wstring> {
      const wchar_t* answer = asked < c.answers.size() ? c.answers[asked] : nullptr;
      ++asked;
      if (!answer) return std::nullopt;
      return folders.root + answer;
    };
    const auto found = AcquireSources(session, variables, folders.root + c.dataFolder, L"F3");
    EXPECT_EQ(asked, c.asked);
    ASSERT_EQ(found.has_value(), c.expected.has_value());
    if (found) {
      EXPECT_EQ(*found, folders.root + *c.expected);
    }
  }
  SourceFolderChooser() = saved;
}

}  // namespace
}  // namespace qv::native
