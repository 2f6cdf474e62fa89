// pellucidore: the emulator window.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLockFile>
#include <QMessageBox>
#include <QStandardPaths>
#include <cstdio>
#include <cstring>
#include <exception>

#include "frontend/qt/frame_view.h"
#include "frontend/qt/main_window.h"
#include "host/version.h"

namespace {

// --help and --version answer on the terminal before any window exists;
// everything else is left to Qt (-platform, -style, ...).
bool AnsweredOnTerminal(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("pellucidore (Pellucidore) %s\n", PellucidoreVersion());
      return true;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "Usage: pellucidore [QT-OPTION]... [FILE]...\n"
          "Amstrad CPC 464/664/6128 emulator.\n\n"
          "FILEs are disk images (.dsk, or .zip archives holding one) for drives A and B\n"
          "and snapshots (.sna), told apart by their content. A disk in drive A is\n"
          "started (RUN\"name, |CPM or CAT) unless File > Autorun Disks is off.\n\n"
          "The working directory is the start directory: Pellux.ini, the profiles and\n"
          "the folders ROMS, DISKS, SNAPSHOTS, STILLS, PRINTS, PROFILES and CAPTURES are\n"
          "found there. The desktop entry starts pellucidore-launcher, which uses\n"
          "~/.local/share/pellucidore instead.\n\n"
          "  -h, --help             print this help and exit\n"
          "      --software-render  draw the picture without OpenGL\n"
          "      --version          print the version and exit\n\n"
          "Qt's own options (such as -platform offscreen) are accepted too.\n"
          "See pellucidore(6), Help > Help in the window, and pellucidore-cli(6) for\n"
          "the emulator without a window.\n");
      return true;
    }
  }
  return false;
}

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
  if (AnsweredOnTerminal(argc, argv)) return 0;
  Application app(argc, argv);
  app.setApplicationName("Pellucidore");
  app.setDesktopFileName("pellucidore");
  app.setWindowIcon(QIcon::fromTheme("pellucidore"));

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

  // Drivers that make a context but draw badly can be sidestepped.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--software-render") == 0) FrameView::SetGpuAllowed(false);
  MainWindow window(QDir::currentPath().toStdString());
  window.show();
  // Qt has taken its own options out of the arguments by now.
  QStringList files;
  for (const QString& argument : app.arguments().mid(1))
    if (!argument.startsWith('-')) files << argument;
  if (!files.isEmpty()) window.OpenFiles(files);
  return app.exec();
}
