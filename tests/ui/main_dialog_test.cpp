#include "ui/main_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include "base/log_capture.h"
#include "base/write_log.h"

namespace {

using orb::CMainDialog;
using orb::test::LogCapture;

constexpr int kGuardMs = 20000;  // a loop that never ends fails the test instead of hanging it
constexpr int kGuardResult = -7;

// Runs the window like the application object does, with `during` called from its loop.
int RunWith(CMainDialog& dialog, const std::function<void()>& during) {
  QTimer::singleShot(0, &dialog, during);
  QTimer::singleShot(kGuardMs, &dialog, [&] { dialog.done(kGuardResult); });
  return dialog.RunModal();
}

TEST(MainDialog, RunsHiddenUntilEndProgram) {
  CMainDialog dialog(true);
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

TEST(MainDialog, CancelAndHidingDoNotEndTheProgram) {
  CMainDialog dialog(false);
  bool blStillRunning = false;
  const int nResult = RunWith(dialog, [&] {
    dialog.reject();
    dialog.hide();
    QTimer::singleShot(0, &dialog, [&] {
      blStillRunning = true;
      dialog.EndProgram();
    });
  });
  EXPECT_TRUE(blStillRunning);
  EXPECT_EQ(nResult, QDialog::Accepted);
}

TEST(MainDialog, EndProgramClosesTheDialogOpenOverTheWindow) {
  CMainDialog dialog(false);
  int nInnerResult = kGuardResult;
  const int nResult = RunWith(dialog, [&] {
    QDialog about(&dialog);
    QTimer::singleShot(0, &dialog, [&] { dialog.EndProgram(); });
    nInnerResult = about.exec();
  });
  EXPECT_EQ(nInnerResult, QDialog::Rejected);
  EXPECT_EQ(nResult, QDialog::Accepted);
}

TEST(MainDialog, PostedMessagesArriveInOrderOnTheWindowThread) {
  LogCapture log;
  std::string windowThreadLines;
  std::string workerThreadLines = "unset";
  {
    CMainDialog dialog(false);
    int nResult = RunWith(dialog, [&] {
      std::thread worker([&] {
        dialog.Post(1036, 0, 0);
        dialog.Post(1035, 2, -1);
        dialog.Post(1039, 7, 0);
        workerThreadLines = log.Text();  // the window thread waits in join(): nothing ran yet
      });
      worker.join();
      // Queued after the worker's three, so it runs after them.
      QTimer::singleShot(0, &dialog, [&] {
        windowThreadLines = log.Text();
        dialog.EndProgram();
      });
    });
    EXPECT_EQ(nResult, QDialog::Accepted);
  }
  EXPECT_EQ(workerThreadLines, "");
  EXPECT_EQ(windowThreadLines,
            "CMainDialog: message 1036 (0, 0) not handled\r\n"
            "CMainDialog: message 1035 (2, -1) not handled\r\n"
            "CMainDialog: message 1039 (7, 0) not handled\r\n");
  EXPECT_TRUE(log.Text().ends_with("CMainDialog: destroyed\r\n"));
}

}  // namespace
