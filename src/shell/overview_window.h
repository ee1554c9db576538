// The session overview in a window of its own, with a month selector.
#pragma once

#include <QDialog>
#include <QImage>
#include <string>

class QComboBox;
class QLabel;

class OverviewWindow : public QDialog {
 public:
  // Shows the overview of `session_dir` for the year.
  OverviewWindow(const std::string& session_dir, QWidget* parent);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Draws the picture again: -1 the year, 0..11 one month.
  void Render(int month);
  void ShowScaled();

  std::string session_dir_;
  QComboBox* month_ = nullptr;
  QLabel* picture_ = nullptr;
  QLabel* summary_ = nullptr;
  QImage image_;
};
