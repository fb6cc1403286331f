#include "components/ComponentList.h"

#include "common/Text.h"
#include "interpreter/VariableStore.h"

#include <algorithm>

namespace qv {

namespace {

const wchar_t* FlagText(bool value) { return value ? L"TRUE" : L"FALSE"; }

std::vector<std::wstring>::const_iterator FindNoCase(const std::vector<std::wstring>& list, std::wstring_view name) {
  return std::find_if(list.begin(), list.end(), [&](const std::wstring& entry) { return EqualsNoCase(entry, name); });
}

bool ContainsName(const std::vector<std::wstring>& list, std::wstring_view name) {
  return FindNoCase(list, name) != list.end();
}

void RemoveFirst(std::vector<std::wstring>& list, std::wstring_view name) {
  const auto hit = FindNoCase(list, name);
  if (hit != list.end()) list.erase(hit);
}

// The name itself or one of the components above it is in `list`.
bool SelfOrAncestorIn(const std::vector<std::wstring>& list, std::wstring_view name) {
  return std::any_of(list.begin(), list.end(), [&](const std::wstring& entry) {
    return EqualsNoCase(entry, name) || ComponentList::IsBelow(name, entry);
  });
}

}  // namespace

void ComponentList::Reset(std::vector<std::wstring> scriptSizes) {
  lists_ = {};
  lists_.sizes = std::move(scriptSizes);
  descriptions_.clear();
  installedBaseline_ = 0;
}

std::optional<size_t> ComponentList::Find(std::wstring_view name) const {
  const auto hit = FindNoCase(lists_.names, name);
  if (hit == lists_.names.end()) return std::nullopt;
  return static_cast<size_t>(hit - lists_.names.begin());
}

bool ComponentList::SelectedAt(size_t index) const {
  return index < lists_.selection.size() && IsTrueFlag(lists_.selection[index]);
}

void ComponentList::SetSelectedAt(size_t index, bool selected) {
  if (index >= lists_.names.size()) return;
  if (lists_.selection.size() <= index) lists_.selection.resize(index + 1);
  lists_.selection[index] = FlagText(selected);
}

std::wstring ComponentList::DescriptionAt(size_t index) const {
  return index < descriptions_.size() ? descriptions_[index] : std::wstring();
}

bool ComponentList::IsDeleted(std::wstring_view name) const { return ContainsName(lists_.deleted, name); }

bool ComponentList::IsHiddenOrBelowHidden(std::wstring_view name) const { return SelfOrAncestorIn(lists_.hidden, name); }

bool ComponentList::IsFixedOrBelowFixed(std::wstring_view name) const { return SelfOrAncestorIn(lists_.fixed, name); }

bool ComponentList::IsBelow(std::wstring_view name, std::wstring_view ancestor) {
  return !ancestor.empty() && name.size() > ancestor.size() + 1 && name[ancestor.size()] == L'\\' &&
         StartsWithNoCase(name, ancestor);
}

void ComponentList::Define(std::wstring_view name, std::wstring_view description, bool selected) {
  const std::optional<size_t> existing = Find(name);
  const size_t index = existing.value_or(lists_.names.size());
  if (existing) {
    RemoveFirst(lists_.deleted, name);
  } else {
    lists_.names.emplace_back(name);
  }
  if (descriptions_.size() <= index) descriptions_.resize(index + 1);
  descriptions_[index] = description;
  if (!FindSize(name)) lists_.sizes.insert(lists_.sizes.end(), {std::wstring(name), L"0"});
  // A selection already there (loaded from the saved state) wins over the script's default.
  if (lists_.selection.size() <= index) lists_.selection.resize(index + 1);
  if (lists_.selection[index].empty()) lists_.selection[index] = FlagText(selected);
}

void ComponentList::Delete(std::wstring_view name) {
  const auto index = Find(name);
  if (index && !IsDeleted(name)) lists_.deleted.push_back(lists_.names[*index]);
}

void ComponentList::SetVisible(std::wstring_view name, bool visible) {
  if (visible) {
    RemoveFirst(lists_.hidden, name);
    return;
  }
  const auto index = Find(name);
  if (index && !ContainsName(lists_.hidden, name)) lists_.hidden.push_back(lists_.names[*index]);
}

void ComponentList::SetChangeable(std::wstring_view name, bool changeable) {
  if (changeable) {
    RemoveFirst(lists_.fixed, name);
    return;
  }
  const auto index = Find(name);
  if (index && !ContainsName(lists_.fixed, name)) lists_.fixed.push_back(lists_.names[*index]);
}

void ComponentList::SetSelected(std::wstring_view name, bool selected) {
  if (const auto index = Find(name)) SetSelectedAt(*index, selected);
}

bool ComponentList::SetSpace(std::wstring_view name, std::wstring_view size) {
  const std::optional<int64_t> bytes = ParseInt64(size);
  if (!bytes || !Exists(name)) return false;
  if (const auto at = FindSize(name)) {
    lists_.sizes[*at + 1] = std::to_wstring(*bytes);
  } else {
    lists_.sizes.insert(lists_.sizes.end(), {std::wstring(name), std::to_wstring(*bytes)});
  }
  return true;
}

void ComponentList::AddSize(std::wstring_view name, int64_t size) {
  if (!FindSize(name)) lists_.sizes.insert(lists_.sizes.end(), {std::wstring(name), std::to_wstring(size)});
}

bool ComponentList::IsChosen(std::wstring_view name) const {
  const auto index = Find(name);
  return index && !IsDeleted(name) && SelectedAt(*index);
}

// Only the name entries of the pairs are compared: a size that happens to
// read like a component's name is never taken for it.
std::optional<size_t> ComponentList::FindSize(std::wstring_view name) const {
  for (size_t i = 0; i + 1 < lists_.sizes.size(); i += 2)
    if (EqualsNoCase(lists_.sizes[i], name)) return i;
  return std::nullopt;
}

int64_t ComponentList::SizeOf(std::wstring_view name) const {
  const auto at = FindSize(name);
  return at ? ParseInt64(lists_.sizes[*at + 1]).value_or(0) : 0;
}

int64_t ComponentList::SpaceNeeded() const {
  int64_t total = 0;
  for (size_t i = 0; i < lists_.names.size(); ++i)
    if (SelectedAt(i) && !IsDeleted(lists_.names[i])) total += SizeOf(lists_.names[i]);
  return total - installedBaseline_;
}

void ComponentList::TakeInstalledBaseline() {
  installedBaseline_ = 0;
  installedBaseline_ = SpaceNeeded();
}

void ComponentList::Restore(ComponentLists lists) {
  lists_ = std::move(lists);
  // One selection entry per name: a missing one is empty (the next definition
  // fills it), a surplus one belongs to no component.
  lists_.selection.resize(lists_.names.size());
  descriptions_.clear();
}

void ComponentList::ApplySavedChoice(const ComponentLists& saved) {
  for (size_t i = 0; i < saved.names.size() && i < saved.selection.size(); ++i) {
    const auto index = Find(saved.names[i]);
    if (!index) continue;
    if (lists_.selection.size() <= *index) lists_.selection.resize(*index + 1);
    lists_.selection[*index] = saved.selection[i];
  }
  lists_.deleted = saved.deleted;
  lists_.hidden = saved.hidden;
  lists_.fixed = saved.fixed;
}

}  // namespace qv
