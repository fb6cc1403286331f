// File streams handed to 7-Zip: archive input, archive output, source files
// to pack, and the buffered writer for extracted files.
#pragma once

#include "SevenZip.h"

#include <functional>
#include <memory>

namespace zel {

// Opens a file for reading with every sharing mode (a file another program
// writes to can still be packed). Returns INVALID_HANDLE_VALUE on failure.
HANDLE OpenForReading(const std::wstring& fullPath);

// A readable, seekable file: the archive being opened, or a file being packed.
class InFileStream final : public ComObject<IInStream, IStreamGetSize> {
public:
  explicit InFileStream(HANDLE file) : file_(file) {}
  ~InFileStream() override;

  STDMETHOD(Read)(void* data, UInt32 size, UInt32* processed) noexcept override;
  STDMETHOD(Seek)(Int64 offset, UInt32 origin, UInt64* newPosition) noexcept override;
  STDMETHOD(GetSize)(UInt64* size) noexcept override;
  void* QueryBase(REFIID iid) override;

private:
  HANDLE file_;
};

// The archive being written.
class OutFileStream final : public ComObject<IOutStream> {
public:
  explicit OutFileStream(HANDLE file) : file_(file) {}
  ~OutFileStream() override;

  STDMETHOD(Write)(const void* data, UInt32 size, UInt32* processed) noexcept override;
  STDMETHOD(Seek)(Int64 offset, UInt32 origin, UInt64* newPosition) noexcept override;
  STDMETHOD(SetSize)(UInt64 size) noexcept override;
  void* QueryBase(REFIID iid) override;

  // Closes the handle now (before the file is renamed into place).
  bool Close();

private:
  HANDLE file_;
};

// The writer of one extracted file. Small writes are gathered into a large
// buffer; large ones go straight to WriteFile. `onWritten` is told every
// byte count that reached the file (for progress and cancellation; it
// returns false to stop).
class ExtractFileStream final : public ComObject<ISequentialOutStream> {
public:
  ExtractFileStream(HANDLE file, std::function<bool(uint64_t)> onWritten);
  ~ExtractFileStream() override;

  STDMETHOD(Write)(const void* data, UInt32 size, UInt32* processed) noexcept override;

  // Flushes the buffer; false on a write failure (then `error` says which).
  bool Flush();
  // Flushes, sets the times and closes. Returns false if any write failed.
  bool Finish(const FILETIME* created, const FILETIME* modified);
  HRESULT error() const { return error_; }

private:
  bool WriteThrough(const void* data, DWORD size);

  HANDLE file_;
  std::function<bool(uint64_t)> onWritten_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t used_ = 0;
  HRESULT error_ = S_OK;
};

}  // namespace zel
