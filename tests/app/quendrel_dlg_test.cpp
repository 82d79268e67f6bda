#include "app/quendrel_dlg.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "player/messages.h"
#include "tests/support/test_support.h"

namespace {

using Dlg = CQuendrelDlg;

// Makes the context as StartPlayback does but starts no reader, so the flags and the seek
// request stay exactly as the dialog left them.
void StartIdle(std::unique_ptr<PlaybackContext>& current, const std::string& path,
               platform::Window* videoWindow, platform::Window* notifyWindow) {
  DestroyPlaybackContext(current);
  current = CreatePlaybackContext(path);
  current->videoWindow = videoWindow;
  current->notifyWindow = notifyWindow;
}

void ProcessPosted() {
  QCoreApplication::processEvents();
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dlg.SetPlaybackStarter(StartIdle);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
  }

  QSlider* Slider() const { return static_cast<QSlider*>(dlg.GetDlgItem(Dlg::IDC_PROGRESS)); }
  QPushButton* Button(int id) const { return static_cast<QPushButton*>(dlg.GetDlgItem(id)); }

  void Open(const std::string& path) {
    dlg.SetFileChooser([path](QWidget*) { return path; });
    dlg.GetMenuCommand(Dlg::ID_MENU_OPEN)->trigger();
  }

  // Posts as the current context's reader or player would, and lets the dialog handle it.
  void Post(uint32_t message, uint64_t wParam) {
    ASSERT_NE(nullptr, dlg.CurrentContext());
    dlg.CurrentContext()->notifyWindow->PostMessage(message, wParam, 0);
    ProcessPosted();
  }

  // Where a point of the slider's groove or handle is, as the slider's own style says.
  QRect HandleRect() const {
    QSlider* slider = Slider();
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.subControls = QStyle::SC_All;
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->sliderPosition();
    option.sliderValue = slider->value();
    option.singleStep = slider->singleStep();
    option.pageStep = slider->pageStep();
    option.tickPosition = slider->tickPosition();
    return slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle,
                                           slider);
  }

  void Mouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QSlider* slider = Slider();
    QMouseEvent event(type, QPointF(at), QPointF(slider->mapToGlobal(at)), button, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(slider, &event);
  }

  void ReleaseOnSlider(QPoint at) {
    Mouse(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
  }

  Dlg dlg;
};

struct ButtonCase {
  const char* name;
  int id;
  int32_t paused;
  int32_t fast;
};

class ButtonTest : public DialogTest, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(ButtonTest, SetsPausedAndFastOfTheCurrentContext) {
  // Without a context the click must be harmless.
  QTest::mouseClick(Button(GetParam().id), Qt::LeftButton);
  Open("a.h264");
  for (int32_t before : {0, 1}) {
    dlg.CurrentContext()->paused = before;
    dlg.CurrentContext()->fast = before;
    QTest::mouseClick(Button(GetParam().id), Qt::LeftButton);
    EXPECT_EQ(GetParam().paused, dlg.CurrentContext()->paused.load()) << "from " << before;
    EXPECT_EQ(GetParam().fast, dlg.CurrentContext()->fast.load()) << "from " << before;
  }
  EXPECT_EQ(0, dlg.CurrentContext()->seekRequested.load());
}

INSTANTIATE_TEST_SUITE_P(Buttons, ButtonTest,
                         ::testing::Values(ButtonCase{"Play", Dlg::IDC_PLAY, 0, 0},
                                           ButtonCase{"Pause", Dlg::IDC_PAUSE, 1, 0},
                                           ButtonCase{"Fast", Dlg::IDC_FAST, 0, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialogTest, DraggingTheThumbHoldsOffProgressAndTheReleaseSeeksWhereItStopped) {
  Open("a.h264");
  Post(WM_PLAYER_FILESIZE, 1000);
  Post(WM_PLAYER_POSITION, 100);
  ASSERT_EQ(100, Slider()->value());

  const QPoint grab = HandleRect().center();
  const QPoint drop(Slider()->width() * 3 / 4, grab.y());
  Mouse(QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
  Mouse(QEvent::MouseMove, drop, Qt::NoButton, Qt::LeftButton);
  EXPECT_TRUE(dlg.IsDragging());
  const int dragged = Slider()->value();
  EXPECT_GT(dragged, 500);
  EXPECT_LT(dragged, 1000);

  // Progress from the reader must not pull the thumb out of the user's hand.
  Post(WM_PLAYER_POSITION, 150);
  EXPECT_EQ(dragged, Slider()->value());
  EXPECT_EQ(0, dlg.CurrentContext()->seekRequested.load());

  ReleaseOnSlider(drop);
  EXPECT_FALSE(dlg.IsDragging());
  EXPECT_EQ(1, dlg.CurrentContext()->seekRequested.load());
  EXPECT_EQ(Slider()->value(), dlg.CurrentContext()->seekTarget.load());
  EXPECT_EQ(dragged, dlg.CurrentContext()->seekTarget.load());

  // Once released, progress moves the thumb again.
  Post(WM_PLAYER_POSITION, 820);
  EXPECT_EQ(820, Slider()->value());
}

TEST_F(DialogTest, AClickInTheGrooveMovesOnePageAndTheReleaseSeeksThere) {
  Open("a.h264");
  Post(WM_PLAYER_FILESIZE, 1000);
  Post(WM_PLAYER_POSITION, 0);

  const QPoint groove(Slider()->width() * 4 / 5, HandleRect().center().y());
  Mouse(QEvent::MouseButtonPress, groove, Qt::LeftButton, Qt::LeftButton);
  EXPECT_TRUE(dlg.IsDragging());
  EXPECT_EQ(200, Slider()->value());  // a page is a fifth of the file
  ReleaseOnSlider(groove);

  EXPECT_FALSE(dlg.IsDragging());
  EXPECT_EQ(1, dlg.CurrentContext()->seekRequested.load());
  EXPECT_EQ(200, dlg.CurrentContext()->seekTarget.load());
}

struct KeyboardCase {
  const char* name;
  Qt::Key key;  // Qt::Key_unknown: the wheel instead
  int expectedValue;
};

class SliderKeyboardTest : public DialogTest, public ::testing::WithParamInterface<KeyboardCase> {};

TEST_P(SliderKeyboardTest, SetsDraggingWithoutASeekUntilTheNextMouseRelease) {
  Open("a.h264");
  Post(WM_PLAYER_FILESIZE, 1000);
  Post(WM_PLAYER_POSITION, 500);

  if (GetParam().key == Qt::Key_unknown) {
    const QPoint at = HandleRect().center();
    QWheelEvent wheel(QPointF(at), QPointF(Slider()->mapToGlobal(at)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(Slider(), &wheel);
  } else {
    QKeyEvent press(QEvent::KeyPress, GetParam().key, Qt::NoModifier);
    QCoreApplication::sendEvent(Slider(), &press);
  }
  EXPECT_TRUE(dlg.IsDragging());
  EXPECT_EQ(GetParam().expectedValue, Slider()->value());
  EXPECT_EQ(0, dlg.CurrentContext()->seekRequested.load());

  Post(WM_PLAYER_POSITION, 600);
  EXPECT_EQ(GetParam().expectedValue, Slider()->value());
  EXPECT_EQ(0, dlg.CurrentContext()->seekRequested.load());

  ReleaseOnSlider(HandleRect().center());
  EXPECT_FALSE(dlg.IsDragging());
  EXPECT_EQ(1, dlg.CurrentContext()->seekRequested.load());
  EXPECT_EQ(GetParam().expectedValue, dlg.CurrentContext()->seekTarget.load());
}

INSTANTIATE_TEST_SUITE_P(Inputs, SliderKeyboardTest,
                         ::testing::Values(KeyboardCase{"Right", Qt::Key_Right, 501},
                                           KeyboardCase{"PageUp", Qt::Key_PageUp, 700},
                                           KeyboardCase{"End", Qt::Key_End, 1000},
                                           KeyboardCase{"Home", Qt::Key_Home, 0},
                                           KeyboardCase{"Wheel", Qt::Key_unknown, 497}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialogTest, AReleaseWithoutAContextOnlyEndsTheDrag) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
  QCoreApplication::sendEvent(Slider(), &press);
  ASSERT_TRUE(dlg.IsDragging());
  ReleaseOnSlider(HandleRect().center());
  EXPECT_FALSE(dlg.IsDragging());
  EXPECT_EQ(nullptr, dlg.CurrentContext());
}

struct FileLengthCase {
  uint64_t fileLength;
};

class LargeFileTest : public DialogTest, public ::testing::WithParamInterface<FileLengthCase> {};

// Lengths past the slider's int range still show the right share of the file and seek to the
// right byte, to within the bytes one slider step stands for.
TEST_P(LargeFileTest, TheSliderStandsForTheWholeFile) {
  const uint64_t length = GetParam().fileLength;
  Open("big.h264");
  Post(WM_PLAYER_FILESIZE, length);
  ASSERT_GT(Slider()->maximum(), 0);
  const uint64_t bytesPerStep = (length + Slider()->maximum() - 1) / Slider()->maximum();

  Post(WM_PLAYER_POSITION, length / 4);
  const double shown = static_cast<double>(Slider()->value()) / Slider()->maximum();
  EXPECT_NEAR(0.25, shown, 1e-6);

  for (const Qt::Key key : {Qt::Key_End, Qt::Key_Home, Qt::Key_PageUp}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(Slider(), &press);
    ReleaseOnSlider(HandleRect().center());
    const int64_t target = dlg.CurrentContext()->seekTarget.load();
    const double wanted = static_cast<double>(length) * Slider()->value() / Slider()->maximum();
    EXPECT_GE(target, 0);
    EXPECT_LE(static_cast<uint64_t>(target), length);
    EXPECT_NEAR(wanted, static_cast<double>(target), static_cast<double>(bytesPerStep))
        << "after key " << key;
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, LargeFileTest,
                         ::testing::Values(FileLengthCase{1000}, FileLengthCase{2147483647ull},
                                           FileLengthCase{2147483648ull},
                                           FileLengthCase{6442450944ull},
                                           FileLengthCase{1099511627776ull}),
                         [](const auto& info) {
                           return "Bytes" + std::to_string(info.param.fileLength);
                         });

struct SizeCase {
  uint64_t sizeClass;
  int outerWidth;
  int outerHeight;
};

class VideoSizeTest : public DialogTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(VideoSizeTest, GivesTheOuterSizeCentresTheWindowAndLaysOutBelowTheMenu) {
  Open("a.h264");
  Post(WM_PLAYER_VIDEOSIZE, GetParam().sizeClass);

  const QRect outer = dlg.frameGeometry();
  EXPECT_EQ(QSize(GetParam().outerWidth, GetParam().outerHeight), outer.size());

  const QRect area = dlg.screen()->availableGeometry();
  // Centred in the work area, or at its top-left corner when the window does not fit.
  const int x = outer.width() <= area.width() ? area.left() + (area.width() - outer.width()) / 2
                                              : area.left();
  const int y = outer.height() <= area.height() ? area.top() + (area.height() - outer.height()) / 2
                                                : area.top();
  EXPECT_EQ(QPoint(x, y), outer.topLeft());

  const int top = dlg.findChild<QMenuBar*>()->geometry().bottom() + 1;
  ASSERT_GT(top, 0);
  const int width = dlg.width();
  const int bottom = dlg.height() - top;
  EXPECT_EQ(QRect(0, top, width, bottom - 60), dlg.VideoWindow()->geometry());
  EXPECT_EQ(top + bottom - 60, Slider()->y());
  EXPECT_EQ(width, Slider()->width());
  EXPECT_EQ(QRect(width / 2 - 152, top + bottom - 30, 70, 25), Button(Dlg::IDC_PLAY)->geometry());
  EXPECT_EQ(QRect(width / 2 + 82, top + bottom - 30, 70, 25), Button(Dlg::IDC_STOP)->geometry());
}

INSTANTIATE_TEST_SUITE_P(Classes, VideoSizeTest,
                         ::testing::Values(SizeCase{0, 320, 240}, SizeCase{1, 640, 480},
                                           SizeCase{2, 1280, 720}, SizeCase{7, 1280, 720}),
                         [](const auto& info) {
                           return "Class" + std::to_string(info.param.sizeClass);
                         });

TEST_F(DialogTest, StopDropsTheContextResetsTheSliderAndBlacksOutTheVideo) {
  Open("a.h264");
  Post(WM_PLAYER_FILESIZE, 1000);
  Post(WM_PLAYER_POSITION, 640);
  const uint32_t pixel = 0x00FF8000;
  const platform::PixelView picture{reinterpret_cast<const uint8_t*>(&pixel), 4, 1, 1,
                                    platform::PixelFormat::Rgb32};
  const platform::Rect client = dlg.VideoWindow()->GetClientRect();
  dlg.VideoWindow()->Present(picture, platform::Rect{0, 0, 1, 1}, client, client);
  ASSERT_FALSE(dlg.VideoWindow()->CurrentPicture().isNull());

  QTest::mouseClick(Button(Dlg::IDC_STOP), Qt::LeftButton);
  EXPECT_EQ(nullptr, dlg.CurrentContext());
  EXPECT_EQ(0, Slider()->value());
  EXPECT_EQ(1000, Slider()->maximum());
  EXPECT_TRUE(dlg.VideoWindow()->CurrentPicture().isNull());
}

TEST_F(DialogTest, ACancelledOpenKeepsTheCurrentFile) {
  Open("a.h264");
  Post(WM_PLAYER_FILESIZE, 1000);
  Post(WM_PLAYER_POSITION, 300);
  PlaybackContext* before = dlg.CurrentContext();
  before->paused = 1;

  Open("");
  EXPECT_EQ(before, dlg.CurrentContext());
  EXPECT_EQ("a.h264", dlg.CurrentContext()->path);
  EXPECT_EQ(1, dlg.CurrentContext()->paused.load());
  EXPECT_EQ(300, Slider()->value());
  Post(WM_PLAYER_POSITION, 400);
  EXPECT_EQ(400, Slider()->value());
}

TEST(QuendrelDlgOpen, TheOpenDialogOffersTheThreeRecordingPatternsAndPlaysTheChoice) {
  Dlg dlg;
  dlg.SetPlaybackStarter(StartIdle);
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
  const std::string recording = testsupport::SourcePath("tests/data/h264_320x240.h264");

  QStringList filters;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* chooser = dlg.findChild<QFileDialog*>();
    if (chooser == nullptr || !chooser->isVisible()) return;
    filters = chooser->nameFilters();
    // selectFile leaves the name field alone while it has the focus.
    if (QWidget* focused = chooser->focusWidget()) focused->clearFocus();
    chooser->selectFile(QString::fromStdString(recording));
    // Accepting a dialog that did not take the file would wait for ever; give up instead.
    QMetaObject::invokeMethod(chooser, chooser->selectedFiles().isEmpty() ? "reject" : "accept");
  });
  poll.start(10);
  dlg.GetMenuCommand(Dlg::ID_MENU_OPEN)->trigger();
  poll.stop();

  EXPECT_EQ((QStringList{"(*.h260)", "(*.h264)", "(*.264)"}), filters);
  ASSERT_NE(nullptr, dlg.CurrentContext());
  EXPECT_EQ(recording, dlg.CurrentContext()->path);
}

// Progress that the old reader posted before it was joined must not move the slider once
// Stop or Open has taken its file away.
TEST_F(DialogTest, ProgressFromAStoppedOrReplacedReaderIsDropped) {
  for (const bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "Open" : "Stop");
    Open("a.h264");
    Post(WM_PLAYER_FILESIZE, 1000);
    Post(WM_PLAYER_POSITION, 100);
    dlg.CurrentContext()->notifyWindow->PostMessage(WM_PLAYER_POSITION, 700, 0);
    if (replace) {
      Open("b.h264");
      EXPECT_EQ("b.h264", dlg.CurrentContext()->path);
    } else {
      QTest::mouseClick(Button(Dlg::IDC_STOP), Qt::LeftButton);
    }
    ProcessPosted();
    EXPECT_EQ(replace ? 100 : 0, Slider()->value());
    if (replace) {
      Post(WM_PLAYER_POSITION, 300);
      EXPECT_EQ(300, Slider()->value());
    }
  }
}

TEST_F(DialogTest, EnterNeitherClicksAButtonNorEndsTheDialog) {
  Open("a.h264");
  dlg.CurrentContext()->paused = 1;
  dlg.CurrentContext()->fast = 1;
  for (int id : {Dlg::IDC_PLAY, Dlg::IDC_PAUSE, Dlg::IDC_FAST, Dlg::IDC_STOP}) {
    Button(id)->setFocus();
    QTest::keyClick(Button(id), Qt::Key_Return);
    QTest::keyClick(Button(id), Qt::Key_Enter, Qt::KeypadModifier);
  }
  QTest::keyClick(&dlg, Qt::Key_Return);
  ProcessPosted();
  EXPECT_TRUE(dlg.isVisible());
  ASSERT_NE(nullptr, dlg.CurrentContext());
  EXPECT_EQ(1, dlg.CurrentContext()->paused.load());
  EXPECT_EQ(1, dlg.CurrentContext()->fast.load());
}

TEST_F(DialogTest, AboutShowsTheVersionUnderTheProgramName) {
  QString text;
  QString caption;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (auto* box = dlg.findChild<QMessageBox*>()) {
      text = box->text();
      caption = box->windowTitle();
      box->button(QMessageBox::Ok)->click();
    }
  });
  poll.start(10);
  dlg.GetMenuCommand(Dlg::ID_MENU_ABOUT)->trigger();
  poll.stop();
  EXPECT_EQ(QStringLiteral("V 3.0"), text);
  EXPECT_EQ(QStringLiteral("Quendrel"), caption);
}

TEST(QuendrelDlgStart, OpensWithItsIconAndFirstSizeAndPlaysOnlyAGivenPath) {
  for (const std::string& path : {std::string(), std::string("/rec/cam1.h264")}) {
    Dlg dlg(path);
    std::vector<std::string> started;
    dlg.SetPlaybackStarter([&](std::unique_ptr<PlaybackContext>& current, const std::string& p,
                               platform::Window* video, platform::Window* notify) {
      started.push_back(p);
      StartIdle(current, p, video, notify);
    });
    EXPECT_TRUE(started.empty());
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_EQ(QSize(640, 480), dlg.frameGeometry().size());
    // The icon comes from the resources linked in with the dialog's library.
    EXPECT_FALSE(dlg.windowIcon().pixmap(32, 32).isNull());
    if (path.empty()) {
      EXPECT_TRUE(started.empty());
      EXPECT_EQ(nullptr, dlg.CurrentContext());
    } else {
      EXPECT_EQ(std::vector<std::string>{path}, started);
      ASSERT_NE(nullptr, dlg.CurrentContext());
      EXPECT_EQ(dlg.VideoWindow(), dlg.CurrentContext()->videoWindow);
    }
  }
}

// Every way out of the dialog stops the file first, so no reader or decode thread outlives
// it; these play a real recording.
struct ExitCase {
  const char* name;
  void (*leave)(Dlg& dlg);
};

class LeaveTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(LeaveTest, DestroysThePlaybackContextBeforeTheDialogEnds) {
  Dlg dlg(testsupport::SourcePath("tests/data/h264_320x240.h264"));
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
  ASSERT_NE(nullptr, dlg.CurrentContext());
  // A picture on screen: the reader and the decode thread are both at work.
  ASSERT_TRUE(testsupport::WaitUntil([&] {
    ProcessPosted();
    return !dlg.VideoWindow()->CurrentPicture().isNull();
  }));

  GetParam().leave(dlg);
  ASSERT_TRUE(testsupport::WaitUntil([&] {
    ProcessPosted();
    return !dlg.isVisible();
  }));
  EXPECT_EQ(nullptr, dlg.CurrentContext());
}

INSTANTIATE_TEST_SUITE_P(
    Ways, LeaveTest,
    ::testing::Values(ExitCase{"Escape", [](Dlg& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); }},
                      ExitCase{"Close", [](Dlg& dlg) { dlg.close(); }},
                      ExitCase{"Exit",
                               [](Dlg& dlg) { dlg.GetMenuCommand(Dlg::ID_MENU_EXIT)->trigger(); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QuendrelDlgPlayback, TheDemoPlaysSeeksBackAndStopReturnsPromptly) {
  Dlg dlg(testsupport::SourcePath("samples/demo.h264"));
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
  auto* slider = static_cast<QSlider*>(dlg.GetDlgItem(Dlg::IDC_PROGRESS));

  int first = 0;
  ASSERT_TRUE(testsupport::WaitUntil([&] {
    ProcessPosted();
    first = slider->value();
    return first > 0;
  }));
  EXPECT_EQ(static_cast<int>(
                testsupport::ReadFileBytes(testsupport::SourcePath("samples/demo.h264")).size()),
            slider->maximum());
  ASSERT_TRUE(testsupport::WaitUntil([&] {
    ProcessPosted();
    return slider->value() > first;
  }));
  ASSERT_TRUE(testsupport::WaitUntil([&] {
    ProcessPosted();
    return !dlg.VideoWindow()->CurrentPicture().isNull() &&
           dlg.frameGeometry().size() == QSize(1280, 720);
  }));

  // Back to the start: played progress only ever rises, so a smaller position after the
  // release can only come from the reader serving the seek.
  const int reached = slider->maximum() / 10;
  ASSERT_TRUE(testsupport::WaitUntil([&] {
    ProcessPosted();
    return slider->value() >= reached;
  }));
  QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
  QCoreApplication::sendEvent(slider, &home);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(1, 1),
                      QPointF(slider->mapToGlobal(QPoint(1, 1))), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QCoreApplication::sendEvent(slider, &release);
  EXPECT_TRUE(testsupport::WaitUntil([&] {
    ProcessPosted();
    return slider->value() > 0 && slider->value() < reached;
  }));

  const auto before = std::chrono::steady_clock::now();
  QTest::mouseClick(static_cast<QPushButton*>(dlg.GetDlgItem(Dlg::IDC_STOP)), Qt::LeftButton);
  const auto waited = std::chrono::steady_clock::now() - before;
  // The reader waits at most one pacing step before it sees the stop; far below this guard.
  EXPECT_LT(waited, std::chrono::seconds(10));
  EXPECT_EQ(nullptr, dlg.CurrentContext());

  ProcessPosted();
  EXPECT_EQ(0, slider->value());
  EXPECT_TRUE(dlg.VideoWindow()->CurrentPicture().isNull());
}

}  // namespace
