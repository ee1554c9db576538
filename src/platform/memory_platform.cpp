#include "platform/memory_platform.h"

#include <algorithm>

#include "platform/no_case.h"


void MemoryPlatform::ConsoleLine(const std::string& text) {
  std::lock_guard lk(mu_);
  console_.push_back(text);
}
void MemoryPlatform::SetStatusText(const std::string& text) {
  std::lock_guard lk(mu_);
  status_ = text;
}
void MemoryPlatform::SetProgress(int position) {
  std::lock_guard lk(mu_);
  progress_ = position;
}
void MemoryPlatform::SetControlText(int id, const std::string& text) {
  std::lock_guard lk(mu_);
  texts_[id] = text;
}
std::string MemoryPlatform::ControlText(int id) {
  std::lock_guard lk(mu_);
  auto it = texts_.find(id);
  return it == texts_.end() ? std::string() : it->second;
}
void MemoryPlatform::SetReadOnly(int id, bool ro) {
  std::lock_guard lk(mu_);
  if (ro) read_only_.insert(id); else read_only_.erase(id);
}
void MemoryPlatform::SetEnabled(int id, bool en) {
  std::lock_guard lk(mu_);
  if (en) disabled_.erase(id); else disabled_.insert(id);
}
void MemoryPlatform::ListReset() {
  std::lock_guard lk(mu_);
  list_.clear();
  selected_.clear();
}
void MemoryPlatform::ListAdd(const std::string& name) {
  std::lock_guard lk(mu_);
  auto it = std::upper_bound(list_.begin(), list_.end(), name);
  auto pos = it - list_.begin();
  list_.insert(it, name);
  selected_.insert(selected_.begin() + pos, false);
}
int MemoryPlatform::ListCount() {
  std::lock_guard lk(mu_);
  return static_cast<int>(list_.size());
}
std::string MemoryPlatform::ListText(int index) {
  std::lock_guard lk(mu_);
  if (index < 0 || index >= static_cast<int>(list_.size())) return {};
  return list_[index];
}
int MemoryPlatform::ListFindExact(const std::string& name) {
  std::lock_guard lk(mu_);
  for (size_t i = 0; i < list_.size(); ++i)
    if (EqualNoCase(list_[i], name)) return static_cast<int>(i);
  return -1;
}
int MemoryPlatform::ListSelectedCount() {
  std::lock_guard lk(mu_);
  return static_cast<int>(std::count(selected_.begin(), selected_.end(), true));
}
std::vector<int> MemoryPlatform::ListSelectedIndices() {
  std::lock_guard lk(mu_);
  std::vector<int> out;
  for (size_t i = 0; i < selected_.size(); ++i)
    if (selected_[i]) out.push_back(static_cast<int>(i));
  return out;
}
void MemoryPlatform::ListSelectAll(bool select) {
  std::lock_guard lk(mu_);
  std::fill(selected_.begin(), selected_.end(), select);
}
void MemoryPlatform::ListSelect(int index, bool select) {
  std::lock_guard lk(mu_);
  if (index >= 0 && index < static_cast<int>(selected_.size())) selected_[index] = select;
}
BoxResult MemoryPlatform::MessageBox(const std::string& text, const std::string& caption,
                                     BoxIcon icon, BoxButtons buttons, bool owned) {
  std::lock_guard lk(mu_);
  boxes_.push_back({text, caption, icon, buttons, owned});
  return buttons == BoxButtons::OkCancel ? box_answer : BoxResult::Ok;
}
void MemoryPlatform::CompletionDialog(const CompletionReport& report) {
  std::lock_guard lk(mu_);
  completions_.push_back(report);
}
void MemoryPlatform::ExitProcess(int code) { throw ProcessExit(code); }

std::vector<std::string> MemoryPlatform::console() const {
  std::lock_guard lk(mu_);
  return console_;
}
std::string MemoryPlatform::status() const {
  std::lock_guard lk(mu_);
  return status_;
}
int MemoryPlatform::progress() const {
  std::lock_guard lk(mu_);
  return progress_;
}
bool MemoryPlatform::read_only(int id) const {
  std::lock_guard lk(mu_);
  return read_only_.count(id) != 0;
}
bool MemoryPlatform::enabled(int id) const {
  std::lock_guard lk(mu_);
  return disabled_.count(id) == 0;
}
std::vector<std::string> MemoryPlatform::list() const {
  std::lock_guard lk(mu_);
  return list_;
}
std::vector<MemoryPlatform::Box> MemoryPlatform::boxes() const {
  std::lock_guard lk(mu_);
  return boxes_;
}
std::vector<CompletionReport> MemoryPlatform::completions() const {
  std::lock_guard lk(mu_);
  return completions_;
}
