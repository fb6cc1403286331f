// Writing 7z archives: creating from file sets, adding to and deleting from
// existing archives, and the switches text that sets the compression.
#pragma once

#include "Operation.h"

#include <string>
#include <vector>

namespace zel {

// One 7-Zip property from the switches text ("-m1d=23" gives name "1d",
// text "23").
struct Property {
  std::wstring name;
  enum class Kind { Empty, Bool, Number, Text } kind = Kind::Empty;
  bool flag = false;
  uint64_t number = 0;
  std::wstring text;
};

// Parses the switches text: blank-separated "-m<name>[=<value>]" switches
// become properties (values typed as 7-Zip's own command line does: digits
// give a number, "name+"/"name-" a boolean, anything else text); "-ssw" is
// accepted and needs nothing (files are always read shared). Any other
// switch fails with ZEL_E_SWITCHES.
std::vector<Property> ParseSwitches(std::wstring_view switches);

// A file or folder found on disk for packing.
struct DiskItem {
  std::wstring archivePath;  // relative, '\' separated
  std::wstring diskPath;     // absolute
  bool isDir = false;
  uint64_t size = 0;
  uint32_t attributes = 0;
  FILETIME created{}, accessed{}, modified{};
};

// Expands CreateArchive's two file sets into the items to pack.
//
// Every entry is a path whose last component may hold '*' and '?'. Entries
// of `files` keep the name of their parent folder in the archive ("C:\a\b\x.txt"
// is stored as "b\x.txt"); entries of `contentFiles` are stored relative to
// their own folder ("C:\a\b\*" stores b's content at the archive's root).
// A folder, named or matched, is packed with its whole tree; folder reparse
// points are stored as empty folders and not followed. An entry without
// wildcards that does not exist fails with ZEL_E_READ_FILE; a pattern may
// match nothing. When two entries give the same archive path, the first
// wins. `skip` (absolute) is never packed: the archive itself.
std::vector<DiskItem> ExpandFileSets(const std::vector<std::wstring>& files,
                                     const std::vector<std::wstring>& contentFiles, const std::wstring& skip);

struct CreateRequest {
  std::wstring archive;  // absolute
  uint32_t kind = ZEL_KIND_7Z;
  uint32_t mode = ZEL_MODE_NEW;
  std::vector<std::wstring> files;
  std::vector<std::wstring> contentFiles;
  std::wstring switches;
};

void Create(const CreateRequest& request, PasswordSource& password, Reporter& reporter);

struct DeleteRequest {
  std::wstring archive;             // absolute
  std::vector<std::wstring> items;  // item paths or patterns (see ItemSelection)
};

// Removes the selected items (a folder takes its content with it). Keeps
// header encryption and the encryption of repacked data.
void Delete(const DeleteRequest& request, PasswordSource& password, Reporter& reporter);

// Writes an archive whose items carry exactly the given names, bypassing
// every rule of the file sets: for building hostile test archives.
struct RawItem {
  std::wstring name;
  std::string data;
  bool isDir = false;
};
void WriteRawArchive(const std::wstring& archive, const std::vector<RawItem>& items, const std::wstring& password);

}  // namespace zel
