#include "ui/controller_picture.h"

#include <algorithm>
#include <functional>
#include <utility>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QPolygon>
#include <QRegion>

#include "base/string_table.h"
#include "base/write_log.h"

namespace orb {
namespace {

constexpr int kPictureWidth = 200;
constexpr int kPictureHeight = 199;
// The wheel hangs below the picture (its rectangle ends at 224).
constexpr int kPictureAreaHeight = 225;

constexpr int kProgramSide = 30;
constexpr int kProgramLeft = 9;
constexpr int kProgramPitch = 38;
constexpr int kProgramTop = 6;
constexpr int kStripHeight = 62;
// A label takes the strip from the button's bottom down: room for two short lines.
constexpr int kLabelTop = kProgramTop + kProgramSide;
constexpr int kLabelHeight = kStripHeight - kLabelTop;
constexpr int kFirstProgramId = 1002;
constexpr int kFirstPictureId = 1100;  // also the string ids of the controls' names

enum class Shape { Ellipse, Rectangle, PolygonIn, PolygonOut, Ring };

struct Placement {
  int nId;
  const char* pText;
  int nLeft, nTop, nRight, nBottom;  // from the picture's top-left; right and bottom outside
  Shape shape;
};

// The thirteen plain buttons, then JOG and WHEEL. A control is right - left wide and
// bottom - top high: one pixel less each way than its bitmap, whose last column and row
// it leaves out, and its hit area with it.
constexpr Placement kPlacements[] = {
    {1100, "PGM", 36, 31, 48, 43, Shape::Ellipse},
    {1101, "PGM", 65, 31, 77, 43, Shape::Ellipse},
    {1102, "PGM", 94, 31, 106, 43, Shape::Ellipse},
    {1103, "PGM", 123, 31, 135, 43, Shape::Ellipse},
    {1104, "PGM", 152, 31, 164, 43, Shape::Ellipse},
    {1105, "DECK", 26, 55, 59, 68, Shape::Rectangle},
    {1106, "BACK", 64, 55, 97, 68, Shape::Rectangle},
    {1107, "FORE", 103, 55, 136, 68, Shape::Rectangle},
    {1108, "CAP", 141, 55, 174, 68, Shape::Rectangle},
    {1109, "PLAY", 15, 145, 36, 166, Shape::Ellipse},
    {1110, "IN", 25, 85, 97, 140, Shape::PolygonIn},
    {1111, "OUT", 103, 85, 175, 140, Shape::PolygonOut},
    {1112, "ADD", 164, 145, 184, 165, Shape::Ellipse},
    {1113, "JOG", 88, 160, 112, 184, Shape::Ellipse},
    {1114, "WHEEL", 56, 128, 144, 224, Shape::Ring},
};
constexpr int kJogIndex = 13;
constexpr int kWheelIndex = 14;

// The left and right halves of the ring around the wheel, in the button's coordinates.
const QPolygon& InPolygon() {
  static const QPolygon polygon({{72, 0}, {33, 11}, {0, 43}, {19, 55}, {43, 30}, {72, 22}});
  return polygon;
}
const QPolygon& OutPolygon() {
  static const QPolygon polygon({{0, 0}, {42, 13}, {72, 43}, {53, 55}, {30, 31}, {0, 22}});
  return polygon;
}

QRect TableRect(const Placement& placement) {
  return QRect(placement.nLeft, placement.nTop + kStripHeight, placement.nRight - placement.nLeft,
               placement.nBottom - placement.nTop);
}

QRegion ShapeRegion(const Placement& placement, const QRect& client) {
  switch (placement.shape) {
    case Shape::Ellipse:
      return QRegion(client, QRegion::Ellipse);
    case Shape::Rectangle:
      return QRegion(client);
    case Shape::PolygonIn:
      return QRegion(InPolygon(), Qt::WindingFill);
    case Shape::PolygonOut:
      return QRegion(OutPolygon(), Qt::WindingFill);
    case Shape::Ring: {
      const Placement& jog = kPlacements[kJogIndex];
      const QRect hole(jog.nLeft - placement.nLeft, jog.nTop - placement.nTop, jog.nRight - jog.nLeft,
                       jog.nBottom - jog.nTop);  // (32, 32, 56, 56), right and bottom outside
      return QRegion(client, QRegion::Ellipse).subtracted(QRegion(hole, QRegion::Ellipse));
    }
  }
  return QRegion(client);
}

// Two ellipses, one shifted down-right: a round button with its shadow.
QRegion ProgramRegion(const QRect& client) {
  const QRect face(QPoint(client.left() + 2, client.top() + 2), QPoint(client.right() - 5, client.bottom() - 5));
  const QRect shadow(QPoint(client.left() + 4, client.top() + 4), QPoint(client.right() - 1, client.bottom() - 1));
  return QRegion(face, QRegion::Ellipse).united(QRegion(shadow, QRegion::Ellipse));
}

QString ControlName(int nId) { return QStringLiteral("Control%1").arg(nId); }

// Tells of left double-clicks on the control it watches and lets them through, so the
// button behaves as before.
class DoubleClickWatcher final : public QObject {
 public:
  DoubleClickWatcher(QObject* pParent, std::function<void()> onDoubleClick)
      : QObject(pParent), m_onDoubleClick(std::move(onDoubleClick)) {}

 protected:
  bool eventFilter(QObject* pWatched, QEvent* pEvent) override {
    if (pEvent->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(pEvent)->button() == Qt::LeftButton) {
      m_onDoubleClick();
    }
    return QObject::eventFilter(pWatched, pEvent);
  }

 private:
  std::function<void()> m_onDoubleClick;
};

void Attach(CBitmapButton& button, const char* pText) {
  if (!button.Attach(QString::fromLatin1(pText))) {
    WriteLog("CControllerPicture: no image \"%sU\"\r\n", pText);
  }
}

// The picture's controls only describe the controller: no keyboard stop of their own.
void Describe(QWidget& control, int nId, UiLanguage language) {
  const QString sText = QString::fromUtf8(LoadString(nId, language));
  control.setObjectName(ControlName(nId));
  control.setToolTip(sText);
  control.setAccessibleName(sText);
  control.setFocusPolicy(Qt::NoFocus);
}

// The picture as screen readers see it: its children but the five pictured programmable
// buttons, which do nothing and would be heard as a second set beside the strip's.
class CPictureAccessible final : public QAccessibleWidget {
 public:
  explicit CPictureAccessible(CControllerPicture* pPicture) : QAccessibleWidget(pPicture) {}

  int childCount() const override { return static_cast<int>(Listed().size()); }
  QAccessibleInterface* child(int nIndex) const override {
    const QList<QWidget*> listed = Listed();
    return nIndex >= 0 && nIndex < listed.size() ? QAccessible::queryAccessibleInterface(listed.at(nIndex)) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* pChild) const override {
    return pChild == nullptr ? -1 : static_cast<int>(Listed().indexOf(qobject_cast<QWidget*>(pChild->object())));
  }

 private:
  QList<QWidget*> Listed() const {
    const auto* pPicture = static_cast<const CControllerPicture*>(widget());
    QList<QWidget*> listed;
    for (QObject* pChild : pPicture->children()) {
      auto* pWidget = qobject_cast<QWidget*>(pChild);
      if (pWidget != nullptr && !pWidget->isWindow() && !pPicture->IsPicturedProgramButton(pWidget)) {
        listed << pWidget;
      }
    }
    return listed;
  }
};

QAccessibleInterface* PictureAccessibleFactory(const QString& sClass, QObject* pObject) {
  if (sClass == QLatin1String(CControllerPicture::staticMetaObject.className()) && pObject != nullptr) {
    return new CPictureAccessible(static_cast<CControllerPicture*>(pObject));
  }
  return nullptr;
}

}  // namespace

CControllerPicture::CControllerPicture(QWidget* pParent, const PictureSource& source)
    : QWidget(pParent), m_source(source), m_strip(this), m_picture(this) {
  static const bool blFactory = [] {
    QAccessible::installFactory(PictureAccessibleFactory);
    return true;
  }();
  (void)blFactory;
  setFixedSize(kPictureWidth, kStripHeight + kPictureAreaHeight);

  m_strip.setObjectName(ControlName(1037));
  m_strip.setGeometry(0, 0, kPictureWidth, kStripHeight);
  QPalette palette = m_strip.palette();
  palette.setColor(QPalette::Window, QColor(128, 128, 128));
  m_strip.setPalette(palette);
  m_strip.setAutoFillBackground(true);

  m_picture.setObjectName(ControlName(1007));
  m_picture.setGeometry(0, kStripHeight, kPictureWidth, kPictureHeight);
  m_picture.setAlignment(Qt::AlignLeft | Qt::AlignTop);
  RenderPicture();
  m_picture.installEventFilter(this);

  for (int k = 0; k < kProgramButtons; ++k) {
    auto* pButton = new CProgramButton(&m_strip, source);
    Attach(*pButton, QByteArray::number(k + 1).constData());
    pButton->setObjectName(ControlName(kFirstProgramId + k));
    connect(pButton, &QAbstractButton::clicked, this, [this, k] { emit ProgramButtonClicked(kFirstProgramCode + k); });
    m_apProgram[k] = pButton;
    SetProgramLabel(k, QString());
  }
  // Later siblings stack higher: the plain buttons, then the wheel, then JOG in its hole.
  for (int k = 0; k < kPlainButtons; ++k) {
    m_apPlain[k] = new CBitmapButton(this, source);
    Attach(*m_apPlain[k], kPlacements[k].pText);
    Describe(*m_apPlain[k], kPlacements[k].nId, m_language);
  }
  m_pWheel = new CMaskedButton(this, source);
  Attach(*m_pWheel, kPlacements[kWheelIndex].pText);
  Describe(*m_pWheel, kPlacements[kWheelIndex].nId, m_language);
  m_pWheel->installEventFilter(new DoubleClickWatcher(m_pWheel, [this] { emit WheelDoubleClicked(); }));
  m_pJog = new CMaskedButton(this, source);
  Attach(*m_pJog, kPlacements[kJogIndex].pText);
  Describe(*m_pJog, kPlacements[kJogIndex].nId, m_language);

  ShapePictureControls();
}

void CControllerPicture::RenderPicture() {
  m_rPictureDpr = m_picture.devicePixelRatioF();
  const QPixmap pixPicture = m_source.image ? m_source.image(QStringLiteral("134"), m_rPictureDpr) : QPixmap();
  if (pixPicture.isNull()) {
    WriteLog("CControllerPicture: no image \"134\"\r\n");
  }
  m_picture.setPixmap(pixPicture);
}

bool CControllerPicture::eventFilter(QObject* pWatched, QEvent* pEvent) {
  // Before the label draws: it then draws the new picture in this very paint.
  if (pWatched == &m_picture && pEvent->type() == QEvent::Paint && m_picture.devicePixelRatioF() != m_rPictureDpr) {
    RenderPicture();
  }
  return QWidget::eventFilter(pWatched, pEvent);
}

void CControllerPicture::ShapePictureControls() {
  for (int k = 0; k < kProgramButtons; ++k) {
    CProgramButton& button = *m_apProgram[k];
    button.setGeometry(kProgramLeft + k * kProgramPitch, kProgramTop, kProgramSide, kProgramSide);
    button.setMask(ProgramRegion(button.rect()));
  }
  for (int k = 0; k < kPlainButtons; ++k) {
    m_apPlain[k]->setGeometry(TableRect(kPlacements[k]));
    m_apPlain[k]->setMask(ShapeRegion(kPlacements[k], m_apPlain[k]->rect()));
  }
  m_pWheel->setGeometry(TableRect(kPlacements[kWheelIndex]));
  m_pWheel->setMask(ShapeRegion(kPlacements[kWheelIndex], m_pWheel->rect()));
  m_pJog->setGeometry(TableRect(kPlacements[kJogIndex]));
  m_pJog->setMask(ShapeRegion(kPlacements[kJogIndex], m_pJog->rect()));
  m_pJog->raise();  // a click in the wheel's hole is JOG's
}

bool CControllerPicture::IsPicturedProgramButton(const QWidget* pWidget) const {
  return std::find(m_apPlain.begin(), m_apPlain.begin() + kProgramButtons, pWidget) != m_apPlain.begin() + kProgramButtons;
}

void CControllerPicture::SetChosenProgramButton(int nCode) {
  const bool blValid = nCode >= kFirstProgramCode && nCode < kFirstProgramCode + kProgramButtons;
  m_nChosenCode = blValid ? nCode : 0;
  for (int k = 0; k < kProgramButtons; ++k) {
    m_apProgram[k]->SetChosen(kFirstProgramCode + k == m_nChosenCode);
  }
}

void CControllerPicture::SetProgramLabel(int nIndex, const QString& sLabel) {
  if (nIndex < 0 || nIndex >= kProgramButtons) {
    return;
  }
  CProgramButton& button = *m_apProgram[nIndex];
  button.setToolTip(sLabel);
  // The controller's own name for the button, in the language of the window.
  const QString sName = QString::fromUtf8(LoadString(kFirstPictureId + nIndex, m_language));
  button.setAccessibleName(sLabel.isEmpty() ? sName : sName + QStringLiteral(": ") + sLabel);
}

QRect CControllerPicture::ProgramLabelRect(int nIndex) const {
  const int nPitchLeft = kProgramLeft - (kProgramPitch - kProgramSide) / 2;
  return QRect(nPitchLeft + nIndex * kProgramPitch, kLabelTop, kProgramPitch, kLabelHeight);
}

}  // namespace orb
