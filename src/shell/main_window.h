// The main window: its controls, the menu, the status bar of two fields, and the
// commands with the run control (Process, Cancel, closing).
#pragma once

#include <QMainWindow>
#include <QString>
#include <QUrl>
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QtPlatform;

// The client area the layout needs: every control inside, with the same
// margin right and below as on the left.
inline constexpr int kClientWidth = 752;
inline constexpr int kClientHeight = 540;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the window on `plat` and attaches it there. st.sesion must be set.
  explicit MainWindow(QtPlatform& plat);
  ~MainWindow() override;

  // A command by its id (buttons 201..205, menu items 40001..40005), with
  // the refusals while a run is active.
  void Command(int id);
  // The file-type box's choice (801).
  void FileTypeSelected(int index);
  // A coordinate field lost the focus: 0 longitude, 1 latitude.
  void CoordinateLeft(int which);

  void selectdir();
  void select_deselect(bool select);
  void Process();
  void Cancel();
  void About();
  // View / Session overview (40005): enabled with a session folder and no run.
  void RefreshOverviewAction();
  void ShowOverview();

  // Replaceable for tests: the folder picker (empty = cancelled), the web
  // browser, and the body of the worker thread.
  std::function<QString()> pick_directory;
  std::function<void(const QUrl&)> open_url;
  std::function<void()> run_body;

  // The worker of the current or last run.
  std::thread hThread1;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The controls, top to bottom: the work directory, the coordinates and
  // file type, the sector list with the run buttons, the console.
  void BuildControls();
  void BuildWorkDirRow(QWidget* client);
  void BuildProjectRows(QWidget* client);
  void BuildSectorList(QWidget* client);
  void BuildConsole(QWidget* client);
  void BuildMenu();
  void BuildStatusBar();
  void OnRunFinished(uint64_t run);
  void WaitForWorker();

  QtPlatform& plat_;
  QAction* overview_ = nullptr;
  QComboBox* filetype_ = nullptr;
  QLineEdit* longitude_ = nullptr;
  QLineEdit* latitude_ = nullptr;
  uint64_t run_ = 0;
  std::atomic<bool> worker_done_{true};
  bool closing_ = false;
  bool checking_ = false;
};
