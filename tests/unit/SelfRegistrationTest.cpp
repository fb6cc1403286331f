// Self-registration pieces that run in this process: the image bitness test
// on small generated headers, the type library branch of RegisterLibrary
// (with the test type library built by the toolchain's IDL compiler), and the
// run-once value written for a file that waits for the restart.
#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"
#include "native/SelfRegistration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace qv::native {
namespace {

class TempFolder {
public:
  TempFolder() {
    path_ = TemporaryFolder() + L"qvselfreg" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateFolders(path_);
  }
  ~TempFolder() { RemoveTree(path_); }
  const std::wstring& path() const { return path_; }

private:
  std::wstring path_;
};

// A DOS header pointing at `peOffset`, then the PE signature and machine
// field there, padded with zeros to `size` bytes.
std::string Image(uint32_t peOffset, const char* signature, uint16_t machine, size_t size) {
  std::string bytes(std::max<size_t>(size, 64), '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  std::memcpy(bytes.data() + 60, &peOffset, 4);
  if (peOffset + 6 <= bytes.size()) {
    std::memcpy(bytes.data() + peOffset, signature, 4);
    std::memcpy(bytes.data() + peOffset + 4, &machine, 2);
  }
  bytes.resize(size);
  return bytes;
}

TEST(SelfRegistration, IsImage64ReadsTheMachineOfThePeHeader) {
  TempFolder folder;
  const struct {
    const char* row;
    std::string bytes;
    bool expected;
  } cases[] = {
      {"x64 image", Image(128, "PE\0\0", 0x8664, 128 + 248), true},
      {"ARM64 image: anything but x86 is 64-bit", Image(64, "PE\0\0", 0xAA64, 64 + 248), true},
      {"x86 image", Image(128, "PE\0\0", 0x014C, 128 + 248), false},
      {"no MZ", "ZM" + Image(128, "PE\0\0", 0x8664, 128 + 248).substr(2), false},
      {"MZ without PE signature", Image(128, "NE\0\0", 0x8664, 128 + 248), false},
      {"PE header cut short", Image(128, "PE\0\0", 0x8664, 128 + 100), false},
      {"header offset past the end", Image(4096, "PE\0\0", 0x8664, 200), false},
      {"shorter than a DOS header", std::string("MZ\x90\0", 4), false},
      {"empty file", "", false},
  };
  for (const auto& c : cases) {
    const std::wstring path = folder.path() + L"image.bin";
    WriteWholeFile(path, c.bytes);
    EXPECT_EQ(IsImage64(path), c.expected) << c.row;
  }
  EXPECT_FALSE(IsImage64(folder.path() + L"missing.dll"));
  EXPECT_TRUE(IsImage64(std::wstring(QV_OUTPUT_DIR) + L"qv_test_selfreg.dll")) << "a real x64 library";
}

bool TypeLibRegistered() {
  UniqueKey key;
  return RegOpenKeyExW(HKEY_CLASSES_ROOT, L"TypeLib\\{6A8B3C1E-4F2D-4B7A-9C55-0D3E2F1A7B90}\\1.2", 0, KEY_READ,
                       key.put()) == ERROR_SUCCESS;
}

// Points the type library removal at a system without "UnRegisterTypeLib"
// for its lifetime.
struct WithoutUnRegisterTypeLib {
  decltype(FindUnRegisterTypeLib) saved = FindUnRegisterTypeLib;
  WithoutUnRegisterTypeLib() {
    FindUnRegisterTypeLib = [] { return UnRegisterTypeLibFn{}; };
  }
  ~WithoutUnRegisterTypeLib() { FindUnRegisterTypeLib = saved; }
};

TEST(SelfRegistration, TypeLibraryRegistersAndUnregisters) {
  const std::wstring library = std::wstring(QV_OUTPUT_DIR) + L"qv_test_typelib.tlb";
  ASSERT_TRUE(FileExists(library)) << "built by the fixtures";
  const std::wstring before = [] {
    wchar_t buffer[MAX_PATH];
    return std::wstring(buffer, GetCurrentDirectoryW(MAX_PATH, buffer));
  }();

  ASSERT_TRUE(RegisterLibrary(library, true));
  EXPECT_TRUE(TypeLibRegistered());
  {
    WithoutUnRegisterTypeLib missing;
    EXPECT_FALSE(RegisterLibrary(library, false)) << "no entry point to unregister with";
    EXPECT_TRUE(TypeLibRegistered());
  }
  EXPECT_TRUE(RegisterLibrary(library, false));
  EXPECT_FALSE(TypeLibRegistered());

  EXPECT_FALSE(RegisterLibrary(std::wstring(QV_OUTPUT_DIR) + L"missing.tlb", true));
  wchar_t after[MAX_PATH];
  EXPECT_EQ(std::wstring(after, GetCurrentDirectoryW(MAX_PATH, after)), before) << "the current folder comes back";
}

TEST(SelfRegistration, RegisterAtRestartWritesOneRunOnceValue) {
  const std::wstring file = L"C:\\Program Files\\Qv Test\\lib.dll";
  const struct {
    const char* row;
    std::wstring registrar, expected;
  } cases[] = {
      {"library through the registrar", L"C:\\windows\\system32\\regsvr32.exe",
       L"C:\\windows\\system32\\regsvr32.exe \"" + file + L"\" /s"},
      {"program by its own switch", L"", L"\"" + file + L"\" /regserver"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.row);
    UniqueKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, std::wstring(kRunOnceKey).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    // The value is new: find it by comparing the names before and after.
    auto names = [&] {
      std::vector<std::wstring> found;
      wchar_t name[256];
      for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumValueW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        found.emplace_back(name, length);
      }
      return found;
    };
    const auto before = names();
    RegisterAtRestart(c.registrar, file, false, Bitness::X64);
    std::vector<std::wstring> added;
    for (const auto& name : names())
      if (std::find(before.begin(), before.end(), name) == before.end()) added.push_back(name);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].size(), 7u) << "characters 2 to 8 of a GUID text";
    wchar_t value[512] = {};
    DWORD bytes = sizeof(value);
    EXPECT_EQ(RegGetValueW(key.get(), nullptr, added[0].c_str(), RRF_RT_REG_SZ, nullptr, value, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(value), c.expected);
    RegDeleteValueW(key.get(), added[0].c_str());
  }
}

}  // namespace
}  // namespace qv::native
