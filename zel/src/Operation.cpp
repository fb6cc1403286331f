// Shared parts of the archive operations.
#include "Operation.h"

#include "ItemPath.h"
#include "Streams.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

namespace zel {

// ---- PasswordSource

PasswordSource::PasswordSource(const wchar_t* given, ZEL_PASSWORD_CALLBACK callback)
    : password_(given ? given : L""), given_(password_), callback_(callback) {}

std::optional<std::wstring> PasswordSource::Get() {
  requested_ = true;
  std::lock_guard lock(lock_);
  if (password_.empty() && callback_ && !asked_) {
    asked_ = true;
    std::vector<wchar_t> buffer(ZEL_PASSWORD_CHARS, L'\0');
    if (callback_(buffer.data())) {
      buffer.back() = L'\0';
      password_.assign(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
    }
    SecureZeroMemory(buffer.data(), buffer.size() * sizeof(wchar_t));
  }
  if (password_.empty()) return std::nullopt;
  return password_;
}

std::optional<std::wstring> PasswordSource::Given() const {
  if (given_.empty()) return std::nullopt;
  return given_;
}

// ---- Reporter

bool Reporter::ReportLocked() {
  if (cancelled_) return false;
  // The interval runs from the start of a report, so a slow callback does
  // not delay the next one further.
  lastTick_ = GetTickCount64();
  const uint64_t done = done_;
  const uint64_t total = std::max<uint64_t>(total_, done);
  bool go = true;
  if (file_ && !file_(item_.c_str(), done, total)) go = false;
  if (progress_) {
    auto kib = [](uint64_t n) { return static_cast<uint32_t>(std::min<uint64_t>(n / 1024, 0xFFFFFFFFu)); };
    if (!progress_(kib(done), kib(total))) go = false;
  }
  if (!go) cancelled_ = true;
  return go;
}

bool Reporter::Item(const std::wstring& path) {
  std::lock_guard lock(lock_);
  item_ = path;
  return ReportLocked();
}

void Reporter::Finish() {
  if (!file_ && !progress_) return;
  std::lock_guard lock(lock_);
  if (total_ > done_) done_ = total_.load();
  ReportLocked();
}

bool Reporter::Advance(uint64_t bytes) {
  done_ += bytes;
  if (cancelled_) return false;
  if (!file_ && !progress_) return true;
  constexpr ULONGLONG kInterval = 50;  // ms between reports within one item
  if (GetTickCount64() - lastTick_ < kInterval) return true;
  std::lock_guard lock(lock_);
  return ReportLocked();
}

// ---- Opening

namespace {

class OpenCallback final : public ComObject<IArchiveOpenCallback, ICryptoGetTextPassword> {
public:
  explicit OpenCallback(PasswordSource& password) : password_(password) {}

  STDMETHOD(SetTotal)(const UInt64*, const UInt64*) noexcept override { return S_OK; }
  STDMETHOD(SetCompleted)(const UInt64*, const UInt64*) noexcept override { return S_OK; }
  STDMETHOD(CryptoGetTextPassword)(BSTR* password) noexcept override {
    *password = nullptr;
    try {
      auto value = password_.Get();
      if (!value) return E_ABORT;
      return StringToBstr(*value, password);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

private:
  PasswordSource& password_;
};

}  // namespace

// A 7z archive cut short still has its start header, which says how long the
// archive must be: that tells "truncated" apart from "damaged".
bool LooksTruncated(InFileStream& stream) {
  static const unsigned char kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
  unsigned char header[32];
  UInt32 got = 0;
  UInt64 size = 0;
  if (stream.Seek(0, FILE_BEGIN, nullptr) != S_OK || stream.GetSize(&size) != S_OK) return false;
  if (stream.Read(header, sizeof(header), &got) != S_OK || got != sizeof(header)) return false;
  if (memcmp(header, kSignature, sizeof(kSignature)) != 0) return false;
  auto le64 = [&](int at) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | header[at + i];
    return v;
  };
  const uint64_t nextHeaderOffset = le64(12), nextHeaderSize = le64(20);
  if (nextHeaderOffset > size || nextHeaderSize > size) return true;
  return 32 + nextHeaderOffset + nextHeaderSize > size;
}

OpenedArchive OpenExisting(const std::wstring& fullPath, PasswordSource& password) {
  HANDLE file = OpenForReading(fullPath);
  if (file == INVALID_HANDLE_VALUE) Fail(ZEL_E_OPEN_ARCHIVE);
  auto stream = MakeCom<InFileStream>(file);

  OpenedArchive opened;
  opened.archive = NewInArchive();
  auto callback = MakeCom<OpenCallback>(password);
  const UInt64 checkStart = 0;  // the archive starts at offset 0; no signature search
  const HRESULT hr = opened.archive->Open(stream.get(), &checkStart, callback.get());
  if (hr != S_OK) {
    if (hr == E_OUTOFMEMORY) Fail(ZEL_E_OUT_OF_MEMORY);
    // With encrypted headers a missing or wrong password is all 7-Zip can
    // tell apart from damage.
    if (password.requested()) Fail(ZEL_E_PASSWORD);
    if (LooksTruncated(*stream.get())) Fail(ZEL_E_UNEXPECTED_END);
    Fail(hr == S_FALSE ? ZEL_E_NOT_ARCHIVE : CodeFromHresult(hr, ZEL_E_NOT_ARCHIVE));
  }
  opened.headersEncrypted = password.requested();
  Check(opened.archive->GetNumberOfItems(&opened.count), ZEL_E_NOT_ARCHIVE);
  return opened;
}

ItemInfo ReadItem(IInArchive* archive, UInt32 index) {
  ItemInfo info;
  auto get = [&](PROPID id, PropVariant& v) { Check(archive->GetProperty(index, id, v.get()), ZEL_E_NOT_ARCHIVE); };
  {
    PropVariant v;
    get(kpidPath, v);
    info.path = v.String().value_or(L"");
  }
  {
    PropVariant v;
    get(kpidIsDir, v);
    info.isDir = v.Bool().value_or(false);
  }
  {
    PropVariant v;
    get(kpidSize, v);
    info.size = v.Unsigned().value_or(0);
  }
  {
    PropVariant v;
    get(kpidPackSize, v);
    info.packedSize = v.Unsigned().value_or(0);
  }
  {
    PropVariant v;
    get(kpidCRC, v);
    info.crc = static_cast<uint32_t>(v.Unsigned().value_or(0));
  }
  {
    PropVariant v;
    get(kpidAttrib, v);
    if (auto a = v.Unsigned()) {
      info.attributes = static_cast<uint32_t>(*a);
      info.hasAttributes = true;
    }
  }
  {
    PropVariant v;
    get(kpidMTime, v);
    if (auto t = v.Time()) {
      info.modified = *t;
      info.hasModified = true;
    }
  }
  {
    PropVariant v;
    get(kpidCTime, v);
    if (auto t = v.Time()) {
      info.created = *t;
      info.hasCreated = true;
    }
  }
  {
    PropVariant v;
    get(kpidEncrypted, v);
    info.encrypted = v.Bool().value_or(false);
  }
  {
    PropVariant v;
    get(kpidIsAltStream, v);
    info.isAltStream = v.Bool().value_or(false);
  }
  if (info.hasAttributes && (info.attributes & FILE_ATTRIBUTE_DIRECTORY)) info.isDir = true;
  return info;
}

uint32_t OpenErrorCode(IInArchive* archive) {
  PropVariant v;
  if (archive->GetArchiveProperty(kpidErrorFlags, v.get()) != S_OK) return ZEL_OK;
  const uint64_t flags = v.Unsigned().value_or(0);
  if (flags == 0) return ZEL_OK;
  if (flags & kpv_ErrorFlags_UnexpectedEnd) return ZEL_E_UNEXPECTED_END;
  if (flags & kpv_ErrorFlags_UnsupportedMethod) return ZEL_E_UNSUPPORTED_METHOD;
  if (flags & (kpv_ErrorFlags_DataError | kpv_ErrorFlags_CrcError)) return ZEL_E_DATA;
  return ZEL_E_NOT_ARCHIVE;
}

uint32_t CodeFromOperationResult(Int32 result, bool encrypted) {
  using namespace NArchive::NExtract::NOperationResult;
  switch (result) {
    case kOK: return ZEL_OK;
    case kUnsupportedMethod: return ZEL_E_UNSUPPORTED_METHOD;
    case kWrongPassword: return ZEL_E_PASSWORD;
    // AES with a wrong key decrypts to garbage: the damage shows up as a
    // data or CRC error of an encrypted item.
    case kDataError:
    case kCRCError: return encrypted ? ZEL_E_PASSWORD : ZEL_E_DATA;
    case kUnexpectedEnd:
    case kUnavailable: return ZEL_E_UNEXPECTED_END;
    case kIsNotArc:
    case kHeadersError: return ZEL_E_NOT_ARCHIVE;
    case kDataAfterEnd: return ZEL_E_DATA;
    default: return ZEL_E_DATA;
  }
}

}  // namespace zel
