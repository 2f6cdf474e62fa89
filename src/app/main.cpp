// pellucidore: the emulator window.
#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QMessageBox>
#include <QStandardPaths>
#include <cstdio>
#include <exception>

#include "frontend/qt/main_window.h"

namespace {

// Any exception that reaches the event loop is shown, then the program ends
// in order (the window's shutdown saves the settings).
class Application : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      QMessageBox::critical(nullptr, "Pellucidore", QString::fromLocal8Bit(e.what()));
    } catch (...) {
      QMessageBox::critical(nullptr, "Pellucidore", "Unknown error");
    }
    closeAllWindows();
    quit();
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  Application app(argc, argv);
  app.setApplicationName("Pellucidore");

  QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (runtime.isEmpty()) runtime = QDir::tempPath();
  QLockFile lock(runtime + "/pellucidore.lock");
  lock.setStaleLockTime(0);
  if (!lock.tryLock(100)) {
    // Said on the terminal too, where an offscreen run has no one to click.
    std::fprintf(stderr, "Pellucidore is already running!\n");
    if (QGuiApplication::platformName() != "offscreen")
      QMessageBox::warning(nullptr, "Pellucidore", "Pellucidore is already running!");
    return 1;
  }

  // Every x86-64 processor has SSE; the check stays for other builds.
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("sse")) {
    QMessageBox::critical(nullptr, "Pellucidore", "Pellucidore needs at least a Pentium III or an AthlonXP!");
    return 1;
  }
#endif

  TMainCPCForm window(QDir::currentPath().toStdString());
  window.show();
  return app.exec();
}
