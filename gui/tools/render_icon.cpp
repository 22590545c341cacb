// Renders gui/brelin.svg's shapes into the PNG sizes the program and the desktop entry use. The
// drawing repeats the SVG's geometry (Qt's SVG module is not a dependency). Run after changing it:
//   render_icon gui/icons
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

QImage Render(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 256.0, size / 256.0);

  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1d, 0x4f, 0x7a));
  p.drawRoundedRect(QRectF(16, 16, 224, 224), 36, 36);

  p.setPen(QPen(QColor(0x0e, 0x2a, 0x42), 6));
  p.setBrush(QColor(0xd7, 0xf0, 0xd2));
  p.drawRoundedRect(QRectF(44, 44, 168, 104), 12, 12);

  const QPointF trace[] = {{58, 118}, {82, 118},  {98, 74},  {118, 134},
                           {138, 86}, {154, 110}, {198, 110}};
  p.setPen(QPen(QColor(0x1d, 0x6b, 0x2f), 9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(trace, 7);

  const QColor amber(0xff, 0xb0, 0x00);
  p.setPen(Qt::NoPen);
  p.setBrush(amber);
  p.drawRect(QRectF(114, 160, 28, 30));
  const QPointF head[] = {{90, 186}, {166, 186}, {128, 226}};
  p.setPen(QPen(amber, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPolygon(head, 3);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: render_icon OUTPUT_DIR\n");
    return 2;
  }
  QDir out(QString::fromLocal8Bit(argv[1]));
  for (int size : {16, 32, 48, 64, 128, 256}) {
    if (!Render(size).save(out.filePath(QStringLiteral("brelin-%1.png").arg(size)))) return 1;
  }
  return 0;
}
