#include "ui/speed_controls.h"

#include <QGridLayout>
#include <QLabel>
#include <QSlider>

#include "base/write_log.h"

namespace orb {
namespace {

struct SpeedTexts {
  const char* pCaption;
  const char* pJog;          // 1027
  const char* pShuttle;      // 1026
  const char* pSlow;         // 1028 and the jog slider's
  const char* pFast;         // 1029 and the jog slider's
  const char* pJogName;      // the sliders' accessible names
  const char* pShuttleName;
};

constexpr SpeedTexts kEnglish{"JOG/SHUTTLE Speed", "JOG:", "SHUTTLE:", "Slow", "Fast", "JOG speed", "SHUTTLE speed"};
constexpr SpeedTexts kJapanese{"JOG/SHUTTLE 速度", "JOG:", "SHUTTLE:", "遅い", "速い", "JOG 速度", "SHUTTLE 速度"};

// The trackbar's own page size: a fifth of the range.
constexpr int kPageStep = 3;

QLabel* MakeLabel(const char* pText, const QString& sObjectName, QWidget* pParent) {
  auto* pLabel = new QLabel(QString::fromUtf8(pText), pParent);
  pLabel->setObjectName(sObjectName);
  pLabel->setAccessibleName(pLabel->text());
  return pLabel;
}

QSlider* MakeSlider(int nId, const char* pName, QWidget* pParent) {
  auto* pSlider = new QSlider(Qt::Horizontal, pParent);
  pSlider->setObjectName(QStringLiteral("Control%1").arg(nId));
  pSlider->setAccessibleName(QString::fromUtf8(pName));
  pSlider->setTickPosition(QSlider::NoTicks);
  pSlider->setRange(0, CSpeedControls::kSliderMax);
  pSlider->setSingleStep(1);
  pSlider->setPageStep(kPageStep);
  return pSlider;
}

int PositionOf(unsigned nResolution) { return CSpeedControls::kSliderMax - static_cast<int>(nResolution); }

}  // namespace

CSpeedControls::CSpeedControls(UiLanguage language, QWidget* pParent) : QGroupBox(pParent) {
  const SpeedTexts& texts = language == UiLanguage::Japanese ? kJapanese : kEnglish;
  setTitle(QString::fromUtf8(texts.pCaption));
  setObjectName(QStringLiteral("SpeedControls"));
  setAccessibleName(title());

  m_pJogCaption = MakeLabel(texts.pJog, QStringLiteral("Control1027"), this);
  m_pJog = MakeSlider(1000, texts.pJogName, this);
  QLabel* pJogSlow = MakeLabel(texts.pSlow, QStringLiteral("JogSlow"), this);
  QLabel* pJogFast = MakeLabel(texts.pFast, QStringLiteral("JogFast"), this);
  m_pShuttleCaption = MakeLabel(texts.pShuttle, QStringLiteral("Control1026"), this);
  m_pShuttle = MakeSlider(1001, texts.pShuttleName, this);
  m_pShuttleSlow = MakeLabel(texts.pSlow, QStringLiteral("Control1028"), this);
  m_pShuttleFast = MakeLabel(texts.pFast, QStringLiteral("Control1029"), this);
  pJogFast->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  m_pShuttleFast->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  auto* pLayout = new QGridLayout(this);
  pLayout->addWidget(m_pJogCaption, 0, 0, 1, 2);
  pLayout->addWidget(m_pJog, 1, 0, 1, 2);
  pLayout->addWidget(pJogSlow, 2, 0);
  pLayout->addWidget(pJogFast, 2, 1);
  pLayout->addWidget(m_pShuttleCaption, 3, 0, 1, 2);
  pLayout->addWidget(m_pShuttle, 4, 0, 1, 2);
  pLayout->addWidget(m_pShuttleSlow, 5, 0);
  pLayout->addWidget(m_pShuttleFast, 5, 1);

  // A trackbar notifies on every step of the keyboard, the mouse wheel, a click on its
  // channel and each move of a drag (all of them actions here), and once more when its
  // thumb is let go, moved or not. The last is what makes a mere click on the thumb
  // count. Setting a position from code (setValue) notifies nothing, as with the
  // trackbar, so showing a profile is not a modification.
  // A screen reader sets the value directly, with no action: that is the user's move
  // too, unless this class set it or an action has already reported that position.
  for (QSlider* pSlider : {m_pJog, m_pShuttle}) {
    connect(pSlider, &QAbstractSlider::actionTriggered, this, [this, pSlider] { OnHScroll(*pSlider); });
    connect(pSlider, &QAbstractSlider::sliderReleased, this, [this, pSlider] { OnHScroll(*pSlider); });
    connect(pSlider, &QAbstractSlider::valueChanged, this, [this, pSlider](int nValue) {
      const int nReported = pSlider == m_pJog ? m_nJogReported : m_nShuttleReported;
      if (!m_blSetting && nValue != nReported) OnHScroll(*pSlider);
    });
  }
}

void CSpeedControls::ShowProfile(ProfileRecord* pProfile) {
  m_pProfile = pProfile;
  if (pProfile == nullptr) {
    return;
  }
  m_blSetting = true;
  m_pJog->setValue(PositionOf(JogResolution(pProfile->dwFlags)));
  const bool blBoth = (pProfile->dwFlags & PF_JOGSHUTTLE) != 0;
  for (QWidget* pWidget : {static_cast<QWidget*>(m_pShuttle), static_cast<QWidget*>(m_pJogCaption),
                           static_cast<QWidget*>(m_pShuttleCaption), static_cast<QWidget*>(m_pShuttleSlow),
                           static_cast<QWidget*>(m_pShuttleFast)}) {
    pWidget->setVisible(blBoth);
  }
  if (!blBoth) {
    pProfile->dwFlags = (pProfile->dwFlags & ~PF_SHTLRES_MASK) | (JogResolution(pProfile->dwFlags) << PF_SHTLRES_SHIFT);
  }
  m_pShuttle->setValue(PositionOf(ShuttleResolution(pProfile->dwFlags)));
  m_blSetting = false;
}

void CSpeedControls::OnHScroll(QSlider& slider) {
  // During an action the value is not yet updated; the position already is.
  const int nPosition = slider.sliderPosition();
  (&slider == m_pJog ? m_nJogReported : m_nShuttleReported) = nPosition;
  const unsigned nResolution = static_cast<unsigned>(kSliderMax - nPosition);
  WriteLog("OnHScroll: resolution = %d\r\n", static_cast<int>(nResolution));
  if (m_pProfile == nullptr) {
    return;
  }
  std::uint32_t dwFlags = m_pProfile->dwFlags;
  if (&slider == m_pJog) {
    dwFlags = (dwFlags & ~PF_JOGRES_MASK) | (nResolution << PF_JOGRES_SHIFT);
    if ((dwFlags & PF_JOGSHUTTLE) == 0) {
      dwFlags = (dwFlags & ~PF_SHTLRES_MASK) | (nResolution << PF_SHTLRES_SHIFT);
      m_blSetting = true;
      m_pShuttle->setValue(nPosition);
      m_blSetting = false;
    }
  } else {
    dwFlags = (dwFlags & ~PF_SHTLRES_MASK) | (nResolution << PF_SHTLRES_SHIFT);
  }
  m_pProfile->dwFlags = dwFlags;
  emit Modified();
}

}  // namespace orb
