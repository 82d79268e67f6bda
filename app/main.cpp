#include <QApplication>
#include <QIcon>
#include <string>

#include "app/command_line.h"
#include "app/quendrel_dlg.h"

// The application object: runs the main dialog modally on the program's main thread and
// ends the program when it closes.
class CQuendrelApp {
 public:
  int InitInstance(int argc, const char* const* argv) {
    // Names the application to the desktop; no setting is ever read or written under it.
    QApplication::setOrganizationName(QStringLiteral("应用程序向导生成的本地应用程序"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quendrel.png")));
    const std::string cmdPath = CommandLinePath(argc, argv);
    CQuendrelDlg dlg(cmdPath);
    dlg.exec();
    return 0;
  }
};

int main(int argc, char** argv) {
  // QApplication takes its own options (-platform, -style, ...) out of argv first, so the
  // recording path is the first argument that is left.
  QApplication application(argc, argv);
  CQuendrelApp theApp;
  return theApp.InitInstance(argc, argv);
}
