#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/context_notifier.h"
#include "input/playback_context.h"
#include "platform/qt/video_widget.h"

class QAction;
class QMenuBar;
class QPushButton;
class QSlider;

// The program's one window: a modal dialog with the video area, the seek bar (a slider in
// file bytes), the Play, Pause, Fast and Stop buttons and the File menu. It owns at most one
// PlaybackContext; its controls only set that context's flags. Everything here runs on the
// UI thread; the reader and the players reach it only by posting through a ContextNotifier.
class CQuendrelDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int IDD_MAIN_DIALOG = 102;
  static constexpr int IDR_MAINFRAME = 128;
  static constexpr int IDR_MAIN_MENU = 129;
  static constexpr int IDC_VIDEO = 1000;
  static constexpr int IDC_PLAY = 1001;
  static constexpr int IDC_PAUSE = 1002;
  static constexpr int IDC_FAST = 1003;
  static constexpr int IDC_STOP = 1004;
  static constexpr int IDC_PROGRESS = 1005;
  static constexpr int ID_MENU_OPEN = 32771;
  static constexpr int ID_MENU_EXIT = 32772;
  static constexpr int ID_MENU_ABOUT = 32773;

  // Asks the user for a recording to open; an empty result means the choice was cancelled.
  using FileChooser = std::function<std::string(QWidget* owner)>;
  // Replaces current with a context playing path, as StartPlayback does.
  using PlaybackStarter =
      std::function<void(std::unique_ptr<PlaybackContext>& current, const std::string& path,
                         platform::Window* videoWindow, platform::Window* notifyWindow)>;

  // cmdPath is played as the dialog is first shown, unless it is empty.
  explicit CQuendrelDlg(const std::string& cmdPath = std::string(), QWidget* parent = nullptr);
  ~CQuendrelDlg() override;

  // The open dialog by default; tests put their own choice in.
  void SetFileChooser(FileChooser chooser);
  // StartPlayback by default; tests may start contexts without a reader.
  void SetPlaybackStarter(PlaybackStarter starter);

  // Handles the three private messages; any other message is ignored.
  void WindowProc(uint32_t message, uint64_t wParam, int64_t lParam);

  QWidget* GetDlgItem(int id) const;
  QAction* GetMenuCommand(int id) const;
  platform::VideoWidget* VideoWindow() const { return m_video; }
  PlaybackContext* CurrentContext() const { return m_pContext.get(); }
  bool IsDragging() const { return m_bDragging != 0; }

  // Enter does nothing: the dialog ends only through Close, Exit or Escape.
  void accept() override;
  // Escape: the current file stops before the dialog ends.
  void reject() override;

 protected:
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void OnInitDialog();
  void OnBnClickedPlay();
  void OnBnClickedPause();
  void OnBnClickedFast();
  void OnBnClickedStop();
  void OnMenuOpen();
  void OnMenuExit();
  void OnMenuAbout();
  void OnHScroll();
  void OnNMReleasedcaptureProgress();
  void OnClose();
  void LayoutControls();
  void CenterWindow();
  // Resizes so that the window with its frame and menu bar is outerWidth x outerHeight.
  void SetOuterSize(int outerWidth, int outerHeight);
  void OpenRecording(const std::string& path);
  void DestroyCurrentContext();
  QPushButton* MakeButton(const char* text);

  std::string m_szCmdPath;
  bool m_bInitDone = false;
  QMenuBar* m_menuBar = nullptr;  // the children are owned by the dialog's Qt parent tree
  QAction* m_openAction = nullptr;
  QAction* m_exitAction = nullptr;
  QAction* m_aboutAction = nullptr;
  platform::VideoWidget* m_video = nullptr;
  QSlider* m_progress = nullptr;
  QPushButton* m_play = nullptr;
  QPushButton* m_pause = nullptr;
  QPushButton* m_fast = nullptr;
  QPushButton* m_stop = nullptr;

  // 1 from the first user action on the slider until a mouse release on it; while set,
  // progress messages leave the slider alone.
  int32_t m_bDragging = 0;
  // Byte offsets are shifted right by this much to fit the slider's int range.
  int m_nProgressShift = 0;
  // Bumped for every context started; messages tagged with an older one are stale.
  uint64_t m_nGeneration = 0;

  FileChooser m_fileChooser;
  PlaybackStarter m_playbackStarter;
  // Declared before m_pContext so that it is destroyed after it: the context's reader and
  // player post through it until they are joined.
  std::unique_ptr<ContextNotifier> m_pNotifier;
  std::unique_ptr<PlaybackContext> m_pContext;
};
