#include "app/quendrel_dlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <algorithm>
#include <climits>

#include "player/messages.h"

namespace {

// The slider's height; the layout keeps whatever height the slider has.
constexpr int kProgressHeight = 24;
// The bottom of the client area that holds the slider row and the button row.
constexpr int kControlsHeight = 60;
constexpr int kButtonWidth = 70;
constexpr int kButtonHeight = 25;

// The empty dialog's outer size, until the first picture gives one of the three fixed sizes.
constexpr int kInitialOuterWidth = 640;
constexpr int kInitialOuterHeight = 480;

// The smallest right shift that brings a file length into the slider's int range.
int ShiftForLength(uint64_t fileLength) {
  int shift = 0;
  while ((fileLength >> shift) > static_cast<uint64_t>(INT_MAX)) ++shift;
  return shift;
}

std::string ChooseRecording(QWidget* owner) {
  QFileDialog dialog(owner);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(
      {QStringLiteral("(*.h260)"), QStringLiteral("(*.h264)"), QStringLiteral("(*.264)")});
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  if (dialog.exec() != QDialog::Accepted) return std::string();
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::string();
  // The file system's own bytes, so that names in any encoding open.
  return QFile::encodeName(files.first()).toStdString();
}

}  // namespace

CQuendrelDlg::CQuendrelDlg(const std::string& cmdPath, QWidget* parent)
    : QDialog(parent), m_szCmdPath(cmdPath), m_fileChooser(ChooseRecording) {
  m_playbackStarter = [](std::unique_ptr<PlaybackContext>& current, const std::string& path,
                         platform::Window* videoWindow, platform::Window* notifyWindow) {
    StartPlayback(current, path, videoWindow, notifyWindow);
  };

  setWindowTitle(QStringLiteral("Quendrel"));
  setWindowIcon(QIcon(QStringLiteral(":/quendrel.png")));
  // A fixed frame with a close box only: no sizing border, no minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

  m_menuBar = new QMenuBar(this);
  // Actions rather than a native menu bar, so the menu is always inside the window.
  m_menuBar->setNativeMenuBar(false);
  QMenu* fileMenu = m_menuBar->addMenu(QStringLiteral("文件"));
  m_openAction = fileMenu->addAction(QStringLiteral("打开"));
  m_exitAction = fileMenu->addAction(QStringLiteral("退出"));
  m_aboutAction = fileMenu->addAction(QStringLiteral("关于"));
  m_openAction->setData(ID_MENU_OPEN);
  m_exitAction->setData(ID_MENU_EXIT);
  m_aboutAction->setData(ID_MENU_ABOUT);
  connect(m_openAction, &QAction::triggered, this, [this] { OnMenuOpen(); });
  connect(m_exitAction, &QAction::triggered, this, [this] { OnMenuExit(); });
  connect(m_aboutAction, &QAction::triggered, this, [this] { OnMenuAbout(); });

  // Made in the order of the keyboard focus chain: the buttons, then the slider.
  m_video = new platform::VideoWidget(this);
  m_play = MakeButton("播放");
  m_pause = MakeButton("暂停");
  m_fast = MakeButton("快进");
  m_stop = MakeButton("停止");
  connect(m_play, &QPushButton::clicked, this, [this] { OnBnClickedPlay(); });
  connect(m_pause, &QPushButton::clicked, this, [this] { OnBnClickedPause(); });
  connect(m_fast, &QPushButton::clicked, this, [this] { OnBnClickedFast(); });
  connect(m_stop, &QPushButton::clicked, this, [this] { OnBnClickedStop(); });

  m_progress = new QSlider(Qt::Horizontal, this);
  m_progress->setTickPosition(QSlider::NoTicks);
  m_progress->resize(m_progress->width(), kProgressHeight);
  // Drags, clicks in the groove, keys and the wheel all come as actions; setValue does not.
  connect(m_progress, &QSlider::actionTriggered, this, [this](int) { OnHScroll(); });
  m_progress->installEventFilter(this);
}

CQuendrelDlg::~CQuendrelDlg() {
  DestroyCurrentContext();
}

void CQuendrelDlg::SetFileChooser(FileChooser chooser) {
  m_fileChooser = std::move(chooser);
}

void CQuendrelDlg::SetPlaybackStarter(PlaybackStarter starter) {
  m_playbackStarter = std::move(starter);
}

QPushButton* CQuendrelDlg::MakeButton(const char* text) {
  auto* button = new QPushButton(QString::fromUtf8(text), this);
  // No button may become the default one, so Enter never clicks anything.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

QWidget* CQuendrelDlg::GetDlgItem(int id) const {
  switch (id) {
    case IDC_VIDEO:
      return m_video;
    case IDC_PLAY:
      return m_play;
    case IDC_PAUSE:
      return m_pause;
    case IDC_FAST:
      return m_fast;
    case IDC_STOP:
      return m_stop;
    case IDC_PROGRESS:
      return m_progress;
    default:
      return nullptr;
  }
}

QAction* CQuendrelDlg::GetMenuCommand(int id) const {
  switch (id) {
    case ID_MENU_OPEN:
      return m_openAction;
    case ID_MENU_EXIT:
      return m_exitAction;
    case ID_MENU_ABOUT:
      return m_aboutAction;
    default:
      return nullptr;
  }
}

void CQuendrelDlg::showEvent(QShowEvent* e) {
  if (!m_bInitDone) {
    m_bInitDone = true;
    OnInitDialog();
  }
  QDialog::showEvent(e);
}

void CQuendrelDlg::OnInitDialog() {
  SetOuterSize(kInitialOuterWidth, kInitialOuterHeight);
  LayoutControls();
  if (!m_szCmdPath.empty()) OpenRecording(m_szCmdPath);
}

void CQuendrelDlg::SetOuterSize(int outerWidth, int outerHeight) {
  // The window manager's frame; zero while the window has none.
  const int frameWidth = frameGeometry().width() - geometry().width();
  const int frameHeight = frameGeometry().height() - geometry().height();
  setFixedSize(std::max(1, outerWidth - frameWidth), std::max(1, outerHeight - frameHeight));
}

void CQuendrelDlg::LayoutControls() {
  // The client area begins below the menu bar; the layout numbers are client pixels.
  const int top = m_menuBar->sizeHint().height();
  const int width = this->width();
  const int bottom = std::max(0, height() - top);
  m_menuBar->setGeometry(0, 0, width, top);

  m_video->setGeometry(0, top, width, std::max(0, bottom - kControlsHeight));
  m_video->update();
  m_progress->setGeometry(0, top + bottom - kControlsHeight, width, m_progress->height());
  m_progress->update();

  const int middle = width / 2;
  const int y = top + bottom - 30;
  m_fast->setGeometry(middle + 4, y, kButtonWidth, kButtonHeight);
  m_stop->setGeometry(middle + 82, y, kButtonWidth, kButtonHeight);
  m_pause->setGeometry(middle - 74, y, kButtonWidth, kButtonHeight);
  m_play->setGeometry(middle - 152, y, kButtonWidth, kButtonHeight);
  CenterWindow();
}

void CQuendrelDlg::CenterWindow() {
  QScreen* screen = this->screen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  const QSize outer = frameGeometry().size();
  int x = area.left() + (area.width() - outer.width()) / 2;
  int y = area.top() + (area.height() - outer.height()) / 2;
  // A window larger than the work area keeps its top-left corner, and so its caption, on it.
  x = std::max(area.left(), std::min(x, area.left() + area.width() - outer.width()));
  y = std::max(area.top(), std::min(y, area.top() + area.height() - outer.height()));
  move(x, y);
}

bool CQuendrelDlg::event(QEvent* e) {
  if (e->type() == NotifierMessageEvent::EventType()) {
    const auto* posted = static_cast<const NotifierMessageEvent*>(e);
    const bool fromCurrentContext = m_pContext != nullptr && posted->generation == m_nGeneration;
    // A reader that was stopped or replaced may have posted progress before it was joined;
    // it must not move the slider of what plays now.
    if (posted->message == WM_PLAYER_POSITION && !fromCurrentContext) return true;
    WindowProc(posted->message, posted->wParam, posted->lParam);
    return true;
  }
  return QDialog::event(e);
}

void CQuendrelDlg::WindowProc(uint32_t message, uint64_t wParam, int64_t) {
  switch (message) {
    case WM_PLAYER_VIDEOSIZE:
      if (wParam == 1) {
        SetOuterSize(640, 480);
      } else if (wParam == 0) {
        SetOuterSize(320, 240);
      } else {
        SetOuterSize(1280, 720);
      }
      update();
      LayoutControls();
      break;
    case WM_PLAYER_FILESIZE: {
      m_nProgressShift = ShiftForLength(wParam);
      const int maximum = static_cast<int>(wParam >> m_nProgressShift);
      m_progress->setRange(0, maximum);
      // A click in the groove moves by a fifth of the file, as a trackbar's page does.
      m_progress->setPageStep(std::max(1, maximum / 5));
      break;
    }
    case WM_PLAYER_POSITION:
      if (m_bDragging != 1)
        m_progress->setValue(static_cast<int>(
            std::min<uint64_t>(wParam >> m_nProgressShift, static_cast<uint64_t>(INT_MAX))));
      break;
    default:
      break;
  }
}

bool CQuendrelDlg::eventFilter(QObject* watched, QEvent* e) {
  if (watched == m_progress && e->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(e)->buttons() == Qt::NoButton) {
    // The slider settles on the release first, so the seek goes to where the thumb stopped.
    static_cast<QObject*>(m_progress)->event(e);
    OnNMReleasedcaptureProgress();
    return true;
  }
  return QDialog::eventFilter(watched, e);
}

void CQuendrelDlg::OnHScroll() {
  m_bDragging = 1;
}

void CQuendrelDlg::OnNMReleasedcaptureProgress() {
  if (m_pContext) {
    const int64_t target =
        static_cast<int64_t>(static_cast<uint64_t>(m_progress->value()) << m_nProgressShift);
    m_pContext->seekTarget.store(target, std::memory_order_relaxed);
    m_pContext->seekRequested.store(1, std::memory_order_release);  // target first
  }
  m_bDragging = 0;
}

void CQuendrelDlg::OnBnClickedPlay() {
  if (!m_pContext) return;
  m_pContext->paused.store(0, std::memory_order_relaxed);
  m_pContext->fast.store(0, std::memory_order_relaxed);
}

void CQuendrelDlg::OnBnClickedPause() {
  if (!m_pContext) return;
  m_pContext->paused.store(1, std::memory_order_relaxed);
  m_pContext->fast.store(0, std::memory_order_relaxed);
}

void CQuendrelDlg::OnBnClickedFast() {
  if (!m_pContext) return;
  m_pContext->paused.store(0, std::memory_order_relaxed);
  m_pContext->fast.store(1, std::memory_order_relaxed);
}

void CQuendrelDlg::OnBnClickedStop() {
  DestroyCurrentContext();
  m_progress->setValue(0);
  m_video->InvalidateErase();
}

void CQuendrelDlg::OnMenuOpen() {
  const std::string path = m_fileChooser ? m_fileChooser(this) : std::string();
  // A cancelled choice leaves the current file playing.
  if (path.empty()) return;
  OpenRecording(path);
}

void CQuendrelDlg::OnMenuExit() {
  // Posted, so Exit ends the dialog the way the close box does, after the menu has closed.
  QMetaObject::invokeMethod(
      this, [this] { close(); }, Qt::QueuedConnection);
}

void CQuendrelDlg::OnMenuAbout() {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Quendrel"), QStringLiteral("V 3.0"),
                  QMessageBox::Ok, this);
  box.exec();
}

void CQuendrelDlg::OpenRecording(const std::string& path) {
  auto notifier = std::make_unique<ContextNotifier>(this, ++m_nGeneration);
  m_playbackStarter(m_pContext, path, m_video, notifier.get());
  // The starter has joined the previous context's reader and player, so nothing posts
  // through the previous notifier any more.
  m_pNotifier = std::move(notifier);
}

void CQuendrelDlg::DestroyCurrentContext() {
  DestroyPlaybackContext(m_pContext);
  m_pNotifier.reset();
}

void CQuendrelDlg::accept() {}

void CQuendrelDlg::reject() {
  DestroyCurrentContext();
  QDialog::reject();
}

void CQuendrelDlg::closeEvent(QCloseEvent* e) {
  OnClose();
  QDialog::closeEvent(e);
}

void CQuendrelDlg::OnClose() {
  DestroyCurrentContext();
}
