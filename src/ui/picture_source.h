#pragma once
// Where the bitmap buttons and the controller picture get their images: the built-in
// pictures by default, small made-up ones in tests.

#include <functional>

#include <QBitmap>
#include <QPixmap>
#include <QString>

namespace orb {

struct PictureSource {
  // The colour image `sName` rendered for `rDpr` device pixels per logical pixel; null
  // when there is no such image.
  std::function<QPixmap(const QString& sName, qreal rDpr)> image;
  // The 1-bit mask `sName` (set, that is black, where the control is); null when none.
  std::function<QBitmap(const QString& sName, qreal rDpr)> mask;
};

// The pictures built into the program (ui/picture_images.h).
PictureSource BuiltInPictures();

}  // namespace orb
