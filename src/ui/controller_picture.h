#pragma once
// The controller as the settings window shows it: the picture with a button over each of
// the controller's controls, cut to that control's shape so that clicks and tooltips
// follow it, and above it a gray strip with the five programmable buttons and room for
// their labels.

#include <array>

#include <QLabel>
#include <QRect>
#include <QString>
#include <QWidget>

#include "base/string_table.h"
#include "ui/bitmap_button.h"
#include "ui/picture_source.h"

namespace orb {

class CControllerPicture final : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kProgramButtons = 5;
  static constexpr int kFirstProgramCode = 601;
  static constexpr int kPlainButtons = 13;

  explicit CControllerPicture(QWidget* pParent = nullptr, const PictureSource& source = BuiltInPictures());

  // Places every control at its rectangle and gives it its shape; the constructor has
  // done it, and doing it again changes nothing.
  void ShapePictureControls();

  // Keeps programmable button nCode (601-605) drawn pushed and the others not; any other
  // code, 0 among them, chooses none. Clicks do not choose by themselves: whoever takes
  // ProgramButtonClicked decides.
  void SetChosenProgramButton(int nCode);
  int ChosenProgramButton() const { return m_nChosenCode; }

  // The label of programmable button nIndex (0-4) is its tooltip and part of its name.
  void SetProgramLabel(int nIndex, const QString& sLabel);

  // Where the key panel puts the label field of programmable button nIndex (0-4): a
  // rectangle of ProgramStrip(), below the button, that nothing here draws on.
  QRect ProgramLabelRect(int nIndex) const;
  QWidget& ProgramStrip() { return m_strip; }
  CProgramButton& ProgramButton(int nIndex) { return *m_apProgram[static_cast<std::size_t>(nIndex)]; }
  // The pictured programmable buttons on the controller (not the strip's): they only
  // describe, so screen readers are not given them.
  bool IsPicturedProgramButton(const QWidget* pWidget) const;

 protected:
  // The picture's paints: a paint at another pixel ratio than the picture's renders it anew.
  bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

 signals:
  // A click on programmable button 1-5, as its control code 601-605.
  void ProgramButtonClicked(int nCode);
  // A double-click on the wheel (control 1114): the wheel's speed test.
  void WheelDoubleClicked();

 private:
  // The picture at the label's pixel ratio now; moved to a screen of another scale, the
  // window repaints, and the picture would be scaled (blurred) without this.
  void RenderPicture();

  PictureSource m_source;
  qreal m_rPictureDpr = 0;  // the ratio the label's picture was rendered for
  QWidget m_strip;
  QLabel m_picture;
  std::array<CProgramButton*, kProgramButtons> m_apProgram{};
  std::array<CBitmapButton*, kPlainButtons> m_apPlain{};
  CMaskedButton* m_pJog = nullptr;
  CMaskedButton* m_pWheel = nullptr;
  int m_nChosenCode = 0;
  UiLanguage m_language = CurrentUiLanguage();  // of every name and tip here
};

}  // namespace orb
