#pragma once
// Buttons drawn from pictures instead of as push buttons: the controls of the controller
// picture and the five programmable buttons. A button named "X" by its text shows "XU"
// (up), and "XD" (down), "XF" (focus) and "XX" (disabled) where those exist.

#include <QAbstractButton>
#include <QBitmap>
#include <QPixmap>
#include <QString>

#include "ui/picture_source.h"

namespace orb {

class CBitmapButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit CBitmapButton(QWidget* pParent = nullptr, PictureSource source = BuiltInPictures());

  // Takes `sText` as the button's text and loads its images at the widget's pixel ratio,
  // then sizes the button to the up image. False, with nothing loaded, when there is no
  // up image.
  bool Attach(const QString& sText);
  bool IsAttached() const { return !m_pixUp.isNull(); }

  QSize sizeHint() const override;

 protected:
  // Pushed by the mouse or the keyboard; a chosen programmable button also counts.
  virtual bool IsPushed() const { return isDown(); }
  // The image to draw now: down, focus, disabled, up, each only where it exists.
  const QPixmap& FaceImage() const;
  bool HasFocusImage() const { return !m_pixFocus.isNull(); }
  // Reloads everything when the widget moved to a screen of another pixel ratio, so the
  // images never get scaled. Every paint starts with it.
  void KeepResolution();

  // The kinds' own extra image, loaded after the four and dropped with them.
  virtual void LoadExtra(const QString& sText, qreal rDpr);
  virtual void DropExtra();
  const PictureSource& Source() const { return m_source; }

  void paintEvent(QPaintEvent* pEvent) override;
  // A button with a shape is hit only inside it.
  bool hitButton(const QPoint& pos) const override;

 private:
  void Drop();
  bool Load(qreal rDpr);

  PictureSource m_source;
  QString m_sName;
  qreal m_rDpr = 0;
  QPixmap m_pixUp;
  QPixmap m_pixDown;
  QPixmap m_pixFocus;
  QPixmap m_pixDisabled;
};

// One of the five programmable buttons: also "NK", shown the moment the mouse goes down,
// and drawn pushed while it is the chosen one. It takes the keyboard focus (Space
// chooses it) and shows it with a ring where its images have no focus face.
class CProgramButton final : public CBitmapButton {
  Q_OBJECT

 public:
  using CBitmapButton::CBitmapButton;

  void SetChosen(bool blChosen);
  bool IsChosen() const { return m_blChosen; }

 protected:
  bool IsPushed() const override { return isDown() || m_blChosen; }
  void LoadExtra(const QString& sText, qreal rDpr) override;
  void DropExtra() override;
  void mousePressEvent(QMouseEvent* pEvent) override;
  void paintEvent(QPaintEvent* pEvent) override;

 private:
  QPixmap m_pixPressed;
  bool m_blChosen = false;
  bool m_blShowPressed = false;  // from the mouse going down until the button is let go
};

// A round control (the JOG/SHUTTLE selector, the wheel): its image only where its mask
// "NM" is black, so the picture below shows around it.
class CMaskedButton final : public CBitmapButton {
  Q_OBJECT

 public:
  using CBitmapButton::CBitmapButton;

  bool HasMask() const { return !m_mask.isNull(); }

 protected:
  void LoadExtra(const QString& sText, qreal rDpr) override;
  void DropExtra() override;
  void paintEvent(QPaintEvent* pEvent) override;

 private:
  QBitmap m_mask;
};

}  // namespace orb
