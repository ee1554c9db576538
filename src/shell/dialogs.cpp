#include "shell/dialogs.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <cmath>
#include <tuple>

#include "run/report.h"

namespace {

// Base units of the templates' 8-point sans-serif dialog font: 6 x 13 pixels,
// so one horizontal unit is 6/4 and one vertical unit 13/8 pixels. The
// completion dialog mixes both measures and was laid out for these.
constexpr double kUnitX = 6.0 / 4.0;
constexpr double kUnitY = 13.0 / 8.0;

QString SansFamily() {
  static const QString family = [] {
    const QStringList installed = QFontDatabase::families();
    for (const char* name : {"Arial", "Liberation Sans", "Arimo"})
      if (installed.contains(name, Qt::CaseInsensitive)) return QString(name);
    return QString();
  }();
  return family;
}

QFont SansFont() {
  QFont f;
  const QString family = SansFamily();
  if (!family.isEmpty()) f.setFamily(family);
  f.setStyleHint(QFont::SansSerif);
  return f;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

void MakeWhite(QWidget* w) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::Window, Qt::white);
  pal.setColor(QPalette::WindowText, Qt::black);
  w->setPalette(pal);
  w->setAutoFillBackground(true);
}

QLabel* TemplateStatic(QDialog* d, const QString& text, const char* id, QRect r) {
  auto* label = new QLabel(text, d);
  label->setObjectName(id);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label->setWordWrap(true);
  label->setGeometry(r);
  return label;
}

// A static created by the completion dialog in pixels: centred both ways.
QLabel* PixelStatic(QDialog* d, const QString& text, const char* id, int y, const QFont& font) {
  auto* label = new QLabel(text, d);
  label->setObjectName(id);
  label->setAlignment(Qt::AlignCenter);
  label->setFont(font);
  label->setGeometry(8, y, 340, 26);
  return label;
}

QFrame* Rule(QWidget* parent, QRect r) {
  auto* rule = new QFrame(parent);
  rule->setObjectName("-1");
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Plain);
  QPalette pal = rule->palette();
  pal.setColor(QPalette::WindowText, QColor(0xA0, 0xA0, 0xA0));
  rule->setPalette(pal);
  rule->setGeometry(r);
  return rule;
}

// A wrapping static whose lines must end above the next static, `height`
// pixels below its top: smaller type until the wrapped text fits.
void FitWrapped(QLabel* label, int height) {
  QFont f = label->font();
  if (f.pixelSize() <= 0) return;
  const int flags = Qt::TextWordWrap | Qt::AlignHCenter;
  auto needed = [&] {
    return QFontMetrics(f).boundingRect(QRect(0, 0, label->width(), 1000), flags, label->text()).height();
  };
  while (f.pixelSize() > 8 && needed() > height) f.setPixelSize(f.pixelSize() - 1);
  label->setFont(f);
}

void PrepareDialog(QDialog* d, const char* caption, QRect r, QWidget* owner) {
  d->setWindowTitle(caption);
  d->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  d->setModal(true);
  d->setFont(DialogFont());
  d->setFixedSize(r.size());
  if (owner) d->move(owner->mapToGlobal(r.topLeft()));
}

}  // namespace

QFont ArialFont(int cell_height, bool bold) {
  QFont f = SansFont();
  // Scale the face so that ascent + descent fill the cell height.
  QFont probe = f;
  probe.setPixelSize(100);
  const QFontMetricsF fm(probe);
  const double cell_per_px = (fm.ascent() + fm.descent()) / 100.0;
  f.setPixelSize(std::max(1, static_cast<int>(std::lround(cell_height / (cell_per_px > 0 ? cell_per_px : 1.0)))));
  f.setWeight(bold ? QFont::Bold : QFont::Normal);
  return f;
}

void ShrinkToFit(QLabel* label) {
  QFont f = label->font();
  if (f.pixelSize() <= 0) return;
  while (f.pixelSize() > 8 && QFontMetrics(f).horizontalAdvance(label->text()) > label->width())
    f.setPixelSize(f.pixelSize() - 1);
  label->setFont(f);
}

QFont SystemFont() { return ArialFont(15, true); }

QFont DialogFont() { return ArialFont(12, false); }

QRect DialogRect(int x, int y, int w, int h) {
  auto px = [](int v, double unit) { return static_cast<int>(std::lround(v * unit)); };
  return QRect(px(x, kUnitX), px(y, kUnitY), px(w, kUnitX), px(h, kUnitY));
}

std::unique_ptr<QMessageBox> BuildMessageBox(const std::string& text, const std::string& caption,
                                             BoxIcon icon, BoxButtons buttons, QWidget* owner) {
  QMessageBox::Icon qicon = QMessageBox::Information;
  if (icon == BoxIcon::Error) qicon = QMessageBox::Critical;
  if (icon == BoxIcon::Warning) qicon = QMessageBox::Warning;
  const QMessageBox::StandardButtons qbuttons =
      buttons == BoxButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok;
  auto box = std::make_unique<QMessageBox>(qicon, QString::fromStdString(caption),
                                           QString::fromStdString(text), qbuttons, owner);
  box->setTextFormat(Qt::PlainText);
  box->setDefaultButton(QMessageBox::Ok);
  box->setEscapeButton(buttons == BoxButtons::OkCancel ? QMessageBox::Cancel : QMessageBox::Ok);
  return box;
}

BoxResult BoxAnswer(const QMessageBox& box) {
  // Closing an OK/Cancel box any other way than with OK counts as Cancel.
  return box.clickedButton() == box.button(QMessageBox::Ok) ? BoxResult::Ok : BoxResult::Cancel;
}

std::unique_ptr<QDialog> BuildCompletionDialog(const CompletionReport& report, QWidget* owner) {
  const CompletionTexts t = CompletionReportTexts(report);
  auto d = std::make_unique<QDialog>(owner);
  d->setObjectName("20001");
  PrepareDialog(d.get(), t.title.c_str(), DialogRect(10, 10, 240, 188), owner);
  MakeWhite(d.get());
  const QFont bold = ArialFont(14, true);
  const QFont normal = ArialFont(14, false);

  TemplateStatic(d.get(), Q(t.processed), "703", DialogRect(8, 8, 220, 24))->setFont(bold);
  TemplateStatic(d.get(), Q(t.stored), "-1", DialogRect(8, 24, 220, 24));
  TemplateStatic(d.get(), "What's next?", "704", DialogRect(8, 56, 220, 24))->setFont(bold);
  TemplateStatic(d.get(), "To finish building you radiation map you must upload the results", "-1",
                 DialogRect(8, 70, 220, 24));
  TemplateStatic(d.get(), "to your project in the web page of the veltano open platform", "-1",
                 DialogRect(8, 84, 220, 24));

  // The folder is shown in an edit so that it can be selected and copied.
  auto* folder = new QLineEdit(Q(report.folder), d.get());
  folder->setObjectName("-1");
  folder->setAlignment(Qt::AlignCenter);
  folder->setReadOnly(true);
  folder->setFont(normal);
  folder->setGeometry(8, 60, 340, 26);
  folder->setCursorPosition(0);

  Rule(d.get(), QRect(8, 158, 340, 1));

  // The error lines 24 pixels apart from 160, their ids from 303; the
  // warning lines below them from 246, all with id 303.
  static const char* const kErrorIds[] = {"303", "304", "305"};
  for (size_t i = 0; i < t.errors.size() && i < 3; ++i)
    PixelStatic(d.get(), Q(t.errors[i]), kErrorIds[i], 160 + 24 * static_cast<int>(i), normal);
  for (size_t i = 0; i < t.warnings.size(); ++i)
    PixelStatic(d.get(), Q(t.warnings[i]), "303", 246 + 24 * static_cast<int>(i), normal);
  for (QLabel* label : d->findChildren<QLabel*>()) ShrinkToFit(label);
  return d;
}

std::unique_ptr<QDialog> BuildAboutDialog(QWidget* owner) {
  auto d = std::make_unique<QDialog>(owner);
  d->setObjectName("20000");
  PrepareDialog(d.get(), "About", DialogRect(10, 10, 158, 160), owner);

  TemplateStatic(d.get(), "Veltano Tessera", "-1", DialogRect(8, 8, 140, 24));
  TemplateStatic(d.get(), "Desktop Data Builder", "-1", DialogRect(8, 24, 140, 24));
  TemplateStatic(d.get(), "Version 2.1", "-1", DialogRect(8, 40, 140, 24));
  TemplateStatic(d.get(), kPlatformAddress, "-1", DialogRect(8, 56, 140, 24));
  auto* group = new QGroupBox(d.get());
  group->setObjectName("-1");
  group->setGeometry(DialogRect(8, 72, 144, 80));
  // Three statics 16 units apart, the last one just above the button: each
  // must end where the next control starts.
  for (auto [text, y, room] : {std::tuple{"This App is a helper designed to build neccesary data", 86, 16},
                               std::tuple{"that you must upload at Veltano Tessera", 102, 16},
                               std::tuple{"before publish your radiation maps", 118, 14}})
    FitWrapped(TemplateStatic(d.get(), text, "-1", DialogRect(23, y, 110, 24)), DialogRect(0, 0, 0, room).height());
  auto* ok = new QPushButton("&OK", d.get());
  ok->setObjectName("1");
  ok->setDefault(true);
  ok->setGeometry(DialogRect(60, 132, 40, 14));
  QObject::connect(ok, &QPushButton::clicked, d.get(), [dlg = d.get()] { dlg->done(1); });
  return d;
}
