// zolt-draw-images: draws the dialogs' images (backgrounds, icons, captions,
// button faces, progress-bar pieces) into a folder, one PNG per resource ID.
//
//   zolt-draw-images OUTPUT_FOLDER
//
// The committed ui/images/*.png are its output; run it again after changing a
// drawing here. Fonts: WenQuanYi Micro Hei (fonts-wqy-microhei).
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor kBandTop(0x3A, 0x98, 0xE8);
const QColor kBandBottom(0x1C, 0x72, 0xC9);
const QColor kBorder(0x1A, 0x66, 0xB5);
const char* const kFamily = "WenQuanYi Micro Hei";

// Paints one image of w x h pixels on a transparent canvas and saves it.
void Draw(int w, int h, const QString& path, const std::function<void(QPainter&)>& paint) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  paint(p);
  p.end();
  if (!image.save(path)) std::fprintf(stderr, "zolt-draw-images: cannot write %s\n", qPrintable(path));
}

QFont Font(int pixels, bool bold) {
  QFont font(QString::fromLatin1(kFamily));
  font.setPixelSize(pixels);
  font.setBold(bold);
  font.setHintingPreference(QFont::PreferNoHinting);
  return font;
}

// The globe with two arrows circling it: the "update" icon.
void DrawGlobe(QPainter& p, const QRectF& box) {
  const QPointF c = box.center();
  const double r = box.width() * 0.33;
  QRadialGradient sea(c - QPointF(r * 0.35, r * 0.4), r * 1.3);
  sea.setColorAt(0, QColor(0x8F, 0xD3, 0xFF));
  sea.setColorAt(0.6, QColor(0x2E, 0x8B, 0xE0));
  sea.setColorAt(1, QColor(0x17, 0x5C, 0xB0));
  p.setPen(QPen(QColor(0x12, 0x52, 0x9E), 1.2));
  p.setBrush(sea);
  p.drawEllipse(c, r, r);

  // Land masses, kept inside the sphere.
  QPainterPath sphere;
  sphere.addEllipse(c, r, r);
  p.save();
  p.setClipPath(sphere);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x5C, 0xC4, 0x5A));
  QPainterPath land;
  land.moveTo(c + QPointF(-r * 0.75, -r * 0.35));
  land.cubicTo(c + QPointF(-r * 0.4, -r * 0.8), c + QPointF(-r * 0.05, -r * 0.55), c + QPointF(-r * 0.15, -r * 0.2));
  land.cubicTo(c + QPointF(-r * 0.25, r * 0.1), c + QPointF(-r * 0.05, r * 0.35), c + QPointF(-r * 0.3, r * 0.7));
  land.cubicTo(c + QPointF(-r * 0.6, r * 0.45), c + QPointF(-r * 0.9, r * 0.1), c + QPointF(-r * 0.75, -r * 0.35));
  p.drawPath(land);
  QPainterPath east;
  east.moveTo(c + QPointF(r * 0.2, -r * 0.75));
  east.cubicTo(c + QPointF(r * 0.7, -r * 0.7), c + QPointF(r * 0.95, -r * 0.2), c + QPointF(r * 0.6, r * 0.1));
  east.cubicTo(c + QPointF(r * 0.45, r * 0.3), c + QPointF(r * 0.2, -r * 0.1), c + QPointF(r * 0.3, -r * 0.35));
  east.closeSubpath();
  p.drawPath(east);
  // Meridians and parallels.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(255, 255, 255, 90), 1.0));
  for (double k : {-0.5, 0.0, 0.5}) p.drawLine(QPointF(c.x() - r, c.y() + k * r), QPointF(c.x() + r, c.y() + k * r));
  p.drawEllipse(c, r * 0.45, r);
  p.drawLine(QPointF(c.x(), c.y() - r), QPointF(c.x(), c.y() + r));
  p.restore();
  // Highlight.
  QRadialGradient shine(c - QPointF(r * 0.4, r * 0.5), r * 0.7);
  shine.setColorAt(0, QColor(255, 255, 255, 150));
  shine.setColorAt(1, QColor(255, 255, 255, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(shine);
  p.drawEllipse(c, r, r);

  // Two arrows on a ring around the globe, chasing each other.
  const double ring = box.width() * 0.43;
  const QRectF arc(c.x() - ring, c.y() - ring, 2 * ring, 2 * ring);
  const QColor arrow(0xFF, 0x9A, 0x1F);
  const double pen = box.width() * 0.075;
  for (int start : {200, 20}) {
    p.setPen(QPen(arrow, pen, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(arc, start * 16, 125 * 16);
    // Arrow head at the arc's end (angles counter-clockwise from 3 o'clock).
    const double end = (start + 125) * M_PI / 180.0;
    const QPointF tip(c.x() + ring * std::cos(end), c.y() - ring * std::sin(end));
    const QPointF along(-std::sin(end), -std::cos(end));  // direction of travel
    const QPointF out(std::cos(end), -std::sin(end));
    const double s = box.width() * 0.11;
    QPolygonF head;
    head << tip + along * s * 1.1 << tip + out * s * 0.95 << tip - out * s * 0.95;
    p.setPen(Qt::NoPen);
    p.setBrush(arrow);
    p.drawPolygon(head);
  }
}

void DrawBackground(QPainter& p, int w, int h, bool globe) {
  QLinearGradient body(0, 30, 0, h);
  body.setColorAt(0, QColor(0xFF, 0xFF, 0xFF));
  body.setColorAt(1, QColor(0xF2, 0xF7, 0xFC));
  p.fillRect(0, 0, w, h, body);
  // The title band.
  QLinearGradient band(0, 0, 0, 30);
  band.setColorAt(0, kBandTop);
  band.setColorAt(1, kBandBottom);
  p.fillRect(0, 0, w, 30, band);
  p.fillRect(0, 29, w, 1, QColor(0x15, 0x5E, 0xAD));
  // The footer that holds the buttons.
  p.fillRect(0, 183, w, h - 183, QColor(0xE9, 0xF1, 0xF9));
  p.fillRect(0, 183, w, 1, QColor(0xCC, 0xDC, 0xEC));
  if (globe) DrawGlobe(p, QRectF(12, 48, 84, 84));
  // A one-pixel frame, since the window has none of its own.
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(kBorder);
  p.setBrush(Qt::NoBrush);
  p.drawRect(0, 0, w - 1, h - 1);
}

void DrawExclamation(QPainter& p, const QRectF& box) {
  const QPointF c = box.center();
  const double r = box.width() * 0.42;
  QRadialGradient fill(c - QPointF(r * 0.3, r * 0.4), r * 1.4);
  fill.setColorAt(0, QColor(0xFF, 0xE6, 0x6B));
  fill.setColorAt(0.7, QColor(0xF8, 0xC1, 0x1C));
  fill.setColorAt(1, QColor(0xE0, 0x9A, 0x0A));
  p.setPen(QPen(QColor(0xC9, 0x8A, 0x06), 1.5));
  p.setBrush(fill);
  p.drawEllipse(c, r, r);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  const double bar = r * 0.26;
  QPainterPath stroke;
  stroke.moveTo(c.x() - bar * 0.62, c.y() - r * 0.62);
  stroke.lineTo(c.x() + bar * 0.62, c.y() - r * 0.62);
  stroke.lineTo(c.x() + bar * 0.38, c.y() + r * 0.2);
  stroke.lineTo(c.x() - bar * 0.38, c.y() + r * 0.2);
  stroke.closeSubpath();
  p.drawPath(stroke);
  p.drawEllipse(QPointF(c.x(), c.y() + r * 0.47), bar * 0.55, bar * 0.55);
}

void DrawCaption(QPainter& p, int w, int h, const QString& text) {
  p.setFont(Font(16, true));
  p.setPen(QColor(0x1C, 0x6E, 0xC4));
  p.drawText(QRect(0, 0, w, h), Qt::AlignLeft | Qt::AlignVCenter, text);
}

void DrawButtonFace(QPainter& p, const QColor& top, const QColor& bottom, const QColor& border) {
  QLinearGradient fill(0, 0, 0, 28);
  fill.setColorAt(0, top);
  fill.setColorAt(1, bottom);
  p.setPen(QPen(border, 1));
  p.setBrush(fill);
  p.drawRoundedRect(QRectF(0.5, 0.5, 72, 27), 4, 4);
}

void DrawCloseFace(QPainter& p, const QColor& top, const QColor& bottom) {
  QLinearGradient fill(0, 0, 0, 22);
  fill.setColorAt(0, top);
  fill.setColorAt(1, bottom);
  p.setPen(Qt::NoPen);
  p.setBrush(fill);
  QPainterPath face;
  face.addRoundedRect(QRectF(0, 0, 39, 22), 3, 3);
  p.drawPath(face);
  p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(15, 6), QPointF(24, 15));
  p.drawLine(QPointF(24, 6), QPointF(15, 15));
}

QLinearGradient Green() {
  QLinearGradient g(0, 0, 0, 12);
  g.setColorAt(0, QColor(0x9B, 0xE3, 0x6D));
  g.setColorAt(0.5, QColor(0x5C, 0xC1, 0x3C));
  g.setColorAt(1, QColor(0x3C, 0x9A, 0x28));
  return g;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zolt-draw-images OUTPUT_FOLDER\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (!QFontDatabase::families().contains(QString::fromLatin1(kFamily))) {
    std::fprintf(stderr, "zolt-draw-images: font \"%s\" is not installed (fonts-wqy-microhei)\n", kFamily);
    return 1;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(out.path())) {
    std::fprintf(stderr, "zolt-draw-images: cannot create %s\n", argv[1]);
    return 1;
  }
  auto file = [&](int id) { return out.filePath(QStringLiteral("%1.png").arg(id)); };

  Draw(430, 230, file(19536), [](QPainter& p) { DrawBackground(p, 430, 230, false); });
  Draw(350, 230, file(19523), [](QPainter& p) { DrawBackground(p, 350, 230, true); });
  Draw(84, 84, file(19531), [](QPainter& p) { DrawGlobe(p, QRectF(0, 0, 84, 84)); });
  Draw(80, 80, file(19530), [](QPainter& p) { DrawExclamation(p, QRectF(0, 0, 80, 80)); });

  const struct {
    int id, width;
    const char* text;
  } captions[] = {{19533, 132, "发现可用更新！"},
                  {19534, 132, "没有可用更新！"},
                  {19532, 214, "正在下载更新，请稍等..."},
                  {19535, 214, "正在安装更新，请稍等..."}};
  for (const auto& c : captions)
    Draw(c.width, 20, file(c.id), [&](QPainter& p) { DrawCaption(p, c.width, 20, QString::fromUtf8(c.text)); });

  Draw(73, 28, file(19525), [](QPainter& p) {
    DrawButtonFace(p, QColor(0xFF, 0xFF, 0xFF), QColor(0xEE, 0xF1, 0xF5), QColor(0xA9, 0xB8, 0xC8));
  });
  Draw(73, 28, file(19526), [](QPainter& p) {
    DrawButtonFace(p, QColor(0x6C, 0xBB, 0xF5), QColor(0x3D, 0x9C, 0xE8), QColor(0x2F, 0x86, 0xD2));
  });
  Draw(73, 28, file(19524), [](QPainter& p) {
    DrawButtonFace(p, QColor(0x23, 0x7C, 0xD0), QColor(0x16, 0x64, 0xB4), QColor(0x10, 0x55, 0x9E));
  });

  Draw(39, 22, file(19527), [](QPainter& p) { DrawCloseFace(p, kBandTop, kBandBottom); });
  Draw(39, 22, file(19529), [](QPainter& p) { DrawCloseFace(p, QColor(0xF0, 0x5A, 0x4F), QColor(0xD9, 0x3A, 0x30)); });
  Draw(39, 22, file(19528), [](QPainter& p) { DrawCloseFace(p, QColor(0xB3, 0x26, 0x1E), QColor(0x8E, 0x17, 0x12)); });

  Draw(300, 12, file(19500), [](QPainter& p) {
    p.setPen(QPen(QColor(0xC4, 0xCB, 0xD3), 1));
    p.setBrush(QColor(0xE6, 0xEA, 0xEE));
    p.drawRoundedRect(QRectF(0.5, 0.5, 299, 11), 5.5, 5.5);
  });
  // The filled part: rounded ends cut from one rounded bar, and a middle piece
  // that tiles seamlessly.
  auto end = [](QPainter& p, double x) {
    p.setPen(Qt::NoPen);
    p.setBrush(Green());
    QPainterPath path;
    path.addRoundedRect(QRectF(x, 0, 16, 12), 6, 6);
    p.setClipRect(0, 0, 10, 12);
    p.drawPath(path);
  };
  Draw(10, 12, file(19502), [&](QPainter& p) { end(p, 0); });
  Draw(5, 12, file(19501), [](QPainter& p) { p.fillRect(0, 0, 5, 12, Green()); });
  Draw(10, 12, file(19503), [&](QPainter& p) { end(p, -6); });
  return 0;
}
