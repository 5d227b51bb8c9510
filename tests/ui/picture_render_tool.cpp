// Draws the controller picture as the settings window shows it, below the strip of
// programmable buttons (the picture and its 15 buttons), on Qt's offscreen platform at a
// given scale, as a binary PPM: what a UI scenario holds the real window's pixels against.
//
//   picture_render_tool SCALE BACKGROUND OUT.ppm     (BACKGROUND: a colour such as #ff00ff)
//
// Drawn over two backgrounds, the pixels that agree are the picture's own.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QPalette>

#include "ui/controller_picture.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s SCALE BACKGROUND OUT.ppm\n", argv[0]);
    return 2;
  }
  const QColor background(QString::fromLatin1(argv[2]));
  if (std::atof(argv[1]) <= 0 || !background.isValid()) {
    std::fprintf(stderr, "%s: a scale above 0 and a colour, please\n", argv[0]);
    return 2;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::setenv("QT_SCALE_FACTOR", argv[1], 1);
  int nArgc = 1;
  QApplication app(nArgc, argv);

  orb::CControllerPicture picture;
  QPalette palette = picture.palette();
  palette.setColor(QPalette::Window, background);
  picture.setPalette(palette);
  picture.setAutoFillBackground(true);
  picture.show();
  const QImage whole = picture.grab().toImage().convertToFormat(QImage::Format_RGB888);
  const qreal rScale = whole.devicePixelRatio();
  const int nTop = (picture.ProgramStrip().geometry().bottom() + 1) * qRound(rScale);
  const QImage below = whole.copy(0, nTop, whole.width(), whole.height() - nTop);

  std::FILE* pOut = std::fopen(argv[3], "wb");
  if (pOut == nullptr) {
    std::perror(argv[3]);
    return 1;
  }
  std::fprintf(pOut, "P6\n%d %d\n255\n", below.width(), below.height());
  for (int y = 0; y < below.height(); ++y) {
    std::fwrite(below.constScanLine(y), 3, static_cast<std::size_t>(below.width()), pOut);
  }
  return std::fclose(pOut) == 0 ? 0 : 1;
}
