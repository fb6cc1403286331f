#include "script/StubSize.h"

#include "common/Error.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace qv {

namespace {

constexpr size_t kLfanewOffset = 0x3C;
constexpr size_t kFileHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSectionCountOffset = 2;         // in the file header
constexpr size_t kOptionalHeaderSizeOffset = 16;  // in the file header
constexpr size_t kRawSizeOffset = 16;             // in a section header
constexpr size_t kRawPointerOffset = 20;          // in a section header

class HeaderReader {
public:
  explicit HeaderReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  template <typename T>
  T Read(uint64_t offset, const wchar_t* what) const {
    if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T))
      throw Error(L"Not a valid executable image: the " + std::wstring(what) + L" lies outside its headers");
    T value;
    std::memcpy(&value, bytes_.data() + offset, sizeof(T));
    return value;
  }

private:
  std::span<const uint8_t> bytes_;
};

}  // namespace

uint64_t StubSize(std::span<const uint8_t> headers) {
  const HeaderReader in(headers);
  if (in.Read<uint16_t>(0, L"DOS header") != 0x5A4D) throw Error(L"Not a valid executable image: no MZ signature");
  const uint64_t pe = in.Read<uint32_t>(kLfanewOffset, L"PE header offset");
  if (in.Read<uint32_t>(pe, L"PE signature") != 0x00004550) throw Error(L"Not a valid executable image: no PE signature");
  const uint64_t fileHeader = pe + 4;
  const uint16_t sections = in.Read<uint16_t>(fileHeader + kSectionCountOffset, L"section count");
  const uint16_t optionalSize = in.Read<uint16_t>(fileHeader + kOptionalHeaderSizeOffset, L"optional header size");
  if (sections == 0) throw Error(L"Not a valid executable image: it has no sections");
  const uint64_t table = fileHeader + kFileHeaderSize + optionalSize;
  if (table + sections * kSectionHeaderSize > headers.size())
    throw Error(L"Not a valid executable image: its section table lies outside its headers");
  uint64_t end = 0;
  for (uint64_t i = 0; i < sections; ++i) {
    const uint64_t section = table + i * kSectionHeaderSize;
    const uint64_t size = in.Read<uint32_t>(section + kRawSizeOffset, L"section table");
    const uint64_t pointer = in.Read<uint32_t>(section + kRawPointerOffset, L"section table");
    end = std::max(end, pointer + size);
  }
  return end;
}

uint64_t OwnStubSize() {
  const auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
  MEMORY_BASIC_INFORMATION region{};
  CheckWin32(base && VirtualQuery(base, &region, sizeof region) != 0, L"Reading the executable's own headers");
  const size_t mapped = region.RegionSize - static_cast<size_t>(base - static_cast<const uint8_t*>(region.BaseAddress));
  return StubSize({base, mapped});
}

}  // namespace qv
