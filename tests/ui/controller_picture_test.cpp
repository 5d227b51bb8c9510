// The controller picture: where each control sits, what shape answers the mouse, which
// control is drawn pushed, and what each one tells the user and the screen reader.
#include "ui/controller_picture.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include "base/log_capture.h"
#include "base/string_table.h"
#include "test_pictures.h"
#include "ui/picture_images.h"
#include "ui/strip_label.h"

namespace orb {
namespace {

using test::ColorAt;
using test::TestPictures;

const QColor kPicture(40, 80, 120);
const QColor kProgramUp(200, 0, 0);
const QColor kProgramDown(0, 200, 0);
const QColor kPlain(0, 0, 200);
const QColor kGray(128, 128, 128);

struct Expected {
  int nId;
  QRect rect;  // from the picture's top-left
  const char* pTip;
};

// A table rectangle: right and bottom lie outside the control.
QRect TableRect(int nLeft, int nTop, int nRight, int nBottom) {
  return QRect(nLeft, nTop, nRight - nLeft, nBottom - nTop);
}

const Expected kControls[] = {
    {1100, TableRect(36, 31, 48, 43), "Programable button 1"},
    {1101, TableRect(65, 31, 77, 43), "Programable button 2"},
    {1102, TableRect(94, 31, 106, 43), "Programable button 3"},
    {1103, TableRect(123, 31, 135, 43), "Programable button 4"},
    {1104, TableRect(152, 31, 164, 43), "Programable button 5"},
    {1105, TableRect(26, 55, 59, 68), "DECK/FILE Selector"},
    {1106, TableRect(64, 55, 97, 68), "Rewind/Move to pre-edit point"},
    {1107, TableRect(103, 55, 136, 68), "Fast-forward/Move to next-edit point"},
    {1108, TableRect(141, 55, 174, 68), "Capture/Undo"},
    {1109, TableRect(15, 145, 36, 166), "Play/Pause"},
    {1110, TableRect(25, 85, 97, 140), "Set IN point"},
    {1111, TableRect(103, 85, 175, 140), "Set OUT point"},
    {1112, TableRect(164, 145, 184, 165), "Add to list/Divide clip"},
    {1113, TableRect(88, 160, 112, 184), "JOG/SHUTTLE Selector"},
    {1114, TableRect(56, 128, 144, 224), "JOG/SHUTTLE Wheel"},
};

// Every picture at its real size, so the buttons attach as they will with the real ones.
TestPictures ControllerPictures() {
  TestPictures pictures;
  pictures.images["134"] = {{200, 199}, kPicture};
  for (int k = 1; k <= 5; ++k) {
    const QString sName = QString::number(k);
    pictures.images[sName + "U"] = {{30, 30}, kProgramUp};
    pictures.images[sName + "D"] = {{30, 30}, kProgramDown};
    pictures.images[sName + "K"] = {{30, 30}, kProgramDown};
  }
  const std::pair<const char*, QSize> aPlain[] = {{"PGM", {13, 13}},  {"DECK", {34, 14}}, {"BACK", {34, 14}},
                                                  {"FORE", {34, 14}}, {"CAP", {34, 14}},  {"PLAY", {22, 22}},
                                                  {"IN", {73, 56}},   {"OUT", {73, 56}},  {"ADD", {21, 21}},
                                                  {"JOG", {25, 25}},  {"WHEEL", {89, 97}}};
  for (const auto& [pName, size] : aPlain) {
    pictures.images[QString(pName) + "U"] = {size, kPlain};
  }
  const auto ellipse = [](QPainter& painter, const QSize& size) { painter.drawEllipse(QRect({0, 0}, size)); };
  pictures.masks["JOGM"] = {{25, 25}, ellipse};
  pictures.masks["WHEELM"] = {{89, 97}, ellipse};
  return pictures;
}

class ControllerPictureTest : public ::testing::Test {
 protected:
  ControllerPictureTest() : m_picture(nullptr, ControllerPictures().Source()) { m_picture.show(); }

  QWidget& Control(int nId) {
    auto* pControl = m_picture.findChild<QWidget*>(QStringLiteral("Control%1").arg(nId));
    EXPECT_NE(pControl, nullptr) << nId;
    return pControl != nullptr ? *pControl : m_picture;
  }
  QAbstractButton& Button(int nId) {
    auto* pButton = qobject_cast<QAbstractButton*>(&Control(nId));
    EXPECT_NE(pButton, nullptr) << nId;
    return *pButton;
  }
  // The control under a point given from the top-left of control nId.
  QWidget* At(int nId, const QPoint& point) {
    return m_picture.childAt(Control(nId).mapTo(&m_picture, point));
  }
  QPoint PictureOrigin() { return Control(1007).pos(); }

  CControllerPicture m_picture;
};

TEST_F(ControllerPictureTest, EveryControlSitsAtItsRectangleWithItsBitmapsSize) {
  EXPECT_EQ(Control(1007).size(), QSize(200, 199));
  for (const Expected& control : kControls) {
    EXPECT_EQ(Control(control.nId).geometry(), control.rect.translated(PictureOrigin())) << control.nId;
    EXPECT_EQ(Control(control.nId).parentWidget(), &m_picture) << control.nId;
  }
  // The wheel hangs below the picture; the widget holds it whole.
  EXPECT_TRUE(m_picture.rect().contains(Control(1114).geometry()));
  QWidget& strip = Control(1037);
  for (int k = 0; k < 5; ++k) {
    QWidget& button = Control(1002 + k);
    EXPECT_EQ(button.size(), QSize(30, 30));
    EXPECT_EQ(button.parentWidget(), &strip);
    const QRect label = m_picture.ProgramLabelRect(k);
    EXPECT_TRUE(strip.rect().contains(label)) << k;
    EXPECT_GT(label.top(), button.geometry().bottom()) << k;
    EXPECT_LE(label.left(), button.x());
    EXPECT_GE(label.right(), button.geometry().right());
    if (k > 0) {
      EXPECT_FALSE(label.intersects(m_picture.ProgramLabelRect(k - 1))) << k;
      EXPECT_GT(button.x(), Control(1001 + k).geometry().right());
    }
  }
  EXPECT_LE(strip.geometry().bottom(), PictureOrigin().y());
}

TEST_F(ControllerPictureTest, PaintsThePictureTheGrayStripAndTheButtons) {
  EXPECT_EQ(ColorAt(m_picture, PictureOrigin() + QPoint(5, 5)), kPicture);
  EXPECT_EQ(ColorAt(m_picture, PictureOrigin() + QPoint(40, 35)), kPlain);  // PGM 1
  EXPECT_EQ(ColorAt(m_picture, {2, 2}), kGray);
  EXPECT_EQ(ColorAt(m_picture, m_picture.ProgramLabelRect(2).center()), kGray);
  EXPECT_EQ(ColorAt(m_picture, Control(1004).geometry().center()), kProgramUp);
  // Outside the ring the picture shows; inside the hole, JOG.
  EXPECT_EQ(ColorAt(m_picture, Control(1114).geometry().topLeft() + QPoint(1, 1)), kPicture);
  EXPECT_EQ(ColorAt(m_picture, Control(1113).geometry().center()), kPlain);
}

TEST_F(ControllerPictureTest, ClicksAndTipsFollowTheShapes) {
  QWidget* pPicture = &Control(1007);
  QWidget* pStrip = &Control(1037);
  // JOG sits in the wheel's hole, above it; the ring around the hole is the wheel's.
  EXPECT_EQ(At(1113, {12, 12}), &Control(1113));
  EXPECT_EQ(At(1114, {44, 48}), &Control(1113));
  EXPECT_EQ(At(1114, {44, 10}), &Control(1114));
  EXPECT_EQ(At(1114, {44, 90}), &Control(1114));
  EXPECT_EQ(At(1114, {1, 1}), pPicture);
  // IN and OUT answer only on their curved bands.
  EXPECT_EQ(At(1110, {40, 18}), &Control(1110));
  EXPECT_EQ(At(1110, {0, 0}), pPicture);
  EXPECT_EQ(At(1110, {0, 55}), pPicture);
  EXPECT_EQ(At(1111, {32, 18}), &Control(1111));
  EXPECT_EQ(At(1111, {72, 0}), pPicture);
  EXPECT_EQ(At(1111, {72, 55}), pPicture);
  // Round buttons not in their corners, square ones everywhere.
  for (int nId : {1100, 1104, 1109, 1112}) {
    EXPECT_EQ(At(nId, Control(nId).rect().center()), &Control(nId)) << nId;
    EXPECT_EQ(At(nId, {0, 0}), pPicture) << nId;
  }
  EXPECT_EQ(At(1105, {0, 0}), &Control(1105));
  EXPECT_EQ(At(1108, {32, 12}), &Control(1108));
  EXPECT_EQ(At(1108, {33, 13}), pPicture) << "the rectangle's right and bottom are outside";
  // A programmable button: two ellipses (2,2)-(24,24) and (4,4)-(28,28).
  for (int k = 0; k < 5; ++k) {
    const int nId = 1002 + k;
    EXPECT_EQ(At(nId, {15, 15}), &Control(nId)) << nId;
    EXPECT_EQ(At(nId, {13, 3}), &Control(nId)) << nId;
    EXPECT_EQ(At(nId, {16, 27}), &Control(nId)) << nId;
    EXPECT_EQ(At(nId, {3, 13}), &Control(nId)) << nId;   // only the first ellipse
    EXPECT_EQ(At(nId, {27, 16}), &Control(nId)) << nId;  // only the second
    EXPECT_EQ(At(nId, {13, 1}), pStrip) << nId;
    EXPECT_EQ(At(nId, {16, 29}), pStrip) << nId;
    EXPECT_EQ(At(nId, {0, 0}), pStrip) << nId;
    EXPECT_EQ(At(nId, {29, 29}), pStrip) << nId;
  }
}

TEST_F(ControllerPictureTest, ProgrammableButtonsReportTheirCodes) {
  QSignalSpy clicked(&m_picture, &CControllerPicture::ProgramButtonClicked);
  for (int k = 0; k < 5; ++k) {
    QTest::mouseClick(&Button(1002 + k), Qt::LeftButton, {}, {15, 15});
  }
  QTest::mouseClick(&Button(1003), Qt::LeftButton, {}, {1, 1});  // outside its shape
  ASSERT_EQ(clicked.count(), 5);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(clicked.at(k).at(0).toInt(), 601 + k);
  }
  // The picture's own controls do nothing.
  for (const Expected& control : kControls) {
    QTest::mouseClick(&Button(control.nId), Qt::LeftButton, {}, Control(control.nId).rect().center());
  }
  EXPECT_EQ(clicked.count(), 5);
  EXPECT_EQ(m_picture.ChosenProgramButton(), 0);
}

TEST_F(ControllerPictureTest, TheChosenProgrammableButtonStaysPushed) {
  const auto drawn = [this](int k) { return ColorAt(Control(1002 + k), {15, 15}); };
  m_picture.SetChosenProgramButton(603);
  EXPECT_EQ(m_picture.ChosenProgramButton(), 603);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(drawn(k), k == 2 ? kProgramDown : kProgramUp) << k;
  }
  // Another window passing over it: drawn again, still the same.
  m_picture.repaint();
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(drawn(k), k == 2 ? kProgramDown : kProgramUp) << k;
  }
  QTest::mouseClick(&Button(1003), Qt::LeftButton, {}, {15, 15});
  EXPECT_EQ(drawn(1), kProgramUp) << "a click does not choose by itself";
  EXPECT_EQ(drawn(2), kProgramDown);
  m_picture.SetChosenProgramButton(605);
  EXPECT_EQ(drawn(2), kProgramUp);
  EXPECT_EQ(drawn(4), kProgramDown);
  for (int nNone : {0, 600, 606, 1004}) {
    m_picture.SetChosenProgramButton(605);
    m_picture.SetChosenProgramButton(nNone);
    EXPECT_EQ(m_picture.ChosenProgramButton(), 0) << nNone;
    for (int k = 0; k < 5; ++k) {
      EXPECT_EQ(drawn(k), kProgramUp) << nNone << " " << k;
    }
  }
}

TEST_F(ControllerPictureTest, EveryControlHasItsTipAndAName) {
  for (const Expected& control : kControls) {
    EXPECT_EQ(Control(control.nId).toolTip(), control.pTip) << control.nId;
    EXPECT_EQ(Control(control.nId).accessibleName(), control.pTip) << control.nId;
  }
  for (int k = 0; k < 5; ++k) {
    QWidget& button = Control(1002 + k);
    EXPECT_EQ(button.toolTip(), "") << "no label, no tip";
    EXPECT_EQ(button.accessibleName(), QStringLiteral("Programable button %1").arg(k + 1));
  }
  m_picture.SetProgramLabel(1, "Cut");
  m_picture.SetProgramLabel(4, QString::fromUtf8("カット"));
  m_picture.SetProgramLabel(5, "nobody");
  m_picture.SetProgramLabel(-1, "nobody");
  EXPECT_EQ(Control(1003).toolTip(), "Cut");
  EXPECT_EQ(Control(1003).accessibleName(), "Programable button 2: Cut");
  EXPECT_EQ(Control(1006).toolTip(), QString::fromUtf8("カット"));
  EXPECT_EQ(Control(1006).accessibleName(), QString::fromUtf8("Programable button 5: カット"));
  for (int nId : {1002, 1004, 1005}) {
    EXPECT_EQ(Control(nId).toolTip(), "") << nId;
  }
  m_picture.SetProgramLabel(1, "");
  EXPECT_EQ(Control(1003).toolTip(), "");
  EXPECT_EQ(Control(1003).accessibleName(), "Programable button 2");
}

// The names a screen reader reads below `pInterface`, depth first.
void CollectNames(QAccessibleInterface* pInterface, QStringList& names, QList<QObject*>& objects) {
  for (int i = 0; i < pInterface->childCount(); ++i) {
    QAccessibleInterface* pChild = pInterface->child(i);
    if (pChild == nullptr) continue;
    names << pChild->text(QAccessible::Name);
    objects << pChild->object();
    CollectNames(pChild, names, objects);
  }
}

TEST_F(ControllerPictureTest, ScreenReadersHearOneSetOfProgrammableButtonsInTheWindowsLanguage) {
  m_picture.SetProgramLabel(2, "Mark");
  QStringList names;
  QList<QObject*> objects;
  CollectNames(QAccessible::queryAccessibleInterface(&m_picture), names, objects);
  QStringList heard;
  for (qsizetype i = 0; i < names.size(); ++i) {
    if (names[i].startsWith("Programable button")) {
      heard << names[i];
      EXPECT_TRUE(qobject_cast<CProgramButton*>(objects[i]) != nullptr) << names[i].toStdString();
    }
  }
  EXPECT_EQ(heard, QStringList({"Programable button 1", "Programable button 2", "Programable button 3: Mark",
                                "Programable button 4", "Programable button 5"}));
  // The rest of the picture is still described.
  EXPECT_TRUE(names.contains("JOG/SHUTTLE Wheel"));
  EXPECT_TRUE(names.contains("Set IN point"));

  SetUiLanguage(UiLanguage::Japanese);
  CControllerPicture japanese(nullptr, ControllerPictures().Source());
  SetUiLanguage(UiLanguage::English);
  japanese.SetProgramLabel(0, QString::fromUtf8("再生"));
  EXPECT_EQ(japanese.ProgramButton(0).accessibleName(), QString::fromUtf8("プログラマブルキー1: 再生"));
  EXPECT_EQ(japanese.ProgramButton(4).accessibleName(), QString::fromUtf8("プログラマブルキー5"));
}

TEST_F(ControllerPictureTest, OnlyTheStripsButtonsTakeTheFocus) {
  m_picture.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&m_picture));
  Control(1002).setFocus();
  QStringList visited;
  for (int i = 0; i < 6; ++i) {
    visited << QApplication::focusWidget()->objectName();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(visited, QStringList({"Control1002", "Control1003", "Control1004", "Control1005", "Control1006",
                                  "Control1002"}));
}

// The built-in buttons have no focus face: a ring shows the focus, on the chosen one too.
TEST(ControllerPictureBuiltInTest, TheProgrammableButtonWithTheFocusShowsIt) {
  CControllerPicture picture;
  picture.show();
  picture.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&picture));
  for (const int nChosen : {0, 603}) {
    picture.SetChosenProgramButton(nChosen);
    CProgramButton& button = picture.ProgramButton(2);
    picture.ProgramButton(0).setFocus();
    const QImage without = button.grab().toImage();
    button.setFocus();
    ASSERT_TRUE(button.hasFocus());
    EXPECT_GE(test::StrongestChange(without, button.grab().toImage()), 3.0) << nChosen;
  }
}

// With the program's own pictures every button attaches, and each plain control is its
// bitmap less the last column and row (the table's rectangles are one pixel smaller).
TEST(ControllerPictureBuiltInTest, EveryButtonAttachesAndFillsItsRectangle) {
  test::LogCapture log;
  CControllerPicture picture;
  EXPECT_EQ(log.Text(), "");
  const auto buttons = picture.findChildren<CBitmapButton*>();
  EXPECT_EQ(buttons.size(), 20);
  for (CBitmapButton* pButton : buttons) {
    EXPECT_TRUE(pButton->IsAttached()) << pButton->objectName().toStdString();
    const bool blProgram = dynamic_cast<CProgramButton*>(pButton) != nullptr;  // 30 x 30, not from the table
    EXPECT_EQ(pButton->size(), PictureImageSize(pButton->text() + "U") - (blProgram ? QSize(0, 0) : QSize(1, 1)))
        << pButton->objectName().toStdString();
  }
  for (const char* pName : {"JOG", "WHEEL"}) {
    auto* pButton = picture.findChild<CMaskedButton*>(QStringLiteral("Control%1").arg(pName[0] == 'J' ? 1113 : 1114));
    ASSERT_NE(pButton, nullptr) << pName;
    EXPECT_TRUE(pButton->HasMask()) << pName;
  }
}

}  // namespace
}  // namespace orb
