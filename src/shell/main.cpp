#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel label("veltano data builder");
  label.show();
  return app.exec();
}
