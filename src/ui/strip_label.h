#pragma once
// The label under a programmable button, on the picture's gray strip. The strip leaves a
// label a button's pitch wide and two short lines high, so the text is wrapped into two
// lines and set smaller, then narrower, until it fits; only a label too long for the
// smallest readable size is cut, and its whole text stays in the tooltip and the
// accessible name.

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QSize>
#include <QString>
#include <QStringList>

namespace orb {

// Dark on the strip's RGB(128, 128, 128): 5.3:1, where white would give 3.9:1.
inline constexpr QRgb kStripLabelColor = qRgb(0, 0, 0);
// Below this a label is no longer read at a glance; longer ones are cut instead.
inline constexpr int kStripLabelMinPixelSize = 8;

struct StripLabelLayout {
  QFont font;
  QStringList lines;  // at most two
  bool blWhole;       // every character of the text is shown
};

// The largest font, from `base` down, at which `sText` fits `area` in at most two lines:
// broken between words where that fits at some size, anywhere only where it does not.
StripLabelLayout FitStripLabel(const QString& sText, const QFont& base, const QSize& area);

// The contrast ratio of two colours (1 to 21), by the relative luminance of sRGB.
double ContrastRatio(const QColor& a, const QColor& b);

class CStripLabel final : public QLabel {
  Q_OBJECT

 public:
  explicit CStripLabel(QWidget* pParent = nullptr);

  // Shows the text fitted to the field; tooltip and accessible name get all of it.
  void SetLabelText(const QString& sText);
  const StripLabelLayout& Layout() const { return m_layout; }

 protected:
  void paintEvent(QPaintEvent* pEvent) override;
  void resizeEvent(QResizeEvent* pEvent) override;

 private:
  void Fit();

  StripLabelLayout m_layout;
};

}  // namespace orb
