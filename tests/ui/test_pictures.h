#pragma once
// Made-up pictures for the bitmap buttons: each name a plain colour of a given size, and
// masks as painted shapes, so a test can tell which image was drawn by one pixel.

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include <QBitmap>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QWidget>

#include "ui/picture_source.h"
#include "ui/strip_label.h"

namespace orb::test {

struct SolidPicture {
  QSize size;  // logical pixels
  QColor color;
};

// Paints the set (black) part of a mask of `size` logical pixels.
using MaskPainter = std::function<void(QPainter&, const QSize&)>;

struct TestPictures {
  std::map<QString, SolidPicture> images;
  std::map<QString, std::pair<QSize, MaskPainter>> masks;
  // Every name asked for, with the pixel ratio it was asked at.
  std::shared_ptr<std::vector<std::pair<QString, qreal>>> pAsked =
      std::make_shared<std::vector<std::pair<QString, qreal>>>();
  // When set, images come at this ratio whatever was asked, as from a screen at 200 %.
  qreal rForcedDpr = 0;

  PictureSource Source() const {
    auto images_ = images;
    auto masks_ = masks;
    auto pAsked_ = pAsked;
    const qreal rForced = rForcedDpr;
    return {[images_, pAsked_, rForced](const QString& sName, qreal rDpr) {
              pAsked_->emplace_back(sName, rDpr);
              const auto it = images_.find(sName);
              if (it == images_.end()) {
                return QPixmap();
              }
              const qreal rRatio = rForced > 0 ? rForced : rDpr;
              QPixmap pix(it->second.size * rRatio);
              pix.setDevicePixelRatio(rRatio);
              pix.fill(it->second.color);
              return pix;
            },
            [masks_, pAsked_, rForced](const QString& sName, qreal rDpr) {
              pAsked_->emplace_back(sName, rDpr);
              const auto it = masks_.find(sName);
              if (it == masks_.end()) {
                return QBitmap();
              }
              const qreal rRatio = rForced > 0 ? rForced : rDpr;
              QImage image(it->second.first * rRatio, QImage::Format_RGB32);
              image.setDevicePixelRatio(rRatio);
              image.fill(Qt::white);
              QPainter painter(&image);
              painter.setPen(Qt::NoPen);
              painter.setBrush(Qt::black);
              it->second.second(painter, it->second.first);
              painter.end();
              QBitmap mask = QBitmap::fromImage(image, Qt::ThresholdDither);
              mask.setDevicePixelRatio(rRatio);
              return mask;
            }};
  }
};

// The colour `widget` shows at logical point `point`, as painted now.
inline QColor ColorAt(QWidget& widget, const QPoint& point) {
  const QImage image = widget.grab().toImage();
  return image.pixelColor((QPointF(point) * image.devicePixelRatio()).toPoint());
}

// The strongest contrast between two renderings, pixel by pixel: what the eye has to go
// by to tell the two apart.
inline double StrongestChange(const QImage& before, const QImage& after) {
  double rStrongest = 1.0;
  for (int y = 0; y < std::min(before.height(), after.height()); ++y) {
    for (int x = 0; x < std::min(before.width(), after.width()); ++x) {
      rStrongest = std::max(rStrongest, ContrastRatio(before.pixelColor(x, y), after.pixelColor(x, y)));
    }
  }
  return rStrongest;
}

}  // namespace orb::test
