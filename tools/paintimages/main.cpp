// Paints the player's pictures (status images, button icons, menu images, backgrounds, the
// slider knob and the application icon) with QPainter and writes them as PNG files.
//
//   paintimages OUTPUT_FOLDER
//
// Every picture is drawn from simple shapes so that the set stays consistent: one glyph
// vocabulary (play, pause, stop, forward, rewind, ...) in one palette, at the sizes the
// window uses.
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

QString gOutDir;
int gWritten = 0;
bool gFailed = false;

const QColor kPlayColour(98, 210, 111);
const QColor kPauseColour(245, 194, 66);
const QColor kStopColour(229, 83, 75);
const QColor kSpeedColour(79, 195, 247);
const QColor kRecordColour(255, 90, 90);
const QColor kIconColour(222, 224, 228);
const QColor kBadgeColour(38, 43, 49);
const QColor kBadgeBorder(92, 98, 106);

enum class Glyph { Play, Pause, Stop, Forward, Rewind, Record };

QImage canvas(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

void save(const QImage &img, const QString &name) {
    const QString path = gOutDir + "/" + name;
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "paintimages: cannot write %s\n", qPrintable(path));
        gFailed = true;
        return;
    }
    ++gWritten;
}

void setup(QPainter &p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
}

QFont font(qreal pixelSize, bool bold) {
    QFont f("DejaVu Sans");
    f.setPixelSize(qMax(1, qRound(pixelSize)));
    f.setBold(bold);
    return f;
}

// A point of the unit square mapped into box.
QPointF at(const QRectF &box, qreal x, qreal y) {
    return QPointF(box.left() + x * box.width(), box.top() + y * box.height());
}

QPainterPath triangle(const QRectF &box, QPointF a, QPointF b, QPointF c) {
    QPainterPath path;
    path.moveTo(at(box, a.x(), a.y()));
    path.lineTo(at(box, b.x(), b.y()));
    path.lineTo(at(box, c.x(), c.y()));
    path.closeSubpath();
    return path;
}

QPainterPath glyphPath(Glyph g, const QRectF &box) {
    QPainterPath path;
    switch (g) {
    case Glyph::Play:
        path = triangle(box, {0.26, 0.16}, {0.26, 0.84}, {0.84, 0.5});
        break;
    case Glyph::Pause:
        path.addRoundedRect(QRectF(at(box, 0.22, 0.18), at(box, 0.42, 0.82)), 1.0, 1.0);
        path.addRoundedRect(QRectF(at(box, 0.58, 0.18), at(box, 0.78, 0.82)), 1.0, 1.0);
        break;
    case Glyph::Stop:
        path.addRoundedRect(QRectF(at(box, 0.2, 0.2), at(box, 0.8, 0.8)), box.width() * 0.06,
                            box.width() * 0.06);
        break;
    case Glyph::Forward:
        path = triangle(box, {0.1, 0.2}, {0.1, 0.8}, {0.5, 0.5});
        path.addPath(triangle(box, {0.5, 0.2}, {0.5, 0.8}, {0.9, 0.5}));
        break;
    case Glyph::Rewind:
        path = triangle(box, {0.9, 0.2}, {0.9, 0.8}, {0.5, 0.5});
        path.addPath(triangle(box, {0.5, 0.2}, {0.5, 0.8}, {0.1, 0.5}));
        break;
    case Glyph::Record:
        path.addEllipse(QRectF(at(box, 0.2, 0.2), at(box, 0.8, 0.8)));
        break;
    }
    return path;
}

// Fills a path with a soft shadow below it and a light top edge, in one colour.
void fillGlyph(QPainter &p, const QPainterPath &path, const QColor &colour, qreal scale) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 110));
    p.drawPath(path.translated(0, qMax(1.0, scale * 0.04)));
    QLinearGradient grad(path.boundingRect().topLeft(), path.boundingRect().bottomLeft());
    grad.setColorAt(0.0, colour.lighter(135));
    grad.setColorAt(1.0, colour.darker(112));
    p.setBrush(grad);
    p.drawPath(path);
    p.restore();
}

void drawText(QPainter &p, const QRectF &box, const QString &text, const QColor &colour, qreal pixelSize,
              bool bold, Qt::Alignment align = Qt::AlignCenter) {
    p.save();
    p.setFont(font(pixelSize, bold));
    p.setPen(QColor(0, 0, 0, 140));
    p.drawText(box.translated(0, 1), align, text);
    p.setPen(colour);
    p.drawText(box, align, text);
    p.restore();
}

// A transport status picture: the glyph, with the speed written under it when there is one.
QImage statusImage(int size, Glyph g, const QColor &colour, const QString &label) {
    QImage img = canvas(size, size);
    QPainter p(&img);
    setup(p);
    const qreal s = size;
    if (label.isEmpty()) {
        fillGlyph(p, glyphPath(g, QRectF(s * 0.12, s * 0.12, s * 0.76, s * 0.76)), colour, s);
    } else {
        fillGlyph(p, glyphPath(g, QRectF(s * 0.14, s * 0.02, s * 0.72, s * 0.58)), colour, s);
        drawText(p, QRectF(0, s * 0.58, s, s * 0.42), label, colour.lighter(120), s * 0.36, true);
    }
    return img;
}

void paintStatusImages() {
    struct Entry {
        const char *name;
        Glyph glyph;
        QColor colour;
        const char *label;
    };
    const Entry entries[] = {
        {"play", Glyph::Play, kPlayColour, ""},
        {"pause", Glyph::Pause, kPauseColour, ""},
        {"stop", Glyph::Stop, kStopColour, ""},
        {"fast_rewind_1x", Glyph::Rewind, kSpeedColour, "1x"},
        {"fast_forward_2x", Glyph::Forward, kSpeedColour, "2x"},
        {"fast_rewind_2x", Glyph::Rewind, kSpeedColour, "2x"},
        {"fast_forward_4x", Glyph::Forward, kSpeedColour, "4x"},
        {"fast_rewind_4x", Glyph::Rewind, kSpeedColour, "4x"},
        {"fast_forward_8x", Glyph::Forward, kSpeedColour, "8x"},
        {"fast_rewind_8x", Glyph::Rewind, kSpeedColour, "8x"},
        {"fast_forward_16x", Glyph::Forward, kSpeedColour, "16x"},
        {"fast_rewind_16x", Glyph::Rewind, kSpeedColour, "16x"},
    };
    for (const Entry &e : entries) {
        save(statusImage(36, e.glyph, e.colour, e.label), QString("%1.png").arg(e.name));
        save(statusImage(44, e.glyph, e.colour, e.label), QString("%1_full.png").arg(e.name));
    }
    save(statusImage(36, Glyph::Record, kRecordColour, "AVI"), "avi_convert_status.png");
}

// Horizontal lines of alternating strength: two fields woven into one picture.
void drawDeinterlaceGlyph(QPainter &p, const QRectF &box, const QColor &colour) {
    p.save();
    p.setPen(QPen(colour.darker(150), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 2.5, 2.5);
    const int lines = 5;
    for (int i = 0; i < lines; ++i) {
        const qreal y = box.top() + box.height() * (i + 1) / (lines + 1);
        QColor c = colour;
        if (i % 2) c.setAlpha(110);
        p.setPen(QPen(c, qMax(1.0, box.height() / 12.0), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(box.left() + box.width() * 0.18, y), QPointF(box.right() - box.width() * 0.18, y));
    }
    p.restore();
}

void paintDeinterlaceStatus() {
    for (int size : {24, 30}) {
        QImage img = canvas(size, size * 2 / 3);
        QPainter p(&img);
        setup(p);
        drawDeinterlaceGlyph(p, QRectF(1, 1, img.width() - 2, img.height() - 2), kPauseColour);
        p.end();
        save(img, size == 24 ? "deinterlace_status.png" : "deinterlace_status_full.png");
    }
}

// ---- Button icons ---------------------------------------------------------------------------

using IconPainter = std::function<void(QPainter &, const QRectF &)>;

void saveIcon(const QString &name, int size, const IconPainter &paint) {
    QImage img = canvas(size, size);
    QPainter p(&img);
    setup(p);
    paint(p, QRectF(0, 0, size, size));
    p.end();
    save(img, name);
}

void glyphIcon(QPainter &p, const QRectF &r, Glyph g) {
    fillGlyph(
        p, glyphPath(g, r.adjusted(r.width() * 0.1, r.height() * 0.1, -r.width() * 0.1, -r.height() * 0.1)),
        kIconColour, r.width());
}

QPen iconPen(const QRectF &r) {
    return QPen(kIconColour, qMax(1.4, r.width() * 0.08), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void paintButtonIcons() {
    const int s = 24;
    saveIcon("btn_play.png", s, [](QPainter &p, const QRectF &r) { glyphIcon(p, r, Glyph::Play); });
    saveIcon("btn_pause.png", s, [](QPainter &p, const QRectF &r) { glyphIcon(p, r, Glyph::Pause); });
    saveIcon("btn_stop.png", s, [](QPainter &p, const QRectF &r) { glyphIcon(p, r, Glyph::Stop); });
    saveIcon("btn_forward.png", s, [](QPainter &p, const QRectF &r) { glyphIcon(p, r, Glyph::Forward); });
    saveIcon("btn_rewind.png", s, [](QPainter &p, const QRectF &r) { glyphIcon(p, r, Glyph::Rewind); });
    saveIcon("btn_prev_file.png", s, [](QPainter &p, const QRectF &r) {
        QPainterPath path = triangle(r, {0.82, 0.2}, {0.82, 0.8}, {0.34, 0.5});
        path.addRect(QRectF(at(r, 0.18, 0.2), at(r, 0.3, 0.8)));
        fillGlyph(p, path, kIconColour, r.width());
    });
    saveIcon("btn_next_file.png", s, [](QPainter &p, const QRectF &r) {
        QPainterPath path = triangle(r, {0.18, 0.2}, {0.18, 0.8}, {0.66, 0.5});
        path.addRect(QRectF(at(r, 0.7, 0.2), at(r, 0.82, 0.8)));
        fillGlyph(p, path, kIconColour, r.width());
    });
    saveIcon("btn_open.png", s, [](QPainter &p, const QRectF &r) {
        QPainterPath back;
        back.moveTo(at(r, 0.1, 0.82));
        back.lineTo(at(r, 0.1, 0.22));
        back.lineTo(at(r, 0.38, 0.22));
        back.lineTo(at(r, 0.46, 0.32));
        back.lineTo(at(r, 0.86, 0.32));
        back.lineTo(at(r, 0.86, 0.82));
        back.closeSubpath();
        fillGlyph(p, back, kIconColour.darker(140), r.width());
        QPainterPath front;
        front.moveTo(at(r, 0.1, 0.82));
        front.lineTo(at(r, 0.24, 0.44));
        front.lineTo(at(r, 0.94, 0.44));
        front.lineTo(at(r, 0.86, 0.82));
        front.closeSubpath();
        fillGlyph(p, front, kIconColour, r.width());
    });
    saveIcon("btn_snapshot.png", s, [](QPainter &p, const QRectF &r) {
        QPainterPath body;
        body.addRoundedRect(QRectF(at(r, 0.08, 0.3), at(r, 0.92, 0.84)), 2.5, 2.5);
        body.addRect(QRectF(at(r, 0.34, 0.18), at(r, 0.64, 0.32)));
        QPainterPath lens;
        lens.addEllipse(at(r, 0.5, 0.57), r.width() * 0.17, r.width() * 0.17);
        fillGlyph(p, body.subtracted(lens), kIconColour, r.width());
        QPainterPath inner;
        inner.addEllipse(at(r, 0.5, 0.57), r.width() * 0.09, r.width() * 0.09);
        fillGlyph(p, inner, kIconColour, r.width());
    });
    saveIcon("btn_color.png", s, [](QPainter &p, const QRectF &r) {
        const QColor colours[] = {QColor(235, 80, 80, 210), QColor(90, 200, 100, 210),
                                  QColor(80, 140, 240, 210)};
        const QPointF centres[] = {at(r, 0.5, 0.36), at(r, 0.36, 0.62), at(r, 0.64, 0.62)};
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 3; ++i) {
            p.setBrush(colours[i]);
            p.drawEllipse(centres[i], r.width() * 0.24, r.width() * 0.24);
        }
    });
    saveIcon("btn_settings.png", s, [](QPainter &p, const QRectF &r) {
        QPainterPath gear;
        const QPointF c = at(r, 0.5, 0.5);
        const int teeth = 8;
        for (int i = 0; i < teeth * 2; ++i) {
            const qreal a = (i * M_PI) / teeth;
            const qreal rad = r.width() * ((i % 2) ? 0.3 : 0.42);
            const qreal a0 = a - M_PI / (teeth * 2.4), a1 = a + M_PI / (teeth * 2.4);
            const QPointF p0(c.x() + rad * std::cos(a0), c.y() + rad * std::sin(a0));
            const QPointF p1(c.x() + rad * std::cos(a1), c.y() + rad * std::sin(a1));
            if (i == 0)
                gear.moveTo(p0);
            else
                gear.lineTo(p0);
            gear.lineTo(p1);
        }
        gear.closeSubpath();
        QPainterPath hole;
        hole.addEllipse(c, r.width() * 0.13, r.width() * 0.13);
        fillGlyph(p, gear.subtracted(hole), kIconColour, r.width());
    });
    saveIcon("btn_avi.png", s, [](QPainter &p, const QRectF &r) {
        QPainterPath film;
        film.addRoundedRect(QRectF(at(r, 0.14, 0.1), at(r, 0.86, 0.9)), 2.0, 2.0);
        QPainterPath holes;
        for (int i = 0; i < 4; ++i) {
            const qreal y = 0.17 + i * 0.18;
            holes.addRect(QRectF(at(r, 0.2, y), at(r, 0.28, y + 0.1)));
            holes.addRect(QRectF(at(r, 0.72, y), at(r, 0.8, y + 0.1)));
        }
        holes.addRect(QRectF(at(r, 0.36, 0.17), at(r, 0.64, 0.45)));
        holes.addRect(QRectF(at(r, 0.36, 0.55), at(r, 0.64, 0.83)));
        fillGlyph(p, film.subtracted(holes), kIconColour, r.width());
    });
    auto corners = [](QPainter &p, const QRectF &r, bool outward) {
        p.save();
        p.setPen(iconPen(r));
        const qreal a = 0.14, b = 0.38;
        const qreal pts[4][2] = {{a, a}, {1 - a, a}, {a, 1 - a}, {1 - a, 1 - a}};
        for (const auto &pt : pts) {
            const qreal x = pt[0], y = pt[1];
            const qreal dx = (x < 0.5) ? 1 : -1, dy = (y < 0.5) ? 1 : -1;
            const QPointF corner = outward ? at(r, x, y) : at(r, x + dx * (b - a), y + dy * (b - a));
            const qreal sx = outward ? dx : -dx, sy = outward ? dy : -dy;
            const qreal len = (b - a) * r.width();
            p.drawLine(corner, corner + QPointF(sx * len, 0));
            p.drawLine(corner, corner + QPointF(0, sy * len));
        }
        p.restore();
    };
    saveIcon("btn_fullscreen.png", s, [&](QPainter &p, const QRectF &r) { corners(p, r, true); });
    saveIcon("btn_exit_fullscreen.png", 30, [&](QPainter &p, const QRectF &r) { corners(p, r, false); });
    saveIcon("btn_osd.png", s, [](QPainter &p, const QRectF &r) {
        p.save();
        p.setPen(iconPen(r));
        p.drawRoundedRect(QRectF(at(r, 0.08, 0.2), at(r, 0.92, 0.8)), 2.5, 2.5);
        p.restore();
        drawText(p, r, "T", kIconColour, r.height() * 0.46, true);
    });
    saveIcon("btn_deinterlace.png", s, [](QPainter &p, const QRectF &r) {
        drawDeinterlaceGlyph(p, r.adjusted(2, 4, -2, -4), kIconColour);
    });
    saveIcon("btn_flip.png", s, [](QPainter &p, const QRectF &r) {
        QPainterPath up = triangle(r, {0.5, 0.08}, {0.22, 0.42}, {0.78, 0.42});
        QPainterPath down = triangle(r, {0.5, 0.92}, {0.22, 0.58}, {0.78, 0.58});
        fillGlyph(p, up, kIconColour, r.width());
        fillGlyph(p, down, kIconColour.darker(135), r.width());
    });
    // The full-screen panel's transport buttons are a little larger.
    const int fs = 30;
    saveIcon("btn_play_full.png", fs, [](QPainter &p, const QRectF &r) { glyphIcon(p, r, Glyph::Play); });
    saveIcon("btn_pause_full.png", fs, [](QPainter &p, const QRectF &r) { glyphIcon(p, r, Glyph::Pause); });
    saveIcon("btn_stop_full.png", fs, [](QPainter &p, const QRectF &r) { glyphIcon(p, r, Glyph::Stop); });
    saveIcon("btn_forward_full.png", fs,
             [](QPainter &p, const QRectF &r) { glyphIcon(p, r, Glyph::Forward); });
    saveIcon("btn_rewind_full.png", fs, [](QPainter &p, const QRectF &r) { glyphIcon(p, r, Glyph::Rewind); });
}

// ---- Menu images ----------------------------------------------------------------------------

QImage badge(int w, int h) {
    QImage img = canvas(w, h);
    QPainter p(&img);
    setup(p);
    QLinearGradient grad(0, 0, 0, h);
    grad.setColorAt(0.0, kBadgeColour.lighter(125));
    grad.setColorAt(1.0, kBadgeColour);
    p.setBrush(grad);
    p.setPen(QPen(kBadgeBorder, 1.0));
    p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 4, 4);
    return img;
}

void drawSpeaker(QPainter &p, const QRectF &r, bool muted) {
    QPainterPath body;
    body.moveTo(at(r, 0.1, 0.36));
    body.lineTo(at(r, 0.3, 0.36));
    body.lineTo(at(r, 0.55, 0.14));
    body.lineTo(at(r, 0.55, 0.86));
    body.lineTo(at(r, 0.3, 0.64));
    body.lineTo(at(r, 0.1, 0.64));
    body.closeSubpath();
    fillGlyph(p, body, kIconColour, r.width());
    p.save();
    if (muted) {
        p.setPen(QPen(kStopColour, r.width() * 0.1, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(at(r, 0.66, 0.32), at(r, 0.94, 0.68));
        p.drawLine(at(r, 0.66, 0.68), at(r, 0.94, 0.32));
    } else {
        p.setPen(QPen(kIconColour, r.width() * 0.08, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        for (qreal k : {0.22, 0.38}) {
            const QRectF arc(at(r, 0.55 - k, 0.5 - k), at(r, 0.55 + k, 0.5 + k));
            p.drawArc(arc, -45 * 16, 90 * 16);
        }
    }
    p.restore();
}

void paintMenuImages() {
    const int w = 76, h = 20;
    for (int ch = 1; ch <= 16; ++ch) {
        QImage img = badge(w, h);
        QPainter p(&img);
        setup(p);
        drawSpeaker(p, QRectF(6, 3, 16, 14), false);
        drawText(p, QRectF(26, 0, w - 30, h), QString("CH%1").arg(ch), Qt::white, 11.5, true,
                 Qt::AlignLeft | Qt::AlignVCenter);
        p.end();
        save(img, QString("vol_CH%1_bk.png").arg(ch));
    }
    {
        QImage img = badge(w, h);
        QPainter p(&img);
        setup(p);
        drawSpeaker(p, QRectF(6, 3, 16, 14), true);
        drawText(p, QRectF(26, 0, w - 30, h), "N/A", QColor(200, 200, 200), 11.5, true,
                 Qt::AlignLeft | Qt::AlignVCenter);
        p.end();
        save(img, "vol_Unsupported_bk.png");
    }
    struct Grid {
        int panes, cols, rows;
    };
    for (const Grid g : {Grid{4, 2, 2}, Grid{6, 3, 2}, Grid{9, 3, 3}, Grid{12, 4, 3}, Grid{16, 4, 4}}) {
        QImage img = badge(w, h);
        QPainter p(&img);
        setup(p);
        // The grid menu shows about 69 of the 76 pixels beside its arrow: the glyph and the
        // label sit far enough left that "16 CH" ends inside that.
        const QRectF cell(5, 3, 18, 14);
        p.setPen(Qt::NoPen);
        for (int r = 0; r < g.rows; ++r)
            for (int c = 0; c < g.cols; ++c) {
                const QRectF tile(cell.left() + c * cell.width() / g.cols,
                                  cell.top() + r * cell.height() / g.rows, cell.width() / g.cols,
                                  cell.height() / g.rows);
                p.setBrush(kSpeedColour.darker(r % 2 == c % 2 ? 100 : 125));
                p.drawRect(tile.adjusted(0.5, 0.5, -0.5, -0.5));
            }
        drawText(p, QRectF(26, 0, w - 30, h), QString("%1 CH").arg(g.panes), Qt::white, 11.5, true,
                 Qt::AlignLeft | Qt::AlignVCenter);
        p.end();
        save(img, QString("%1ch_bk.png").arg(g.panes));
    }
}

// ---- Backgrounds, knob, application icon ------------------------------------------------------

void paintBackgrounds() {
    {
        // The status strip: a dark display panel with a faint glass edge.
        QImage img = canvas(480, 60);
        QPainter p(&img);
        setup(p);
        QLinearGradient grad(0, 0, 0, 60);
        grad.setColorAt(0.0, QColor(34, 42, 50));
        grad.setColorAt(0.5, QColor(18, 23, 28));
        grad.setColorAt(1.0, QColor(12, 15, 19));
        p.setBrush(grad);
        p.setPen(QPen(QColor(70, 80, 92), 1.0));
        p.drawRoundedRect(QRectF(0.5, 0.5, 479, 59), 8, 8);
        p.setPen(QPen(QColor(255, 255, 255, 28), 1.0));
        p.drawLine(QPointF(8, 1.5), QPointF(472, 1.5));
        p.end();
        save(img, "info_bg_480x60__.png");
    }
    {
        // Control strip and colour panel: brushed dark metal, stretched by its users.
        const int w = 32, h = 72;
        QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
        QPainter p(&img);
        QLinearGradient grad(0, 0, 0, h);
        grad.setColorAt(0.0, QColor(92, 95, 100));
        grad.setColorAt(0.08, QColor(72, 75, 80));
        grad.setColorAt(1.0, QColor(40, 42, 46));
        p.fillRect(img.rect(), grad);
        for (int y = 2; y < h; y += 3) {
            p.setPen(QColor(255, 255, 255, (y % 2) ? 7 : 3));
            p.drawLine(0, y, w, y);
        }
        p.setPen(QColor(130, 134, 140));
        p.drawLine(0, 0, w, 0);
        p.end();
        save(img, "background.png");
    }
}

void paintKnob() {
    const int s = 13;
    QImage img = canvas(s, s);
    QPainter p(&img);
    setup(p);
    QRadialGradient grad(QPointF(s * 0.38, s * 0.32), s * 0.7);
    grad.setColorAt(0.0, QColor(255, 255, 255));
    grad.setColorAt(0.6, QColor(214, 218, 224));
    grad.setColorAt(1.0, QColor(150, 156, 164));
    p.setBrush(grad);
    p.setPen(QPen(QColor(60, 64, 70), 1.0));
    p.drawEllipse(QRectF(0.5, 0.5, s - 1, s - 1));
    p.end();
    save(img, "slidebar_dot.png");
}

void paintAppIcon() {
    const int s = 64;
    QImage img = canvas(s, s);
    QPainter p(&img);
    setup(p);
    QLinearGradient grad(0, 0, 0, s);
    grad.setColorAt(0.0, QColor(60, 66, 74));
    grad.setColorAt(1.0, QColor(24, 27, 31));
    p.setBrush(grad);
    p.setPen(QPen(QColor(110, 118, 128), 1.5));
    p.drawRoundedRect(QRectF(2, 2, s - 4, s - 4), 10, 10);
    p.setPen(Qt::NoPen);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) {
            p.setBrush(kSpeedColour.darker(r == c ? 150 : 190));
            p.drawRoundedRect(QRectF(9 + c * 24, 9 + r * 24, 22, 22), 3, 3);
        }
    fillGlyph(p, glyphPath(Glyph::Play, QRectF(20, 18, 28, 28)), kPlayColour, s);
    p.end();
    save(img, "recorderplayer.png");
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: paintimages OUTPUT_FOLDER\n");
        return 2;
    }
    // Text needs a font database; no window is ever shown.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    gOutDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(gOutDir)) {
        std::fprintf(stderr, "paintimages: cannot create %s\n", argv[1]);
        return 1;
    }
    paintStatusImages();
    paintDeinterlaceStatus();
    paintButtonIcons();
    paintMenuImages();
    paintBackgrounds();
    paintKnob();
    paintAppIcon();
    std::printf("paintimages: %d pictures written to %s\n", gWritten, argv[1]);
    return gFailed ? 1 : 0;
}
