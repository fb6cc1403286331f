// Archive writing. Every write goes to a temporary file beside the archive,
// which replaces the archive only when 7-Zip finished without error: a failed
// add or delete leaves the old archive as it was.
#include "Update.h"

#include "Extract.h"
#include "ItemPath.h"
#include "Streams.h"

#include <algorithm>
#include <cwctype>
#include <unordered_set>

namespace zel {

// ---- Switches

std::vector<Property> ParseSwitches(std::wstring_view switches) {
  std::vector<Property> properties;
  size_t i = 0;
  while (i < switches.size()) {
    while (i < switches.size() && iswspace(switches[i])) ++i;
    size_t end = i;
    while (end < switches.size() && !iswspace(switches[end])) ++end;
    const std::wstring_view token = switches.substr(i, end - i);
    i = end;
    if (token.empty()) continue;
    if (token == L"-ssw" || token == L"-SSW") continue;
    if (token.size() < 3 || token[0] != L'-' || (token[1] != L'm' && token[1] != L'M')) Fail(ZEL_E_SWITCHES);

    const std::wstring_view body = token.substr(2);
    const size_t eq = body.find(L'=');
    Property p;
    p.name = std::wstring(body.substr(0, eq));
    if (p.name.empty()) Fail(ZEL_E_SWITCHES);
    if (eq == std::wstring_view::npos) {
      if (p.name.back() == L'+' || p.name.back() == L'-') {
        p.kind = Property::Kind::Bool;
        p.flag = p.name.back() == L'+';
        p.name.pop_back();
      }
    } else {
      const std::wstring_view value = body.substr(eq + 1);
      const bool digits = !value.empty() && value.size() <= 19 &&
                          std::all_of(value.begin(), value.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
      if (digits) {
        p.kind = Property::Kind::Number;
        for (wchar_t c : value) p.number = p.number * 10 + static_cast<uint64_t>(c - L'0');
      } else if (!value.empty()) {
        p.kind = Property::Kind::Text;
        p.text = std::wstring(value);
      }
    }
    properties.push_back(std::move(p));
  }
  return properties;
}

namespace {

void ApplyProperties(IUnknown* handler, const std::vector<Property>& properties) {
  if (properties.empty()) return;
  ComPtr<ISetProperties> setter;
  if (handler->QueryInterface(IID_ISetProperties, setter.putVoid()) != S_OK || !setter) Fail(ZEL_E_INTERNAL);
  std::vector<const wchar_t*> names;
  std::vector<PROPVARIANT> values(properties.size());
  for (size_t i = 0; i < properties.size(); ++i) {
    const Property& p = properties[i];
    names.push_back(p.name.c_str());
    PropVariantInit(&values[i]);
    switch (p.kind) {
      case Property::Kind::Empty: break;
      case Property::Kind::Bool: SetBool(&values[i], p.flag); break;
      case Property::Kind::Number:
        if (p.number <= 0xFFFFFFFFu) {
          SetUInt32(&values[i], static_cast<uint32_t>(p.number));
        } else {
          SetUInt64(&values[i], p.number);
        }
        break;
      case Property::Kind::Text:
        if (SetString(&values[i], p.text) != S_OK) Fail(ZEL_E_OUT_OF_MEMORY);
        break;
    }
  }
  const HRESULT hr = setter->SetProperties(names.data(), values.data(), static_cast<UInt32>(names.size()));
  for (auto& v : values) VariantClear(reinterpret_cast<VARIANTARG*>(&v));
  if (hr == E_OUTOFMEMORY) Fail(ZEL_E_OUT_OF_MEMORY);
  if (hr != S_OK) Fail(ZEL_E_SWITCHES);
}

bool HasProperty(const std::vector<Property>& properties, std::wstring_view name) {
  for (const auto& p : properties) {
    if (CompareStringOrdinal(p.name.c_str(), -1, std::wstring(name).c_str(), -1, TRUE) == CSTR_EQUAL) return true;
  }
  return false;
}

// ---- File sets

class FileSetExpander {
public:
  FileSetExpander(const std::wstring& skip) : skip_(FoldCase(skip)) {}

  void AddEntry(std::wstring entry, bool keepParentName) {
    std::replace(entry.begin(), entry.end(), L'/', L'\\');
    while (entry.size() > 3 && entry.back() == L'\\') entry.pop_back();
    const size_t slash = entry.find_last_of(L'\\');
    std::wstring name = slash == std::wstring::npos ? entry : entry.substr(slash + 1);
    if (name == L"*.*") name = L"*";
    const std::wstring folder = FullPath(slash == std::wstring::npos ? std::wstring(L".") : entry.substr(0, slash + 1));
    if (folder.empty()) Fail(ZEL_E_READ_FILE);

    std::wstring prefix;
    if (keepParentName) {
      const size_t s = folder.find_last_of(L'\\');
      if (s != std::wstring::npos && s + 1 < folder.size()) prefix = folder.substr(s + 1) + L'\\';
    }

    if (HasWildcard(name)) {
      Enumerate(folder, name, prefix);
      return;
    }
    const std::wstring full = FullPath(entry);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (full.empty() || !GetFileAttributesExW(ExtendedPath(full).c_str(), GetFileExInfoStandard, &data)) {
      Fail(ZEL_E_READ_FILE);
    }
    if (full.size() <= 3) {
      // A drive root has no name of its own: its content is packed.
      Enumerate(full, L"*", L"");
      return;
    }
    WIN32_FIND_DATAW found{};
    found.dwFileAttributes = data.dwFileAttributes;
    found.ftCreationTime = data.ftCreationTime;
    found.ftLastAccessTime = data.ftLastAccessTime;
    found.ftLastWriteTime = data.ftLastWriteTime;
    found.nFileSizeHigh = data.nFileSizeHigh;
    found.nFileSizeLow = data.nFileSizeLow;
    Add(full, prefix + full.substr(full.find_last_of(L'\\') + 1), found);
  }

  std::vector<DiskItem> Take() { return std::move(items_); }

private:
  void Add(const std::wstring& full, const std::wstring& archivePath, const WIN32_FIND_DATAW& found) {
    if (FoldCase(full) == skip_) return;
    if (!seen_.insert(FoldCase(archivePath)).second) return;
    DiskItem item;
    item.archivePath = archivePath;
    item.diskPath = full;
    item.isDir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    item.size = item.isDir ? 0 : (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    item.attributes = found.dwFileAttributes;
    item.created = found.ftCreationTime;
    item.accessed = found.ftLastAccessTime;
    item.modified = found.ftLastWriteTime;
    items_.push_back(item);
    if (item.isDir && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      Enumerate(full, L"*", archivePath + L'\\');
    }
  }

  void Enumerate(const std::wstring& folder, const std::wstring& pattern, const std::wstring& prefix) {
    std::wstring base = folder;
    if (base.back() != L'\\') base += L'\\';
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileExW(ExtendedPath(base + pattern).c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
      const DWORD e = GetLastError();
      if (e == ERROR_FILE_NOT_FOUND || e == ERROR_NO_MORE_FILES) return;
      Fail(ZEL_E_READ_FILE);
    }
    // Collect first: Add recurses and would otherwise hold many find handles.
    std::vector<WIN32_FIND_DATAW> entries;
    do {
      if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
      entries.push_back(found);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    for (const auto& e : entries) Add(base + e.cFileName, prefix + e.cFileName, e);
  }

  std::wstring skip_;
  std::unordered_set<std::wstring> seen_;
  std::vector<DiskItem> items_;
};

// ---- The update engine

// One item of the archive being written: copied from the old archive, or new.
struct UpdateEntry {
  bool copy = false;  // unchanged item of the existing archive
  UInt32 archiveIndex = 0;
  std::wstring path;
  bool isDir = false;
  uint64_t size = 0;
  uint32_t attributes = 0;
  FILETIME created{}, accessed{}, modified{};
  bool hasTimes = false;
  std::wstring diskPath;           // new item read from disk
  const std::string* data = nullptr;  // new item from memory
};

// Reads a file (or memory) being packed, counting bytes for progress.
class SourceStream final : public ComObject<ISequentialInStream, IStreamGetSize> {
public:
  SourceStream(HANDLE file, const std::string* data, uint64_t size, Reporter& reporter)
      : file_(file), data_(data), size_(size), reporter_(reporter) {}
  ~SourceStream() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }

  STDMETHOD(Read)(void* out, UInt32 size, UInt32* processed) noexcept override {
    if (processed) *processed = 0;
    DWORD n = 0;
    if (data_) {
      n = static_cast<DWORD>(std::min<uint64_t>(size, data_->size() - offset_));
      memcpy(out, data_->data() + offset_, n);
    } else if (!ReadFile(file_, out, size, &n, nullptr)) {
      return HRESULT_FROM_WIN32(GetLastError());
    }
    offset_ += n;
    if (processed) *processed = n;
    return reporter_.Advance(n) ? S_OK : E_ABORT;
  }
  STDMETHOD(GetSize)(UInt64* size) noexcept override {
    *size = size_;
    return S_OK;
  }

private:
  HANDLE file_;
  const std::string* data_;
  uint64_t size_;
  uint64_t offset_ = 0;
  Reporter& reporter_;
};

class UpdateCallback final
    : public ComObject<IArchiveUpdateCallback, ICryptoGetTextPassword2, ICryptoGetTextPassword> {
public:
  UpdateCallback(const std::vector<UpdateEntry>& entries, std::optional<std::wstring> encryptWith,
                 PasswordSource& decodePassword, Reporter& reporter, bool progressFromSevenZip)
      : entries_(entries),
        encryptWith_(std::move(encryptWith)),
        decodePassword_(decodePassword),
        reporter_(reporter),
        progressFromSevenZip_(progressFromSevenZip) {}

  uint32_t failure() const { return failure_; }

  void* QueryBase(REFIID iid) override {
    return IsEqualIID(iid, IID_IProgress) ? static_cast<IProgress*>(static_cast<IArchiveUpdateCallback*>(this))
                                          : nullptr;
  }

  STDMETHOD(SetTotal)(UInt64 total) noexcept override {
    if (progressFromSevenZip_) reporter_.SetTotal(total);
    return S_OK;
  }
  STDMETHOD(SetCompleted)(const UInt64* value) noexcept override {
    if (!progressFromSevenZip_ || !value) return reporter_.cancelled() ? E_ABORT : S_OK;
    const UInt64 delta = *value > completed_ ? *value - completed_ : 0;
    completed_ = std::max(completed_, *value);
    return reporter_.Advance(delta) ? S_OK : E_ABORT;
  }

  STDMETHOD(GetUpdateItemInfo)(UInt32 index, Int32* newData, Int32* newProps, UInt32* indexInArchive) noexcept override {
    const UpdateEntry& e = entries_[index];
    if (newData) *newData = e.copy ? 0 : 1;
    if (newProps) *newProps = e.copy ? 0 : 1;
    if (indexInArchive) *indexInArchive = e.copy ? e.archiveIndex : static_cast<UInt32>(-1);
    return S_OK;
  }

  STDMETHOD(GetProperty)(UInt32 index, PROPID id, PROPVARIANT* value) noexcept override {
    const UpdateEntry& e = entries_[index];
    switch (id) {
      case kpidIsAnti: SetBool(value, false); return S_OK;
      case kpidPath: return SetString(value, e.path);
      case kpidIsDir: SetBool(value, e.isDir); return S_OK;
      case kpidSize: SetUInt64(value, e.size); return S_OK;
      case kpidAttrib: SetUInt32(value, e.attributes); return S_OK;
      case kpidCTime: if (e.hasTimes) SetTime(value, e.created); return S_OK;
      case kpidATime: if (e.hasTimes) SetTime(value, e.accessed); return S_OK;
      case kpidMTime: if (e.hasTimes) SetTime(value, e.modified); return S_OK;
      default: return S_OK;
    }
  }

  STDMETHOD(GetStream)(UInt32 index, ISequentialInStream** stream) noexcept override {
    *stream = nullptr;
    const UpdateEntry& e = entries_[index];
    try {
      if (!reporter_.Item(e.path)) return E_ABORT;
      if (e.isDir) return S_OK;
      HANDLE file = INVALID_HANDLE_VALUE;
      if (!e.data) {
        file = OpenForReading(e.diskPath);
        if (file == INVALID_HANDLE_VALUE) {
          if (failure_ == ZEL_OK) failure_ = ZEL_E_READ_FILE;
          return E_ABORT;
        }
      }
      auto s = MakeCom<SourceStream>(file, e.data, e.size, reporter_);
      *stream = s.get();
      (*stream)->AddRef();
      return S_OK;
    } catch (const std::bad_alloc&) {
      if (failure_ == ZEL_OK) failure_ = ZEL_E_OUT_OF_MEMORY;
      return E_OUTOFMEMORY;
    }
  }

  STDMETHOD(SetOperationResult)(Int32) noexcept override { return S_OK; }

  // The password new (and repacked) data is encrypted with.
  STDMETHOD(CryptoGetTextPassword2)(Int32* defined, BSTR* password) noexcept override {
    *password = nullptr;
    *defined = encryptWith_ ? 1 : 0;
    return StringToBstr(encryptWith_ ? *encryptWith_ : std::wstring(), password);
  }
  // The password of existing data that has to be decoded for repacking.
  STDMETHOD(CryptoGetTextPassword)(BSTR* password) noexcept override {
    *password = nullptr;
    try {
      auto value = encryptWith_ ? encryptWith_ : decodePassword_.Get();
      if (!value) {
        if (failure_ == ZEL_OK) failure_ = ZEL_E_PASSWORD;
        return E_ABORT;
      }
      return StringToBstr(*value, password);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

private:
  const std::vector<UpdateEntry>& entries_;
  std::optional<std::wstring> encryptWith_;
  PasswordSource& decodePassword_;
  Reporter& reporter_;
  bool progressFromSevenZip_;
  UInt64 completed_ = 0;
  uint32_t failure_ = ZEL_OK;
};

std::wstring TemporaryBeside(const std::wstring& archive) {
  static std::atomic<unsigned> counter{0};
  wchar_t suffix[64];
  swprintf(suffix, 64, L".%lu-%u.zeltmp", static_cast<unsigned long>(GetCurrentProcessId()), ++counter);
  return archive + suffix;
}

// Writes `entries` into a new file that then replaces `archive`. `existing`
// (may be empty) is the opened old archive the copied entries come from; it
// is closed before the replacement.
void WriteArchive(const std::wstring& archive, OpenedArchive* existing, const std::vector<UpdateEntry>& entries,
                  const std::vector<Property>& properties, std::optional<std::wstring> encryptWith,
                  PasswordSource& decodePassword, Reporter& reporter, bool progressFromSevenZip) {
  ComPtr<IOutArchive> out;
  if (existing && existing->archive) {
    if (existing->archive->QueryInterface(IID_IOutArchive, out.putVoid()) != S_OK || !out) Fail(ZEL_E_INTERNAL);
  } else {
    out = NewOutArchive();
  }
  ApplyProperties(out.get(), properties);

  const size_t slash = archive.find_last_of(L'\\');
  if (slash != std::wstring::npos) {
    std::wstring folder = archive.substr(0, slash);
    if (folder.size() == 2) folder += L'\\';  // "C:" is the current folder of drive C, not its root
    if (!CreateFolderTree(folder)) Fail(ZEL_E_WRITE_ARCHIVE);
  }
  const std::wstring temp = ExtendedPath(TemporaryBeside(archive));
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail(ZEL_E_WRITE_ARCHIVE);
  auto stream = MakeCom<OutFileStream>(file);
  bool keepTemp = false;
  ScopeExit removeTemp([&] {
    if (!keepTemp) {
      stream->Close();
      DeleteFileW(temp.c_str());
    }
  });

  auto callback = MakeCom<UpdateCallback>(entries, std::move(encryptWith), decodePassword, reporter,
                                          progressFromSevenZip);
  const HRESULT hr = out->UpdateItems(stream.get(), static_cast<UInt32>(entries.size()), callback.get());
  if (callback->failure() != ZEL_OK) Fail(callback->failure());
  if (reporter.cancelled()) Fail(ZEL_E_CANCELLED);
  // Method names and parameters are checked only now, when the coders are built.
  if (hr == E_INVALIDARG) Fail(ZEL_E_SWITCHES);
  if (hr != S_OK) Fail(CodeFromHresult(hr, ZEL_E_WRITE_ARCHIVE));
  if (!stream->Close()) Fail(ZEL_E_WRITE_ARCHIVE);

  out = ComPtr<IOutArchive>();
  if (existing && existing->archive) {
    existing->archive->Close();
    existing->archive = ComPtr<IInArchive>();
  }
  if (!MoveFileExW(temp.c_str(), ExtendedPath(archive).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Fail(ZEL_E_WRITE_ARCHIVE);
  }
  keepTemp = true;
  reporter.Finish();
}

bool FileExists(const std::wstring& full) {
  const DWORD a = GetFileAttributesW(ExtendedPath(full).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

UpdateEntry NewEntry(const DiskItem& d) {
  UpdateEntry e;
  e.path = d.archivePath;
  e.isDir = d.isDir;
  e.size = d.size;
  e.attributes = d.attributes;
  e.created = d.created;
  e.accessed = d.accessed;
  e.modified = d.modified;
  e.hasTimes = true;
  e.diskPath = d.diskPath;
  return e;
}

}  // namespace

std::vector<DiskItem> ExpandFileSets(const std::vector<std::wstring>& files,
                                     const std::vector<std::wstring>& contentFiles, const std::wstring& skip) {
  FileSetExpander expander(skip);
  for (const auto& f : files) expander.AddEntry(f, true);
  for (const auto& f : contentFiles) expander.AddEntry(f, false);
  return expander.Take();
}

void Create(const CreateRequest& request, PasswordSource& password, Reporter& reporter) {
  if (request.kind != ZEL_KIND_7Z || request.mode > ZEL_MODE_NEW) Fail(ZEL_E_INVALID_ARGUMENT);
  std::vector<Property> properties = ParseSwitches(request.switches);
  const std::vector<DiskItem> disk = ExpandFileSets(request.files, request.contentFiles, request.archive);

  std::vector<UpdateEntry> entries;
  OpenedArchive existing;
  const bool merge = request.mode != ZEL_MODE_NEW && FileExists(request.archive);
  std::vector<bool> useDisk(disk.size(), true);
  if (merge) {
    existing = OpenExisting(request.archive, password);
    std::unordered_map<std::wstring, size_t> byPath;
    for (size_t i = 0; i < disk.size(); ++i) byPath.emplace(FoldCase(disk[i].archivePath), i);
    for (UInt32 i = 0; i < existing.count; ++i) {
      const ItemInfo info = ReadItem(existing.archive.get(), i);
      auto it = byPath.find(FoldCase(NormalizeItemPath(info.path)));
      if (it != byPath.end()) {
        const DiskItem& d = disk[it->second];
        const bool newer = !info.hasModified || CompareFileTime(&d.modified, &info.modified) > 0;
        // ADD always replaces; UPDATE only with a newer file (folders merge).
        if (request.mode == ZEL_MODE_ADD || newer || d.isDir != info.isDir) continue;
        useDisk[it->second] = false;
      }
      UpdateEntry keep;
      keep.copy = true;
      keep.archiveIndex = i;
      keep.path = info.path;
      entries.push_back(std::move(keep));
    }
    // An archive with encrypted headers keeps them.
    if (existing.headersEncrypted && !HasProperty(properties, L"he")) {
      Property he;
      he.name = L"he";
      he.kind = Property::Kind::Bool;
      he.flag = true;
      properties.push_back(std::move(he));
    }
  }
  uint64_t total = 0;
  for (size_t i = 0; i < disk.size(); ++i) {
    if (!useDisk[i]) continue;
    entries.push_back(NewEntry(disk[i]));
    total += disk[i].size;
  }
  reporter.SetTotal(total);
  WriteArchive(request.archive, merge ? &existing : nullptr, entries, properties, password.Given(), password, reporter,
               false);
}

void Delete(const DeleteRequest& request, PasswordSource& password, Reporter& reporter) {
  if (request.items.empty()) Fail(ZEL_E_INVALID_ARGUMENT);
  OpenedArchive existing = OpenExisting(request.archive, password);
  ItemSelection selection(request.items);
  std::vector<UpdateEntry> entries;
  bool anyEncrypted = existing.headersEncrypted;
  for (UInt32 i = 0; i < existing.count; ++i) {
    const ItemInfo info = ReadItem(existing.archive.get(), i);
    anyEncrypted = anyEncrypted || info.encrypted;
    const std::wstring path = NormalizeItemPath(info.path);
    if (selection.Select(path)) {
      if (!reporter.Item(path)) Fail(ZEL_E_CANCELLED);
      continue;
    }
    UpdateEntry keep;
    keep.copy = true;
    keep.archiveIndex = i;
    keep.path = info.path;
    entries.push_back(std::move(keep));
  }
  if (!selection.AllPatternsUsed()) Fail(ZEL_E_NO_MATCH);

  std::vector<Property> properties;
  std::optional<std::wstring> encryptWith;
  if (anyEncrypted) {
    // Data repacked from an encrypted block must be encrypted again: without
    // the password the delete is refused rather than leaving it in the clear.
    encryptWith = password.Get();
    if (!encryptWith) Fail(ZEL_E_PASSWORD);
  }
  if (existing.headersEncrypted) {
    Property he;
    he.name = L"he";
    he.kind = Property::Kind::Bool;
    he.flag = true;
    properties.push_back(std::move(he));
  }
  WriteArchive(request.archive, &existing, entries, properties, encryptWith, password, reporter, true);
}

void WriteRawArchive(const std::wstring& archive, const std::vector<RawItem>& items, const std::wstring& password) {
  std::vector<UpdateEntry> entries;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  for (const auto& item : items) {
    UpdateEntry e;
    e.path = item.name;
    e.isDir = item.isDir;
    e.size = item.data.size();
    e.attributes = item.isDir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    e.created = e.accessed = e.modified = now;
    e.hasTimes = true;
    e.data = &item.data;
    entries.push_back(std::move(e));
  }
  PasswordSource source(password.c_str(), nullptr);
  Reporter reporter(nullptr, nullptr);
  std::optional<std::wstring> encryptWith;
  if (!password.empty()) encryptWith = password;
  WriteArchive(FullPath(archive), nullptr, entries, {}, encryptWith, source, reporter, false);
}

}  // namespace zel
