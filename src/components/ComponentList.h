// The setup's component list: the features a setup offers, whether each is
// selected, hidden, fixed or deleted, and their sizes. One list lives for the
// run, owned by the interpreter; start-up fills it (the predefined component,
// or the choice saved by the installing run), the component statements change
// it, and the engine cache saves it for the next run. The dialog side (tree,
// check-list, popup actions) reads and changes the same list.
//
// Names are component paths: "\" separates the levels, so Tools\Debugger lies
// below Tools. Names compare without regard to case everywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Defined as selected by start-up in a run that is not maintenance; never shown.
inline constexpr std::wstring_view kPredefinedComponent = L"QIVA-PREDEF-COMPONENT";

// The six lists kept in the saved state, in the order they are saved.
struct ComponentLists {
  std::vector<std::wstring> names;
  std::vector<std::wstring> selection;  // "TRUE"/"FALSE" per name, read as a flag
  std::vector<std::wstring> deleted;
  std::vector<std::wstring> hidden;
  std::vector<std::wstring> fixed;
  std::vector<std::wstring> sizes;  // pairs: name, size in bytes as decimal text

  bool operator==(const ComponentLists&) const = default;
};

class ComponentList {
public:
  // Empties every list; the size list starts from the script's own pairs.
  void Reset(std::vector<std::wstring> scriptSizes = {});

  // Position of a component in the names list (deleted ones included).
  std::optional<size_t> Find(std::wstring_view name) const;
  bool Exists(std::wstring_view name) const { return Find(name).has_value(); }
  size_t Count() const { return lists_.names.size(); }
  const std::wstring& NameAt(size_t index) const { return lists_.names[index]; }
  bool SelectedAt(size_t index) const;
  void SetSelectedAt(size_t index, bool selected);
  std::wstring DescriptionAt(size_t index) const;

  bool IsDeleted(std::wstring_view name) const;
  // Hidden (fixed) itself, or below a hidden (fixed) component.
  bool IsHiddenOrBelowHidden(std::wstring_view name) const;
  bool IsFixedOrBelowFixed(std::wstring_view name) const;
  // True when `name` lies below `ancestor` in the tree (not equal to it).
  static bool IsBelow(std::wstring_view name, std::wstring_view ancestor);

  // Defines a component, or redefines one: an existing selection (one the
  // saved state loaded, say) is kept, and a deleted component counts again.
  void Define(std::wstring_view name, std::wstring_view description, bool selected);
  void Delete(std::wstring_view name);
  void SetVisible(std::wstring_view name, bool visible);
  void SetChangeable(std::wstring_view name, bool changeable);
  void SetSelected(std::wstring_view name, bool selected);
  // Records a size when it is a whole number and the component exists;
  // false when nothing changed.
  bool SetSpace(std::wstring_view name, std::wstring_view size);
  // Appends a size pair for `name` unless it already has one.
  void AddSize(std::wstring_view name, int64_t size);

  // Exists, is not deleted and is selected.
  bool IsChosen(std::wstring_view name) const;
  // The size recorded for a name, 0 when there is none.
  int64_t SizeOf(std::wstring_view name) const;
  // Sizes of the chosen components minus the installed baseline; negative
  // when a maintenance run frees space.
  int64_t SpaceNeeded() const;

  // The sum of the chosen components' sizes as the list stands, taken as the
  // installed baseline of a maintenance run.
  void TakeInstalledBaseline();
  int64_t InstalledBaseline() const { return installedBaseline_; }

  const ComponentLists& Lists() const { return lists_; }
  // The saved state of an earlier run replaces the whole list (descriptions
  // are not saved and start empty).
  void Restore(ComponentLists lists);
  // A saved choice applied to the current list: every component the saved
  // lists name and that exists now takes the saved selection; the deleted,
  // hidden and fixed lists are replaced; sizes are left alone.
  void ApplySavedChoice(const ComponentLists& saved);

private:
  // Index of the name entry of the first size pair for `name`.
  std::optional<size_t> FindSize(std::wstring_view name) const;

  ComponentLists lists_;
  std::vector<std::wstring> descriptions_;
  int64_t installedBaseline_ = 0;
};

}  // namespace qv
