// The window on Qt's offscreen platform: its loop, its posted messages, its small dialogs
// and the tray menu's commands. Offscreen has no notification area, so these also show
// the program staying reachable without one.
#include "ui/main_dialog.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <unistd.h>
#include <string>
#include <thread>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "base/log_capture.h"
#include "base/write_log.h"
#include "platform/hid/sim_hid_backend.h"
#include "platform/keys/key_sink.h"
#include "platform/time/clock.h"
#include "engine/profile_flags.h"
#include "profiles/profile_table.h"
#include "resident/resident_core.h"
#include "shell/settings_store.h"
#include "platform/link/link_endpoint.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "ui/about_dialog.h"
#include "ui/controller_picture.h"
#include "ui/key_panel.h"
#include "ui/speed_controls.h"
#include "ui/tray_icon.h"

namespace orb {
namespace {

using test::LogCapture;

constexpr int kGuardMs = 20000;  // a loop that never ends fails the test instead of hanging it
constexpr int kGuardResult = -7;

// Every window here runs on the simulated controller, records its keys, and starts with
// the resident notice turned off unless a test turns it on.
class MainDialogTest : public ::testing::Test {
 protected:
  MainDialogTest() {
    platform::SetCurrentHidBackend(&m_backend);
    MX8RegSetValue(0, "ShowStay");
    m_config.pKeySink = &m_sink;
  }
  ~MainDialogTest() override { platform::SetCurrentHidBackend(nullptr); }

  // Runs the window like the application object does, with `during` called from its loop.
  int RunWith(CMainDialog& dialog, const std::function<void()>& during) {
    QTimer::singleShot(0, &dialog, during);
    QTimer::singleShot(kGuardMs, &dialog, [&] { dialog.done(kGuardResult); });
    return dialog.RunModal();
  }
  // Calls `then` once a small dialog has opened over the window.
  void WhenModal(CMainDialog& dialog, const std::function<void(QDialog&)>& then) {
    QTimer::singleShot(0, &dialog, [this, &dialog, then] {
      if (dialog.ModalDialog() != nullptr) {
        then(*dialog.ModalDialog());
      } else {
        WhenModal(dialog, then);
      }
    });
  }

  // The tray menu as a right click on the icon opens it (offscreen has no tray host).
  static QMenu& OpenTrayMenu(CMainDialog& dialog) {
    QMenu& menu = dialog.TrayIcon().Menu();
    menu.popup(QPoint(40, 40));
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&menu));
    return menu;
  }
  // The window's own menu, opened by a right click on the window: the context event a
  // right click gives, to the control under it (QTest's click gives none offscreen).
  static QMenu& OpenWindowMenu(CMainDialog& dialog) {
    const QPoint at(4, dialog.height() - 4);
    QWidget* pTarget = dialog.childAt(at) != nullptr ? dialog.childAt(at) : &dialog;
    QContextMenuEvent event(QContextMenuEvent::Mouse, pTarget->mapFrom(&dialog, at), dialog.mapToGlobal(at));
    QApplication::sendEvent(pTarget, &event);
    QMenu& menu = dialog.WindowMenu();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&menu));
    return menu;
  }
  static QAction* ItemOf(QMenu& menu, const QString& sText) {
    for (QAction* pAction : menu.actions()) {
      if (pAction->text() == sText) return pAction;
    }
    ADD_FAILURE() << "no item " << sText.toStdString();
    return nullptr;
  }
  // Clicks the menu's item with that text, as the user does.
  static void Choose(QMenu& menu, const QString& sText) {
    if (QAction* pAction = ItemOf(menu, sText)) {
      QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.actionGeometry(pAction).center());
    }
  }

  // An editor's endpoint in `runtime`, and the program's endpoint it talks to.
  static std::unique_ptr<platform::CLinkEndpoint> OpenEditor(const test::TempDir& runtime, std::string* psProgram) {
    auto pEditor = platform::CLinkEndpoint::Open((runtime.Path() / "orb-link").string());
    if (pEditor == nullptr) return nullptr;
    for (const std::string& sEndpoint : pEditor->EndpointsOfProcess(::getpid())) {
      if (sEndpoint != pEditor->Path()) *psProgram = sEndpoint;
    }
    return psProgram->empty() ? nullptr : std::move(pEditor);
  }

  platform::SimulatedHidBackend m_backend;
  platform::RecordingKeySink m_sink{platform::RealClock()};
  ResidentConfig m_config;
};

TEST_F(MainDialogTest, RunsHiddenUntilEndProgram) {
  CMainDialog dialog(true, m_config);
  EXPECT_TRUE(dialog.IsSilent());
  bool blWasVisible = true;
  const int nResult = RunWith(dialog, [&] {
    blWasVisible = dialog.isVisible();
    dialog.show();  // refused: the window stays hidden until "Show Window..."
    blWasVisible = blWasVisible || dialog.isVisible();
    dialog.EndProgram();
  });
  EXPECT_FALSE(blWasVisible);
  EXPECT_EQ(nResult, QDialog::Accepted);
}

TEST_F(MainDialogTest, CancelAndHidingDoNotEndTheProgram) {
  CMainDialog dialog(false, m_config);
  bool blStillRunning = false;
  const int nResult = RunWith(dialog, [&] {
    dialog.OnSet();
    EXPECT_TRUE(dialog.isVisible());
    dialog.reject();
    EXPECT_FALSE(dialog.isVisible());
    QTimer::singleShot(0, &dialog, [&] {
      blStillRunning = true;
      dialog.EndProgram();
    });
  });
  EXPECT_TRUE(blStillRunning);
  EXPECT_EQ(nResult, QDialog::Accepted);
}

TEST_F(MainDialogTest, WithoutANotificationAreaItSaysSoAndTheMenuIsOnTheWindow) {
  LogCapture log;
  CMainDialog dialog(false, m_config);
  QStringList texts;
  RunWith(dialog, [&] {
    dialog.OnSet();
    // Exit, About, Set to default and Stay are the window's own right-click menu too.
    QMenu& menu = OpenWindowMenu(dialog);
    for (const QAction* pAction : menu.actions()) {
      if (!pAction->isSeparator()) texts << pAction->text();
    }
    menu.close();
    dialog.EndProgram();
  });
  EXPECT_FALSE(dialog.HasTrayIcon());
  EXPECT_NE(log.Text().find("CMainDialog: no notification area; start the program again to show its window\r\n"),
            std::string::npos);
  EXPECT_EQ(texts, (QStringList{"Set to &default", "S&tay when the system begins", "&About this program...", "E&xit"}));
}

TEST_F(MainDialogTest, TheWindowMenusAboutIsTheWindowsOwnTextInJapanese) {
  SetUiLanguage(UiLanguage::Japanese);
  CMainDialog dialog(true, m_config);
  SetUiLanguage(UiLanguage::English);
  QStringList texts;
  QString sTrayAbout;
  RunWith(dialog, [&] {
    dialog.OnSet();
    QMenu& menu = OpenWindowMenu(dialog);
    for (const QAction* pAction : menu.actions()) {
      if (!pAction->isSeparator()) texts << pAction->text();
    }
    menu.close();
    sTrayAbout = dialog.TrayIcon().AboutAction().text();
    dialog.EndProgram();
  });
  EXPECT_EQ(texts, (QStringList{"標準に戻す(&D)", "Windows起動時に常駐する(&T)", "ORB のﾊﾞｰｼﾞｮﾝ情報(&A)...", "終了(&X)"}));
  EXPECT_EQ(sTrayAbout, "このプログラムについて(&A)...");
}

TEST_F(MainDialogTest, ShowWindowWithTheAboutBoxOpenBringsTheBoxAndExitClosesItFirst) {
  CMainDialog dialog(false, m_config);
  // One more window of ours, as the tray icon is: a small dialog must not block it.
  QPushButton icon(QStringLiteral("icon"));
  icon.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&icon));
  int nIconClicks = 0;
  QObject::connect(&icon, &QPushButton::clicked, [&] { ++nIconClicks; });
  std::string sVersion;
  bool blMainShown = true;
  bool blAboutShown = false;
  const int nResult = RunWith(dialog, [&] {
    WhenModal(dialog, [&](QDialog& about) {
      sVersion = about.findChild<QLabel*>(QStringLiteral("VersionLine"))->text().toStdString();
      // Through the window system, as the display's click comes: a blocked window drops it.
      QTest::mouseClick(icon.windowHandle(), Qt::LeftButton, {}, icon.rect().center());
      Choose(OpenTrayMenu(dialog), QStringLiteral("&Show Window..."));
      blMainShown = dialog.isVisible();
      blAboutShown = about.isVisible();
      Choose(OpenTrayMenu(dialog), QStringLiteral("E&xit"));
    });
    Choose(OpenTrayMenu(dialog), QStringLiteral("&About this program..."));  // runs the box until Exit
  });
  EXPECT_EQ(nIconClicks, 1) << "the About box blocks the program's other windows";
  EXPECT_EQ(sVersion, "SpinPad TK-4 Version 1.14");
  EXPECT_FALSE(blMainShown);
  EXPECT_TRUE(blAboutShown);
  EXPECT_EQ(nResult, QDialog::Accepted);
  EXPECT_EQ(dialog.ModalDialog(), nullptr);
}

TEST_F(MainDialogTest, ShowWindowRestoresAMinimizedWindow) {
  CMainDialog dialog(true, m_config);
  bool blMinimized = false;
  bool blRestored = false;
  RunWith(dialog, [&] {
    dialog.OnSet();
    dialog.showMinimized();
    blMinimized = dialog.isMinimized();
    Choose(OpenTrayMenu(dialog), QStringLiteral("&Show Window..."));
    blRestored = dialog.isVisible() && !dialog.isMinimized();
    dialog.EndProgram();
  });
  EXPECT_TRUE(blMinimized);
  EXPECT_TRUE(blRestored);
}

TEST_F(MainDialogTest, TheNoticeShowsOnANormalStartAndItsBoxWritesShowStayAtEachClick) {
  MX8RegSetValue(1, "ShowStay");
  CMainDialog dialog(false, m_config);
  std::vector<std::uint32_t> values;
  RunWith(dialog, [&] {
    WhenModal(dialog, [&](QDialog& notice) {
      auto* pBox = notice.findChild<QCheckBox*>(QStringLiteral("HideMessage"));
      ASSERT_NE(pBox, nullptr);
      EXPECT_FALSE(pBox->isChecked());
      for (int i = 0; i < 3; ++i) {
        pBox->click();
        std::uint32_t dwValue = 99;
        MX8RegGetValue(&dwValue, "ShowStay");
        values.push_back(dwValue);
      }
      notice.accept();
      dialog.EndProgram();
    });
  });
  EXPECT_EQ(values, (std::vector<std::uint32_t>{0, 1, 0}));
}

TEST_F(MainDialogTest, ASilentStartNeverShowsTheNotice) {
  MX8RegSetValue(1, "ShowStay");
  CMainDialog dialog(true, m_config);
  bool blSawModal = false;
  RunWith(dialog, [&] {
    // After the loop has run once more: a notice would be open by then.
    QTimer::singleShot(0, &dialog, [&] {
      blSawModal = dialog.ModalDialog() != nullptr;
      dialog.EndProgram();
    });
  });
  EXPECT_FALSE(blSawModal);
}

TEST_F(MainDialogTest, StayAtStartupShowsTheSettingInBothMenusAndWritesWhatItShows) {
  MX8RegSetValue(1, "Startup");
  CMainDialog dialog(true, m_config);
  const QString sStay = QStringLiteral("S&tay when the system begins");
  std::vector<std::uint32_t> values;
  std::vector<bool> marks;
  auto startup = [] {
    std::uint32_t dwValue = 99;
    MX8RegGetValue(&dwValue, "Startup");
    return dwValue;
  };
  RunWith(dialog, [&] {
    dialog.OnSet();
    QMenu& window = OpenWindowMenu(dialog);
    marks.push_back(ItemOf(window, sStay)->isChecked());  // as the setting: 1
    Choose(window, sStay);
    values.push_back(startup());
    marks.push_back(ItemOf(OpenWindowMenu(dialog), sStay)->isChecked());
    dialog.WindowMenu().close();
    QMenu& tray = OpenTrayMenu(dialog);
    marks.push_back(ItemOf(tray, sStay)->isChecked());
    Choose(tray, sStay);
    values.push_back(startup());
    marks.push_back(ItemOf(OpenWindowMenu(dialog), sStay)->isChecked());
    dialog.WindowMenu().close();

    // Off again, then "Set to default": on, and shown so at once.
    Choose(OpenWindowMenu(dialog), sStay);
    values.push_back(startup());
    WhenModal(dialog, [&](QDialog& question) {
      QTest::mouseClick(dynamic_cast<QMessageBox&>(question).button(QMessageBox::Ok), Qt::LeftButton);
    });
    Choose(OpenWindowMenu(dialog), QStringLiteral("Set to &default"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return startup() == 1; }, 5000));
    values.push_back(startup());
    marks.push_back(ItemOf(OpenWindowMenu(dialog), sStay)->isChecked());
    dialog.WindowMenu().close();
    dialog.EndProgram();
  });
  EXPECT_EQ(values, (std::vector<std::uint32_t>{0, 1, 0, 1}));
  EXPECT_EQ(marks, (std::vector<bool>{true, false, false, true, true}));
}

TEST_F(MainDialogTest, PostedMessagesArriveInOrderOnTheWindowThread) {
  LogCapture log;
  std::string windowThreadLines;
  std::string workerThreadLines = "unset";
  std::size_t nBefore = 0;
  {
    CMainDialog dialog(false, m_config);
    int nResult = RunWith(dialog, [&] {
      nBefore = log.Text().size();
      std::thread worker([&] {
        dialog.Post(1100, 0, 0);
        dialog.Post(1101, 2, -1);
        dialog.Post(1102, 7, 0);
        workerThreadLines = log.Text().substr(nBefore);  // the window thread waits in join()
      });
      worker.join();
      // Queued after the worker's three, so it runs after them.
      QTimer::singleShot(0, &dialog, [&] {
        windowThreadLines = log.Text().substr(nBefore);
        dialog.EndProgram();
      });
    });
    EXPECT_EQ(nResult, QDialog::Accepted);
  }
  EXPECT_EQ(workerThreadLines, "");
  EXPECT_EQ(windowThreadLines,
            "CMainDialog: message 1100 (0, 0) not handled\r\n"
            "CMainDialog: message 1101 (2, -1) not handled\r\n"
            "CMainDialog: message 1102 (7, 0) not handled\r\n");
  EXPECT_TRUE(log.Text().ends_with("CMainDialog: destroyed\r\n"));
}

TEST_F(MainDialogTest, TheControllerIsConnectedAtStartAndItsBitsAreOffAtTheEnd) {
  const std::string sPath = m_backend.AddController();
  LogCapture log;
  {
    CMainDialog dialog(true, m_config);
    RunWith(dialog, [&] {
      EXPECT_TRUE(dialog.Core().Connected());
      dialog.EndProgram();
    });
  }
  EXPECT_NE(log.Text().find("Controller connected!\r\n"), std::string::npos);
  const auto reports = m_backend.FeatureReports(sPath);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back(), (std::vector<std::uint8_t>{3, 0}));
}

// The settings window's edits on the default table, saved into a data file of the test's.
class SettingsWindowTest : public MainDialogTest {
 protected:
  SettingsWindowTest() { m_config.dataFile = m_dir / "ORB.DAT"; }

  // Label of programmable button nButton (0-4) in record nRecord of the data file.
  std::string SavedLabel(int nRecord, int nButton) {
    const std::string bytes = test::ReadFileText(m_config.dataFile);
    const std::size_t nAt = static_cast<std::size_t>(nRecord) * sizeof(ProfileRecord) + offsetof(ProfileRecord, entries) +
                            static_cast<std::size_t>(nButton) * sizeof(ControlEntry) + offsetof(ControlEntry, deck);
    return bytes.size() < nAt + 32 ? "(no record)" : std::string(bytes.c_str() + nAt);
  }
  static void EditLabel(CMainDialog& dialog, int nApplication, std::uint32_t nCode, const char* pText) {
    dialog.KeyPanel().SelectApplicationIndex(nApplication);
    dialog.KeyPanel().SelectControl(nCode);
    dialog.KeyPanel().LabelBox().setText(QString::fromUtf8(pText));
  }
  static const char* EditedLabel(CMainDialog& dialog, int nRecord, int nButton) {
    return dialog.Core().Store().EditProfiles()[nRecord].entries[nButton].deck.szLabel;
  }

  test::TempDir m_dir;
};

TEST_F(SettingsWindowTest, CancelThrowsAwayEditsInEveryApplicationAndOkSavesThemAll) {
  CMainDialog dialog(true, m_config);
  RunWith(dialog, [&] {
    ASSERT_GE(dialog.Core().Store().ComSet(), 2u);
    const std::string sFirstBefore = EditedLabel(dialog, 0, 0);
    dialog.OnSet();
    EXPECT_FALSE(dialog.ApplyButton().isEnabled()) << "nothing edited yet";
    EditLabel(dialog, 0, 601, "One");
    EditLabel(dialog, 1, 603, "Three");
    EXPECT_TRUE(dialog.ApplyButton().isEnabled());

    dialog.reject();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(EditedLabel(dialog, 0, 0), sFirstBefore);
    EXPECT_STRNE(EditedLabel(dialog, 1, 2), "Three");
    EXPECT_FALSE(dialog.ApplyButton().isEnabled());
    EXPECT_EQ(dialog.KeyPanel().ApplicationList().currentIndex(), 0);
    EXPECT_EQ(dialog.KeyPanel().SelectedControl(), 0u);

    dialog.OnSet();
    EditLabel(dialog, 0, 601, "One");
    EditLabel(dialog, 1, 603, "Three");
    dialog.accept();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(SavedLabel(0, 0), "One");
    EXPECT_EQ(SavedLabel(1, 2), "Three");
    // Live at once: the engine reads the live table.
    EXPECT_STREQ(dialog.Core().Store().Profiles()[1].entries[2].deck.szLabel, "Three");
    dialog.EndProgram();
  });
}

// The window's controls cost memory for the whole hidden life of the program, so they are
// made at the first show; what the core told the window before then must be there.
TEST_F(SettingsWindowTest, TheControlsAreMadeAtTheFirstShowWithWhatTheCoreChoseMeanwhile) {
  constexpr int kEditorPid = 4242;
  std::string sExe;
  m_config.getAppInfo = [&sExe](int nPid, platform::AppInfo* pInfo) {
    if (nPid != kEditorPid) return false;
    pInfo->sExeName = sExe;
    return true;
  };
  CMainDialog dialog(true, m_config);
  RunWith(dialog, [&] {
    EXPECT_FALSE(dialog.HasControls());
    EXPECT_EQ(dialog.findChild<QComboBox*>(), nullptr);
    EXPECT_EQ(dialog.findChild<CControllerPicture*>(), nullptr);
    // A record past the first, so that the list's own start does not pass for the choice.
    const ProfileRecord* pTable = dialog.Core().Store().Profiles();
    ASSERT_NE(pTable, nullptr);
    std::uint32_t nChosen = 0;
    for (std::uint32_t i = 2; i < dialog.Core().Store().ComSet() && nChosen == 0; ++i) {
      if ((LoadProfileFlags(pTable[i]) & PF_FALLBACK) == 0 && FieldText(pTable[i].szExeName) != "") nChosen = i;
    }
    ASSERT_NE(nChosen, 0u);
    sExe = std::string(FieldText(pTable[nChosen].szExeName));

    dialog.Core().CheckForegroundWindow(77, kEditorPid, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Core().CurrentProfile() == &pTable[nChosen]; }, 5000));
    dialog.Core().SetModified(true);
    dialog.Post(WM_SELECTCONTROL, 0, 0);
    QCoreApplication::sendPostedEvents(&dialog);
    EXPECT_FALSE(dialog.HasControls()) << "the choice of profile or of no control made the controls";

    dialog.OnSet();
    ASSERT_TRUE(dialog.HasControls());
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.KeyPanel().ApplicationList().currentIndex(), static_cast<int>(nChosen));
    EXPECT_EQ(dialog.KeyPanel().SelectedProfile(), &dialog.Core().Store().EditProfiles()[nChosen]);
    EXPECT_TRUE(dialog.ApplyButton().isEnabled());
    // Centred with the size it has once laid out, not the size of an empty window.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(dialog.pos(), QPoint(area.x() + (area.width() - dialog.width()) / 2,
                                   area.y() + (area.height() - dialog.height()) / 2));
    EXPECT_GT(dialog.width(), dialog.Picture().width()) << "laid out before it was placed";
    dialog.EndProgram();
  });
}

TEST_F(SettingsWindowTest, ApplySavesAndKeepsTheWindowAsItIs) {
  CMainDialog dialog(true, m_config);
  RunWith(dialog, [&] {
    dialog.OnSet();
    EditLabel(dialog, 1, 602, "Two");
    QTest::mouseClick(&dialog.ApplyButton(), Qt::LeftButton);
    EXPECT_EQ(SavedLabel(1, 1), "Two");
    EXPECT_FALSE(dialog.ApplyButton().isEnabled());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.KeyPanel().ApplicationList().currentIndex(), 1);
    EXPECT_EQ(dialog.KeyPanel().SelectedControl(), 602u);
    dialog.EndProgram();
  });
}

TEST_F(SettingsWindowTest, ASaveThatCannotWriteTheFileSaysSoAndOkKeepsTheWindowOpen) {
  m_config.dataFile = m_dir / "missing-folder" / "ORB.DAT";
  CMainDialog dialog(true, m_config);
  std::string sMessage;
  RunWith(dialog, [&] {
    dialog.OnSet();
    EditLabel(dialog, 0, 601, "One");
    WhenModal(dialog, [&](QDialog& box) {
      sMessage = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->text().toStdString();
      box.accept();
    });
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    dialog.EndProgram();
  });
  EXPECT_NE(sMessage.find("could not be saved"), std::string::npos) << sMessage;
  EXPECT_NE(sMessage.find("missing-folder"), std::string::npos) << sMessage;
}

TEST_F(SettingsWindowTest, TheWindowOpensOnTheApplicationListAndTabFollowsTheLayout) {
  CMainDialog dialog(true, m_config);
  RunWith(dialog, [&] {
    dialog.OnSet();
    CKeyPanel& panel = dialog.KeyPanel();
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == &panel.ApplicationList(); }));

    // Every control enabled: a button chosen, its label edited, a stroke's row selected.
    EditLabel(dialog, 0, 601, "Tab order");
    panel.KeyList().setFocus();
    panel.KeyList().setCurrentRow(0);
    ASSERT_TRUE(panel.PauseButton().isEnabled());
    ASSERT_TRUE(dialog.ApplyButton().isEnabled());

    QList<QWidget*> expected{&panel.ApplicationList(), &panel.LabelBox(), &panel.KeyList()};
    for (int i = 0; i < 3; ++i) expected << &panel.ModifierButton(i);
    // Enter, Tab and Esc are one stop, as a radio group is; the arrows move in it.
    expected << &panel.FixedKeyButton(0);
    expected << &panel.PauseButton() << &panel.ClearButton() << &dialog.Speeds().JogSlider();
    if (dialog.Speeds().ShuttleSlider().isVisible()) expected << &dialog.Speeds().ShuttleSlider();
    expected << dialog.findChild<QWidget*>(QStringLiteral("Control1"))
             << dialog.findChild<QWidget*>(QStringLiteral("Control2")) << &dialog.ApplyButton();
    for (int k = 0; k < 5; ++k) expected << &dialog.Picture().ProgramButton(k);
    expected << &panel.ApplicationList();

    panel.ApplicationList().setFocus();
    QList<QWidget*> visited;
    QStringList names;
    for (qsizetype i = 0; i < expected.size(); ++i) {
      QWidget* pFocus = QApplication::focusWidget();
      visited << pFocus;
      names << (pFocus != nullptr ? pFocus->objectName() : QStringLiteral("(none)"));
      QTest::keyClick(pFocus != nullptr ? pFocus : &dialog, Qt::Key_Tab);
    }
    EXPECT_EQ(visited, expected) << names.join(' ').toStdString();

    // Hidden by OK and opened again: on the application list once more.
    dialog.Picture().ProgramButton(2).setFocus();
    dialog.accept();
    dialog.OnSet();
    // The one the window gives the focus to when it becomes active (offscreen does not
    // make it active again).
    EXPECT_EQ(dialog.focusWidget(), &panel.ApplicationList());
    dialog.EndProgram();
  });
}

TEST_F(SettingsWindowTest, TheControllersProgrammableButtonsChooseThemselvesWhileTheWindowIsInFront) {
  CMainDialog dialog(true, m_config);
  RunWith(dialog, [&] {
    dialog.Post(WM_SELECTCONTROL, 0, 0);  // a button without a control: nothing to clear yet
    dialog.Post(WM_SELECTCONTROL, 603, 0);
    QTimer::singleShot(0, &dialog, [&] {
      EXPECT_TRUE(dialog.HasControls()) << "the choice of a programmable button was dropped";
      EXPECT_EQ(dialog.KeyPanel().SelectedControl(), 603u);
      EXPECT_TRUE(dialog.KeyPanel().LabelBox().isEnabled());
      dialog.Post(WM_SELECTCONTROL, 606, 0);  // DECK/FILE: chooses nothing
      QTimer::singleShot(0, &dialog, [&] {
        EXPECT_FALSE(dialog.KeyPanel().LabelBox().isEnabled());
        dialog.EndProgram();
      });
    });
  });
}

TEST_F(SettingsWindowTest, WhenTheEditorChangesTheTableUnappliedEditsGoWithAWordAndApplyFollows) {
  test::TempDir runtime;
  test::ScopedEnv env("XDG_RUNTIME_DIR", runtime.Path().c_str());
  CMainDialog dialog(true, m_config);
  std::string sMessage;
  RunWith(dialog, [&] {
    std::string sProgram;
    auto pEditor = OpenEditor(runtime, &sProgram);
    ASSERT_NE(pEditor, nullptr) << "the window has no link endpoint";
    dialog.OnSet();
    EditLabel(dialog, 0, 601, "Mine");
    ASSERT_TRUE(dialog.ApplyButton().isEnabled());
    WhenModal(dialog, [&](QDialog& box) {
      sMessage = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->text().toStdString();
      box.accept();
    });
    ASSERT_TRUE(pEditor->Post(sProgram, platform::LINK_UPDATE));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sMessage.empty(); }, 5000)) << "nothing said";
    EXPECT_FALSE(dialog.ApplyButton().isEnabled());
    EXPECT_STRNE(EditedLabel(dialog, 0, 0), "Mine");
    EXPECT_NE(dialog.KeyPanel().LabelField(0).text(), "Mine");
    // Without edits the editor's changes come in silently.
    sMessage.clear();
    ASSERT_TRUE(pEditor->Post(sProgram, platform::LINK_UPDATE));
    QTest::qWait(200);
    EXPECT_EQ(dialog.ModalDialog(), nullptr);
    dialog.EndProgram();
  });
  EXPECT_EQ(sMessage, "");
}

TEST_F(SettingsWindowTest, WithNoTableOkSimplyHidesTheWindow) {
  test::TempDir runtime;
  test::ScopedEnv env("XDG_RUNTIME_DIR", runtime.Path().c_str());
  CMainDialog dialog(true, m_config);
  bool blBoxShown = false;
  bool blShownAfterOk = true;
  RunWith(dialog, [&] {
    std::string sProgram;
    auto pEditor = OpenEditor(runtime, &sProgram);
    ASSERT_NE(pEditor, nullptr) << "the window has no link endpoint";
    // The editor takes the table.
    ASSERT_TRUE(pEditor->Post(sProgram, platform::LINK_DESTROY_MEMORY));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Core().Store().Profiles() == nullptr; }, 5000));
    dialog.OnSet();
    WhenModal(dialog, [&](QDialog& box) {
      blBoxShown = true;
      box.reject();
    });
    auto* pOk = dialog.findChild<QPushButton*>(QStringLiteral("Control1"), Qt::FindDirectChildrenOnly);
    ASSERT_NE(pOk, nullptr);
    QTest::mouseClick(pOk, Qt::LeftButton);
    blShownAfterOk = dialog.isVisible();
    dialog.EndProgram();
  });
  EXPECT_FALSE(blBoxShown);
  EXPECT_FALSE(blShownAfterOk);
}

TEST_F(MainDialogTest, WhileAnEditorHoldsTheLinkTheTrayIconTakesNoClicks) {
  test::TempDir runtime;
  test::ScopedEnv env("XDG_RUNTIME_DIR", runtime.Path().c_str());
  CMainDialog dialog(true, m_config);
  QSignalSpy shows(&dialog.TrayIcon(), &CTrayIcon::ShowWindowRequested);
  RunWith(dialog, [&] {
    auto pEditor = platform::CLinkEndpoint::Open((runtime.Path() / "orb-link").string());
    ASSERT_NE(pEditor, nullptr);
    std::string sProgram;
    for (const std::string& sEndpoint : pEditor->EndpointsOfProcess(::getpid())) {
      if (sEndpoint != pEditor->Path()) sProgram = sEndpoint;
    }
    ASSERT_FALSE(sProgram.empty()) << "the window has no link endpoint";
    // A command without a meaning names the editor, and from then on the icon is dead.
    ASSERT_TRUE(pEditor->Post(sProgram, 7));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Core().EditorWindow() == pEditor->Path(); }, 5000));
    dialog.TrayIcon().OnActivated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(shows.count(), 0);
    // The editor's end gives the icon back.
    ASSERT_TRUE(pEditor->Post(sProgram, platform::LINK_END_APPLICATION));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Core().EditorWindow().empty(); }, 5000));
    dialog.TrayIcon().OnActivated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(shows.count(), 1);
    dialog.EndProgram();
  });
}

TEST(AboutDialog, TheVersionLineRunsMinorAndBuildTogether) {
  EXPECT_EQ(FormatVersionLine("SpinPad TK-4 Version", 1, 1, 4), "SpinPad TK-4 Version 1.14");
  EXPECT_EQ(FormatVersionLine("SpinPad TK-4 Version", 2, 3, 12), "SpinPad TK-4 Version 2.312");
  EXPECT_EQ(ProgramVersionLine(UiLanguage::Japanese), "SpinPad TK-4 Version 1.14");
}

}  // namespace
}  // namespace orb
