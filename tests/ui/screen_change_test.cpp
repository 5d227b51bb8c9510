// The controller picture on a desktop of two screens, one at 100 % and one at 200 %: taken
// from one to the other, it is drawn from pictures rendered for the screen it is on now,
// never from the other screen's picture scaled.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QTest>

#include "support/temp_dir.h"
#include "test_pictures.h"
#include "ui/controller_picture.h"
#include "ui/picture_images.h"

namespace orb {
namespace {

// Qt's offscreen platform with two screens side by side, given by its configuration file.
class TwoScreensEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    m_pDir = std::make_unique<test::TempDir>();
    const std::string sConfig = (m_pDir->Path() / "screens.json").string();
    const std::string sScreens = R"({"screens": [
  {"name": "normal", "x": 0, "y": 0, "width": 1000, "height": 800, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
  {"name": "dense", "x": 1000, "y": 0, "width": 1000, "height": 800, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 2}
]})";
    test::WriteFileBytes(sConfig, sScreens.data(), sScreens.size());
    ::setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + sConfig).c_str(), 1);
    m_pApp = std::make_unique<QApplication>(m_argc, m_argv);
    QApplication::setQuitOnLastWindowClosed(false);
  }
  void TearDown() override {
    m_pApp.reset();
    m_pDir.reset();
  }

 private:
  int m_argc = 1;
  char m_name[8] = "orbtest";
  char* m_argv[2] = {m_name, nullptr};
  std::unique_ptr<test::TempDir> m_pDir;
  std::unique_ptr<QApplication> m_pApp;
};

[[maybe_unused]] ::testing::Environment* const g_pScreens = ::testing::AddGlobalTestEnvironment(new TwoScreensEnvironment);

QScreen* ScreenNamed(const char* pName) {
  for (QScreen* pScreen : QGuiApplication::screens()) {
    if (pScreen->name() == QLatin1String(pName)) return pScreen;
  }
  return nullptr;
}

// Moves the top-level window onto `screen`, which the platform sees from its new place as
// a window system does, and waits until it is there at that screen's pixel ratio.
bool MoveTo(QWidget& window, QScreen& screen) {
  window.move(screen.geometry().topLeft() + QPoint(50, 50));
  return QTest::qWaitFor(
      [&] { return window.screen() == &screen && window.devicePixelRatioF() == screen.devicePixelRatio(); }, 5000);
}

class ScreenChangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_pNormal = ScreenNamed("normal");
    m_pDense = ScreenNamed("dense");
    ASSERT_NE(m_pNormal, nullptr);
    ASSERT_NE(m_pDense, nullptr);
    ASSERT_EQ(m_pNormal->devicePixelRatio(), 1.0);
    ASSERT_EQ(m_pDense->devicePixelRatio(), 2.0);
  }

  QScreen* m_pNormal = nullptr;
  QScreen* m_pDense = nullptr;
};

// A picture whose colour tells the ratio it was rendered for: a scaled one shows the
// wrong colour, however sharp it looks.
const QColor kAtOne(200, 40, 40);
const QColor kAtTwo(40, 200, 40);

PictureSource PicturesByRatio(std::shared_ptr<std::vector<qreal>> pRendered) {
  test::TestPictures pictures;
  pictures.images["1U"] = {{30, 30}, Qt::gray};  // one button, so the strip has something
  PictureSource source = pictures.Source();
  auto image = source.image;
  source.image = [image, pRendered](const QString& sName, qreal rDpr) {
    if (sName != QLatin1String("134")) return image(sName, rDpr);
    pRendered->push_back(rDpr);
    QPixmap pix(QSize(200, 199) * rDpr);
    pix.setDevicePixelRatio(rDpr);
    pix.fill(rDpr == 1 ? kAtOne : rDpr == 2 ? kAtTwo : QColor(Qt::black));
    return pix;
  };
  return source;
}

QWidget& PictureLabel(CControllerPicture& picture) {
  return *picture.findChild<QWidget*>(QStringLiteral("Control1007"));
}

TEST_F(ScreenChangeTest, ThePictureIsRenderedAgainForTheScreenItIsMovedTo) {
  auto pRendered = std::make_shared<std::vector<qreal>>();
  const PictureSource pictures = PicturesByRatio(pRendered);
  // Made inside a window already on the normal screen, as for the screen of the moment.
  QWidget window;
  window.resize(260, 320);
  window.move(m_pNormal->geometry().topLeft() + QPoint(50, 50));
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ASSERT_EQ(window.devicePixelRatioF(), 1.0);
  CControllerPicture picture(&window, pictures);
  picture.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !pRendered->empty(); }, 5000));
  EXPECT_EQ(test::ColorAt(PictureLabel(picture), {100, 100}), kAtOne);

  ASSERT_TRUE(MoveTo(window, *m_pDense));
  // The window system's repaint after the move renders it, before anyone grabs it.
  EXPECT_TRUE(QTest::qWaitFor([&] { return pRendered->back() == 2.0; }, 5000)) << "not rendered again at 2x";
  const QImage dense = PictureLabel(picture).grab().toImage();
  EXPECT_EQ(dense.size(), QSize(400, 398));
  EXPECT_EQ(dense.pixelColor(200, 200), kAtTwo);

  ASSERT_TRUE(MoveTo(window, *m_pNormal));
  EXPECT_EQ(test::ColorAt(PictureLabel(picture), {100, 100}), kAtOne);
  EXPECT_EQ(pRendered->back(), 1.0);
  // Only changes render: paints at the same ratio take the picture there is.
  const std::size_t nRenders = pRendered->size();
  PictureLabel(picture).repaint();
  PictureLabel(picture).grab();
  EXPECT_EQ(pRendered->size(), nRenders);
}

TEST_F(ScreenChangeTest, MadeBeforeItsWindowItTakesTheRatioOfTheScreenItIsShownOn) {
  auto pRendered = std::make_shared<std::vector<qreal>>();
  const PictureSource pictures = PicturesByRatio(pRendered);
  // No window yet, as the settings window makes its controls: the ratio is a guess.
  CControllerPicture picture(nullptr, pictures);
  picture.move(m_pDense->geometry().topLeft() + QPoint(50, 50));
  picture.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&picture));
  ASSERT_TRUE(MoveTo(picture, *m_pDense));
  EXPECT_EQ(PictureLabel(picture).grab().toImage().pixelColor(200, 200), kAtTwo);
}

// The built-in picture at 200 % is the 2x rendering itself, detail for detail, not the
// 1x one doubled: where the picture is opaque, every pixel is the 2x rendering's.
TEST_F(ScreenChangeTest, TheBuiltInPictureOnTheDenseScreenHasTheDetailOfA2xRendering) {
  QWidget window;
  window.resize(260, 320);
  window.move(m_pNormal->geometry().topLeft() + QPoint(50, 50));
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  CControllerPicture picture(&window);
  picture.show();
  ASSERT_TRUE(MoveTo(window, *m_pDense));

  const QImage shown = PictureLabel(picture).grab().toImage().convertToFormat(QImage::Format_ARGB32);
  const QImage sharp = PictureImage(QStringLiteral("134"), 2).toImage().convertToFormat(QImage::Format_ARGB32);
  // The 1x rendering drawn at 2x, as a picture that was never rendered again would be.
  QImage doubled(sharp.size(), QImage::Format_ARGB32);
  doubled.fill(Qt::transparent);
  {
    QPainter painter(&doubled);
    painter.drawPixmap(QRect(QPoint(0, 0), sharp.size()), PictureImage(QStringLiteral("134"), 1));
  }
  ASSERT_EQ(shown.size(), sharp.size());
  int nOpaque = 0;
  int nUnlikeSharp = 0;
  int nUnlikeDoubled = 0;
  for (int y = 0; y < sharp.height(); ++y) {
    for (int x = 0; x < sharp.width(); ++x) {
      if (qAlpha(sharp.pixel(x, y)) != 255 || qAlpha(doubled.pixel(x, y)) != 255) continue;
      ++nOpaque;
      nUnlikeSharp += shown.pixel(x, y) != sharp.pixel(x, y) ? 1 : 0;
      nUnlikeDoubled += shown.pixel(x, y) != doubled.pixel(x, y) ? 1 : 0;
    }
  }
  ASSERT_GT(nOpaque, sharp.width() * sharp.height() / 2);
  EXPECT_EQ(nUnlikeSharp, 0);
  EXPECT_GT(nUnlikeDoubled, nOpaque / 100) << "the two renderings are too alike to tell apart";
}

}  // namespace
}  // namespace orb
