// A platform that keeps the controls in memory: the base of the batch
// driver's terminal platform and of the tests' recording platform.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"

class MemoryPlatform : public Platform {
 public:
  void ConsoleLine(const std::string& text) override;
  void SetStatusText(const std::string& text) override;
  void SetProgress(int position) override;
  void SetControlText(int id, const std::string& text) override;
  std::string ControlText(int id) override;
  void SetReadOnly(int id, bool read_only) override;
  void SetEnabled(int id, bool enabled) override;
  void ListReset() override;
  void ListAdd(const std::string& name) override;
  int ListCount() override;
  std::string ListText(int index) override;
  int ListFindExact(const std::string& name) override;
  int ListSelectedCount() override;
  std::vector<int> ListSelectedIndices() override;
  void ListSelectAll(bool select) override;
  BoxResult MessageBox(const std::string& text, const std::string& caption, BoxIcon icon,
                       BoxButtons buttons, bool owned) override;
  void CompletionDialog(const CompletionReport& report) override;
  [[noreturn]] void ExitProcess(int code) override;

  // Selects one entry by index (the batch driver's --sectors, the tests).
  void ListSelect(int index, bool select);

  // Everything recorded so far. Guarded: the worker and a test thread may
  // both touch a platform.
  std::vector<std::string> console() const;
  std::string status() const;
  int progress() const;
  bool read_only(int id) const;
  bool enabled(int id) const;
  std::vector<std::string> list() const;

  struct Box {
    std::string text, caption;
    BoxIcon icon;
    BoxButtons buttons;
    bool owned;
  };
  std::vector<Box> boxes() const;
  std::vector<CompletionReport> completions() const;

  // Answer given to OK/Cancel boxes.
  BoxResult box_answer = BoxResult::Ok;

 protected:
  mutable std::mutex mu_;
  std::vector<std::string> console_;
  std::string status_;
  int progress_ = 0;
  std::map<int, std::string> texts_;
  std::set<int> read_only_, disabled_;
  std::vector<std::string> list_;  // kept sorted
  std::vector<bool> selected_;
  std::vector<Box> boxes_;
  std::vector<CompletionReport> completions_;
};

// Thrown by MemoryPlatform::ExitProcess so a test can observe a fatal path.
struct ProcessExit : std::runtime_error {
  explicit ProcessExit(int c) : std::runtime_error("process exit " + std::to_string(c)), code(c) {}
  int code;
};
