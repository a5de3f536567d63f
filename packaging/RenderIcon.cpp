// render-icon: draws an SVG picture into square PNG files of the given sizes, for the icon theme.
// Usage: render-icon SVG SIZE=PNG...
// It runs during the build, so it needs no display: the offscreen platform is used unless another
// one is asked for.

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <cstdio>
#include <optional>

namespace {

struct TIconTarget {
  int size = 0;
  QString path;
};

// "SIZE=PATH" with a size of 1..4096 pixels.
std::optional<TIconTarget> ParseTarget(const QString& text) {
  const qsizetype separator = text.indexOf('=');
  if (separator <= 0 || separator + 1 == text.size()) return std::nullopt;
  bool ok = false;
  const int size = text.left(separator).toInt(&ok);
  if (!ok || size < 1 || size > 4096) return std::nullopt;
  return TIconTarget{size, text.mid(separator + 1)};
}

// The picture keeps its proportions and is centred; the rest stays transparent.
QImage Render(QSvgRenderer& renderer, int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  renderer.setAspectRatioMode(Qt::KeepAspectRatio);
  renderer.render(&painter, QRectF(0, 0, size, size));
  painter.end();
  return image;
}

int Fail(const QString& text) {
  std::fprintf(stderr, "render-icon: %s\n", text.toLocal8Bit().constData());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  const QStringList arguments = QGuiApplication::arguments();
  if (arguments.size() < 3) return Fail(QStringLiteral("usage: render-icon SVG SIZE=PNG..."));

  QSvgRenderer renderer(arguments.at(1));
  if (!renderer.isValid())
    return Fail(QStringLiteral("'%1' is not a readable SVG picture").arg(arguments.at(1)));
  for (const QString& argument : arguments.mid(2)) {
    const std::optional<TIconTarget> target = ParseTarget(argument);
    if (!target)
      return Fail(QStringLiteral("'%1' is not SIZE=PNG with a size of 1..4096").arg(argument));
    const QString folder = QFileInfo(target->path).absolutePath();
    if (!QDir().mkpath(folder)) return Fail(QStringLiteral("cannot create '%1'").arg(folder));
    if (!Render(renderer, target->size).save(target->path, "PNG"))
      return Fail(QStringLiteral("cannot write '%1'").arg(target->path));
  }
  return 0;
}
