// The look of the skin: one palette and a few shapes (glossy rounded
// buttons, an enclosure drawing, a disk drawing, line icons) combined into
// every picture of the catalogue. Pictures that sit on the column or the panel
// fill their corners with that surface's colour, so no mask is needed.
#include "skin/skin_art.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <cmath>

#include "skin/skin_catalog.h"

namespace raid::skin {
namespace {

// Palette.
const QColor kBody(0x23, 0x2b, 0x35);
const QColor kHeaderTop(0x36, 0x43, 0x52);
const QColor kHeaderBottom(0x1a, 0x21, 0x29);
const QColor kRail(0x2c, 0x36, 0x43);
const QColor kRailEdge(0x3b, 0x48, 0x58);
const QColor kPanel(0xee, 0xf1, 0xf5);
const QColor kPanelEdge(0xb9, 0xc2, 0xcd);
const QColor kAmber(0xf5, 0xa6, 0x23);
const QColor kSteel(0x5b, 0x9b, 0xd5);
const QColor kTeal(0x26, 0xb5, 0xa4);
const QColor kInk(0x2a, 0x34, 0x40);

enum class Look { Yellow, White, Action };

struct LookColors {
    QColor top, bottom, edge, text, icon;
};

LookColors ColorsOf(Look look) {
    switch (look) {
        case Look::Yellow:
            return {QColor(0xff, 0xd7, 0x6e), QColor(0xf2, 0x9b, 0x0c), QColor(0xb0, 0x6a, 0x00),
                    QColor(0x3a, 0x24, 0x00), QColor(0x4a, 0x2e, 0x00)};
        case Look::White:
            return {QColor(0xff, 0xff, 0xff), QColor(0xd6, 0xdd, 0xe5), QColor(0x8f, 0x9b, 0xa8),
                    kInk, QColor(0x4a, 0x5a, 0x6c)};
        case Look::Action:
            return {QColor(0x56, 0x68, 0x7d), QColor(0x2a, 0x35, 0x42), QColor(0x1b, 0x22, 0x2b),
                    QColor(0xff, 0xff, 0xff), QColor(0xff, 0xd0, 0x6a)};
    }
    return {};
}

QFont UiFont(double pixelSize, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(static_cast<int>(std::lround(pixelSize)));
    font.setBold(bold);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QImage Canvas(int width, int height, const QColor& fill) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(fill);
    return image;
}

void Prepare(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

// A soft shadow under a rounded shape: a few widening, fading outlines.
void SoftShadow(QPainter& p, const QRectF& r, double radius, int depth, int alpha) {
    p.save();
    p.setPen(Qt::NoPen);
    for (int i = depth; i >= 1; --i) {
        QColor c(0, 0, 0, alpha / (i + 1));
        p.setBrush(c);
        p.drawRoundedRect(r.adjusted(-i * 0.5, -i * 0.2, i * 0.5, i * 0.9), radius + i * 0.5,
                          radius + i * 0.5);
    }
    p.restore();
}

// Rounded button body: vertical gradient, a glossy upper half, an inner
// highlight and a darker outline.
void GlossyBody(QPainter& p, const QRectF& r, double radius, const LookColors& c) {
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0.0, c.top);
    fill.setColorAt(1.0, c.bottom);
    p.setPen(QPen(c.edge, 1.0));
    p.setBrush(fill);
    p.drawRoundedRect(r, radius, radius);

    QRectF gloss = r.adjusted(1.5, 1.5, -1.5, -r.height() * 0.5);
    QLinearGradient shine(gloss.topLeft(), gloss.bottomLeft());
    shine.setColorAt(0.0, QColor(255, 255, 255, 110));
    shine.setColorAt(1.0, QColor(255, 255, 255, 15));
    p.setPen(Qt::NoPen);
    p.setBrush(shine);
    p.drawRoundedRect(gloss, radius - 1.5, radius - 1.5);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 90), 1.0));
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
}

// --- Icons: line drawings in a 20 x 20 box at `o`. -----------------------

QPen IconPen(const QColor& c, double width = 2.0) {
    QPen pen(c, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void IconPulse(QPainter& p, QPointF o, const QColor& c) {
    p.setPen(IconPen(c));
    p.setBrush(Qt::NoBrush);
    const QPointF pts[] = {o + QPointF(1, 11),  o + QPointF(6, 11), o + QPointF(8, 5),
                           o + QPointF(11, 17), o + QPointF(14, 8), o + QPointF(15.5, 11),
                           o + QPointF(19, 11)};
    p.drawPolyline(pts, 7);
}

void IconGear(QPainter& p, QPointF o, const QColor& c) {
    const QPointF centre = o + QPointF(10, 10);
    QPainterPath gear;
    for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(centre);
        p.rotate(i * 45.0);
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawRoundedRect(QRectF(-2.2, -9.5, 4.4, 5.0), 1.0, 1.0);
        p.restore();
    }
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    gear.addEllipse(centre, 6.5, 6.5);
    gear.addEllipse(centre, 2.6, 2.6);
    gear.setFillRule(Qt::OddEvenFill);
    p.drawPath(gear);
}

void IconUpload(QPainter& p, QPointF o, const QColor& c) {
    p.setPen(IconPen(c));
    p.setBrush(Qt::NoBrush);
    p.drawLine(o + QPointF(10, 14), o + QPointF(10, 2.5));
    const QPointF head[] = {o + QPointF(5, 7.5), o + QPointF(10, 2.5), o + QPointF(15, 7.5)};
    p.drawPolyline(head, 3);
    const QPointF tray[] = {o + QPointF(2.5, 13), o + QPointF(2.5, 18), o + QPointF(17.5, 18),
                            o + QPointF(17.5, 13)};
    p.drawPolyline(tray, 4);
}

void IconEnvelope(QPainter& p, QPointF o, const QColor& c) {
    p.setPen(IconPen(c, 1.8));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(o + QPointF(1.5, 4), QSizeF(17, 12.5)), 1.5, 1.5);
    const QPointF flap[] = {o + QPointF(2, 5), o + QPointF(10, 11.5), o + QPointF(18, 5)};
    p.drawPolyline(flap, 3);
}

void IconGauge(QPainter& p, QPointF o, const QColor& c) {
    p.setPen(IconPen(c, 2.0));
    p.setBrush(Qt::NoBrush);
    const QRectF arc(o + QPointF(1.5, 3), QSizeF(17, 17));
    p.drawArc(arc, 0 * 16, 180 * 16);
    p.drawLine(o + QPointF(1.5, 11.5), o + QPointF(18.5, 11.5));
    p.drawLine(o + QPointF(10, 11.5), o + QPointF(14.5, 6));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(o + QPointF(10, 11.5), 2.2, 2.2);
}

void IconInfo(QPainter& p, QPointF o, const QColor& c) {
    p.setPen(IconPen(c, 1.8));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(o + QPointF(10, 10), 8.5, 8.5);
    p.setPen(IconPen(c, 2.4));
    p.drawLine(o + QPointF(10, 9), o + QPointF(10, 14.5));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(o + QPointF(10, 5.6), 1.5, 1.5);
}

void IconList(QPainter& p, QPointF o, const QColor& c) {
    p.setPen(IconPen(c, 2.0));
    for (int i = 0; i < 3; ++i) {
        const double y = 4.5 + i * 5.5;
        p.drawPoint(o + QPointF(3, y));
        p.drawLine(o + QPointF(7, y), o + QPointF(18, y));
    }
}

void IconFolder(QPainter& p, QPointF o, const QColor& c) {
    QPainterPath path;
    path.moveTo(o + QPointF(2, 5));
    path.lineTo(o + QPointF(8, 5));
    path.lineTo(o + QPointF(10, 7));
    path.lineTo(o + QPointF(18, 7));
    path.lineTo(o + QPointF(18, 16.5));
    path.lineTo(o + QPointF(2, 16.5));
    path.closeSubpath();
    p.setPen(IconPen(c, 1.8));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.drawLine(o + QPointF(2, 9.5), o + QPointF(18, 9.5));
}

void IconCheck(QPainter& p, QPointF o, const QColor& c) {
    p.setPen(IconPen(c, 2.6));
    p.setBrush(Qt::NoBrush);
    const QPointF tick[] = {o + QPointF(3.5, 10.5), o + QPointF(8, 15), o + QPointF(16.5, 5)};
    p.drawPolyline(tick, 3);
}

void IconCross(QPainter& p, QPointF o, const QColor& c) {
    p.setPen(IconPen(c, 2.6));
    p.drawLine(o + QPointF(5, 5), o + QPointF(15, 15));
    p.drawLine(o + QPointF(15, 5), o + QPointF(5, 15));
}

void IconPlane(QPainter& p, QPointF o, const QColor& c) {
    QPainterPath path;
    path.moveTo(o + QPointF(2, 9.5));
    path.lineTo(o + QPointF(18, 3));
    path.lineTo(o + QPointF(13, 17));
    path.lineTo(o + QPointF(9.5, 11.5));
    path.closeSubpath();
    p.setPen(IconPen(c, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.drawLine(o + QPointF(9.5, 11.5), o + QPointF(18, 3));
}

using IconFn = void (*)(QPainter&, QPointF, const QColor&);

// --- Drawings. -------------------------------------------------------------

// Front view of a two-bay enclosure in `r`: dark body, two drive trays with a
// handle and an activity light, and a power light.
void Enclosure(QPainter& p, const QRectF& r, const QColor& light) {
    const double radius = r.height() * 0.1;
    SoftShadow(p, r, radius, 3, 90);
    QLinearGradient body(r.topLeft(), r.bottomLeft());
    body.setColorAt(0.0, QColor(0x5a, 0x65, 0x72));
    body.setColorAt(0.5, QColor(0x3a, 0x43, 0x4e));
    body.setColorAt(1.0, QColor(0x22, 0x28, 0x30));
    p.setPen(QPen(QColor(0x15, 0x1a, 0x20), 1.0));
    p.setBrush(body);
    p.drawRoundedRect(r, radius, radius);
    p.setPen(QPen(QColor(255, 255, 255, 60), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawLine(r.topLeft() + QPointF(radius, 1.2), r.topRight() + QPointF(-radius, 1.2));

    const double margin = r.width() * 0.08;
    const double trayH = (r.height() - 3 * margin * 0.7) / 2.0 - r.height() * 0.06;
    for (int i = 0; i < 2; ++i) {
        const QRectF tray(r.left() + margin, r.top() + margin * 0.7 + i * (trayH + margin * 0.6),
                          r.width() - 2 * margin, trayH);
        QLinearGradient g(tray.topLeft(), tray.bottomLeft());
        g.setColorAt(0.0, QColor(0x17, 0x1c, 0x22));
        g.setColorAt(1.0, QColor(0x2b, 0x32, 0x3b));
        p.setPen(QPen(QColor(0x67, 0x72, 0x80), 0.8));
        p.setBrush(g);
        p.drawRoundedRect(tray, 2.0, 2.0);
        // Handle slot.
        const QRectF handle(tray.left() + tray.width() * 0.12, tray.center().y() - 1.6,
                            tray.width() * 0.45, 3.2);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x8a, 0x95, 0xa2));
        p.drawRoundedRect(handle, 1.6, 1.6);
        // Activity light with a small glow.
        const QPointF led(tray.right() - tray.height() * 0.55, tray.center().y());
        QRadialGradient glow(led, tray.height() * 0.6);
        QColor halo = light;
        halo.setAlpha(150);
        glow.setColorAt(0.0, halo);
        glow.setColorAt(1.0, QColor(light.red(), light.green(), light.blue(), 0));
        p.setBrush(glow);
        p.drawEllipse(led, tray.height() * 0.6, tray.height() * 0.6);
        p.setBrush(light.lighter(130));
        p.drawEllipse(led, 2.0, 2.0);
    }
    // Power light on the foot of the body.
    const QPointF power(r.right() - margin - 2, r.bottom() - margin * 0.55);
    p.setBrush(QColor(0x5c, 0xb8, 0xff));
    p.drawEllipse(power, 1.4, 1.4);
    p.setBrush(QColor(0x8a, 0x95, 0xa2));
    for (int i = 0; i < 4; ++i) {
        p.drawRect(QRectF(r.left() + margin + i * 4.0, r.bottom() - margin * 0.55 - 0.6, 2.2, 1.2));
    }
}

// A 3.5-inch disk seen from above in `r` (portrait).
void DiskDrawing(QPainter& p, const QRectF& r) {
    SoftShadow(p, r, 3.0, 2, 80);
    QLinearGradient metal(r.topLeft(), r.bottomRight());
    metal.setColorAt(0.0, QColor(0xe4, 0xe8, 0xed));
    metal.setColorAt(1.0, QColor(0x96, 0xa1, 0xad));
    p.setPen(QPen(QColor(0x5d, 0x68, 0x75), 1.0));
    p.setBrush(metal);
    p.drawRoundedRect(r, 3.0, 3.0);
    const double radius = r.width() * 0.36;
    const QPointF centre(r.center().x(), r.top() + r.height() * 0.42);
    QRadialGradient platter(centre - QPointF(radius * 0.3, radius * 0.3), radius * 1.3);
    platter.setColorAt(0.0, QColor(0xfa, 0xfb, 0xfc));
    platter.setColorAt(0.6, QColor(0xb9, 0xc2, 0xcc));
    platter.setColorAt(1.0, QColor(0x7d, 0x88, 0x95));
    p.setBrush(platter);
    p.setPen(QPen(QColor(0x6a, 0x75, 0x82), 0.8));
    p.drawEllipse(centre, radius, radius);
    p.setBrush(QColor(0x5d, 0x68, 0x75));
    p.setPen(Qt::NoPen);
    p.drawEllipse(centre, radius * 0.18, radius * 0.18);
    // Actuator arm from the lower corner over the platter.
    const QPointF pivot(r.right() - r.width() * 0.2, r.bottom() - r.height() * 0.14);
    p.setPen(IconPen(QColor(0x3c, 0x45, 0x50), 2.2));
    p.drawLine(pivot, centre + QPointF(radius * 0.15, radius * 0.55));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3c, 0x45, 0x50));
    p.drawEllipse(pivot, 2.6, 2.6);
}

// --- Pictures. -------------------------------------------------------------

void DrawCentredText(QPainter& p, const QRectF& r, const QString& text, const QFont& font,
                     const QColor& c) {
    p.setFont(font);
    p.setPen(c);
    p.drawText(r, Qt::AlignCenter, text);
}

QImage PageButton(int w, int h, Look look, IconFn icon, const QString& label) {
    QImage image = Canvas(w, h, kRail);
    QPainter p(&image);
    Prepare(p);
    const LookColors c = ColorsOf(look);
    const QRectF body(1.5, 1.5, w - 3.0, h - 4.0);
    SoftShadow(p, body, 7.0, 3, 110);
    GlossyBody(p, body, 7.0, c);
    icon(p, QPointF(12, (h - 2.0) / 2.0 - 10.5), c.icon);
    const QFont font = UiFont(15, true);
    if (look == Look::Yellow) {
        // A faint engraved edge keeps the dark label crisp on amber.
        p.setFont(font);
        p.setPen(QColor(255, 240, 200, 160));
        p.drawText(QRectF(41, 1.0, w - 45.0, h - 3.0), Qt::AlignVCenter | Qt::AlignLeft, label);
    }
    p.setFont(font);
    p.setPen(c.text);
    p.drawText(QRectF(40, 0, w - 44.0, h - 3.0), Qt::AlignVCenter | Qt::AlignLeft, label);
    if (look == Look::Yellow) {
        // A chevron towards the page panel marks the page that is shown.
        const double cy = (h - 2.0) / 2.0;
        p.setPen(IconPen(c.icon, 2.2));
        const QPointF chevron[] = {QPointF(w - 18.0, cy - 5), QPointF(w - 13.0, cy),
                                   QPointF(w - 18.0, cy + 5)};
        p.drawPolyline(chevron, 3);
    }
    return image;
}

// Selector tile shared by the device and disk pictures.
void SelectorTile(QPainter& p, int w, int h, Look look) {
    const LookColors c = ColorsOf(look);
    const QRectF tile(1.5, 1.5, w - 3.0, h - 4.0);
    SoftShadow(p, tile, 9.0, 3, 70);
    QLinearGradient fill(tile.topLeft(), tile.bottomLeft());
    if (look == Look::Yellow) {
        fill.setColorAt(0.0, QColor(0xff, 0xe6, 0xa3));
        fill.setColorAt(1.0, QColor(0xf7, 0xb4, 0x3a));
    } else {
        fill.setColorAt(0.0, QColor(0xff, 0xff, 0xff));
        fill.setColorAt(1.0, QColor(0xe2, 0xe7, 0xed));
    }
    p.setPen(QPen(look == Look::Yellow ? c.edge : QColor(0xb0, 0xba, 0xc6), 1.2));
    p.setBrush(fill);
    p.drawRoundedRect(tile, 9.0, 9.0);
    p.setPen(QPen(QColor(255, 255, 255, 120), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(tile.adjusted(1, 1, -1, -1), 8.0, 8.0);
}

QImage DevicePicture(int w, int h, Look look, const QString& label) {
    QImage image = Canvas(w, h, kPanel);
    QPainter p(&image);
    Prepare(p);
    SelectorTile(p, w, h, look);
    const bool lit = look == Look::Yellow;
    Enclosure(p, QRectF(w * 0.18, 9, w * 0.64, h * 0.56),
              lit ? QColor(0x3c, 0xe0, 0x6a) : QColor(0x2f, 0xa8, 0x58));
    const QColor text = lit ? ColorsOf(Look::Yellow).text : kInk;
    DrawCentredText(p, QRectF(0, h * 0.66, w, h * 0.3), label, UiFont(13, true), text);
    return image;
}

QImage DiskPicture(int w, int h, Look look, const QString& label) {
    QImage image = Canvas(w, h, kPanel);
    QPainter p(&image);
    Prepare(p);
    SelectorTile(p, w, h, look);
    DiskDrawing(p, QRectF(14, 7, 26, h - 16.0));
    const QColor text = look == Look::Yellow ? ColorsOf(Look::Yellow).text : kInk;
    p.setFont(UiFont(17, true));
    p.setPen(text);
    p.drawText(QRectF(48, 0, w - 52.0, h - 3.0), Qt::AlignVCenter | Qt::AlignLeft, label);
    return image;
}

// A sub-page tab of the Setup page: a selector tile with its label.
QImage SubPageTab(int w, int h, Look look, const QString& label) {
    QImage image = Canvas(w, h, kPanel);
    QPainter p(&image);
    Prepare(p);
    SelectorTile(p, w, h, look);
    const QColor text = look == Look::Yellow ? ColorsOf(Look::Yellow).text : kInk;
    DrawCentredText(p, QRectF(0, 0, w, h - 3.0), label, UiFont(12, true), text);
    return image;
}

QImage ActionButton(int w, int h, IconFn icon, const QString& label) {
    QImage image = Canvas(w, h, kPanel);
    QPainter p(&image);
    Prepare(p);
    const LookColors c = ColorsOf(Look::Action);
    const QRectF body(1.5, 1.5, w - 3.0, h - 4.0);
    SoftShadow(p, body, 6.0, 3, 90);
    GlossyBody(p, body, 6.0, c);
    const QFont font = UiFont(label.size() > 7 ? 12 : 13, true);
    const double textWidth = QFontMetricsF(font).horizontalAdvance(label);
    const double iconSize = 20 * 0.75;
    const double total = iconSize + 5 + textWidth;
    const double left = (w - total) / 2.0;
    p.save();
    p.translate(left, (h - 2.0) / 2.0 - iconSize / 2.0);
    p.scale(0.75, 0.75);
    icon(p, QPointF(0, 0), c.icon);
    p.restore();
    p.setFont(font);
    p.setPen(QColor(0, 0, 0, 110));
    p.drawText(QRectF(left + iconSize + 5, 1.0, textWidth + 4, h - 3.0),
               Qt::AlignVCenter | Qt::AlignLeft, label);
    p.setPen(c.text);
    p.drawText(QRectF(left + iconSize + 5, 0, textWidth + 4, h - 3.0),
               Qt::AlignVCenter | Qt::AlignLeft, label);
    return image;
}

// Header strip shared by the backgrounds and the banner so that they meet
// without a seam.
void Header(QPainter& p, int w, const QColor& accent) {
    QLinearGradient g(0, 0, 0, kBannerHeight);
    g.setColorAt(0.0, kHeaderTop);
    g.setColorAt(1.0, kHeaderBottom);
    p.fillRect(QRectF(0, 0, w, kBannerHeight), g);
    QLinearGradient line(0, 0, w, 0);
    line.setColorAt(0.0, accent);
    line.setColorAt(0.55, accent.darker(130));
    line.setColorAt(1.0, QColor(accent.red(), accent.green(), accent.blue(), 40));
    p.fillRect(QRectF(0, kBannerHeight, w, 2), line);
}

QImage Background(int w, int h, const QColor& accent, bool watermark) {
    QImage image = Canvas(w, h, kBody);
    QPainter p(&image);
    Prepare(p);
    Header(p, w, accent);

    // Rail behind the page buttons.
    const QRectF rail(4, kPanelTop, kPanelLeft - 10.0, kPanelHeight);
    p.setPen(QPen(kRailEdge, 1.0));
    p.setBrush(kRail);
    p.drawRoundedRect(rail, 8, 8);
    if (watermark) {
        p.setOpacity(0.22);
        Enclosure(p, QRectF(rail.center().x() - 34, rail.bottom() - 44, 68, 34),
                  accent.lighter(110));
        p.setOpacity(1.0);
    }

    // Light page panel.
    const QRectF panel(kPanelLeft, kPanelTop, kPanelWidth, kPanelHeight);
    SoftShadow(p, panel, 8.0, 5, 160);
    p.setPen(QPen(kPanelEdge, 1.0));
    p.setBrush(kPanel);
    p.drawRoundedRect(panel, 8, 8);
    p.setPen(QPen(QColor(255, 255, 255, 200), 1.0));
    p.drawLine(QPointF(panel.left() + 8, panel.top() + 1.5),
               QPointF(panel.right() - 8, panel.top() + 1.5));
    // Accent tab on the panel's upper left corner.
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    p.drawRoundedRect(QRectF(panel.left() + 14, panel.top() - 3, 56, 5), 2, 2);
    return image;
}

QImage Banner(int w, int h) {
    QImage image = Canvas(w, h, kBody);
    QPainter p(&image);
    Prepare(p);
    Header(p, w, kAmber);
    // A soft light behind the mark.
    QRadialGradient glow(QPointF(90, 10), 200);
    glow.setColorAt(0.0, QColor(255, 255, 255, 28));
    glow.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.fillRect(QRectF(0, 0, w, kBannerHeight), glow);

    const QRectF badge(14, 9, 38, 38);
    SoftShadow(p, badge, 8.0, 3, 120);
    GlossyBody(p, badge, 8.0, ColorsOf(Look::Yellow));
    Enclosure(p, badge.adjusted(6, 9, -6, -9), QColor(0x3c, 0xe0, 0x6a));

    QFont mark = UiFont(24, true);
    mark.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
    p.setFont(mark);
    const QString raid = QStringLiteral("RAID");
    const double raidWidth = QFontMetricsF(mark).horizontalAdvance(raid);
    const QRectF line(64, 0, 300, kBannerHeight);
    p.setPen(QColor(0, 0, 0, 120));
    p.drawText(line.translated(0, 1.5), Qt::AlignVCenter | Qt::AlignLeft, raid);
    p.setPen(QColor(0xf4, 0xf6, 0xf9));
    p.drawText(line, Qt::AlignVCenter | Qt::AlignLeft, raid);
    const QRectF gui = line.translated(raidWidth + 8, 0);
    p.setPen(QColor(0, 0, 0, 120));
    p.drawText(gui.translated(0, 1.5), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("GUI"));
    p.setPen(kAmber);
    p.drawText(gui, Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("GUI"));
    (void)h;
    return image;
}

QImage Logo(int w, int h) {
    QImage image = Canvas(w, h, kPanel);
    QPainter p(&image);
    Prepare(p);
    const QRectF card(3, 3, w - 6.0, h - 8.0);
    SoftShadow(p, card, 14.0, 5, 120);
    QLinearGradient fill(card.topLeft(), card.bottomRight());
    fill.setColorAt(0.0, kHeaderTop);
    fill.setColorAt(1.0, kHeaderBottom);
    p.setPen(QPen(QColor(0x12, 0x17, 0x1d), 1.0));
    p.setBrush(fill);
    p.drawRoundedRect(card, 14, 14);
    QRadialGradient glow(QPointF(card.center().x(), card.top() + 30), 90);
    glow.setColorAt(0.0, QColor(255, 200, 90, 55));
    glow.setColorAt(1.0, QColor(255, 200, 90, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawRoundedRect(card, 14, 14);

    Enclosure(p, QRectF(card.center().x() - 30, card.top() + 12, 60, 40), QColor(0x3c, 0xe0, 0x6a));
    QFont big = UiFont(30, true);
    big.setLetterSpacing(QFont::AbsoluteSpacing, 2.0);
    DrawCentredText(p, QRectF(card.left(), card.top() + 55, card.width(), 34),
                    QStringLiteral("RAID"), big, kAmber);
    QFont small = UiFont(11, true);
    small.setLetterSpacing(QFont::AbsoluteSpacing, 5.0);
    DrawCentredText(p, QRectF(card.left() + 5, card.top() + 88, card.width(), 18),
                    QStringLiteral("GUI"), small, QColor(0xd5, 0xdc, 0xe4));
    return image;
}

struct PageButtonArt {
    std::string_view base;
    IconFn icon;
    const char* label;
};

constexpr PageButtonArt kPageButtons[] = {
    {"statusPageButton", IconPulse, "Status"},    {"setupPageButton", IconGear, "Setup"},
    {"upgradePageButton", IconUpload, "Upgrade"}, {"emailPageButton", IconEnvelope, "E-mail"},
    {"smartPageButton", IconGauge, "SMART"},      {"aboutPageButton", IconInfo, "About"},
};

struct ActionArt {
    std::string_view name;
    IconFn icon;
    const char* label;
};

constexpr ActionArt kActions[] = {
    {"eventLogButton", IconList, "Event Log"},     {"loadFirmwareButton", IconFolder, "Load"},
    {"startUpgradeButton", IconUpload, "Upgrade"}, {"applyPeriodButton", IconCheck, "Set"},
    {"saveMailButton", IconCheck, "OK"},           {"revertMailButton", IconCross, "Ignore"},
    {"testMailButton", IconPlane, "Test"},
};

// "<base>Selected" -> the yellow look, "<base>Unselected" -> the white one;
// false for other names.
bool SplitLook(std::string_view name, std::string_view& base, Look& look) {
    constexpr std::string_view kSelected = "Selected";
    constexpr std::string_view kUnselected = "Unselected";
    if (name.ends_with(kSelected)) {
        base = name.substr(0, name.size() - kSelected.size());
        look = Look::Yellow;
        return true;
    }
    if (name.ends_with(kUnselected)) {
        base = name.substr(0, name.size() - kUnselected.size());
        look = Look::White;
        return true;
    }
    return false;
}

}  // namespace

QImage PaintPicture(std::string_view name, int width, int height) {
    if (name == "backgroundRaid") return Background(width, height, kAmber, true);
    if (name == "backgroundOem") return Background(width, height, kSteel, false);
    if (name == "backgroundHybrid") return Background(width, height, kTeal, true);
    if (name == "titleBanner") return Banner(width, height);
    if (name == "productLogo") return Logo(width, height);
    for (const auto& a : kActions) {
        if (name == a.name)
            return ActionButton(width, height, a.icon, QString::fromLatin1(a.label));
    }
    std::string_view base;
    Look look = Look::White;
    if (!SplitLook(name, base, look)) return {};
    for (const auto& b : kPageButtons) {
        if (base == b.base)
            return PageButton(width, height, look, b.icon, QString::fromLatin1(b.label));
    }
    if (base == "scheduleTab") return SubPageTab(width, height, look, QStringLiteral("Schedule"));
    if (base == "initializeTab")
        return SubPageTab(width, height, look, QStringLiteral("Initialize"));
    if (base == "device1") return DevicePicture(width, height, look, QStringLiteral("Device1"));
    if (base == "device2") return DevicePicture(width, height, look, QStringLiteral("Device2"));
    if (base == "hdd1") return DiskPicture(width, height, look, QStringLiteral("HDD1"));
    if (base == "hdd2") return DiskPicture(width, height, look, QStringLiteral("HDD2"));
    return {};
}

}  // namespace raid::skin
