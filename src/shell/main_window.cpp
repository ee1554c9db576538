#include "shell/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <chrono>
#include <system_error>

#include "catalogue/surroundings.h"
#include "run/run.h"
#include "platform/platform.h"
#include "catalogue/workdir.h"
#include "catalogue/coords.h"
#include "preview/overview.h"
#include "shell/dialogs.h"
#include "shell/overview_window.h"
#include "shell/qt_platform.h"
#include "terrain/graph.h"
#include "terrain/state.h"

namespace {

constexpr QRgb kEditGrey = 0xF0F0F0;

template <class W>
W* Place(W* w, int id, int x, int y, int width, int height) {
  w->setObjectName(QString::number(id));
  w->setGeometry(x, y, width, height);
  return w;
}

// A static of the layout: `centred` keeps one line centred vertically,
// otherwise the text starts at the top and wraps.
QLabel* Static(QWidget* parent, const QString& text, int id, QRect r, bool centred) {
  auto* label = Place(new QLabel(text, parent), id, r.x(), r.y(), r.width(), r.height());
  label->setAlignment(centred ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(!centred);
  label->setFont(SystemFont());
  if (id == 302) {
    // Labels: black on white.
    QPalette pal = label->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(pal);
    label->setAutoFillBackground(true);
  }
  return label;
}

QFrame* Rule(QWidget* parent, int x, int y, int w) {
  auto* rule = Place(new QFrame(parent), -1, x, y, w, 1);
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Plain);
  QPalette pal = rule->palette();
  pal.setColor(QPalette::WindowText, QColor(0xA0, 0xA0, 0xA0));
  rule->setPalette(pal);
  return rule;
}

QPushButton* Button(QWidget* parent, const QString& text, int id, QRect r, const QFont& font) {
  auto* b = Place(new QPushButton(text, parent), id, r.x(), r.y(), r.width(), r.height());
  b->setFont(font);
  // Flat: a thin border, no bevel.
  b->setStyleSheet(
      "QPushButton { border: 1px solid #7a7a7a; background: #f0f0f0; color: black; }"
      "QPushButton:hover { background: #e5f1fb; border-color: #0078d7; }"
      "QPushButton:pressed { background: #cce4f7; }"
      "QPushButton:disabled { color: #a0a0a0; }");
  return b;
}

QLineEdit* CoordinateEdit(QWidget* parent, const QString& hint, int id, QRect r) {
  auto* e = Place(new QLineEdit(hint, parent), id, r.x(), r.y(), r.width(), r.height());
  e->setFrame(false);
  e->setAlignment(Qt::AlignCenter);
  e->setFont(ArialFont(16, false));
  QPalette pal = e->palette();
  pal.setColor(QPalette::Base, QColor(kEditGrey));
  pal.setColor(QPalette::Text, Qt::black);
  e->setPalette(pal);
  e->setCursorPosition(0);
  return e;
}

// Icon 102: a sun over a ridge.
QIcon AppIcon() {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xF5, 0xB0, 0x20));
  p.drawEllipse(QPointF(20, 11), 7, 7);
  p.setBrush(QColor(0x3A, 0x6E, 0x3A));
  const QPointF ridge[] = {{0, 32}, {0, 22}, {9, 13}, {16, 21}, {22, 17}, {32, 26}, {32, 32}};
  p.drawPolygon(ridge, 7);
  return QIcon(pm);
}

}  // namespace

MainWindow::MainWindow(QtPlatform& plat) : plat_(plat) {
  setObjectName("hwndmain");
  setWindowTitle("veltano data builder");
  setWindowIcon(AppIcon());

  pick_directory = [this] {
    return QFileDialog::getExistingDirectory(this, "Select the directory where your raster are stored",
                                             QString::fromStdString(st.szDirPath), QFileDialog::ShowDirsOnly);
  };
  open_url = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  run_body = [] { ProcessData(); };

  BuildControls();
  BuildMenu();
  BuildStatusBar();
  plat_.Attach(this);
  resize(sizeHint().expandedTo(minimumSizeHint()));
}

MainWindow::~MainWindow() {
  if (hThread1.joinable()) {
    st.stoprequest = true;
    plat_.AbandonRun(run_);
    // Served, not just joined: a worker on a fatal path waits for its box.
    WaitForWorker();
  }
}

void MainWindow::BuildControls() {
  auto* client = new QWidget(this);
  client->setObjectName("client");
  client->setMinimumSize(kClientWidth, kClientHeight);
  QPalette pal = client->palette();
  pal.setColor(QPalette::Window, Qt::white);  // the system window colour
  client->setPalette(pal);
  client->setAutoFillBackground(true);
  setCentralWidget(client);

  // Rules across the window separate the sections.
  BuildWorkDirRow(client);
  Rule(client, 6, 48, 738);
  BuildProjectRows(client);
  Rule(client, 6, 148, 738);
  BuildSectorList(client);
  Rule(client, 6, 420, 738);
  BuildConsole(client);

  for (QLabel* label : client->findChildren<QLabel*>()) ShrinkToFit(label);
  for (int id : {201, 202, 203, 204, 205}) {
    auto* b = client->findChild<QPushButton*>(QString::number(id));
    connect(b, &QPushButton::clicked, this, [this, id] { Command(id); });
  }
}

void MainWindow::BuildWorkDirRow(QWidget* client) {
  Button(client, "Select Directory", 201, {8, 8, 128, 28}, ArialFont(16, true));
  auto* workdir = Static(client, "  Work directory", 301, {144, 8, 600, 28}, true);
  workdir->setFont(ArialFont(14, false));
  // Default static colours: black on the dialog grey.
  QPalette wp = workdir->palette();
  wp.setColor(QPalette::Window, QColor(kEditGrey));
  wp.setColor(QPalette::WindowText, Qt::black);
  workdir->setPalette(wp);
  workdir->setAutoFillBackground(true);
}

void MainWindow::BuildProjectRows(QWidget* client) {
  const QFont arial14 = ArialFont(14, false);
  Static(client, "Coordinates of the project", 302, {8, 56, 300, 24}, true);
  Static(client, "Select type of file", 302, {386, 56, 300, 24}, true);
  Static(client, "To know more about supported formats, download", 302, {386, 88, 258, 16}, false)->setFont(arial14);
  Static(client, QString("the Tessera manual at ") + kPlatformAddress, 302, {386, 105, 258, 16}, false)
      ->setFont(arial14);

  filetype_ = Place(new QComboBox(client), 801, 652, 88, 90, 22);
  filetype_->setFont(ArialFont(16, true));
  for (const std::string& ext : st.list_ext) filetype_->addItem(QString::fromStdString(ext));
  filetype_->setCurrentIndex(st.cu_ext);
  filetype_->setEnabled(true);
  // The drop-down list is not part of the closed box's height.
  filetype_->setGeometry(652, 88, 90, filetype_->sizeHint().height());
  connect(filetype_, &QComboBox::activated, this, &MainWindow::FileTypeSelected);

  Static(client, "Longitude: ", 302, {8, 88, 68, 18}, false);
  longitude_ = CoordinateEdit(client, "Type here the Longitude", 401, {84, 88, 290, 18});
  Static(client, "Latitude: ", 302, {8, 118, 60, 18}, false);
  latitude_ = CoordinateEdit(client, "Type here the Latitude", 402, {84, 118, 292, 18});
  longitude_->installEventFilter(this);
  latitude_->installEventFilter(this);
}

void MainWindow::BuildSectorList(QWidget* client) {
  const QFont arial16 = ArialFont(16, false);
  Static(client, "Files to process ", 302, {8, 156, 110, 18}, false);
  Button(client, "Select All", 202, {554, 160, 90, 22}, arial16);
  Button(client, "Deselect", 203, {652, 160, 90, 22}, arial16);

  auto* sectors = Place(new QListWidget(client), 501, 8, 192, 734, 180);
  sectors->setFont(arial16);
  sectors->setSortingEnabled(true);
  sectors->setSelectionMode(QAbstractItemView::ExtendedSelection);
  sectors->setFlow(QListView::TopToBottom);  // multi-column: fill a column, then the next
  sectors->setWrapping(true);
  sectors->setResizeMode(QListView::Adjust);
  sectors->setUniformItemSizes(true);
  sectors->setGridSize(QSize(QFontMetrics(arial16).horizontalAdvance("0000.png") + 24,
                             QFontMetrics(arial16).height() + 2));
  sectors->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  sectors->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  sectors->setFrameShape(QFrame::Box);

  Button(client, "Process", 204, {652, 378, 90, 22}, arial16);
  Button(client, "Cancel", 205, {554, 378, 90, 22}, arial16);
  auto* progress = Place(new QProgressBar(client), 601, 8, 406, 736, 8);
  progress->setRange(0, 100);
  progress->setValue(0);
  progress->setTextVisible(false);
}

void MainWindow::BuildConsole(QWidget* client) {
  Static(client, "Console ", 302, {8, 432, 100, 18}, false);
  auto* console = Place(new QListWidget(client), 502, 8, 452, 734, 80);
  console->setFont(ArialFont(14, false));
  console->setSelectionMode(QAbstractItemView::NoSelection);
  console->setFocusPolicy(Qt::NoFocus);
  console->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  console->setFrameShape(QFrame::Box);
}

void MainWindow::BuildMenu() {
  auto add = [this](QMenu* menu, const char* text, int id) {
    QAction* a = menu->addAction(text);
    a->setObjectName(QString::number(id));
    connect(a, &QAction::triggered, this, [this, id] { Command(id); });
  };
  QMenu* file = menuBar()->addMenu("&File");
  add(file, "Selec &Dir", 40004);
  add(file, "E&xit", 40001);
  QMenu* view = menuBar()->addMenu("&View");
  add(view, "Session &overview", 40005);
  overview_ = view->actions().back();
  connect(view, &QMenu::aboutToShow, this, &MainWindow::RefreshOverviewAction);
  RefreshOverviewAction();
  QMenu* help = menuBar()->addMenu("&Help");
  add(help, "&Help", 40002);
  add(help, "&About", 40003);
}

void MainWindow::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName("103");
  bar->setSizeGripEnabled(true);
  // The first field ends at x = 600, the second at the window's right edge.
  auto* first_field = new QLabel(bar);
  first_field->setObjectName("103.0");
  first_field->setFixedWidth(596);
  auto* second_field = new QLabel(QString("Session: %1").arg(QString::fromStdString(st.sesion)), bar);
  second_field->setObjectName("103.1");
  bar->addWidget(first_field);
  bar->addWidget(second_field, 1);
}

void MainWindow::Command(int id) {
  const bool busy = st.working != 0;
  switch (id) {
    case 201:
    case 40004:
      if (!busy) selectdir();
      break;
    case 202:
    case 203:
      if (!busy) select_deselect(id == 202);
      break;
    case 204:
      if (!busy) Process();
      break;
    case 205:
      if (busy) Cancel();
      break;
    case 40001:
      QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
      break;
    case 40002:
      open_url(QUrl(kPlatformAddress));
      break;
    case 40003:
      About();
      break;
    case 40005:
      if (!busy) ShowOverview();
      break;
    default:
      break;
  }
}

void MainWindow::FileTypeSelected(int index) {
  if (st.working) {
    // Refused: the box goes back to the type in use.
    filetype_->setCurrentIndex(st.cu_ext);
    return;
  }
  ChangeFileType(index);
}

void MainWindow::CoordinateLeft(int which) {
  if (checking_) return;  // the box of a first check takes the focus away
  checking_ = true;
  if (which == 0)
    st.geoxi = checklonlat(0);
  else
    st.geoyi = checklonlat(1);
  checking_ = false;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut && (watched == longitude_ || watched == latitude_) && !closing_) {
    // The focus moving to another control counts; the whole window losing
    // it (another window, a menu, a box) does not.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
      CoordinateLeft(watched == longitude_ ? 0 : 1);
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::selectdir() {
  const std::string previous = st.szDirPath;
  const QString picked = pick_directory ? pick_directory() : QString();
  if (picked.isEmpty()) {
    st.szDirPath = previous;
    return;
  }
  UseWorkDirectory(picked.toStdString());
}

void MainWindow::select_deselect(bool select) { platform().ListSelectAll(select); }

void MainWindow::Process() {
  if (st.working) return;
  // A run that ended by itself but whose end notice is still queued.
  if (hThread1.joinable()) hThread1.join();
  st.working = 1;
  st.stoprequest = false;
  run_ = plat_.BeginRun();
  worker_done_ = false;
  const uint64_t run = run_;
  try {
    hThread1 = std::thread([this, run, body = run_body] {
      QtPlatform::AdoptRun(run);
      if (body) body();
      worker_done_ = true;
      QMetaObject::invokeMethod(this, [this, run] { OnRunFinished(run); }, Qt::QueuedConnection);
    });
  } catch (const std::system_error&) {
    worker_done_ = true;
    st.working = 0;
    platform().MessageBox("The process could not be started", "Error", BoxIcon::Error, BoxButtons::Ok, true);
  }
}

void MainWindow::OnRunFinished(uint64_t run) {
  if (run == run_ && worker_done_ && hThread1.joinable()) hThread1.join();
}

void MainWindow::WaitForWorker() {
  // Keep serving the interface thread's queue: a worker waiting for a box
  // gets its answer (a stopped run gets no box, except the fatal one that
  // ends the program) and can see the stop.
  while (!worker_done_) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (hThread1.joinable()) hThread1.join();
}

void MainWindow::Cancel() {
  if (!st.working) return;
  st.stoprequest = true;
  plat_.AbandonRun(run_);
  WaitForWorker();
  st.working = 0;
  CleanSurfaces();
  ReleaseCounters();
  platform().SetStatusText("");
  platform().SetReadOnly(ctl::kLongitude, false);
  platform().SetReadOnly(ctl::kLatitude, false);
  platform().SetEnabled(ctl::kFileType, true);
  platform().MessageBox("Process Cancelled", "Info", BoxIcon::Info, BoxButtons::Ok, true);
}

void MainWindow::About() {
  auto dialog = BuildAboutDialog(this);
  plat_.ExecDialog(*dialog);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  closing_ = true;
  if (st.working) Cancel();
  CloseGraph();
  if (hThread1.joinable()) hThread1.join();
  st.prmaxheight.clear();
  event->accept();
}

// The overview needs a session folder in the work directory and no run
// writing into it.
void MainWindow::RefreshOverviewAction() {
  overview_->setEnabled(!st.working && !st.szDirPath.empty() && !FindSessionFolder(st.szDirPath, st.sesion).empty());
}

void MainWindow::ShowOverview() {
  const std::string session = st.szDirPath.empty() ? std::string() : FindSessionFolder(st.szDirPath, st.sesion);
  if (session.empty()) return;
  auto* window = new OverviewWindow(session, this);
  window->show();
}
