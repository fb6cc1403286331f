// Source acquisition: before an immediate file-bearing statement of a
// maintenance run, the engine makes sure the installation data is reachable.
// A maintenance run usually starts from the engine cache, which holds the
// setup but not its data folder, so the user is asked for the folder that
// holds the installation files.
//
// In our layout the data lies loose in `<data folder>\F<row>\…` (see
// docs/NATIVE-ENGINE.md), so "the data file" of a statement is the folder of
// its header below the data folder. A chosen folder holds the data when that
// header folder lies in it or in its "data\" subfolder.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qv {
class Session;
class Variables;
}  // namespace qv

namespace qv::native {

inline constexpr std::wstring_view kSourcesNotFound =
    L"Original setup sources required to complete operation, sources not found";
inline constexpr std::wstring_view kSourceAcquisitionSource = L"Native Engine Source Acquisition";

// Asks the user for a folder; nullopt when the user gives up. Called on the
// main thread. The default is the shell's folder chooser, shown with the
// progress display hidden; tests may replace it.
using FolderChooser = std::function<std::optional<std::wstring>(const Session& session)>;
FolderChooser& SourceFolderChooser();

// The data folder in which `header` is found: `dataFolder` itself when the
// data is there; otherwise, in a maintenance run that is not silent and not
// of build kind 2, the folder the user chooses (or its "data\"). nullopt when
// the data cannot be found. An empty header needs no data.
std::optional<std::wstring> AcquireSources(const Session& session, const Variables& variables,
                                           const std::wstring& dataFolder, std::wstring_view header);

// Pure part: the data folder inside `chosen` that holds `header`, if any.
std::optional<std::wstring> DataFolderIn(const std::wstring& chosen, std::wstring_view header);

}  // namespace qv::native
