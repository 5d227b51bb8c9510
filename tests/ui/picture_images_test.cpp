// The controller picture's images: every name the buttons ask for renders at its exact
// size, the masks are 1-bit and cut where the buttons' shapes are, and the shaped images
// keep inside the shapes their buttons are cut to.
#include "ui/picture_images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <QColor>
#include <QImage>
#include <QLineF>
#include <QPolygonF>

namespace orb {
namespace {

struct Expected {
  const char* name;
  int width;
  int height;
};

// Written out again here, not taken from the renderer's table, so that a wrong size there fails.
const std::vector<Expected> kExpected = {
    {"134", 200, 199},  {"PGMU", 13, 13},   {"DECKU", 34, 14}, {"BACKU", 34, 14},  {"FOREU", 34, 14},
    {"CAPU", 34, 14},   {"PLAYU", 22, 22},  {"INU", 73, 56},   {"OUTU", 73, 56},   {"ADDU", 21, 21},
    {"1U", 30, 30},     {"2U", 30, 30},     {"3U", 30, 30},    {"4U", 30, 30},     {"5U", 30, 30},
    {"1D", 30, 30},     {"2D", 30, 30},     {"3D", 30, 30},    {"4D", 30, 30},     {"5D", 30, 30},
    {"1K", 30, 30},     {"2K", 30, 30},     {"3K", 30, 30},    {"4K", 30, 30},     {"5K", 30, 30},
    {"JOGU", 25, 25},   {"JOGM", 25, 25},   {"WHEELU", 89, 97}, {"WHEELM", 89, 97},
};

int OpaquePixels(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
  return n;
}

bool IsBlack(const QBitmap& mask, int x, int y) { return mask.toImage().pixelColor(x, y) == QColor(Qt::black); }

double DistanceToEdge(const QPolygonF& polygon, QPointF p) {
  double best = std::numeric_limits<double>::max();
  for (int i = 0; i < polygon.size(); ++i) {
    const QPointF a = polygon[i];
    const QPointF b = polygon[(i + 1) % polygon.size()];
    const QPointF ab = b - a;
    const double t = std::clamp(QPointF::dotProduct(p - a, ab) / QPointF::dotProduct(ab, ab), 0.0, 1.0);
    best = std::min(best, QLineF(p, a + t * ab).length());
  }
  return best;
}

const QPolygonF kInPolygon({{72, 0}, {33, 11}, {0, 43}, {19, 55}, {43, 30}, {72, 22}});
const QPolygonF kOutPolygon({{0, 0}, {42, 13}, {72, 43}, {53, 55}, {30, 31}, {0, 22}});

TEST(PictureImages, EveryNameRendersAtItsSizeAtOneAndTwo) {
  for (const Expected& e : kExpected) {
    SCOPED_TRACE(e.name);
    const QString name = QString::fromLatin1(e.name);
    EXPECT_EQ(PictureImageSize(name), QSize(e.width, e.height));
    for (const qreal dpr : {1.0, 2.0}) {
      const QPixmap pixmap = PictureImage(name, dpr);
      ASSERT_FALSE(pixmap.isNull()) << "dpr " << dpr;
      EXPECT_EQ(pixmap.size(), QSize(qRound(e.width * dpr), qRound(e.height * dpr)));
      EXPECT_EQ(pixmap.devicePixelRatio(), dpr);
      EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(e.width, e.height));
      // Most of every image is drawn: an SVG that failed to render would be blank.
      EXPECT_GT(OpaquePixels(pixmap.toImage()), pixmap.width() * pixmap.height() / 5) << "dpr " << dpr;
    }
  }
}

TEST(PictureImages, UnknownNamesAndBadRatiosGiveNothing) {
  for (const char* name : {"", "inu", "IN", "6U", "PGMD", "134 "}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(PictureImageSize(QString::fromLatin1(name)).isValid());
    EXPECT_TRUE(PictureImage(QString::fromLatin1(name), 1.0).isNull());
    EXPECT_TRUE(PictureMask(QString::fromLatin1(name), 1.0).isNull());
  }
  for (const qreal dpr : {0.0, -1.0, std::numeric_limits<qreal>::quiet_NaN(), std::numeric_limits<qreal>::infinity()}) {
    EXPECT_TRUE(PictureImage(QStringLiteral("INU"), dpr).isNull()) << dpr;
    EXPECT_TRUE(PictureMask(QStringLiteral("JOGM"), dpr).isNull()) << dpr;
  }
}

TEST(PictureImages, MasksAreOneBitAndBlackWhereTheButtonIs) {
  for (const int dpr : {1, 2}) {
    SCOPED_TRACE(dpr);
    const QBitmap jog = PictureMask(QStringLiteral("JOGM"), dpr);
    ASSERT_FALSE(jog.isNull());
    EXPECT_EQ(jog.depth(), 1);
    EXPECT_EQ(jog.size(), QSize(25 * dpr, 25 * dpr));
    EXPECT_EQ(jog.devicePixelRatio(), dpr);
    EXPECT_TRUE(IsBlack(jog, 12 * dpr, 12 * dpr));
    EXPECT_FALSE(IsBlack(jog, 0, 0));
    EXPECT_FALSE(IsBlack(jog, 24 * dpr, 24 * dpr));

    const QBitmap wheel = PictureMask(QStringLiteral("WHEELM"), dpr);
    ASSERT_FALSE(wheel.isNull());
    EXPECT_EQ(wheel.depth(), 1);
    EXPECT_EQ(wheel.size(), QSize(89 * dpr, 97 * dpr));
    EXPECT_FALSE(IsBlack(wheel, 44 * dpr, 48 * dpr));  // the centre: the dial's hole
    EXPECT_TRUE(IsBlack(wheel, 44 * dpr, 80 * dpr));   // on the ring below the hole
    EXPECT_TRUE(IsBlack(wheel, 10 * dpr, 48 * dpr));   // on the ring to the left
    EXPECT_FALSE(IsBlack(wheel, 2 * dpr, 2 * dpr));    // outside the ring
  }
}

// The masks must match the shapes the buttons are cut to: the ellipse inscribed in the
// wheel's 88 x 96 rectangle less the dial's circle (32, 32, 56, 56), and the dial's 24 x 24 circle.
TEST(PictureImages, MasksFollowTheButtonShapes) {
  const QImage wheel = PictureMask(QStringLiteral("WHEELM"), 1.0).toImage();
  const QImage jog = PictureMask(QStringLiteral("JOGM"), 1.0).toImage();
  int checked = 0;
  for (int y = 0; y < 97; ++y) {
    for (int x = 0; x < 89; ++x) {
      const double px = x + 0.5;
      const double py = y + 0.5;
      const double ring = std::hypot((px - 44) / 44, (py - 48) / 48);
      const double hole = std::hypot(px - 44, py - 44);
      if (std::abs(ring - 1) * 44 < 1.0 || std::abs(hole - 12) < 1.0) continue;  // edge pixels may go either way
      const bool inside = ring < 1 && hole > 12;
      EXPECT_EQ(wheel.pixelColor(x, y) == QColor(Qt::black), inside) << x << "," << y;
      ++checked;
    }
  }
  for (int y = 0; y < 25; ++y) {
    for (int x = 0; x < 25; ++x) {
      const double r = std::hypot(x + 0.5 - 12, y + 0.5 - 12);
      if (std::abs(r - 12) < 1.0) continue;
      EXPECT_EQ(jog.pixelColor(x, y) == QColor(Qt::black), r < 12) << x << "," << y;
    }
  }
  EXPECT_GT(checked, 7500);
}

// IN and OUT are cut to their polygons: nothing may be drawn in the corners the cut
// throws away, and the shape should fill most of what is left.
void ExpectInside(const char* name, const QPolygonF& polygon) {
  SCOPED_TRACE(name);
  const QImage image = PictureImage(QString::fromLatin1(name), 2.0).toImage();
  ASSERT_FALSE(image.isNull());
  int deepInside = 0;
  int deepFilled = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QPointF p((x + 0.5) / 2, (y + 0.5) / 2);
      const bool inside = polygon.containsPoint(p, Qt::WindingFill);
      const double edge = DistanceToEdge(polygon, p);
      const bool opaque = qAlpha(image.pixel(x, y)) > 0;
      if (!inside && edge > 0.5) {
        EXPECT_FALSE(opaque) << "drawn outside at " << p.x() << "," << p.y();
      }
      if (inside && edge > 3) {
        ++deepInside;
        deepFilled += opaque ? 1 : 0;
      }
    }
  }
  ASSERT_GT(deepInside, 0);
  EXPECT_GT(deepFilled, deepInside * 9 / 10);
}

TEST(PictureImages, InAndOutKeepInsideTheirPolygons) {
  ExpectInside("INU", kInPolygon);
  ExpectInside("OUTU", kOutPolygon);
  // Corners of the rectangle that the polygons leave out.
  const QImage in = PictureImage(QStringLiteral("INU"), 1.0).toImage();
  for (const QPoint p : {QPoint(1, 1), QPoint(71, 54), QPoint(1, 54), QPoint(60, 40)})
    EXPECT_EQ(qAlpha(in.pixel(p)), 0) << p.x() << "," << p.y();
  const QImage out = PictureImage(QStringLiteral("OUTU"), 1.0).toImage();
  for (const QPoint p : {QPoint(71, 1), QPoint(1, 54), QPoint(71, 54), QPoint(12, 40)})
    EXPECT_EQ(qAlpha(out.pixel(p)), 0) << p.x() << "," << p.y();
}

TEST(PictureImages, ProgramKeyStatesAndDigitsDiffer) {
  const auto image = [](const std::string& name) { return PictureImage(QString::fromStdString(name), 1.0).toImage(); };
  for (const char digit : std::string("12345")) {
    SCOPED_TRACE(digit);
    const std::string d(1, digit);
    const QImage up = image(d + "U");
    const QImage down = image(d + "D");
    const QImage pressed = image(d + "K");
    EXPECT_NE(up, down);
    EXPECT_NE(up, pressed);
    EXPECT_NE(down, pressed);
    if (digit != '5') {
      const std::string next(1, static_cast<char>(digit + 1));
      EXPECT_NE(up, image(next + "U"));
      EXPECT_NE(down, image(next + "D"));
      EXPECT_NE(pressed, image(next + "K"));
    }
  }
}

// A key drawn at 2x is the same drawing, only finer: scaled down it is close to the 1x one.
TEST(PictureImages, TwiceTheRatioIsTheSameDrawing) {
  for (const char* name : {"134", "INU", "3D", "WHEELU"}) {
    SCOPED_TRACE(name);
    const QImage one = PictureImage(QString::fromLatin1(name), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
    QImage two = PictureImage(QString::fromLatin1(name), 2.0).toImage();
    two.setDevicePixelRatio(1.0);
    two = two.scaled(one.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_ARGB32);
    long total = 0;
    for (int y = 0; y < one.height(); ++y)
      for (int x = 0; x < one.width(); ++x) {
        const QRgb a = one.pixel(x, y);
        const QRgb b = two.pixel(x, y);
        total += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b)) +
                 std::abs(qAlpha(a) - qAlpha(b));
      }
    EXPECT_LT(static_cast<double>(total) / (one.width() * one.height()), 24.0);
  }
}

}  // namespace
}  // namespace orb
