// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the application's pictures: the window icon, the two splash pictures
// and the particle sprite. Run by scripts/make-artwork.sh; the PNGs it writes
// are committed, so a normal build does not need this program.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <cstdio>

namespace {

const QColor axisX(204, 37, 41);
const QColor axisY(62, 150, 81);
const QColor axisZ(57, 106, 177);
const QColor accent(156, 39, 176); // Material purple, the window's accent

// An arrow from the origin along angle (degrees, screen coordinates).
void drawAxis(
    QPainter &p, QPointF origin, qreal angleDeg, qreal length, qreal width, const QColor &color)
{
    const qreal a = qDegreesToRadians(angleDeg);
    const QPointF dir(qCos(a), -qSin(a));
    const QPointF normal(-dir.y(), dir.x());
    const QPointF tip = origin + dir * length;
    const QPointF base = tip - dir * width * 3.0;
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(origin, base);
    QPainterPath head;
    head.moveTo(tip);
    head.lineTo(base + normal * width * 1.6);
    head.lineTo(base - normal * width * 1.6);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(head);
}

// The module as a slanted box with its three axes, centred on c.
void drawModule(QPainter &p, QPointF c, qreal s)
{
    const QPointF dx(s * 0.62, s * 0.22), dy(-s * 0.38, s * 0.20), dz(0, -s * 0.16);
    const QPointF o = c - (dx + dy + dz) / 2.0;
    auto face = [&](QPointF a, QPointF b, QPointF d, const QColor &fill) {
        QPainterPath path;
        path.moveTo(a);
        path.lineTo(a + b);
        path.lineTo(a + b + d);
        path.lineTo(a + d);
        path.closeSubpath();
        p.setPen(QPen(QColor(20, 20, 24), s * 0.01));
        p.setBrush(fill);
        p.drawPath(path);
    };
    // Only the three faces turned towards the viewer, back to front.
    face(o + dy, dx, dz, QColor(70, 70, 78));
    face(o + dx, dy, dz, QColor(100, 100, 108));
    face(o + dz, dx, dy, QColor(120, 120, 128));
    // A chip on the top face.
    const QPointF top = o + dz + dx * 0.35 + dy * 0.3;
    face(top, dx * 0.3, dy * 0.4, QColor(30, 30, 34));

    const QPointF centre = o + dz + (dx + dy) / 2.0;
    drawAxis(p, centre, 20, s * 0.62, s * 0.03, axisX);
    drawAxis(p, centre, 150, s * 0.55, s * 0.03, axisY);
    drawAxis(p, centre, 90, s * 0.6, s * 0.03, axisZ);
}

QImage makeIcon()
{
    QImage image(664, 664, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 664, 664);
    bg.setColorAt(0, QColor(58, 32, 74));
    bg.setColorAt(1, QColor(24, 24, 30));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(16, 16, 632, 632), 120, 120);
    p.setPen(QPen(QColor(accent.red(), accent.green(), accent.blue(), 160), 10));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(332, 340), 250, 250);
    drawModule(p, QPointF(332, 360), 440);
    return image;
}

// Background of both splash pictures: a dark gradient, an orbit and the module.
void paintSplash(QPainter &p, int w, int h, bool withTransparentCorners)
{
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, w, h);
    bg.setColorAt(0, QColor(34, 22, 46));
    bg.setColorAt(0.6, QColor(26, 26, 32));
    bg.setColorAt(1, QColor(14, 14, 18));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    if (withTransparentCorners)
        p.drawRoundedRect(QRectF(0, 0, w, h), 48, 48);
    else
        p.drawRect(0, 0, w, h);

    // Three sine traces, as on the live charts.
    const QColor traces[] = {axisZ, QColor(218, 124, 48), axisY};
    for (int t = 0; t < 3; ++t) {
        QPainterPath path;
        for (int x = 0; x <= w; x += 8) {
            const qreal y = h * 0.80 + qSin(x / 90.0 + t * 2.1) * h * 0.05 * (1 + t * 0.4);
            if (x == 0)
                path.moveTo(x, y);
            else
                path.lineTo(x, y);
        }
        QColor c = traces[t];
        c.setAlpha(150);
        p.setPen(QPen(c, 5));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    }

    p.setPen(QPen(QColor(accent.red(), accent.green(), accent.blue(), 120), 6));
    p.drawEllipse(QPointF(w * 0.76, h * 0.42), h * 0.3, h * 0.3);
    drawModule(p, QPointF(w * 0.76, h * 0.45), h * 0.48);

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(h / 8);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(236, 236, 240));
    p.drawText(QRectF(w * 0.07, h * 0.22, w * 0.55, h * 0.2), Qt::AlignLeft | Qt::AlignVCenter,
        QStringLiteral("Velmar IMU"));
    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(h / 24);
    p.setFont(sub);
    p.setPen(QColor(200, 170, 214));
    p.drawText(QRectF(w * 0.07, h * 0.42, w * 0.5, h * 0.14),
        Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
        QStringLiteral("Live data, registers and calibration\nfor the nine-axis module"));
}

QImage makeSplash(bool rgba)
{
    const int w = 1600, h = 900;
    QImage image(w, h, rgba ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    image.fill(rgba ? QColor(Qt::transparent) : QColor(14, 14, 18));
    QPainter p(&image);
    paintSplash(p, w, h, rgba);
    return image;
}

QImage makeParticle()
{
    QImage image(100, 100, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient glow(QPointF(50, 50), 50);
    glow.setColorAt(0, QColor(255, 255, 255, 255));
    glow.setColorAt(0.3, QColor(220, 180, 255, 180));
    glow.setColorAt(1, QColor(156, 39, 176, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(QRectF(0, 0, 100, 100));
    return image;
}

bool save(const QImage &image, const QDir &dir, const QString &name)
{
    const QString path = dir.filePath(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(path), image.width(), image.height());
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", qPrintable(args.value(0)));
        return 2;
    }
    const QDir dir(args.at(1));
    const bool ok = save(makeIcon(), dir, QStringLiteral("ICON.png"))
        && save(makeSplash(true), dir, QStringLiteral("Splash1.png"))
        && save(makeSplash(false), dir, QStringLiteral("Splash2.png"))
        && save(makeParticle(), dir, QStringLiteral("particle.png"));
    return ok ? 0 : 1;
}
