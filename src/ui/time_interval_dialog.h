#pragma once
// Dialog 52, "Time interval setting": the pause after one key stroke, typed in seconds
// (0.5 is five tenths) and accepted from 0 to 30. Run modally by the key panel's Pause...

#include <cstdint>
#include <optional>

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QString>

#include "base/string_table.h"

class QLineEdit;

namespace orb {

inline constexpr double kMinPauseSeconds = 0.0;
inline constexpr double kMaxPauseSeconds = 30.0;

// The stored pause for a value the dialog accepted: value * 100 truncated, then to the
// nearest tenth with halves up, clamped to 0-511. Taken from the value's shortest decimal
// form, so 1.15 gives 12 although 1.15 * 100 is 114.999... in binary.
std::uint32_t PauseUnitsFromSeconds(double rSeconds);

// The edit's text as a number: C decimal point, or the comma where the locale writes
// decimals with one (then only without any point); spaces around it allowed. None for
// anything else, infinities and NaN included.
std::optional<double> ParseSeconds(const QString& sText);

// The shortest text that gives the value back; tenths are thus shown exactly (5 tenths
// "0.5", 0 "0", 30 "30").
QString FormatSeconds(double rSeconds);

class CTimeIntervalDialog final : public QDialog {
  Q_OBJECT

 public:
  CTimeIntervalDialog(UiLanguage language, double rSeconds, QWidget* pParent = nullptr);

  // The value shown at the start until OK accepts another.
  double Value() const { return m_rSeconds; }
  QLineEdit& Edit() { return *m_pEdit; }

  // The refusal box while it is open (a child of the dialog, window-modal), else null.
  QMessageBox* Refusal() const { return m_pRefusal; }

  void done(int nResult) override;

 private:
  void OnOk();
  void Refuse(const QString& sText);

  UiLanguage m_language;
  double m_rSeconds;
  QLineEdit* m_pEdit = nullptr;
  QPointer<QMessageBox> m_pRefusal;
};

}  // namespace orb
