// The platform interface on Qt widgets. Calls from the interface thread act
// on the controls at once. Calls from the worker thread are handed to the
// interface thread: updates are queued without waiting, message boxes and
// the completion dialog wait for the user's answer, and list queries are
// answered from a copy of the list taken when the run started.
#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QWidget;

class QtPlatform : public QObject, public Platform {
  Q_OBJECT

 public:
  QtPlatform();
  ~QtPlatform() override;

  // The window whose controls the ids address (found by object name).
  // Before it is attached, control calls are ignored; boxes have no owner.
  void Attach(QWidget* main_window);
  QWidget* window() const { return window_; }

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

  // Run bookkeeping. BeginRun (interface thread, before the worker starts)
  // copies the list for the worker and returns the run's number; the worker
  // adopts it with AdoptRun. After AbandonRun nothing that run queued or
  // asks later reaches the window.
  uint64_t BeginRun();
  static void AdoptRun(uint64_t run);
  void AbandonRun(uint64_t run);

  void FatalMessage(const std::string& text, const std::string& caption, bool owned) override;

  // Shows a modal dialog and returns its result.
  virtual int ExecDialog(QDialog& dialog);

 protected:
  // Shows a message box on the interface thread and returns the answer.
  virtual BoxResult ShowBox(const std::string& text, const std::string& caption, BoxIcon icon,
                            BoxButtons buttons, bool owned);

 private:
  bool OnGuiThread() const;
  uint64_t CallerRun() const;
  bool Stale(uint64_t run) const;
  // Runs `fn` on the interface thread: now when called there, queued
  // otherwise (and dropped if the caller's run was abandoned meanwhile).
  void Post(std::function<void()> fn);
  // Runs `fn` on the interface thread and waits for its result; a stop
  // request ends the wait with `fallback`.
  template <class T>
  T Ask(std::function<T()> fn, T fallback);

  void ShowCompletion(const CompletionReport& report);

  QWidget* Find(int id) const;
  QListWidget* List() const;

  QPointer<QWidget> window_;

  std::atomic<uint64_t> current_run_{0};
  std::atomic<uint64_t> abandoned_run_{0};

  // The worker's view of the list and the text controls, fixed at BeginRun.
  struct Snapshot {
    std::vector<std::string> items;
    std::vector<int> selected;
    std::map<int, std::string> texts;
  };
  mutable std::mutex snap_mu_;
  Snapshot snap_;
};
