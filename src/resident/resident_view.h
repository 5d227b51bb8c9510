#pragma once
// What the resident core asks of the window: the few things it cannot do without drawing.
// The Qt window implements it; the core's tests record.

#include <cstdint>
#include <string>

namespace orb {

class ResidentView {
 public:
  ResidentView() = default;
  ResidentView(const ResidentView&) = delete;
  ResidentView& operator=(const ResidentView&) = delete;
  virtual ~ResidentView() = default;

  // The tray icon's tip (UTF-8).
  virtual void SetTrayTip(const std::string& sTip) = 0;
  // Selects record nIndex in the application list and shows its keys.
  virtual void SelectApplication(std::uint32_t nIndex) = 0;
  // Shows the keys of the application selected in the list again (the table changed).
  virtual void RefreshPanel() = 0;
  // "&Apply" is enabled exactly while the working copy holds unapplied edits.
  virtual void EnableApply(bool blEnable) = 0;
  // An OK/Cancel question with a question icon; true for OK.
  virtual bool AskOkCancel(const std::string& sText, const std::string& sCaption) = 0;
  // "Startup" and "ShowStay" written as 1 and the tray menu's check mark set.
  virtual void ResetStartupSettings() = 0;
  // While on, the window calls PollHostMode every 100 ms: a host-mode profile's editor
  // changes its mode without telling anyone, so it must be asked.
  virtual void SetHostModePolling(bool blOn) = 0;
  // The companion editor took the table: the window goes out of sight.
  virtual void HideWindow() = 0;
  // The table was replaced: the application list filled again, its first entry shown.
  virtual void FillApplicationList() = 0;
  // Edits not yet applied were thrown away because the editor changed or took back the
  // table: the user is told, once the window is free to.
  virtual void TellEditsDropped() {}
};

}  // namespace orb
