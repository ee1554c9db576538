#include "shell/overview_window.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include "preview/overview_image.h"
#include "terrain/state.h"

OverviewWindow::OverviewWindow(const std::string& session_dir, QWidget* parent)
    : QDialog(parent), session_dir_(session_dir) {
  setObjectName("overview");
  setWindowTitle("Session overview");
  setAttribute(Qt::WA_DeleteOnClose);
  month_ = new QComboBox(this);
  month_->setObjectName("overview.month");
  month_->addItem("Year");
  for (const char* m : {"January", "February", "March", "April", "May", "June", "July", "August", "September",
                        "October", "November", "December"})
    month_->addItem(m);
  summary_ = new QLabel(this);
  picture_ = new QLabel(this);
  picture_->setAlignment(Qt::AlignCenter);
  picture_->setMinimumSize(200, 200);
  auto* top = new QHBoxLayout;
  top->addWidget(month_);
  top->addWidget(summary_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(picture_, 1);
  connect(month_, &QComboBox::currentIndexChanged, this, [this](int index) { Render(index - 1); });
  resize(820, 860);
  Render(-1);
}

void OverviewWindow::Render(int month) {
  // A run writing into the session folder would be read half-way.
  if (st.working) {
    summary_->setText("Not while a process is running");
    return;
  }
  PreviewOptions o;
  o.session_dir = session_dir_;
  o.month = month;
  PreviewResult r;
  image_ = RenderSessionOverview(o, [](const std::string&) {}, &r);
  summary_->setText(image_.isNull() ? QString::fromStdString(r.error)
                                    : QString("%1 sectors, %2 missing or failing verification").arg(r.sectors).arg(r.failed));
  ShowScaled();
}

// The picture scaled to fit the window, never enlarged.
void OverviewWindow::ShowScaled() {
  if (image_.isNull()) {
    picture_->clear();
    return;
  }
  QImage shown = image_;
  if (image_.width() > picture_->width() || image_.height() > picture_->height())
    shown = image_.scaled(picture_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
  picture_->setPixmap(QPixmap::fromImage(shown));
}

void OverviewWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  ShowScaled();
}
