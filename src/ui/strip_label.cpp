#include "ui/strip_label.h"

#include <cmath>

#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>
#include <QTextOption>

namespace orb {
namespace {

constexpr int kMaxLines = 2;
// A pixel either side, so that two neighbours' full lines never touch.
constexpr int kSidePadding = 1;

struct Wrapped {
  QStringList lines;
  bool blFits;
};

Wrapped Wrap(const QString& sText, const QFont& font, qreal rWidth, QTextOption::WrapMode mode) {
  Wrapped wrapped{{}, true};
  QTextLayout layout(sText, font);
  QTextOption option;
  option.setWrapMode(mode);
  layout.setTextOption(option);
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(rWidth);
    // A word wider than the line overflows it rather than breaking.
    if (line.naturalTextWidth() > rWidth + 0.01) wrapped.blFits = false;
    wrapped.lines << sText.mid(line.textStart(), line.textLength()).trimmed();
  }
  layout.endLayout();
  if (wrapped.lines.size() > kMaxLines) wrapped.blFits = false;
  return wrapped;
}

bool LinesFit(const QFont& font, qsizetype nLines, int nHeight) {
  const QFontMetricsF metrics(font);
  return metrics.lineSpacing() * static_cast<qreal>(nLines - 1) + metrics.height() <= nHeight + 0.01;
}

// The fonts to try, most readable first: each size at normal width, then condensed.
QList<QFont> Candidates(const QFont& base) {
  QList<QFont> fonts;
  const int nBase = QFontInfo(base).pixelSize();
  for (int nPixels = nBase; nPixels >= kStripLabelMinPixelSize; --nPixels) {
    for (const int nStretch : {int{QFont::Unstretched}, int{QFont::SemiCondensed}, int{QFont::Condensed}}) {
      QFont font = base;
      font.setPixelSize(nPixels);
      font.setStretch(nStretch);
      fonts << font;
    }
  }
  if (fonts.isEmpty()) fonts << base;
  return fonts;
}

double Channel(int nValue) {
  const double r = nValue / 255.0;
  return r <= 0.04045 ? r / 12.92 : std::pow((r + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& colour) {
  return 0.2126 * Channel(colour.red()) + 0.7152 * Channel(colour.green()) + 0.0722 * Channel(colour.blue());
}

}  // namespace

StripLabelLayout FitStripLabel(const QString& sText, const QFont& base, const QSize& area) {
  const qreal rWidth = area.width() - 2 * kSidePadding;
  const QList<QFont> fonts = Candidates(base);
  for (const QTextOption::WrapMode mode : {QTextOption::WordWrap, QTextOption::WrapAtWordBoundaryOrAnywhere}) {
    for (const QFont& font : fonts) {
      Wrapped wrapped = Wrap(sText, font, rWidth, mode);
      if (!wrapped.blFits || !LinesFit(font, wrapped.lines.size(), area.height())) continue;
      // Two lines of even length read better than a full one and a last character.
      for (qreal rNarrower = rWidth - 1; wrapped.lines.size() == kMaxLines && rNarrower > 0; rNarrower -= 1) {
        const Wrapped balanced = Wrap(sText, font, rNarrower, mode);
        if (!balanced.blFits) break;
        wrapped = balanced;
      }
      return {font, wrapped.lines, true};
    }
  }
  // Too long even for the smallest font: the second line ends in an ellipsis.
  const QFont& font = fonts.back();
  Wrapped wrapped = Wrap(sText, font, rWidth, QTextOption::WrapAtWordBoundaryOrAnywhere);
  QStringList lines = wrapped.lines.mid(0, kMaxLines);
  if (lines.size() == kMaxLines) {
    const QString sRest = wrapped.lines.mid(kMaxLines - 1).join(QLatin1Char(' '));
    lines.back() = QFontMetricsF(font).elidedText(sRest, Qt::ElideRight, rWidth);
  }
  return {font, lines, false};
}

double ContrastRatio(const QColor& a, const QColor& b) {
  const double rA = Luminance(a) + 0.05;
  const double rB = Luminance(b) + 0.05;
  return rA > rB ? rA / rB : rB / rA;
}

CStripLabel::CStripLabel(QWidget* pParent) : QLabel(pParent) {
  QPalette palette = this->palette();
  palette.setColor(QPalette::WindowText, QColor(kStripLabelColor));
  setPalette(palette);
  Fit();
}

void CStripLabel::SetLabelText(const QString& sText) {
  setText(sText);
  setToolTip(sText);
  setAccessibleName(sText);
  Fit();
  update();
}

void CStripLabel::Fit() { m_layout = FitStripLabel(text(), font(), size()); }

void CStripLabel::resizeEvent(QResizeEvent* pEvent) {
  QLabel::resizeEvent(pEvent);
  Fit();
}

void CStripLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.setFont(m_layout.font);
  const QFontMetricsF metrics(m_layout.font);
  qreal rTop = 0;
  for (const QString& sLine : m_layout.lines) {
    painter.drawText(QRectF(0, rTop, width(), metrics.height()), Qt::AlignHCenter | Qt::AlignTop, sLine);
    rTop += metrics.lineSpacing();
  }
}

}  // namespace orb
