#pragma once
// The settings window's "JOG/SHUTTLE Speed" group: one slider per wheel resolution of the
// profile shown. A slider's position is 15 - resolution, so "Fast" (the right end) is
// resolution 0. The sliders write straight into the working copy's record; the window
// learns of it through Modified().

#include <QGroupBox>

#include "base/string_table.h"
#include "profiles/profile_record.h"

class QLabel;
class QSlider;

namespace orb {

class CSpeedControls final : public QGroupBox {
  Q_OBJECT

 public:
  static constexpr int kSliderMax = 15;

  explicit CSpeedControls(UiLanguage language, QWidget* pParent = nullptr);

  // Sliders from the profile. Without PF_JOGSHUTTLE the shuttle row is hidden and the
  // jog slider governs both: the jog resolution is copied into the shuttle resolution of
  // *pProfile (that copy alone is not a modification). Null: no profile shown, and the
  // sliders then change nothing.
  void ShowProfile(ProfileRecord* pProfile);

  QSlider& JogSlider() { return *m_pJog; }
  QSlider& ShuttleSlider() { return *m_pShuttle; }

 signals:
  // Every notification of a slider while a profile is shown, a click that leaves the
  // value as it was included.
  void Modified();

 private:
  void OnHScroll(QSlider& slider);

  ProfileRecord* m_pProfile = nullptr;
  bool m_blSetting = false;     // this class moves a slider: no notification
  int m_nJogReported = -1;      // the last position each slider reported
  int m_nShuttleReported = -1;
  QSlider* m_pJog = nullptr;
  QSlider* m_pShuttle = nullptr;
  QLabel* m_pJogCaption = nullptr;
  QLabel* m_pShuttleCaption = nullptr;
  QLabel* m_pShuttleSlow = nullptr;
  QLabel* m_pShuttleFast = nullptr;
};

}  // namespace orb
