// The Qt platform with automatic answers, for the tests:
// boxes and dialogs are recorded instead of shown, OK/Cancel boxes
// get a set answer, and ending the process throws ProcessExit instead.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <mutex>
#include <string>
#include <vector>

#include "platform/memory_platform.h"
#include "shell/qt_platform.h"

class RecordingQtPlatform : public QtPlatform {
 public:
  struct Box {
    std::string text, caption;
    BoxIcon icon;
    BoxButtons buttons;
    bool owned;
  };
  struct ShownDialog {
    std::string title;
    std::vector<std::string> texts;  // every label and edit, in creation order
  };

  // The answer OK/Cancel boxes get.
  void SetAnswer(BoxResult answer) { answer_ = answer; }

  std::vector<Box> boxes() const {
    std::lock_guard lk(mu_);
    return boxes_;
  }
  std::vector<ShownDialog> dialogs() const {
    std::lock_guard lk(mu_);
    return dialogs_;
  }
  void ClearRecords() {
    std::lock_guard lk(mu_);
    boxes_.clear();
    dialogs_.clear();
  }

  int ExecDialog(QDialog& dialog) override {
    ShownDialog shown;
    shown.title = dialog.windowTitle().toStdString();
    for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (auto* label = qobject_cast<QLabel*>(w)) shown.texts.push_back(label->text().toStdString());
      if (auto* edit = qobject_cast<QLineEdit*>(w)) shown.texts.push_back(edit->text().toStdString());
    }
    std::lock_guard lk(mu_);
    dialogs_.push_back(std::move(shown));
    return 0;
  }
  [[noreturn]] void ExitProcess(int code) override { throw ProcessExit(code); }

 protected:
  BoxResult ShowBox(const std::string& text, const std::string& caption, BoxIcon icon, BoxButtons buttons,
                    bool owned) override {
    std::lock_guard lk(mu_);
    boxes_.push_back({text, caption, icon, buttons, owned});
    return buttons == BoxButtons::OkCancel ? answer_.load() : BoxResult::Ok;
  }

 private:
  std::atomic<BoxResult> answer_{BoxResult::Ok};
  mutable std::mutex mu_;
  std::vector<Box> boxes_;
  std::vector<ShownDialog> dialogs_;
};
