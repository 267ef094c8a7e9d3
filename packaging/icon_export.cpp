// Writes the program icon as files for the desktop's icon theme: PNGs at the sizes given and
// an SVG with the 32-pixel picture pixel for pixel, all from the code that draws the window
// icon, so the menu and the title bar show the same picture.
// Usage: tavrun_icon_export <output directory> <size>...
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTextStream>
#include <cstdio>

#include "ui/program_icon.h"

namespace {

// One rectangle per run of same-coloured pixels in a row; transparent pixels stay empty.
QString SvgOf(const QImage& image) {
  QString svg;
  QTextStream out(&svg);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << image.width() << "\" height=\""
      << image.height() << "\" viewBox=\"0 0 " << image.width() << ' ' << image.height()
      << "\" shape-rendering=\"crispEdges\">\n";
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width();) {
      const QRgb pixel = image.pixel(x, y);
      int end = x + 1;
      while (end < image.width() && image.pixel(end, y) == pixel) ++end;
      if (qAlpha(pixel) != 0) {
        out << "<rect x=\"" << x << "\" y=\"" << y << "\" width=\"" << end - x
            << "\" height=\"1\" fill=\"" << QColor(pixel).name() << "\"/>\n";
      }
      x = end;
    }
  }
  out << "</svg>\n";
  return svg;
}

bool Save(const QString& directory, const QString& name, const QByteArray& bytes) {
  if (!QDir().mkpath(directory)) return false;
  QFile file(directory + "/" + name);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <output directory> <size>...\n", argv[0]);
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) {
    const int size = QString::fromLatin1(argv[i]).toInt();
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
    if (size <= 0 || !QDir().mkpath(dir) ||
        !tavrun::ui::ProgramPixmap(size).save(dir + "/tavrun.png", "PNG")) {
      std::fprintf(stderr, "cannot write the %s-pixel icon under %s\n", argv[i], argv[1]);
      return 1;
    }
  }
  const QImage picture =
      tavrun::ui::ProgramPixmap(32).toImage().convertToFormat(QImage::Format_ARGB32);
  if (!Save(root + "/scalable/apps", QStringLiteral("tavrun.svg"), SvgOf(picture).toUtf8())) {
    std::fprintf(stderr, "cannot write the SVG icon under %s\n", argv[1]);
    return 1;
  }
  return 0;
}
