// Setup components seen from outside: a product installed with one feature
// left out starts its registered maintenance run from that choice, and a
// choice saved to a file in a run comes back from it.
#include "SetupSandbox.h"

#include "common/Files.h"
#include "common/Text.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace qv::test {
namespace {

// A saved state as the test reads it: the six component lists and the four
// lines after them (TARGETDIR, ALLUSERS, STARTMENU, data folder).
struct SavedFile {
  std::vector<std::vector<std::wstring>> lists;
  std::vector<std::wstring> settings;
  std::vector<std::wstring> all;
};

SavedFile ReadSaved(const std::wstring& path) {
  SavedFile file;
  file.all = ReadUtf8Lines(path);
  size_t i = 0;
  for (int k = 0; k < 6; ++k) {
    file.lists.emplace_back();
    while (i < file.all.size() && file.all[i] != L"$") file.lists.back().push_back(file.all[i++]);
    ++i;
  }
  for (int k = 0; k < 4 && i < file.all.size(); ++k) file.settings.push_back(file.all[i++]);
  return file;
}

// The value line after a name line in the pairs of a saved state.
std::wstring PairValue(const SavedFile& file, const std::wstring& name) {
  const auto hit = std::find(file.all.begin(), file.all.end(), name);
  return hit == file.all.end() || hit + 1 == file.all.end() ? L"<none>" : *(hit + 1);
}

using Lines = std::vector<std::wstring>;

// A product of one test alone; its registration and cache go at the end.
struct ComponentProduct {
  SetupSandbox sandbox;
  std::wstring code, revision, title;
  std::wstring target = sandbox.Root() + L"Program\\";
  std::wstring out = sandbox.Root() + L"out.txt";

  explicit ComponentProduct(int n) {
    wchar_t text[64];
    const unsigned long id = GetCurrentProcessId() * 10ul + static_cast<unsigned long>(n);
    swprintf(text, 64, L"{C0C0A000-0000-4000-8000-%012lX}", id);
    code = text;
    swprintf(text, 64, L"{C0C0B000-0000-4000-8000-%012lX}", id);
    revision = text;
    title = L"Component Product " + std::to_wstring(id);
  }
  ~ComponentProduct() {
    const std::wstring instance = ReadString(HKEY_LOCAL_MACHINE, kIdent + code, nullptr);
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      RegDeleteTreeW(root, (kIdent + code).c_str());
      RegDeleteTreeW(root, (L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + title).c_str());
    }
    if (!instance.empty()) RemoveTree(instance);
    RemoveTree(ShellFolder(CSIDL_COMMON_APPDATA) + revision);
  }

  Script Make(const std::vector<Stmt>& statements) const {
    Script script = MakeScript(statements, title);
    script.productCode = code;
    script.revisionCode = revision;
    return script;
  }

  static constexpr const wchar_t* kIdent = L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\";
};

TEST(Components, TheMaintenanceRunStartsFromTheInstalledChoice) {
  ComponentProduct p(1);
  const std::wstring report =
      L"$MODE$ maintenance=$MAINTENANCE$ new=$NEWINSTANCE$ core=$CORE$ docs=$DOCS$ extras=$EXTRAS$ "
      L"predefined=$PREDEF$ need=$NEED$ flavour=$FLAVOUR$";
  const std::vector<Stmt> statements = {
      {L"Set Variable", {L"NATIVE_ENGINE", L"TRUE"}},
      {L"Define Component", {L"Core", L"TRUE", L"Core files"}},
      {L"Define Component", {L"Docs", L"TRUE", L"Manuals"}},
      {L"Define Component", {L"Docs\\Samples", L"TRUE", L""}},
      {L"Define Component", {L"Extras", L"TRUE", L""}},
      {L"Set Component Space", {L"Core", L"1000"}},
      {L"Set Component Space", {L"Docs", L"2500"}},
      {L"Set Component Space", {L"Extras", L"400"}},
      {L"Set Component Choice", {L"Core", L"FALSE"}},
      {L"Set Component Visibility", {L"Docs\\Samples", L"FALSE"}},
      {L"If", {L"MAINTENANCE", L"4", L"TRUE", L"FALSE"}},
      {L"Set Variable", {L"MODE", L"maintenance"}},
      {L"Else", {}},
      {L"Set Variable", {L"MODE", L"install"}},
      // The user leaves the manuals out.
      {L"Set Component State", {L"Docs", L"FALSE"}},
      {L"End", {}},
      {L"Get Component State", {L"Core", L"CORE"}},
      {L"Get Component State", {L"Docs", L"DOCS"}},
      {L"Get Component State", {L"Extras", L"EXTRAS"}},
      {L"Get Component State", {L"QIVA-PREDEF-COMPONENT", L"PREDEF"}},
      {L"Get Component Space", {L"", L"NEED"}},
      {L"Write to Text File", {p.out, report, L"FALSE"}},
      {L"If", {L"MAINTENANCE", L"4", L"TRUE", L"FALSE"}},
      // Adding the manuals now needs only their own space.
      {L"Set Component State", {L"Docs", L"TRUE"}},
      {L"Get Component Space", {L"", L"NEED"}},
      {L"Write to Text File", {p.out, L"adding docs needs $NEED$", L"FALSE"}},
      {L"Apply Changes", {L"", L"RESULT", L"FALSE", L"TRUE"}},
      {L"Else", {}},
      {L"Create Folder", {p.target}},
      {L"Apply Changes", {L"", L"RESULT", L"TRUE", L"FALSE"}},
      // Saved at the end of the run into the existing saved state, whose
      // choice stays the one the changes were applied with.
      {L"Set Variable", {L"FLAVOUR$QIVA$QIVA$TRUE", L"mint"}},
      {L"Set Component State", {L"Extras", L"FALSE"}},
      {L"End", {}},
      {L"Write to Text File", {p.out, L"$MODE$ $RESULT$", L"FALSE"}},
  };
  const std::wstring exe = p.sandbox.Build(p.Make(statements), {{L"a.txt", "a"}}, L"product");

  ASSERT_EQ(p.sandbox.Run(exe, L"/s", 60000).exitCode, 0u);
  ASSERT_EQ(ReadUtf8Lines(p.out),
            (std::vector<std::wstring>{L"install maintenance=FALSE new=FALSE core=TRUE docs=FALSE extras=TRUE "
                                       L"predefined=TRUE need=1400 flavour=$FLAVOUR$",
                                       L"install COMPLETE"}));

  // The choice is in the saved state of the engine cache.
  const std::wstring instance = ReadString(HKEY_LOCAL_MACHINE, ComponentProduct::kIdent + p.code, nullptr);
  ASSERT_FALSE(instance.empty());
  const SavedFile state = ReadSaved(instance + L"product.dat");
  EXPECT_EQ(state.lists, (std::vector<Lines>{
                             {L"QIVA-PREDEF-COMPONENT", L"Core", L"Docs", L"Docs\\Samples", L"Extras"},
                             {L"TRUE", L"TRUE", L"FALSE", L"TRUE", L"TRUE"},
                             {},
                             {L"Docs\\Samples"},
                             {L"Core"},
                             {L"QIVA-PREDEF-COMPONENT", L"0", L"Core", L"1000", L"Docs", L"2500", L"Docs\\Samples", L"0",
                              L"Extras", L"400"},
                         }));
  EXPECT_EQ(PairValue(state, L"FLAVOUR"), L"mint");

  // The registered uninstall command: a maintenance run that sees the choice.
  const std::wstring command = ReadString(
      HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + p.title, L"UninstallString");
  ASSERT_EQ(command, L"\"" + instance + L"product.exe\" REMOVE=TRUE MODIFY=FALSE");
  DeleteFileW(p.out.c_str());
  ASSERT_EQ(p.sandbox.Run(instance + L"product.exe", L"/s REMOVE=TRUE MODIFY=FALSE", 60000).exitCode, 0u);
  EXPECT_EQ(ReadUtf8Lines(p.out),
            (std::vector<std::wstring>{L"maintenance maintenance=TRUE new=FALSE core=TRUE docs=FALSE extras=TRUE "
                                       L"predefined=TRUE need=0 flavour=mint",
                                       L"adding docs needs 2500", L"maintenance COMPLETE"}));
  EXPECT_FALSE(FolderExists(p.target)) << "the maintenance run removed the product";
  // The cache folder goes at the next restart (its setup was running); a saved
  // state written into it now would keep it there for good.
  EXPECT_FALSE(FileExists(instance + L"product.dat")) << "the remembered value is not saved after the uninstallation";
}

TEST(Components, FeatureSelectionsSavedToAFileComeBackFromIt) {
  ComponentProduct p(2);  // the remembered variable is saved in its cache at the end
  SetupSandbox& sandbox = p.sandbox;
  const std::wstring saved = sandbox.Root() + L"choice\\saved.dat";
  const std::wstring again = sandbox.Root() + L"again.dat";
  const std::wstring text = sandbox.Root() + L"plain.txt";
  const std::wstring out = sandbox.Root() + L"out.txt";
  const std::vector<Stmt> statements = {
      {L"Define Component", {L"A", L"TRUE", L""}},
      {L"Define Component", {L"B", L"FALSE", L""}},
      {L"Define Component", {L"C", L"TRUE", L""}},
      {L"Set Component Visibility", {L"C", L"FALSE"}},
      {L"Set Component Space", {L"A", L"100"}},
      {L"Set Variable", {L"TARGETDIR", L"D:\\Chosen\\"}},
      {L"Set Variable", {L"FLAVOUR$QIVA$QIVA$TRUE", L"mint"}},
      {L"Save Feature Selections", {saved}},
      // Everything changes after the save ...
      {L"Set Component State", {L"A", L"FALSE"}},
      {L"Set Component State", {L"B", L"TRUE"}},
      {L"Set Component Visibility", {L"C", L"TRUE"}},
      {L"Set Component Choice", {L"A", L"FALSE"}},
      {L"Set Component Space", {L"A", L"5"}},
      {L"Define Component", {L"D", L"FALSE", L""}},
      {L"Set Variable", {L"TARGETDIR", L"D:\\Other\\"}},
      {L"Set Variable", {L"FLAVOUR", L"lemon"}},
      // ... and comes back from the file; a file that is not a saved state, or none, changes nothing.
      {L"Load Feature Selections", {saved}},
      {L"Write to Text File", {text, L"not a saved state", L"FALSE"}},
      {L"Load Feature Selections", {text}},
      {L"Load Feature Selections", {sandbox.Root() + L"missing.dat"}},
      {L"Get Component State", {L"A", L"A"}},
      {L"Get Component State", {L"B", L"B"}},
      {L"Get Component State", {L"D", L"D"}},
      {L"Get Component Space", {L"A", L"SIZE"}},
      {L"Write to Text File", {out, L"$A$ $B$ $D$ $SIZE$ $TARGETDIR$ $FLAVOUR$", L"FALSE"}},
      {L"Save Feature Selections", {again}},
  };
  const std::wstring exe = sandbox.Build(p.Make(statements), {{L"a.txt", "a"}});
  ASSERT_EQ(sandbox.Run(exe, L"/s").exitCode, 0u);
  EXPECT_EQ(ReadUtf8Lines(out), std::vector<std::wstring>{L"TRUE FALSE FALSE 5 D:\\Chosen\\ mint"});

  const SavedFile first = ReadSaved(saved);
  ASSERT_EQ(first.settings.size(), 4u);
  EXPECT_EQ(first.settings[0], L"D:\\Chosen\\");
  EXPECT_EQ(first.settings[3], L"") << "a saved choice carries no data folder";
  EXPECT_EQ(PairValue(first, L"FLAVOUR"), L"mint");
  // After the load the hidden and fixed lists are the file's: C hidden again, A changeable.
  const SavedFile second = ReadSaved(again);
  ASSERT_EQ(second.lists.size(), 6u);
  EXPECT_EQ(second.lists[0], (Lines{L"QIVA-PREDEF-COMPONENT", L"A", L"B", L"C", L"D"}));
  EXPECT_EQ(second.lists[3], Lines{L"C"});
  EXPECT_EQ(second.lists[4], Lines{});
}

}  // namespace
}  // namespace qv::test
