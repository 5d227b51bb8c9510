// The picture buttons' drawing choices, their loading and their masked drawing, each read
// back from the pixels the button paints.
#include "ui/bitmap_button.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include "test_pictures.h"

namespace orb {
namespace {

using test::ColorAt;
using test::SolidPicture;
using test::TestPictures;

const QColor kUp(200, 0, 0);
const QColor kDown(0, 200, 0);
const QColor kFocus(0, 0, 200);
const QColor kDisabled(200, 200, 0);
const QColor kPressed(0, 200, 200);
const QColor kBelow(10, 20, 30);
const QPoint kMiddle(15, 15);

TestPictures AllFaces(const QString& sName) {
  TestPictures pictures;
  pictures.images = {{sName + "U", {{30, 30}, kUp}},
                     {sName + "D", {{30, 30}, kDown}},
                     {sName + "F", {{30, 30}, kFocus}},
                     {sName + "X", {{30, 30}, kDisabled}},
                     {sName + "K", {{30, 30}, kPressed}}};
  return pictures;
}

TEST(BitmapButtonTest, AttachLoadsByTextAtThePixelRatioAndTakesTheUpSize) {
  TestPictures pictures;
  pictures.images = {{"PLAYU", {{22, 22}, kUp}}, {"PLAYD", {{22, 22}, kDown}}};
  CBitmapButton button(nullptr, pictures.Source());
  ASSERT_TRUE(button.Attach("PLAY"));
  EXPECT_TRUE(button.IsAttached());
  EXPECT_EQ(button.size(), QSize(22, 22));
  EXPECT_EQ(button.text(), "PLAY");
  ASSERT_EQ(pictures.pAsked->size(), 4u);
  const char* apExpected[] = {"PLAYU", "PLAYD", "PLAYF", "PLAYX"};
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_EQ((*pictures.pAsked)[k].first, apExpected[k]);
    EXPECT_EQ((*pictures.pAsked)[k].second, button.devicePixelRatioF());
  }
}

TEST(BitmapButtonTest, SizeIsLogicalForImagesOfASharperScreen) {
  TestPictures pictures;
  pictures.images = {{"INU", {{73, 56}, kUp}}};
  pictures.rForcedDpr = 2;  // 146 x 112 device pixels
  CBitmapButton button(nullptr, pictures.Source());
  ASSERT_TRUE(button.Attach("IN"));
  EXPECT_EQ(button.size(), QSize(73, 56));
  EXPECT_EQ(ColorAt(button, {72, 55}), kUp);  // all of it drawn, none of it scaled away
}

TEST(BitmapButtonTest, AttachFailsWithoutTheUpImageAndLoadsNothing) {
  {
    TestPictures pictures = AllFaces("1");
    pictures.images.erase("1U");
    CProgramButton button(nullptr, pictures.Source());
    EXPECT_FALSE(button.Attach("1"));
    EXPECT_FALSE(button.IsAttached());
    ASSERT_EQ(pictures.pAsked->size(), 1u);  // neither the other faces nor "1K"
    EXPECT_EQ(pictures.pAsked->front().first, "1U");
  }
  {
    TestPictures pictures;
    pictures.masks = {{"JOGM", {{25, 25}, [](QPainter& p, const QSize& s) { p.drawRect(QRect({0, 0}, s)); }}}};
    CMaskedButton button(nullptr, pictures.Source());
    EXPECT_FALSE(button.Attach("JOG"));
    EXPECT_FALSE(button.HasMask());
  }
  {
    // A button attached before forgets its old images.
    TestPictures pictures = AllFaces("2");
    CBitmapButton button(nullptr, pictures.Source());
    ASSERT_TRUE(button.Attach("2"));
    EXPECT_FALSE(button.Attach("3"));
    EXPECT_FALSE(button.IsAttached());
  }
}

TEST(BitmapButtonTest, DrawsTheFaceOfItsState) {
  TestPictures pictures = AllFaces("B");
  CBitmapButton button(nullptr, pictures.Source());
  ASSERT_TRUE(button.Attach("B"));
  EXPECT_EQ(ColorAt(button, kMiddle), kUp);
  button.setDown(true);
  EXPECT_EQ(ColorAt(button, kMiddle), kDown);
  button.setDown(false);
  EXPECT_EQ(ColorAt(button, kMiddle), kUp);
  button.setEnabled(false);
  EXPECT_EQ(ColorAt(button, kMiddle), kDisabled);
  button.setEnabled(true);
  EXPECT_EQ(ColorAt(button, kMiddle), kUp);
}

TEST(BitmapButtonTest, MissingFacesFallBackToUp) {
  TestPictures pictures;
  pictures.images = {{"BU", {{30, 30}, kUp}}};
  CBitmapButton button(nullptr, pictures.Source());
  ASSERT_TRUE(button.Attach("B"));
  button.setDown(true);
  EXPECT_EQ(ColorAt(button, kMiddle), kUp);
  button.setDown(false);
  button.setEnabled(false);
  EXPECT_EQ(ColorAt(button, kMiddle), kUp);
}

TEST(BitmapButtonTest, FocusFaceWhenFocusedAndNotPushed) {
  TestPictures pictures = AllFaces("B");
  QWidget window;
  window.resize(60, 60);
  auto* pButton = new CBitmapButton(&window, pictures.Source());
  ASSERT_TRUE(pButton->Attach("B"));
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  pButton->setFocus();
  ASSERT_TRUE(pButton->hasFocus());
  EXPECT_EQ(ColorAt(*pButton, kMiddle), kFocus);
  pButton->setDown(true);
  EXPECT_EQ(ColorAt(*pButton, kMiddle), kDown);
}

TEST(ProgramButtonTest, ChosenIsDrawnPushedAndWithoutDownImageUp) {
  {
    TestPictures pictures = AllFaces("3");
    CProgramButton button(nullptr, pictures.Source());
    ASSERT_TRUE(button.Attach("3"));
    button.SetChosen(true);
    EXPECT_TRUE(button.IsChosen());
    EXPECT_EQ(ColorAt(button, kMiddle), kDown);
    button.setEnabled(false);
    EXPECT_EQ(ColorAt(button, kMiddle), kDown) << "pushed comes before disabled";
    button.setEnabled(true);
    button.SetChosen(false);
    EXPECT_EQ(ColorAt(button, kMiddle), kUp);
  }
  {
    TestPictures pictures;
    pictures.images = {{"3U", {{30, 30}, kUp}}, {"3K", {{30, 30}, kPressed}}};
    CProgramButton button(nullptr, pictures.Source());
    ASSERT_TRUE(button.Attach("3"));
    button.SetChosen(true);
    EXPECT_EQ(ColorAt(button, kMiddle), kUp);
  }
}

TEST(ProgramButtonTest, MouseDownShowsThePressedImageUntilLetGo) {
  TestPictures pictures = AllFaces("2");
  CProgramButton button(nullptr, pictures.Source());
  ASSERT_TRUE(button.Attach("2"));
  button.show();
  QSignalSpy clicked(&button, &QAbstractButton::clicked);
  QTest::mousePress(&button, Qt::LeftButton, {}, kMiddle);
  EXPECT_EQ(clicked.count(), 0);
  EXPECT_EQ(ColorAt(button, kMiddle), kPressed) << "before the click";
  EXPECT_EQ(ColorAt(button, kMiddle), kPressed) << "a repaint while held keeps it";
  QTest::mouseRelease(&button, Qt::LeftButton, {}, kMiddle);
  EXPECT_EQ(clicked.count(), 1);
  EXPECT_EQ(ColorAt(button, kMiddle), kUp);
  button.SetChosen(true);  // as its owner does on the click
  EXPECT_EQ(ColorAt(button, kMiddle), kDown);
  // Chosen and pressed again: the pressed image while held, then pushed again.
  QTest::mousePress(&button, Qt::LeftButton, {}, kMiddle);
  EXPECT_EQ(ColorAt(button, kMiddle), kPressed);
  QTest::mouseRelease(&button, Qt::LeftButton, {}, kMiddle);
  EXPECT_EQ(ColorAt(button, kMiddle), kDown);
}

TEST(ProgramButtonTest, MouseDownWithoutPressedImageDrawsPushed) {
  TestPictures pictures = AllFaces("4");
  pictures.images.erase("4K");
  CProgramButton button(nullptr, pictures.Source());
  ASSERT_TRUE(button.Attach("4"));
  button.show();
  QTest::mousePress(&button, Qt::LeftButton, {}, kMiddle);
  EXPECT_EQ(ColorAt(button, kMiddle), kDown);
  QTest::mouseRelease(&button, Qt::LeftButton, {}, kMiddle);
}

TEST(BitmapButtonTest, AShapedButtonIsHitOnlyInsideItsShape) {
  TestPictures pictures = AllFaces("5");
  QWidget window;  // a child's shape, not a window's, which offscreen cannot have
  window.resize(40, 40);
  CProgramButton button(&window, pictures.Source());
  ASSERT_TRUE(button.Attach("5"));
  button.setMask(QRegion(button.rect(), QRegion::Ellipse));
  window.show();
  QSignalSpy clicked(&button, &QAbstractButton::clicked);
  QTest::mouseClick(&button, Qt::LeftButton, {}, {1, 1});
  EXPECT_EQ(clicked.count(), 0);
  QTest::mouseClick(&button, Qt::LeftButton, {}, kMiddle);
  EXPECT_EQ(clicked.count(), 1);
}

// A parent of one colour with a masked button whose image is one colour everywhere: what
// shows is the image inside the mask and the parent outside it.
class MaskedButtonTest : public ::testing::Test {
 protected:
  MaskedButtonTest() {
    m_parent.resize(40, 40);
    QPalette palette = m_parent.palette();
    palette.setColor(QPalette::Window, kBelow);
    m_parent.setPalette(palette);
    m_parent.setAutoFillBackground(true);
    m_pictures.images = {{"JOGU", {{25, 25}, kUp}}, {"JOGD", {{25, 25}, kDown}}};
    // Black on the left half only.
    m_pictures.masks = {{"JOGM", {{25, 25}, [](QPainter& p, const QSize& s) {
                                    p.drawRect(QRect(0, 0, s.width() / 2, s.height()));
                                  }}}};
  }

  QColor Shown(const QPoint& point) { return ColorAt(m_parent, point + kOrigin); }

  const QPoint kOrigin{5, 5};
  QWidget m_parent;
  TestPictures m_pictures;
};

TEST_F(MaskedButtonTest, ShowsTheImageInsideTheMaskAndWhatIsBelowOutside) {
  for (qreal rDpr : {0.0, 2.0}) {
    SCOPED_TRACE(rDpr);
    m_pictures.rForcedDpr = rDpr;
    auto* pButton = new CMaskedButton(&m_parent, m_pictures.Source());
    ASSERT_TRUE(pButton->Attach("JOG"));
    ASSERT_TRUE(pButton->HasMask());
    pButton->move(kOrigin);
    EXPECT_EQ(Shown({2, 12}), kUp);
    EXPECT_EQ(Shown({11, 24}), kUp);
    EXPECT_EQ(Shown({13, 0}), kBelow);
    EXPECT_EQ(Shown({22, 12}), kBelow);
    pButton->setDown(true);
    EXPECT_EQ(Shown({2, 12}), kDown);
    EXPECT_EQ(Shown({22, 12}), kBelow);
    delete pButton;
  }
}

TEST_F(MaskedButtonTest, WithoutAMaskShowsTheWholeImage) {
  m_pictures.masks.clear();
  auto* pButton = new CMaskedButton(&m_parent, m_pictures.Source());
  ASSERT_TRUE(pButton->Attach("JOG"));
  EXPECT_FALSE(pButton->HasMask());
  pButton->move(kOrigin);
  EXPECT_EQ(Shown({2, 12}), kUp);
  EXPECT_EQ(Shown({22, 12}), kUp);
  EXPECT_EQ(Shown({26, 12}), kBelow);  // beside the button
}

}  // namespace
}  // namespace orb
