// The one way the core reaches the user. The Qt shell, the terminal batch
// driver and the tests each implement it; the core never includes a
// windowing header.
#pragma once

#include <string>
#include <vector>

// Control ids of the main window, shared by every implementation.
namespace ctl {
constexpr int kWorkDirLabel = 301;
constexpr int kStatusBar = 103;
constexpr int kLongitude = 401;
constexpr int kLatitude = 402;
constexpr int kSectorList = 501;
constexpr int kConsole = 502;
constexpr int kProgress = 601;
constexpr int kFileType = 801;
}  // namespace ctl

enum class BoxIcon { Error, Warning, Info };
enum class BoxButtons { Ok, OkCancel };
enum class BoxResult { Ok, Cancel };

// What the completion dialog reports at the end of a run.
struct CompletionReport {
  std::string folder;  // the session folder, as shown to the user
  bool finderror = false;
  bool glbwarning = false;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Console list box (control 502): one line appended at the end.
  virtual void ConsoleLine(const std::string& text) = 0;
  // The status bar's first field (control 103).
  virtual void SetStatusText(const std::string& text) = 0;
  // Progress bar (control 601), range 0..100.
  virtual void SetProgress(int position) = 0;

  // Text controls by id (edits 401/402, the work directory label 301).
  virtual void SetControlText(int id, const std::string& text) = 0;
  virtual std::string ControlText(int id) = 0;
  virtual void SetReadOnly(int id, bool read_only) = 0;
  virtual void SetEnabled(int id, bool enabled) = 0;

  // Sector list box (control 501): sorted, extended selection.
  virtual void ListReset() = 0;
  virtual void ListAdd(const std::string& name) = 0;
  virtual int ListCount() = 0;
  virtual std::string ListText(int index) = 0;
  // Exact whole-entry match without regard to case, or -1.
  virtual int ListFindExact(const std::string& name) = 0;
  virtual int ListSelectedCount() = 0;
  // Selected indices in ascending order.
  virtual std::vector<int> ListSelectedIndices() = 0;
  virtual void ListSelectAll(bool select) = 0;

  // Modal message box; `owned` says whether the main window owns it.
  virtual BoxResult MessageBox(const std::string& text, const std::string& caption,
                               BoxIcon icon, BoxButtons buttons, bool owned) = 0;
  // The box of a fatal error (error icon, OK), shown just before the process
  // ends. Unlike other boxes it is shown even while a stop is requested: the
  // user must learn why the program ends. By default an ordinary box.
  virtual void FatalMessage(const std::string& text, const std::string& caption, bool owned) {
    MessageBox(text, caption, BoxIcon::Error, BoxButtons::Ok, owned);
  }
  // Modal completion dialog ("Work Done!"); returns when the user closes it.
  virtual void CompletionDialog(const CompletionReport& report) = 0;
  // Ends the process. Test implementations throw instead, so it is never
  // expected to return normally.
  [[noreturn]] virtual void ExitProcess(int code) = 0;
};

// The process-wide platform. Set once at start-up (or per test).
Platform& platform();
void SetPlatform(Platform* p);

// Support and platform addresses used in messages and the About dialog.
inline constexpr const char* kSupportAddress = "https://www.veltano.org/support";
inline constexpr const char* kPlatformAddress = "https://www.veltano.org";
// Tail shared by the fatal messages.
inline constexpr const char* kFatalTail =
    "\n We are sorry but the application can't go on.\n If the problem persists contact at ";

// Shows a fatal error box (error icon) and ends the process with `code`.
[[noreturn]] void FatalBox(const std::string& text, const std::string& caption, bool owned, int code);
