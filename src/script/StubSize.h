// Where the appended script begins: the end of the last section's raw data in
// a PE image. The builder applies it to the stub file it copies, the engine to
// its own image as loaded in memory, so both agree on the same offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qv {

// Largest PointerToRawData + SizeOfRawData over the section headers of the
// image whose headers start `headers`. The section table is located through
// SizeOfOptionalHeader, which is right for PE32 and PE32+ alike. Every read is
// checked against the buffer; a buffer that is not a PE image, or whose
// headers run past its end, raises qv::Error.
uint64_t StubSize(std::span<const uint8_t> headers);

// The same for the image of the running executable (GetModuleHandleW(nullptr)):
// the loader keeps the headers mapped, so the size of the header page is a
// safe bound.
uint64_t OwnStubSize();

}  // namespace qv
