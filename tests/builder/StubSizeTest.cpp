#include "common/Error.h"
#include "script/StubSize.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace qv {
namespace {

struct Section {
  uint32_t pointer, size;
};

// Headers of an image: e_lfanew at 0x80, the optional header of the given
// size (224 for PE32, 240 for PE32+), then the section table.
std::vector<uint8_t> Headers(uint16_t optionalSize, uint16_t magic, const std::vector<Section>& sections) {
  std::vector<uint8_t> h(0x80 + 4 + 20 + optionalSize + 40 * sections.size(), 0xCC);
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&h[at], &v, 2); };
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&h[at], &v, 4); };
  put16(0, 0x5A4D);
  put32(0x3C, 0x80);
  put32(0x80, 0x00004550);
  put16(0x84 + 2, static_cast<uint16_t>(sections.size()));
  put16(0x84 + 16, optionalSize);
  put16(0x98, magic);
  for (size_t i = 0; i < sections.size(); ++i) {
    const size_t at = 0x98 + optionalSize + 40 * i;
    put32(at + 16, sections[i].size);
    put32(at + 20, sections[i].pointer);
  }
  return h;
}

// The largest end is in the middle section, so taking the last section's end fails.
const std::vector<Section> kSections = {{0x400, 0x1000}, {0x1400, 0x5000}, {0x6400, 0x200}};

TEST(StubSize, LargestSectionEndInPe32AndPe32Plus) {
  EXPECT_EQ(StubSize(Headers(224, 0x10B, kSections)), 0x6600u);
  // In PE32+ the section table starts 16 bytes later than a fixed 224 would put it.
  EXPECT_EQ(StubSize(Headers(240, 0x20B, kSections)), 0x6600u);
  EXPECT_EQ(StubSize(Headers(240, 0x20B, {{0x200, 0x10}, {0x400, 0x0}})), 0x400u);
}

TEST(StubSize, SectionEndsBeyondFourGigabytesDoNotWrap) {
  EXPECT_EQ(StubSize(Headers(224, 0x10B, {{0xFFFFFF00, 0x200}})), 0x100000100ull);
}

struct Malformed {
  const char* name;
  std::vector<uint8_t> bytes;
};

std::vector<uint8_t> With(std::vector<uint8_t> h, size_t at, std::vector<uint8_t> bytes) {
  std::memcpy(&h[at], bytes.data(), bytes.size());
  return h;
}
std::vector<uint8_t> Cut(std::vector<uint8_t> h, size_t size) {
  h.resize(size);
  return h;
}

TEST(StubSize, MalformedHeadersAreErrors) {
  const auto good = Headers(240, 0x20B, kSections);
  const Malformed cases[] = {
      {"Empty", {}},
      {"ShorterThanDosHeader", Cut(good, 0x30)},
      {"NoMz", With(good, 0, {'Z', 'M'})},
      {"LfanewPastEnd", With(good, 0x3C, {0x00, 0x10, 0x00, 0x00})},
      {"LfanewHuge", With(good, 0x3C, {0xFC, 0xFF, 0xFF, 0xFF})},
      {"NoPeSignature", With(good, 0x80, {'P', 'X'})},
      {"NoSections", With(good, 0x86, {0, 0})},
      {"SectionTableCut", Cut(good, good.size() - 1)},
      {"OptionalHeaderSizePastEnd", With(good, 0x94, {0xFF, 0xFF})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(StubSize(c.bytes), Error);
  }
}

TEST(StubSize, OwnImageEndsWithinItsFile) {
  const uint64_t size = OwnStubSize();
  EXPECT_GT(size, 0x400u);
}

}  // namespace
}  // namespace qv
