// File streams for 7-Zip. Extraction speed depends mostly on the writer: it
// never copies a large block and makes one WriteFile call per megabyte at
// most for small ones.
#include "Streams.h"

#include "ItemPath.h"

#include <algorithm>

namespace zel {
namespace {

constexpr size_t kWriteBuffer = 1u << 20;  // gathered small writes
constexpr DWORD kMaxIo = 1u << 26;         // largest single WriteFile/ReadFile

HRESULT LastErrorHresult() {
  const DWORD e = GetLastError();
  return e ? HRESULT_FROM_WIN32(e) : E_FAIL;
}

HRESULT SeekFile(HANDLE file, Int64 offset, UInt32 origin, UInt64* newPosition) {
  if (origin > FILE_END) return STG_E_INVALIDFUNCTION;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER position{};
  if (!SetFilePointerEx(file, distance, &position, origin)) return LastErrorHresult();
  if (newPosition) *newPosition = static_cast<UInt64>(position.QuadPart);
  return S_OK;
}

}  // namespace

HANDLE OpenForReading(const std::wstring& fullPath) {
  return CreateFileW(ExtendedPath(fullPath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// ---- InFileStream

InFileStream::~InFileStream() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

void* InFileStream::QueryBase(REFIID iid) {
  return IsEqualIID(iid, IID_ISequentialInStream) ? static_cast<ISequentialInStream*>(static_cast<IInStream*>(this))
                                                  : nullptr;
}

STDMETHODIMP InFileStream::Read(void* data, UInt32 size, UInt32* processed) noexcept {
  if (processed) *processed = 0;
  DWORD read = 0;
  if (!ReadFile(file_, data, std::min<UInt32>(size, kMaxIo), &read, nullptr)) return LastErrorHresult();
  if (processed) *processed = read;
  return S_OK;
}

STDMETHODIMP InFileStream::Seek(Int64 offset, UInt32 origin, UInt64* newPosition) noexcept {
  return SeekFile(file_, offset, origin, newPosition);
}

STDMETHODIMP InFileStream::GetSize(UInt64* size) noexcept {
  LARGE_INTEGER s;
  if (!GetFileSizeEx(file_, &s)) return LastErrorHresult();
  *size = static_cast<UInt64>(s.QuadPart);
  return S_OK;
}

// ---- OutFileStream

OutFileStream::~OutFileStream() { Close(); }

bool OutFileStream::Close() {
  if (file_ == INVALID_HANDLE_VALUE) return true;
  const bool ok = CloseHandle(file_) != FALSE;
  file_ = INVALID_HANDLE_VALUE;
  return ok;
}

void* OutFileStream::QueryBase(REFIID iid) {
  return IsEqualIID(iid, IID_ISequentialOutStream) ? static_cast<ISequentialOutStream*>(static_cast<IOutStream*>(this))
                                                   : nullptr;
}

STDMETHODIMP OutFileStream::Write(const void* data, UInt32 size, UInt32* processed) noexcept {
  if (processed) *processed = 0;
  DWORD written = 0;
  if (!WriteFile(file_, data, std::min<UInt32>(size, kMaxIo), &written, nullptr)) return LastErrorHresult();
  if (processed) *processed = written;
  return S_OK;
}

STDMETHODIMP OutFileStream::Seek(Int64 offset, UInt32 origin, UInt64* newPosition) noexcept {
  return SeekFile(file_, offset, origin, newPosition);
}

STDMETHODIMP OutFileStream::SetSize(UInt64 size) noexcept {
  UInt64 current = 0;
  HRESULT hr = SeekFile(file_, 0, FILE_CURRENT, &current);
  if (hr != S_OK) return hr;
  hr = SeekFile(file_, static_cast<Int64>(size), FILE_BEGIN, nullptr);
  if (hr != S_OK) return hr;
  if (!SetEndOfFile(file_)) return LastErrorHresult();
  return SeekFile(file_, static_cast<Int64>(current), FILE_BEGIN, nullptr);
}

// ---- ExtractFileStream

ExtractFileStream::ExtractFileStream(HANDLE file, std::function<bool(uint64_t)> onWritten)
    : file_(file), onWritten_(std::move(onWritten)) {}

ExtractFileStream::~ExtractFileStream() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool ExtractFileStream::WriteThrough(const void* data, DWORD size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(file_, p, std::min(size, kMaxIo), &written, nullptr) || written == 0) {
      error_ = LastErrorHresult();
      return false;
    }
    p += written;
    size -= written;
  }
  return true;
}

STDMETHODIMP ExtractFileStream::Write(const void* data, UInt32 size, UInt32* processed) noexcept {
  if (processed) *processed = 0;
  if (error_ != S_OK) return error_;
  if (size >= kWriteBuffer / 2) {
    if (!Flush() || !WriteThrough(data, size)) return error_;
  } else {
    if (used_ + size > kWriteBuffer && !Flush()) return error_;
    if (!buffer_) {
      buffer_.reset(new (std::nothrow) uint8_t[kWriteBuffer]);
      if (!buffer_) return E_OUTOFMEMORY;
    }
    memcpy(buffer_.get() + used_, data, size);
    used_ += size;
  }
  if (processed) *processed = size;
  if (onWritten_ && !onWritten_(size)) return E_ABORT;
  return S_OK;
}

bool ExtractFileStream::Flush() {
  if (used_ == 0) return error_ == S_OK;
  const bool ok = WriteThrough(buffer_.get(), static_cast<DWORD>(used_));
  used_ = 0;
  return ok;
}

bool ExtractFileStream::Finish(const FILETIME* created, const FILETIME* modified) {
  bool ok = Flush();
  if (file_ == INVALID_HANDLE_VALUE) return ok;
  if (ok && (created || modified)) SetFileTime(file_, created, nullptr, modified);
  if (!CloseHandle(file_) && ok) {
    error_ = LastErrorHresult();
    ok = false;
  }
  file_ = INVALID_HANDLE_VALUE;
  return ok;
}

}  // namespace zel
