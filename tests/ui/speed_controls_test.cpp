// The speed sliders: what a profile shows, what a slider writes back, and that every
// touch of a slider counts as a change while nothing changes without a profile.
#include "ui/speed_controls.h"

#include <gtest/gtest.h>

#include <cstring>

#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include "base/log_capture.h"

namespace orb {
namespace {

std::uint32_t Flags(std::uint32_t dwBits, unsigned nJogRes, unsigned nShuttleRes) {
  return dwBits | (nJogRes << PF_JOGRES_SHIFT) | (nShuttleRes << PF_SHTLRES_SHIFT);
}

class SpeedControlsTest : public ::testing::Test {
 protected:
  SpeedControlsTest() : m_controls(UiLanguage::English), m_spy(&m_controls, &CSpeedControls::Modified) {
    std::memset(&m_profile, 0, sizeof m_profile);
    m_controls.show();
  }

  QWidget& Child(const char* pName) {
    auto* pWidget = m_controls.findChild<QWidget*>(QString::fromLatin1(pName));
    EXPECT_NE(pWidget, nullptr) << pName;
    return *pWidget;
  }

  // A press and release on the slider's thumb, where it is now.
  static void ClickThumb(QSlider& slider) {
    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.orientation = slider.orientation();
    option.minimum = slider.minimum();
    option.maximum = slider.maximum();
    option.sliderPosition = slider.sliderPosition();
    option.sliderValue = slider.value();
    option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    const QRect handle =
        slider.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider);
    QTest::mouseClick(&slider, Qt::LeftButton, Qt::NoModifier, handle.center());
  }

  ProfileRecord m_profile;
  CSpeedControls m_controls;
  QSignalSpy m_spy;
};

TEST_F(SpeedControlsTest, AProfileWithoutTheShuttleHasOneSliderThatGovernsBoth) {
  m_profile.dwFlags = Flags(PF_DECK, 11, 3) | 0x80000000u;
  m_controls.ShowProfile(&m_profile);
  EXPECT_EQ(m_controls.JogSlider().value(), 4);
  EXPECT_TRUE(m_controls.JogSlider().isVisible());
  EXPECT_TRUE(Child("JogSlow").isVisible());
  for (const char* pName : {"Control1027", "Control1026", "Control1001", "Control1028", "Control1029"}) {
    EXPECT_FALSE(Child(pName).isVisible()) << pName;
  }
  EXPECT_EQ(m_profile.dwFlags, Flags(PF_DECK, 11, 11) | 0x80000000u);  // other bits kept
  EXPECT_EQ(m_controls.ShuttleSlider().value(), 4);
  EXPECT_EQ(m_spy.count(), 0);

  // To the right end: both resolutions 0, the hidden slider follows.
  test::LogCapture log;
  QTest::keyClick(&m_controls.JogSlider(), Qt::Key_End);
  EXPECT_EQ(m_controls.JogSlider().value(), 15);
  EXPECT_EQ(m_controls.ShuttleSlider().value(), 15);
  EXPECT_EQ(m_profile.dwFlags, Flags(PF_DECK, 0, 0) | 0x80000000u);
  EXPECT_EQ(m_spy.count(), 1);
  EXPECT_EQ(log.Text(), "OnHScroll: resolution = 0\r\n");

  // A later profile with both shows the shuttle row again.
  m_profile.dwFlags = Flags(PF_JOGSHUTTLE, 0, 7);
  m_controls.ShowProfile(&m_profile);
  EXPECT_TRUE(Child("Control1001").isVisible());
  EXPECT_EQ(m_controls.ShuttleSlider().value(), 8);
}

TEST_F(SpeedControlsTest, WithBothResolutionsEachSliderWritesItsOwn) {
  m_profile.dwFlags = Flags(PF_JOGSHUTTLE, 2, 9);
  m_controls.ShowProfile(&m_profile);
  EXPECT_EQ(m_controls.JogSlider().value(), 13);
  EXPECT_EQ(m_controls.ShuttleSlider().value(), 6);
  EXPECT_TRUE(Child("Control1001").isVisible());
  EXPECT_TRUE(Child("Control1027").isVisible());
  EXPECT_EQ(m_spy.count(), 0);  // showing is not a change
  for (const char* pName : {"Control1027", "Control1000", "JogSlow", "JogFast", "Control1026", "Control1001",
                            "Control1028", "Control1029"}) {
    EXPECT_FALSE(Child(pName).accessibleName().isEmpty()) << pName;  // what a screen reader finds
  }
  QTest::keyClick(&m_controls.ShuttleSlider(), Qt::Key_Home);  // "Slow": resolution 15
  EXPECT_EQ(m_profile.dwFlags, Flags(PF_JOGSHUTTLE, 2, 15));
  m_controls.JogSlider().triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(m_profile.dwFlags, Flags(PF_JOGSHUTTLE, 0, 15));
  EXPECT_EQ(m_controls.ShuttleSlider().value(), 0);  // not moved by the jog slider
  EXPECT_EQ(m_spy.count(), 2);
  // A screen reader sets the value without an action; that is a move of the user's too,
  // reported once.
  m_controls.ShuttleSlider().setValue(11);
  EXPECT_EQ(m_profile.dwFlags, Flags(PF_JOGSHUTTLE, 0, 4));
  EXPECT_EQ(m_spy.count(), 3);
}

TEST_F(SpeedControlsTest, TouchingASliderCountsAsAChangeEvenWithoutMovingIt) {
  m_profile.dwFlags = Flags(PF_JOGSHUTTLE, 0, 5);
  m_controls.ShowProfile(&m_profile);
  ClickThumb(m_controls.ShuttleSlider());
  EXPECT_EQ(m_controls.ShuttleSlider().value(), 10);
  EXPECT_EQ(m_spy.count(), 1);
  // A step against the end moves nothing and is still a notification.
  QTest::keyClick(&m_controls.JogSlider(), Qt::Key_Right);
  EXPECT_EQ(m_controls.JogSlider().value(), 15);
  EXPECT_EQ(m_spy.count(), 2);
  EXPECT_EQ(m_profile.dwFlags, Flags(PF_JOGSHUTTLE, 0, 5));
}

TEST_F(SpeedControlsTest, WithoutAProfileSlidersChangeNothing) {
  m_profile.dwFlags = Flags(0, 6, 6);
  m_controls.ShowProfile(&m_profile);
  m_controls.ShowProfile(nullptr);
  const int nShuttle = m_controls.ShuttleSlider().value();
  QTest::keyClick(&m_controls.JogSlider(), Qt::Key_Home);
  ClickThumb(m_controls.JogSlider());
  EXPECT_EQ(m_spy.count(), 0);
  EXPECT_EQ(m_profile.dwFlags, Flags(0, 6, 6));
  EXPECT_EQ(m_controls.ShuttleSlider().value(), nShuttle);
}

}  // namespace
}  // namespace orb
