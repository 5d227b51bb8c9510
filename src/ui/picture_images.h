#pragma once

// The controller picture and its buttons' images, drawn from SVG sources compiled into the
// program and looked up by the names the buttons ask for ("134", "INU", "3D", "WHEELM").
#include <QBitmap>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace orb {

// The image at its logical size times devicePixelRatio, carrying that ratio. Null for an
// unknown name or a ratio that is not a positive finite number.
QPixmap PictureImage(const QString& name, qreal devicePixelRatio);

// The logical size of the named image; invalid for an unknown name.
QSize PictureImageSize(const QString& name);

// A mask image ("JOGM", "WHEELM") as a 1-bit bitmap: color1 (black) where the button is,
// color0 around it. Null for an unknown name or a bad ratio.
QBitmap PictureMask(const QString& name, qreal devicePixelRatio);

}  // namespace orb
