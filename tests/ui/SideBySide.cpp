// zolt-side-by-side LINUX_DIR WINDOWS_DIR OUT_DIR: for every picture of a
// dialog state in WINDOWS_DIR (the Win32 dialogs under Wine), writes
// OUT_DIR/<state>.png with the Linux picture of the same name on the left and
// the Windows one on the right, each under its caption, so the two can be
// compared at a glance. Prints one line per pair. Exit 1 when a Windows
// picture has no Linux partner or none was found, 2 for a bad invocation.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

namespace {

constexpr int kGap = 16;
constexpr int kCaption = 26;

QImage SideBySide(const QImage& onLinux, const QImage& onWindows) {
  const int width = kGap + onLinux.width() + kGap + onWindows.width() + kGap;
  const int height = kCaption + std::max(onLinux.height(), onWindows.height()) + kGap;
  QImage out(width, height, QImage::Format_RGB32);
  out.fill(QColor(0x80, 0x80, 0x80));
  QPainter painter(&out);
  QFont font = painter.font();
  font.setPixelSize(14);
  painter.setFont(font);
  painter.setPen(Qt::white);
  const int right = kGap + onLinux.width() + kGap;
  painter.drawText(QRect(kGap, 0, onLinux.width(), kCaption), Qt::AlignLeft | Qt::AlignVCenter, "Linux (Qt)");
  painter.drawText(QRect(right, 0, onWindows.width(), kCaption), Qt::AlignLeft | Qt::AlignVCenter,
                   "Windows (Win32 under Wine)");
  painter.drawImage(kGap, kCaption, onLinux);
  painter.drawImage(right, kCaption, onWindows);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: zolt-side-by-side LINUX_DIR WINDOWS_DIR OUT_DIR\n");
    return 2;
  }
  // Text needs a platform; no display is.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QDir onLinux(QString::fromLocal8Bit(argv[1])), onWindows(QString::fromLocal8Bit(argv[2]));
  const QString out = QString::fromLocal8Bit(argv[3]);
  QDir().mkpath(out);
  int pairs = 0, lone = 0;
  for (const QString& name : onWindows.entryList({"*.png"}, QDir::Files, QDir::Name)) {
    const QImage left(onLinux.filePath(name)), right(onWindows.filePath(name));
    if (left.isNull() || right.isNull()) {
      std::fprintf(stderr, "zolt-side-by-side: %s has no Linux picture to go beside it\n", qPrintable(name));
      ++lone;
      continue;
    }
    const QString path = out + "/" + name;
    if (!SideBySide(left, right).save(path)) {
      std::fprintf(stderr, "zolt-side-by-side: cannot write %s\n", qPrintable(path));
      return 1;
    }
    std::printf("%s: Linux %dx%d, Windows %dx%d\n", qPrintable(path), left.width(), left.height(), right.width(),
                right.height());
    ++pairs;
  }
  return pairs > 0 && lone == 0 ? 0 : 1;
}
