#include "shell/qt_platform.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>

#include "platform/no_case.h"
#include "shell/dialogs.h"
#include "terrain/state.h"

namespace {

// The run a worker thread belongs to; 0 on threads that never adopted one.
thread_local uint64_t t_run = 0;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Id of the status bar's first field: the run's status line.
constexpr const char* kStatusField = "103.0";

}  // namespace

QtPlatform::QtPlatform() = default;
QtPlatform::~QtPlatform() = default;

void QtPlatform::Attach(QWidget* main_window) { window_ = main_window; }

bool QtPlatform::OnGuiThread() const { return QThread::currentThread() == thread(); }

uint64_t QtPlatform::CallerRun() const {
  // Helper threads of the engine never adopt a run: they work for the
  // current one.
  return t_run != 0 ? t_run : current_run_.load();
}

bool QtPlatform::Stale(uint64_t run) const { return run != 0 && run <= abandoned_run_.load(); }

void QtPlatform::Post(std::function<void()> fn) {
  if (OnGuiThread()) {
    fn();
    return;
  }
  const uint64_t run = CallerRun();
  if (Stale(run)) return;
  QMetaObject::invokeMethod(
      this, [this, run, fn = std::move(fn)] {
        if (!Stale(run)) fn();
      },
      Qt::QueuedConnection);
}

template <class T>
T QtPlatform::Ask(std::function<T()> fn, T fallback) {
  if (OnGuiThread()) return fn();
  const uint64_t run = CallerRun();
  if (Stale(run) || st.stoprequest) return fallback;
  auto answer = std::make_shared<std::promise<T>>();
  std::future<T> result = answer->get_future();
  QMetaObject::invokeMethod(
      this, [this, run, answer, fallback, fn = std::move(fn)] {
        // A run stopped while this call waited in the queue gets no box.
        answer->set_value(Stale(run) || st.stoprequest ? fallback : fn());
      },
      Qt::QueuedConnection);
  // Poll the stop request so that a Cancel never waits on a worker that
  // waits on the interface thread.
  while (result.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
    if (st.stoprequest) return fallback;
  return result.get();
}

QWidget* QtPlatform::Find(int id) const {
  if (!window_) return nullptr;
  const QString name = id == ctl::kStatusBar ? QString(kStatusField) : QString::number(id);
  return window_->findChild<QWidget*>(name);
}

QListWidget* QtPlatform::List() const { return qobject_cast<QListWidget*>(Find(ctl::kSectorList)); }

void QtPlatform::ConsoleLine(const std::string& text) {
  Post([this, text] {
    if (auto* console = qobject_cast<QListWidget*>(Find(ctl::kConsole))) console->addItem(Q(text));
  });
}

void QtPlatform::SetStatusText(const std::string& text) { SetControlText(ctl::kStatusBar, text); }

void QtPlatform::SetProgress(int position) {
  Post([this, position] {
    if (auto* bar = qobject_cast<QProgressBar*>(Find(ctl::kProgress))) bar->setValue(std::clamp(position, 0, 100));
  });
}

void QtPlatform::SetControlText(int id, const std::string& text) {
  Post([this, id, text] {
    QWidget* w = Find(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      edit->setText(Q(text));
      edit->setCursorPosition(0);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
      label->setText(Q(text));
    }
  });
}

std::string QtPlatform::ControlText(int id) {
  if (!OnGuiThread()) {
    std::lock_guard lk(snap_mu_);
    auto it = snap_.texts.find(id);
    return it == snap_.texts.end() ? std::string() : it->second;
  }
  QWidget* w = Find(id);
  if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text().toStdString();
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text().toStdString();
  return std::string();
}

void QtPlatform::SetReadOnly(int id, bool read_only) {
  Post([this, id, read_only] {
    if (auto* edit = qobject_cast<QLineEdit*>(Find(id))) edit->setReadOnly(read_only);
  });
}

void QtPlatform::SetEnabled(int id, bool enabled) {
  Post([this, id, enabled] {
    if (QWidget* w = Find(id)) w->setEnabled(enabled);
  });
}

void QtPlatform::ListReset() {
  Post([this] {
    if (auto* list = List()) list->clear();
  });
}

void QtPlatform::ListAdd(const std::string& name) {
  Post([this, name] {
    if (auto* list = List()) list->addItem(Q(name));  // the list sorts itself
  });
}

int QtPlatform::ListCount() {
  if (!OnGuiThread()) {
    std::lock_guard lk(snap_mu_);
    return static_cast<int>(snap_.items.size());
  }
  auto* list = List();
  return list ? list->count() : 0;
}

std::string QtPlatform::ListText(int index) {
  if (!OnGuiThread()) {
    std::lock_guard lk(snap_mu_);
    if (index < 0 || index >= static_cast<int>(snap_.items.size())) return std::string();
    return snap_.items[static_cast<size_t>(index)];
  }
  auto* list = List();
  if (!list || index < 0 || index >= list->count()) return std::string();
  return list->item(index)->text().toStdString();
}

int QtPlatform::ListFindExact(const std::string& name) {
  if (!OnGuiThread()) {
    std::lock_guard lk(snap_mu_);
    for (size_t i = 0; i < snap_.items.size(); ++i)
      if (EqualNoCase(snap_.items[i], name)) return static_cast<int>(i);
    return -1;
  }
  auto* list = List();
  if (!list) return -1;
  for (int i = 0; i < list->count(); ++i)
    if (EqualNoCase(list->item(i)->text().toStdString(), name)) return i;
  return -1;
}

int QtPlatform::ListSelectedCount() {
  if (!OnGuiThread()) {
    std::lock_guard lk(snap_mu_);
    return static_cast<int>(snap_.selected.size());
  }
  return static_cast<int>(ListSelectedIndices().size());
}

std::vector<int> QtPlatform::ListSelectedIndices() {
  if (!OnGuiThread()) {
    std::lock_guard lk(snap_mu_);
    return snap_.selected;
  }
  std::vector<int> rows;
  if (auto* list = List())
    for (int i = 0; i < list->count(); ++i)
      if (list->item(i)->isSelected()) rows.push_back(i);
  return rows;
}

void QtPlatform::ListSelectAll(bool select) {
  Post([this, select] {
    auto* list = List();
    if (!list) return;
    if (select)
      list->selectAll();
    else
      list->clearSelection();
  });
}

BoxResult QtPlatform::MessageBox(const std::string& text, const std::string& caption, BoxIcon icon,
                                 BoxButtons buttons, bool owned) {
  // Stopped while waiting: an OK/Cancel question counts as declined.
  const BoxResult fallback = buttons == BoxButtons::OkCancel ? BoxResult::Cancel : BoxResult::Ok;
  return Ask<BoxResult>([=, this] { return ShowBox(text, caption, icon, buttons, owned); }, fallback);
}

BoxResult QtPlatform::ShowBox(const std::string& text, const std::string& caption, BoxIcon icon,
                              BoxButtons buttons, bool owned) {
  auto box = BuildMessageBox(text, caption, icon, buttons, owned ? window_.data() : nullptr);
  box->exec();
  return buttons == BoxButtons::OkCancel ? BoxAnswer(*box) : BoxResult::Ok;
}

void QtPlatform::CompletionDialog(const CompletionReport& report) {
  Ask<int>(
      [this, report] {
        ShowCompletion(report);
        return 0;
      },
      0);
}

void QtPlatform::ShowCompletion(const CompletionReport& report) {
  auto dialog = BuildCompletionDialog(report, window_.data());
  ExecDialog(*dialog);
}

int QtPlatform::ExecDialog(QDialog& dialog) { return dialog.exec(); }

void QtPlatform::FatalMessage(const std::string& text, const std::string& caption, bool owned) {
  if (OnGuiThread()) {
    ShowBox(text, caption, BoxIcon::Error, BoxButtons::Ok, owned);
    return;
  }
  // Unlike Ask, neither a stop request nor an abandoned run ends the wait:
  // the process ends right after this box, and without it the user would
  // not learn why. The interface thread serves its queue while it waits
  // for a stopped worker, so the box is shown then.
  auto shown = std::make_shared<std::promise<void>>();
  std::future<void> done = shown->get_future();
  QMetaObject::invokeMethod(
      this, [=, this] {
        ShowBox(text, caption, BoxIcon::Error, BoxButtons::Ok, owned);
        shown->set_value();
      },
      Qt::QueuedConnection);
  done.wait();
}

void QtPlatform::ExitProcess(int code) {
  // The other thread may still be running: end at once, without running
  // static destructors under it, but keep what was printed.
  std::fflush(nullptr);
  std::_Exit(code);
}

uint64_t QtPlatform::BeginRun() {
  Snapshot snap;
  if (auto* list = List()) {
    for (int i = 0; i < list->count(); ++i) {
      snap.items.push_back(list->item(i)->text().toStdString());
      if (list->item(i)->isSelected()) snap.selected.push_back(i);
    }
  }
  for (int id : {ctl::kWorkDirLabel, ctl::kLongitude, ctl::kLatitude, ctl::kStatusBar})
    snap.texts[id] = ControlText(id);
  {
    std::lock_guard lk(snap_mu_);
    snap_ = std::move(snap);
  }
  return ++current_run_;
}

void QtPlatform::AdoptRun(uint64_t run) { t_run = run; }

void QtPlatform::AbandonRun(uint64_t run) {
  uint64_t seen = abandoned_run_.load();
  while (seen < run && !abandoned_run_.compare_exchange_weak(seen, run)) {
  }
}
