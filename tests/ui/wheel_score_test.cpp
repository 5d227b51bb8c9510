// The wheel's speed test: when it reports, what it says, and the best rate it keeps; and
// the double-click on the picture's wheel that starts and stops it.
#include "ui/wheel_score.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include "ui/controller_picture.h"

namespace orb {
namespace {

TEST(WheelScoreTest, ReportsOnlyAfterMovementAndMoreThanTwoSeconds) {
  CWheelScore score([] { return std::uint64_t{0}; });
  EXPECT_FALSE(score.Running());
  EXPECT_FALSE(score.Toggle(1000).has_value());  // start
  EXPECT_TRUE(score.Running());
  EXPECT_FALSE(score.Toggle(10000).has_value());  // nothing counted
  EXPECT_FALSE(score.Running());

  score.Toggle(1000);
  score.AddMovement(50);
  EXPECT_FALSE(score.Toggle(3000).has_value());  // exactly 2.0 seconds is not enough
  EXPECT_EQ(score.HighestRate(), 0.0);

  score.AddMovement(40);  // not running: not counted
  score.Toggle(0);
  score.AddMovement(1);
  EXPECT_EQ(score.Toggle(2001), std::optional<std::string>("Highest Score!!      0.500 counts / sec"));
}

TEST(WheelScoreTest, KeepsTheHighestRateAndTakesTheMagnitudeOfTheNetCount) {
  CWheelScore score;
  score.Toggle(0);
  score.AddMovement(-30);
  score.AddMovement(-10);
  score.AddMovement(5);  // back the other way: net -35
  EXPECT_EQ(score.Toggle(3500), std::optional<std::string>("Highest Score!!     10.000 counts / sec"));

  score.Toggle(10000);
  score.AddMovement(10);
  EXPECT_EQ(score.Toggle(14000),
            std::optional<std::string>("Score :      2.500 counts / sec\r\n(Highest :     10.000 counts / sec )"));
  // Equal to the best is not a new best.
  score.Toggle(20000);
  score.AddMovement(40);
  EXPECT_EQ(score.Toggle(24000),
            std::optional<std::string>("Score :     10.000 counts / sec\r\n(Highest :     10.000 counts / sec )"));
}

TEST(WheelScoreTest, ADoubleClickOnThePicturesWheelAsksForIt) {
  CControllerPicture picture;
  picture.show();
  QSignalSpy spy(&picture, &CControllerPicture::WheelDoubleClicked);
  auto* pWheel = picture.findChild<QWidget*>(QStringLiteral("Control1114"));
  ASSERT_NE(pWheel, nullptr);
  const QPoint onRing(pWheel->width() / 2, 8);  // on the ring, above JOG's hole
  QTest::mouseDClick(pWheel, Qt::LeftButton, Qt::NoModifier, onRing);
  EXPECT_EQ(spy.count(), 1);
  QTest::mouseDClick(pWheel, Qt::RightButton, Qt::NoModifier, onRing);
  auto* pJog = picture.findChild<QWidget*>(QStringLiteral("Control1113"));
  ASSERT_NE(pJog, nullptr);
  QTest::mouseDClick(pJog, Qt::LeftButton, Qt::NoModifier, QPoint(pJog->width() / 2, pJog->height() / 2));
  EXPECT_EQ(spy.count(), 1);
}

}  // namespace
}  // namespace orb
