// Extraction: validate every item path, then let 7-Zip decode into our
// buffered file writers. Test mode runs the same decoding with no output.
#include "Extract.h"

#include "ItemPath.h"
#include "Streams.h"

#include <algorithm>
#include <unordered_set>

namespace zel {

// ---- ItemSelection

ItemSelection::ItemSelection(const std::vector<std::wstring>& patterns) : all_(patterns.empty()) {
  for (const auto& p : patterns) {
    std::wstring normalized = NormalizeItemPath(p);
    if (normalized.empty() || normalized == L"*") {
      all_ = true;
    } else if (HasWildcard(normalized)) {
      wildcard_.emplace_back(std::move(normalized), false);
    } else {
      exact_.emplace(FoldCase(normalized), false);
    }
  }
}

bool ItemSelection::Select(const std::wstring& normalizedPath) {
  bool selected = all_;
  if (!exact_.empty()) {
    // The path itself and every folder above it.
    std::wstring folded = FoldCase(normalizedPath);
    for (;;) {
      auto it = exact_.find(folded);
      if (it != exact_.end()) {
        it->second = true;
        selected = true;
      }
      const size_t slash = folded.rfind(L'\\');
      if (slash == std::wstring::npos) break;
      folded.resize(slash);
    }
  }
  for (auto& [pattern, used] : wildcard_) {
    if (WildcardMatch(pattern, normalizedPath)) {
      used = true;
      selected = true;
    }
  }
  return selected;
}

bool ItemSelection::AllPatternsUsed() const {
  for (const auto& e : exact_) {
    if (!e.second) return false;
  }
  for (const auto& w : wildcard_) {
    if (!w.second) return false;
  }
  return true;
}

namespace {

// Attributes worth a SetFileAttributes call after writing (ARCHIVE alone is
// what a new file gets anyway).
constexpr DWORD kRestoredAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

struct Target {
  UInt32 index;
  std::wstring display;  // item path with '\' separators
  std::wstring full;     // absolute target path, empty when testing
};

class ExtractCallback final
    : public ComObject<IArchiveExtractCallback, ICryptoGetTextPassword> {
public:
  ExtractCallback(const ExtractRequest& request, const std::vector<ItemInfo>& infos,
                  const std::unordered_map<UInt32, Target>& targets, PasswordSource& password, Reporter& reporter)
      : request_(request), infos_(infos), targets_(targets), password_(password), reporter_(reporter) {}

  uint32_t failure() const { return failure_; }
  bool passwordMissing() const { return passwordMissing_; }
  const std::vector<UInt32>& folders() const { return folders_; }

  void* QueryBase(REFIID iid) override {
    return IsEqualIID(iid, IID_IProgress) ? static_cast<IProgress*>(static_cast<IArchiveExtractCallback*>(this))
                                          : nullptr;
  }

  // 7-Zip's own progress: used only when testing, where no bytes are written.
  STDMETHOD(SetTotal)(UInt64) noexcept override { return S_OK; }
  STDMETHOD(SetCompleted)(const UInt64* value) noexcept override {
    if (!request_.test || !value) return reporter_.cancelled() ? E_ABORT : S_OK;
    const UInt64 now = *value;
    const UInt64 delta = now > completed_ ? now - completed_ : 0;
    completed_ = std::max(completed_, now);
    return reporter_.Advance(delta) ? S_OK : E_ABORT;
  }

  STDMETHOD(GetStream)(UInt32 index, ISequentialOutStream** out, Int32 askMode) noexcept override {
    *out = nullptr;
    current_ = index;
    try {
      auto it = targets_.find(index);
      if (it == targets_.end()) return S_OK;
      const Target& target = it->second;
      const ItemInfo& info = infos_[index];
      if (!reporter_.Item(target.display)) return E_ABORT;
      if (askMode != NArchive::NExtract::NAskMode::kExtract || request_.test) return S_OK;
      if (info.isDir) {
        if (!request_.flat) {
          if (!EnsureFolder(target.full)) return Stop(ZEL_E_WRITE_FILE);
          folders_.push_back(index);
        }
        return S_OK;
      }
      const size_t slash = target.full.find_last_of(L'\\');
      if (!EnsureFolder(target.full.substr(0, slash))) return Stop(ZEL_E_WRITE_FILE);

      const std::wstring ext = ExtendedPath(target.full);
      // Most targets are new: try that first and look at an existing file
      // only when there is one (one file-system call less per file).
      constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
      HANDLE file = CreateFileW(ext.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, kFlags, nullptr);
      if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_NOT_ENOUGH_MEMORY) return Stop(ZEL_E_OUT_OF_MEMORY);
        WIN32_FILE_ATTRIBUTE_DATA existing;
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) ||
            !GetFileAttributesExW(ext.c_str(), GetFileExInfoStandard, &existing) ||
            (existing.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
          return Stop(ZEL_E_WRITE_FILE);
        }
        const uint32_t answer = AskOverwrite(existing, info, index);
        if (answer == ZEL_OVERWRITE_CANCEL) return Stop(ZEL_E_CANCELLED);
        if (answer == ZEL_OVERWRITE_SKIP || answer == ZEL_OVERWRITE_SKIP_ALL) return S_OK;
        // CREATE_ALWAYS refuses read-only files and hidden or system files
        // whose attributes are not repeated.
        SetFileAttributesW(ext.c_str(), FILE_ATTRIBUTE_NORMAL);
        file = CreateFileW(ext.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, kFlags, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
          return Stop(GetLastError() == ERROR_NOT_ENOUGH_MEMORY ? ZEL_E_OUT_OF_MEMORY : ZEL_E_WRITE_FILE);
        }
      }
      if (info.size >= (1u << 20)) {
        // Telling the file system the final size of a large file up front
        // avoids growing it chunk by chunk (Wine ignores this).
        FILE_ALLOCATION_INFO allocation;
        allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(info.size);
        SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof(allocation));
      }
      Reporter* reporter = &reporter_;
      stream_ = MakeCom<ExtractFileStream>(file, [reporter](uint64_t n) { return reporter->Advance(n); });
      streamPath_ = ext;
      *out = stream_.get();
      stream_->AddRef();
      return S_OK;
    } catch (const std::bad_alloc&) {
      return Stop(ZEL_E_OUT_OF_MEMORY);
    } catch (const Failure& f) {
      return Stop(f.code);
    }
  }

  STDMETHOD(PrepareOperation)(Int32) noexcept override { return S_OK; }

  STDMETHOD(SetOperationResult)(Int32 result) noexcept override {
    const ItemInfo& info = infos_[current_];
    uint32_t code = CodeFromOperationResult(result, info.encrypted || password_.requested());
    if (stream_) {
      const bool written = stream_->Finish(info.hasCreated ? &info.created : nullptr,
                                           info.hasModified ? &info.modified : nullptr);
      if (code == ZEL_OK && !written) {
        code = CodeFromHresult(stream_->error(), ZEL_E_WRITE_FILE);
        if (code == ZEL_E_CANCELLED) code = ZEL_E_WRITE_FILE;
      }
      if (code != ZEL_OK) {
        DeleteFileW(streamPath_.c_str());
      } else if (info.hasAttributes && (info.attributes & kRestoredAttributes)) {
        SetFileAttributesW(streamPath_.c_str(), info.attributes & kRestoredAttributes);
      }
      stream_ = ComPtr<ExtractFileStream>();
    }
    if (code != ZEL_OK) return Stop(code);
    return S_OK;
  }

  // After a stop in the middle of an item: its partial file must not stay.
  void DiscardOpenFile() {
    if (!stream_) return;
    stream_->Finish(nullptr, nullptr);
    DeleteFileW(streamPath_.c_str());
    stream_ = ComPtr<ExtractFileStream>();
  }

  STDMETHOD(CryptoGetTextPassword)(BSTR* password) noexcept override {
    *password = nullptr;
    try {
      auto value = password_.Get();
      if (!value) {
        passwordMissing_ = true;
        return E_ABORT;
      }
      return StringToBstr(*value, password);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

private:
  HRESULT Stop(uint32_t code) {
    if (failure_ == ZEL_OK) failure_ = code;
    return E_ABORT;
  }

  bool EnsureFolder(const std::wstring& full) {
    std::wstring key = FoldCase(full);
    if (made_.count(key)) return true;
    if (!CreateFolderTree(full)) return false;
    made_.insert(std::move(key));
    return true;
  }

  uint32_t AskOverwrite(const WIN32_FILE_ATTRIBUTE_DATA& existing, const ItemInfo& info, UInt32 index) {
    if (overwriteAll_) return ZEL_OVERWRITE_REPLACE_ALL;
    if (skipAll_) return ZEL_OVERWRITE_SKIP_ALL;
    if (!request_.overwrite) return ZEL_OVERWRITE_REPLACE;
    const uint32_t answer = reporter_.Serialized([&] {
      return request_.overwrite(existing.nFileSizeLow, existing.nFileSizeHigh, existing.ftLastWriteTime.dwLowDateTime,
                                existing.ftLastWriteTime.dwHighDateTime, static_cast<uint32_t>(info.size),
                                static_cast<uint32_t>(info.size >> 32), info.modified.dwLowDateTime,
                                info.modified.dwHighDateTime, index, 0);
    });
    if (answer == ZEL_OVERWRITE_REPLACE_ALL) overwriteAll_ = true;
    if (answer == ZEL_OVERWRITE_SKIP_ALL) skipAll_ = true;
    return answer > ZEL_OVERWRITE_REPLACE_ALL ? ZEL_OVERWRITE_CANCEL : answer;
  }

  const ExtractRequest& request_;
  const std::vector<ItemInfo>& infos_;
  const std::unordered_map<UInt32, Target>& targets_;
  PasswordSource& password_;
  Reporter& reporter_;

  UInt32 current_ = 0;
  ComPtr<ExtractFileStream> stream_;
  std::wstring streamPath_;
  std::unordered_set<std::wstring> made_;
  std::vector<UInt32> folders_;
  UInt64 completed_ = 0;
  uint32_t failure_ = ZEL_OK;
  bool passwordMissing_ = false;
  bool overwriteAll_ = false;
  bool skipAll_ = false;
};

}  // namespace

void Extract(const ExtractRequest& request, PasswordSource& password, Reporter& reporter) {
  OpenedArchive opened = OpenExisting(request.archive, password);
  if (const uint32_t code = OpenErrorCode(opened.archive.get()); code != ZEL_OK) Fail(code);

  std::vector<ItemInfo> infos;
  infos.reserve(opened.count);
  for (UInt32 i = 0; i < opened.count; ++i) infos.push_back(ReadItem(opened.archive.get(), i));

  // Every name is checked before the first byte is written, selected or not:
  // an archive that holds one hostile name is not trusted with the others.
  if (!request.test) {
    for (const auto& info : infos) {
      if (info.isAltStream || !IsSafeItemPath(info.path)) Fail(ZEL_E_UNSAFE_PATH);
    }
  }

  std::wstring base = request.destination;
  if (!base.empty() && base.back() != L'\\') base += L'\\';  // a drive root already ends with one
  ItemSelection selection(request.items);
  std::unordered_map<UInt32, Target> targets;
  std::vector<UInt32> indices;
  uint64_t total = 0;
  for (UInt32 i = 0; i < opened.count; ++i) {
    const ItemInfo& info = infos[i];
    Target target{i, NormalizeItemPath(info.path), {}};
    if (!selection.Select(target.display)) continue;
    if (!request.test) {
      if (request.flat) {
        if (info.isDir) continue;
        const auto parts = SplitItemPath(info.path);
        target.full = base + parts.back();
      } else {
        target.full = base + target.display;
      }
      // Belt and braces: the resolved target must still lie below the destination.
      if (!IsWithin(FullPath(target.full), request.destination)) Fail(ZEL_E_UNSAFE_PATH);
    }
    if (!info.isDir) total += info.size;
    indices.push_back(i);
    targets.emplace(i, std::move(target));
  }
  if (!selection.AllPatternsUsed()) Fail(ZEL_E_NO_MATCH);

  if (!request.test && !CreateFolderTree(request.destination)) Fail(ZEL_E_WRITE_FILE);
  reporter.SetTotal(total);
  if (indices.empty()) return;

  auto callback = MakeCom<ExtractCallback>(request, infos, targets, password, reporter);
  const bool all = indices.size() == opened.count;
  const HRESULT hr = opened.archive->Extract(all ? nullptr : indices.data(), all ? 0xFFFFFFFFu : static_cast<UInt32>(indices.size()),
                                             request.test ? 1 : 0, callback.get());
  callback->DiscardOpenFile();
  if (callback->failure() != ZEL_OK) Fail(callback->failure());
  if (callback->passwordMissing()) Fail(ZEL_E_PASSWORD);
  if (hr != S_OK) Fail(CodeFromHresult(hr, ZEL_E_DATA));
  if (reporter.cancelled()) Fail(ZEL_E_CANCELLED);

  reporter.Finish();

  // Folder attributes last: a read-only folder would refuse its own content.
  for (UInt32 index : callback->folders()) {
    const ItemInfo& info = infos[index];
    if (info.hasAttributes && (info.attributes & kRestoredAttributes)) {
      SetFileAttributesW(ExtendedPath(targets.at(index).full).c_str(),
                         FILE_ATTRIBUTE_DIRECTORY | (info.attributes & kRestoredAttributes));
    }
  }
}

}  // namespace zel
