// The engine's client of the archive module zel.lib: loads it by full path
// from the engine's folder, points it at the 7z.dll beside it, and offers the
// archive operations as C++ calls. Failures of an operation are results
// (false, with LastError() holding the module's code); only a missing or
// broken module is an exception.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/Handles.h"
#include "zel/zel.h"

namespace qv {

// One item of an archive listing.
struct ArchiveEntry {
  std::wstring path;  // relative, '\' separated
  uint64_t size = 0;
  uint64_t packedSize = 0;
  FILETIME modified{};  // UTC
  uint32_t attributes = 0;
  uint32_t crc = 0;
  bool isDirectory = false;
  bool encrypted = false;
};

class ArchiveModule {
public:
  // Reports the item being processed and the bytes done and total of the
  // whole operation; returns false to stop. May be called on a 7-Zip worker
  // thread. Operations given one are serialized process-wide, because the
  // module's callbacks carry no context of their own.
  using Progress = std::function<bool(const std::wstring& item, uint64_t done, uint64_t total)>;

  // Loads "<folder>\zel.lib" and tells it to load 7z.dll from the same
  // folder. Throws qv::Error when the module is missing or lacks an export.
  static ArchiveModule Load(const std::wstring& folder);

  ArchiveModule(ArchiveModule&&) noexcept = default;
  ArchiveModule& operator=(ArchiveModule&&) noexcept = default;

  // Extracts everything, keeping the archive's folders. With `overwrite`
  // false, existing files are kept.
  bool ExtractAll(const std::wstring& archive, const std::wstring& destination, const std::wstring& password = {},
                  bool overwrite = true, const Progress& progress = {});
  // Extracts the named items (paths or '*'/'?' patterns; a folder takes its
  // content); `flat` drops the folders.
  bool Extract(const std::wstring& archive, const std::wstring& destination, const std::vector<std::wstring>& items,
               const std::wstring& password, bool overwrite, bool flat, const Progress& progress = {});

  // Packs the whole tree below `folder` (its content at the archive's root)
  // into a new archive, replacing any existing file. `switches` is the
  // module's switches text (empty: 7-Zip's defaults).
  bool CreateFromFolder(const std::wstring& archive, const std::wstring& folder, const std::wstring& password = {},
                        bool encryptHeaders = false, const std::wstring& switches = {},
                        const Progress& progress = {});
  // The module's CreateArchive with both file sets (see zel/README.md).
  bool Create(const std::wstring& archive, const std::vector<std::wstring>& files,
              const std::vector<std::wstring>& contentFiles, uint32_t kind, uint32_t mode,
              const std::wstring& switches, const std::wstring& password, const Progress& progress = {});

  bool Test(const std::wstring& archive, const std::wstring& password = {}, const Progress& progress = {});
  bool Delete(const std::wstring& archive, const std::vector<std::wstring>& items, const std::wstring& password = {},
              const Progress& progress = {});
  // The archive's items, or nothing on failure.
  std::optional<std::vector<ArchiveEntry>> List(const std::wstring& archive, const std::wstring& password = {});

  // The module's code for the last failed operation of this object (0 after
  // a success); 1018 means not enough memory.
  uint32_t LastError() const { return lastError_; }

  // The raw entry points, for callers that need the module's exact interface.
  struct Api {
    ZEL_SET_7ZIP_DLL_DIRECTORY set7zipDllDirectory = nullptr;
    ZEL_CREATE_ARCHIVE createArchive = nullptr;
    ZEL_EXTRACT_ARCHIVE extractArchive = nullptr;
    ZEL_TEST_ARCHIVE testArchive = nullptr;
    ZEL_DELETE_FROM_ARCHIVE deleteFromArchive = nullptr;
    ZEL_OPEN_LIST_ARCHIVE openListArchive = nullptr;
    ZEL_CLOSE_LIST_ARCHIVE closeListArchive = nullptr;
    ZEL_GET_LAST_ARCHIVE_ERROR getLastArchiveError = nullptr;
  };
  const Api& api() const { return api_; }

private:
  ArchiveModule() = default;
  bool Finish(BOOL ok);

  UniqueModule module_;
  Api api_;
  uint32_t lastError_ = 0;
};

}  // namespace qv
