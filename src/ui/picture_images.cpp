#include "ui/picture_images.h"

#include <array>
#include <cmath>
#include <string_view>

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

// The images are compiled into this static library; their registration must be called.
static void InitPictureResources() { Q_INIT_RESOURCE(picture); }

namespace orb {
namespace {

struct PictureEntry {
  std::string_view name;
  std::string_view file;
  int width;
  int height;
};

// Every button image is one pixel wider and taller than the rectangle its button covers.
constexpr std::array<PictureEntry, 29> kPictures{{
    {"134", "controller.svg", 200, 199},
    {"PGMU", "pgm_up.svg", 13, 13},
    {"DECKU", "deck_up.svg", 34, 14},
    {"BACKU", "back_up.svg", 34, 14},
    {"FOREU", "fore_up.svg", 34, 14},
    {"CAPU", "cap_up.svg", 34, 14},
    {"PLAYU", "play_up.svg", 22, 22},
    {"INU", "in_up.svg", 73, 56},
    {"OUTU", "out_up.svg", 73, 56},
    {"ADDU", "add_up.svg", 21, 21},
    {"1U", "key1_up.svg", 30, 30},
    {"2U", "key2_up.svg", 30, 30},
    {"3U", "key3_up.svg", 30, 30},
    {"4U", "key4_up.svg", 30, 30},
    {"5U", "key5_up.svg", 30, 30},
    {"1D", "key1_down.svg", 30, 30},
    {"2D", "key2_down.svg", 30, 30},
    {"3D", "key3_down.svg", 30, 30},
    {"4D", "key4_down.svg", 30, 30},
    {"5D", "key5_down.svg", 30, 30},
    {"1K", "key1_pressed.svg", 30, 30},
    {"2K", "key2_pressed.svg", 30, 30},
    {"3K", "key3_pressed.svg", 30, 30},
    {"4K", "key4_pressed.svg", 30, 30},
    {"5K", "key5_pressed.svg", 30, 30},
    {"JOGU", "jog_up.svg", 25, 25},
    {"JOGM", "jog_mask.svg", 25, 25},
    {"WHEELU", "wheel_up.svg", 89, 97},
    {"WHEELM", "wheel_mask.svg", 89, 97},
}};

const PictureEntry* FindPicture(const QString& name) {
  const QByteArray utf8 = name.toUtf8();
  const std::string_view key(utf8.constData(), static_cast<size_t>(utf8.size()));
  for (const PictureEntry& entry : kPictures) {
    if (entry.name == key) return &entry;
  }
  return nullptr;
}

bool UsableRatio(qreal dpr) { return std::isfinite(dpr) && dpr > 0; }

// Transparent outside what the SVG draws; the caller flattens it where it needs to.
QImage RenderPicture(const PictureEntry& entry, qreal dpr) {
  InitPictureResources();
  const QString path = QStringLiteral(":/picture/") +
                       QString::fromUtf8(entry.file.data(), static_cast<qsizetype>(entry.file.size()));
  QSvgRenderer renderer(path);
  if (!renderer.isValid()) return {};
  const QSize device(qRound(entry.width * dpr), qRound(entry.height * dpr));
  if (device.isEmpty()) return {};
  QImage image(device, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(device)));
  }
  image.setDevicePixelRatio(dpr);
  return image;
}

}  // namespace

QSize PictureImageSize(const QString& name) {
  const PictureEntry* pEntry = FindPicture(name);
  return pEntry ? QSize(pEntry->width, pEntry->height) : QSize();
}

QPixmap PictureImage(const QString& name, qreal devicePixelRatio) {
  const PictureEntry* pEntry = FindPicture(name);
  if (!pEntry || !UsableRatio(devicePixelRatio)) return {};
  const QImage image = RenderPicture(*pEntry, devicePixelRatio);
  if (image.isNull()) return {};
  QPixmap pixmap = QPixmap::fromImage(image);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  return pixmap;
}

QBitmap PictureMask(const QString& name, qreal devicePixelRatio) {
  const PictureEntry* pEntry = FindPicture(name);
  if (!pEntry || !UsableRatio(devicePixelRatio)) return {};
  const QImage rendered = RenderPicture(*pEntry, devicePixelRatio);
  if (rendered.isNull()) return {};
  // Anything darker than mid-grey is the button; uncovered (transparent) pixels count as
  // white, so a mask drawn without its white background still means "not here".
  QImage mono(rendered.size(), QImage::Format_MonoLSB);
  mono.setColorCount(2);
  mono.setColor(0, QColor(Qt::white).rgb());
  mono.setColor(1, QColor(Qt::black).rgb());
  mono.fill(0);
  for (int y = 0; y < rendered.height(); ++y) {
    const auto* pLine = reinterpret_cast<const QRgb*>(rendered.constScanLine(y));
    for (int x = 0; x < rendered.width(); ++x) {
      const QRgb px = pLine[x];
      // Premultiplied: over white, a channel c with alpha a becomes c + 255 - a.
      const int gray = qGray(px) + 255 - qAlpha(px);
      if (gray < 128) mono.setPixel(x, y, 1);
    }
  }
  QBitmap bitmap = QBitmap::fromImage(mono);
  bitmap.setDevicePixelRatio(devicePixelRatio);
  return bitmap;
}

}  // namespace orb
