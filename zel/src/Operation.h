// What every archive operation shares: the password (given, or asked once
// from the caller), progress reporting to the caller's callbacks, opening an
// existing archive, and reading one item's properties.
#pragma once

#include "SevenZip.h"

#include <mutex>

namespace zel {

// The password of one call: the one passed in, else the callback's answer,
// asked at most once and only when 7-Zip needs it.
class PasswordSource {
public:
  PasswordSource(const wchar_t* given, ZEL_PASSWORD_CALLBACK callback);

  // The password, or nothing when none is available.
  std::optional<std::wstring> Get();
  // True once 7-Zip has asked for a password.
  bool requested() const { return requested_; }
  // The password passed in, if any, without asking the callback.
  std::optional<std::wstring> Given() const;

private:
  std::mutex lock_;
  std::wstring password_;
  std::wstring given_;
  ZEL_PASSWORD_CALLBACK callback_;
  bool asked_ = false;
  std::atomic<bool> requested_{false};
};

// Reports the item in progress and byte counts to the caller's callbacks,
// one call at a time, and remembers a request to stop.
class Reporter {
public:
  Reporter(ZEL_FILE_CALLBACK file, ZEL_PROGRESS_CALLBACK progress) : file_(file), progress_(progress) {}

  void SetTotal(uint64_t total) { total_ = total; }
  // A new item starts: always reported. False when the caller asked to stop.
  bool Item(const std::wstring& path);
  // Bytes of the current item done: reported at most every few tens of
  // milliseconds. False when the caller asked to stop.
  bool Advance(uint64_t bytes);
  // A last report once the operation has succeeded, so that the caller sees
  // done == total.
  void Finish();
  // Runs another caller callback under the same lock, so that no two
  // callbacks ever run at once.
  template <typename F>
  auto Serialized(F&& f) {
    std::lock_guard lock(lock_);
    return f();
  }
  bool cancelled() const { return cancelled_; }
  uint64_t done() const { return done_; }

private:
  bool ReportLocked();

  ZEL_FILE_CALLBACK file_;
  ZEL_PROGRESS_CALLBACK progress_;
  std::mutex lock_;
  std::wstring item_;
  std::atomic<uint64_t> done_{0};
  std::atomic<uint64_t> total_{0};
  std::atomic<ULONGLONG> lastTick_{0};
  std::atomic<bool> cancelled_{false};
};

// An opened archive.
struct OpenedArchive {
  ComPtr<IInArchive> archive;
  UInt32 count = 0;
  bool headersEncrypted = false;  // opening needed the password
};

// Opens an existing 7z archive; fails with ZEL_E_OPEN_ARCHIVE,
// ZEL_E_NOT_ARCHIVE, ZEL_E_PASSWORD or ZEL_E_OUT_OF_MEMORY.
OpenedArchive OpenExisting(const std::wstring& fullPath, PasswordSource& password);

// The properties of one item the module uses.
struct ItemInfo {
  std::wstring path;  // as stored, 7-Zip's separators
  bool isDir = false;
  uint64_t size = 0;
  uint64_t packedSize = 0;
  uint32_t crc = 0;
  uint32_t attributes = 0;
  bool hasAttributes = false;
  FILETIME modified{};
  bool hasModified = false;
  FILETIME created{};
  bool hasCreated = false;
  bool encrypted = false;
  bool isAltStream = false;
};

ItemInfo ReadItem(IInArchive* archive, UInt32 index);

// Error flags 7-Zip recorded while opening (kpidErrorFlags) as a module code,
// or ZEL_OK.
uint32_t OpenErrorCode(IInArchive* archive);

// The module's code for an extraction result (NExtract::NOperationResult).
uint32_t CodeFromOperationResult(Int32 result, bool encrypted);

}  // namespace zel
