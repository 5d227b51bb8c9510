#include "ui/bitmap_button.h"

#include <utility>

#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QRegion>

namespace orb {

CBitmapButton::CBitmapButton(QWidget* pParent, PictureSource source)
    : QAbstractButton(pParent), m_source(std::move(source)) {}

bool CBitmapButton::Attach(const QString& sText) {
  Drop();
  m_sName = sText;
  setText(sText);
  if (!Load(devicePixelRatioF())) {
    return false;
  }
  resize(sizeHint());
  return true;
}

bool CBitmapButton::Load(qreal rDpr) {
  Drop();
  QPixmap pixUp = m_source.image ? m_source.image(m_sName + QLatin1Char('U'), rDpr) : QPixmap();
  if (pixUp.isNull()) {
    return false;
  }
  m_rDpr = rDpr;
  m_pixUp = std::move(pixUp);
  m_pixDown = m_source.image(m_sName + QLatin1Char('D'), rDpr);
  m_pixFocus = m_source.image(m_sName + QLatin1Char('F'), rDpr);
  m_pixDisabled = m_source.image(m_sName + QLatin1Char('X'), rDpr);
  LoadExtra(m_sName, rDpr);
  return true;
}

void CBitmapButton::Drop() {
  m_pixUp = QPixmap();
  m_pixDown = QPixmap();
  m_pixFocus = QPixmap();
  m_pixDisabled = QPixmap();
  DropExtra();
}

void CBitmapButton::LoadExtra(const QString&, qreal) {}

void CBitmapButton::DropExtra() {}

QSize CBitmapButton::sizeHint() const {
  return m_pixUp.isNull() ? QSize() : m_pixUp.deviceIndependentSize().toSize();
}

const QPixmap& CBitmapButton::FaceImage() const {
  if (IsPushed() && !m_pixDown.isNull()) {
    return m_pixDown;
  }
  if (hasFocus() && !m_pixFocus.isNull()) {
    return m_pixFocus;
  }
  if (!isEnabled() && !m_pixDisabled.isNull()) {
    return m_pixDisabled;
  }
  return m_pixUp;
}

void CBitmapButton::KeepResolution() {
  const qreal rDpr = devicePixelRatioF();
  if (IsAttached() && rDpr != m_rDpr) {
    Load(rDpr);
  }
}

void CBitmapButton::paintEvent(QPaintEvent*) {
  KeepResolution();
  QPainter painter(this);
  painter.drawPixmap(0, 0, FaceImage());
}

bool CBitmapButton::hitButton(const QPoint& pos) const {
  return QAbstractButton::hitButton(pos) && (mask().isEmpty() || mask().contains(pos));
}

void CProgramButton::SetChosen(bool blChosen) {
  if (blChosen != m_blChosen) {
    m_blChosen = blChosen;
    update();
  }
}

void CProgramButton::LoadExtra(const QString& sText, qreal rDpr) {
  m_pixPressed = Source().image(sText + QLatin1Char('K'), rDpr);
}

void CProgramButton::DropExtra() { m_pixPressed = QPixmap(); }

void CProgramButton::mousePressEvent(QMouseEvent* pEvent) {
  CBitmapButton::mousePressEvent(pEvent);
  if (isDown() && !m_pixPressed.isNull()) {
    m_blShowPressed = true;
    repaint();  // at once, not at the next turn of the loop
  }
}

void CProgramButton::paintEvent(QPaintEvent* pEvent) {
  // Let go, or the mouse left it: from here on it is drawn by its state again.
  if (!isDown()) {
    m_blShowPressed = false;
  }
  if (!m_blShowPressed) {
    CBitmapButton::paintEvent(pEvent);
  } else {
    KeepResolution();
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_pixPressed);
  }
  if (hasFocus() && !HasFocusImage()) {
    // The images have no focus face: a light ring on the dark face shows where the
    // keyboard is. The face sits two pixels lower and further right while pushed.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 255, 255), 2));
    const qreal rCentre = IsPushed() || m_blShowPressed ? 15.5 : 13.5;  // of the 30 x 30 face
    painter.drawEllipse(QPointF(rCentre, rCentre), 9.0, 9.0);
  }
}

void CMaskedButton::LoadExtra(const QString& sText, qreal rDpr) {
  m_mask = Source().mask ? Source().mask(sText + QLatin1Char('M'), rDpr) : QBitmap();
}

void CMaskedButton::DropExtra() { m_mask = QBitmap(); }

void CMaskedButton::paintEvent(QPaintEvent*) {
  KeepResolution();
  QPainter painter(this);
  if (m_mask.isNull()) {
    painter.drawPixmap(0, 0, FaceImage());
    return;
  }
  // The image where the mask is set and nothing elsewhere, whatever the image holds
  // outside the shape; a pixmap's own mask keeps this exact at every pixel ratio.
  QPixmap pixShaped = FaceImage();
  pixShaped.setMask(m_mask.size() == pixShaped.size()
                        ? m_mask
                        : QBitmap::fromPixmap(m_mask.scaled(pixShaped.size(), Qt::IgnoreAspectRatio,
                                                            Qt::FastTransformation)));
  painter.drawPixmap(0, 0, pixShaped);
}

}  // namespace orb
