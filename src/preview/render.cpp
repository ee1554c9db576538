// The overview drawn with Qt's painter on an image; the batch driver's
// writer encodes it with the project's one PNG encoder.

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "catalogue/coords_file.h"
#include "preview/overview_image.h"
#include "preview/sectors.h"
#include "terrain/file.h"
#include "terrain/pngfuncs.h"

namespace fs = std::filesystem;

// The font library behind QPainter's text keeps its caches for the life of
// the process and frees nothing at exit; under the leak checker of the
// sanitizer builds those blocks are not leaks of ours.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

namespace {

constexpr int kMargin = 8, kTitle = 24, kLegend = 44, kMinMapWidth = 560;
const QColor kMissing(150, 150, 150), kCross(70, 70, 70), kBackground(245, 245, 245);
constexpr const char* kMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};

// Text needs a QGuiApplication. The batch driver has none and maybe no
// display: one on the offscreen platform, kept to the end of the process.
void EnsureGuiApplication() {
  if (QCoreApplication::instance()) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "veltano-batch";
  static char* argv[] = {name, nullptr};
  new QGuiApplication(argc, argv);
}

struct Layout {
  int min_col = 99, max_col = 0, min_row = 99, max_row = 0;
  int cw = 0, ch = 0;
};

// Sectors scaled down evenly so that the whole picture stays within the
// longest side allowed; never scaled up.
Layout MakeLayout(const std::set<std::string>& ids, uint32_t w, uint32_t h, PreviewResult& r) {
  Layout l;
  for (const std::string& id : ids) {
    const int c = std::stoi(id.substr(0, 2)), row = std::stoi(id.substr(2, 2));
    l.min_col = std::min(l.min_col, c), l.max_col = std::max(l.max_col, c);
    l.min_row = std::min(l.min_row, row), l.max_row = std::max(l.max_row, row);
  }
  const int cols = l.max_col - l.min_col + 1, rows = l.max_row - l.min_row + 1;
  const double s = std::min({1.0, double(kOverviewMaxSide - 2 * kMargin) / (double(cols) * w),
                             double(kOverviewMaxSide - 2 * kMargin - kTitle - kLegend) / (double(rows) * h)});
  l.cw = std::max(1, int(std::floor(w * s))), l.ch = std::max(1, int(std::floor(h * s)));
  r.width = std::max(cols * l.cw, kMinMapWidth) + 2 * kMargin;
  r.height = rows * l.ch + 2 * kMargin + kTitle + kLegend;
  r.map_left = kMargin + (r.width - 2 * kMargin - cols * l.cw) / 2;
  r.map_top = kMargin + kTitle;
  r.cell_w = l.cw, r.cell_h = l.ch, r.first_column = l.min_col, r.last_row = l.max_row;
  return l;
}

void DrawMissing(QPainter& p, const QRect& cell) {
  p.fillRect(cell, kMissing);
  p.setPen(QPen(kCross, 2));
  p.drawLine(cell.topLeft(), cell.bottomRight());
  p.drawLine(cell.topRight(), cell.bottomLeft());
}

void DrawCell(QPainter& p, const QRect& cell, const std::vector<uint32_t>& rgb) {
  QImage img(cell.width(), cell.height(), QImage::Format_RGB32);
  for (int y = 0; y < cell.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < cell.width(); ++x) line[x] = 0xFF000000u | rgb[size_t(y) * cell.width() + x];
  }
  p.drawImage(cell.topLeft(), img);
}

// Each sector in its cell, with a thin border and its name.
void DrawSectors(QPainter& p, const PreviewOptions& o, const std::set<std::string>& ids, const Layout& l,
                 int32_t steps, PreviewResult& r, const std::function<void(const std::string&)>& problem) {
  p.setFont(QFont("DejaVu Sans", 8));
  for (const std::string& id : ids) {
    const int c = std::stoi(id.substr(0, 2)), row = std::stoi(id.substr(2, 2));
    const QRect cell(r.map_left + (c - l.min_col) * l.cw, r.map_top + (l.max_row - row) * l.ch, l.cw, l.ch);
    const auto rgb = preview::SectorCell(o.session_dir, id, o.month, steps, l.cw, l.ch, o.hillshade, problem);
    if (rgb) {
      DrawCell(p, cell, *rgb);
    } else {
      DrawMissing(p, cell);
      problem(id + ": missing or failing verification, drawn grey");
      ++r.failed;
    }
    p.setPen(QPen(QColor(40, 40, 40, 140), 1));
    p.drawRect(cell.adjusted(0, 0, -1, -1));
    if (l.cw >= 40 && l.ch >= 20) {
      // On a light patch, so that the name reads over dark shade too.
      const QRect name(cell.left() + 3, cell.top() + 3, p.fontMetrics().horizontalAdvance("0000") + 6, 14);
      p.fillRect(name, QColor(255, 255, 255, 170));
      p.setPen(Qt::black);
      p.drawText(name, Qt::AlignCenter, QString::fromStdString(id));
    }
  }
  r.sectors = static_cast<int>(ids.size());
}

void DrawTitle(QPainter& p, const PreviewOptions& o, double lat, const PreviewResult& r) {
  const fs::path dir(o.session_dir);
  const std::string session = dir.filename().string();
  const QString text = QString("%1   session %2   latitude %3   %4   %5 sector%6")
                           .arg(QString::fromStdString(dir.parent_path().filename().string()),
                                QString::fromStdString(session.rfind("Session", 0) == 0 ? session.substr(7) : session))
                           .arg(lat, 0, 'f', 4)
                           .arg(o.month < 0 ? QString("year") : QString(kMonths[o.month]))
                           .arg(r.sectors)
                           .arg(r.sectors == 1 ? "" : "s");
  p.setPen(Qt::black);
  p.setFont(QFont("DejaVu Sans", 10, QFont::Bold));
  p.drawText(QRect(kMargin, kMargin, r.width - 2 * kMargin, kTitle), Qt::AlignLeft | Qt::AlignVCenter, text);
}

// The colour bar of the shaded share, 0 to 100 percent, and the grey of a
// missing sector.
void DrawLegend(QPainter& p, const PreviewResult& r) {
  const int top = r.height - kMargin - kLegend + 8, left = kMargin + 14, bar = std::min(400, r.width - 2 * kMargin - 150);
  for (int x = 0; x < bar; ++x) {
    const uint32_t c = ShareColour(double(x) / (bar - 1));
    p.fillRect(left + x, top, 1, 14, QColor(QRgb(0xFF000000u | c)));
  }
  p.setPen(Qt::black);
  p.setFont(QFont("DejaVu Sans", 8));
  for (int pc = 0; pc <= 100; pc += 25) {
    const int x = left + pc * (bar - 1) / 100;
    p.drawLine(x, top + 14, x, top + 18);
    p.drawText(QRect(x - 20, top + 18, 40, 14), Qt::AlignHCenter | Qt::AlignTop, QString("%1%").arg(pc));
  }
  const QRect grey(left + bar + 20, top, 20, 14);
  DrawMissing(p, grey);
  p.setPen(Qt::black);
  p.drawText(QRect(grey.right() + 6, top, 120, 14), Qt::AlignLeft | Qt::AlignVCenter, "missing / failed");
}

// The folder as a session folder: an absolute path without a trailing
// separator, whose parent holds the coordinates.
std::string NormalSessionDir(const std::string& dir) {
  fs::path p = fs::path(dir).lexically_normal();
  if (!p.has_filename()) p = p.parent_path();
  return fs::absolute(p).string();
}

}  // namespace

QImage RenderSessionOverview(const PreviewOptions& options,
                             const std::function<void(const std::string&)>& problem, PreviewResult* result) {
  PreviewResult& r = *result;
  PreviewOptions o = options;
  o.session_dir = NormalSessionDir(options.session_dir);
  double lon = 0, lat = 0;
  std::error_code ec;
  const std::set<std::string> ids = fs::is_directory(o.session_dir, ec) ? preview::ListSectorIds(o.session_dir)
                                                                         : std::set<std::string>{};
  const auto size = preview::SectorSize(o.session_dir, ids);
  if (!fs::is_directory(o.session_dir, ec)) r.error = o.session_dir + ": not a directory";
  else if (!ReadCoordinatesFile((fs::path(o.session_dir).parent_path() / kCoordinatesFile).string(), lon, lat) ||
           lat < -90.0 || lat > 90.0)
    r.error = o.session_dir + ": no project latitude in the work directory's " + kCoordinatesFile;
  else if (!size) r.error = o.session_dir + ": no sector outputs found";
  if (!r.error.empty()) return QImage();
  r.session = true;
  EnsureGuiApplication();
  const Layout l = MakeLayout(ids, size->first, size->second, r);
  QImage image(r.width, r.height, QImage::Format_RGB32);
  image.fill(kBackground);
  QPainter p(&image);
  DrawSectors(p, o, ids, l, preview::StepsOf(lat, o.month), r, problem);
  DrawTitle(p, o, lat, r);
  DrawLegend(p, r);
  return image;
}

PreviewResult WriteSessionOverview(const PreviewOptions& options,
                                   const std::function<void(const std::string&)>& problem) {
  PreviewResult r;
  const QImage image = RenderSessionOverview(options, problem, &r);
  if (image.isNull()) return r;
  const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
  std::vector<uint8_t> png;
  const std::string out =
      options.output.empty() ? (fs::path(NormalSessionDir(options.session_dir)) / "overview.png").string() : options.output;
  if (!EncodePngRgb(bgr.constBits(), bgr.width(), bgr.height(), int(bgr.bytesPerLine()), png) ||
      !WriteFileAtomic(out, png.data(), png.size())) {
    r.error = out + ": cannot be written";
    return r;
  }
  r.written = true;
  return r;
}
