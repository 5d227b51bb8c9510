#include "ui/picture_source.h"

#include "ui/picture_images.h"

namespace orb {

PictureSource BuiltInPictures() {
  return {[](const QString& sName, qreal rDpr) { return PictureImage(sName, rDpr); },
          [](const QString& sName, qreal rDpr) { return PictureMask(sName, rDpr); }};
}

}  // namespace orb
