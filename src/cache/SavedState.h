// The saved state file (base + ".dat" in the engine cache, and the file of
// "Save Feature Selections"/"Load Feature Selections"): the one reader and
// writer of its format. UTF-8 with a byte-order mark, one value per line:
//
//   component names, "$"; selections, "$"; deleted, "$"; hidden, "$";
//   fixed, "$"; size pairs, "$";
//   TARGETDIR; ALLUSERS; STARTMENU; the data folder (empty from the cache);
//   name and value of each remembered variable;
//   "QIVA64WOW", bitness mode; "OVERRIDECACHE", value; "NATIVE_ENGINE", value.
//
// A line break inside a value travels as "$NEWLINE$".
#pragma once

#include "components/ComponentList.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv {

struct SavedState {
  ComponentLists components;
  // The lines after the component lists; a file that ends with its lists has none.
  bool hasSettings = false;
  std::wstring targetDir, allUsers, startMenu, dataFolder;
  std::vector<std::pair<std::wstring, std::wstring>> remembered;  // name, value
  std::optional<std::wstring> bitness, overrideCache, nativeEngine;
};

// The file's bytes.
std::string FormatSavedState(const SavedState& state);
// Nothing when the text does not hold the six component lists, each closed by "$".
std::optional<SavedState> ParseSavedState(std::string_view bytes);

}  // namespace qv
