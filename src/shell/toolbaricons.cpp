#include "shell/toolbaricons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int side = 32;

void drawChip(QPainter& p, const QRectF& body) {
    p.setPen(QPen(QColor(150, 150, 150), 1.5));
    const int pins = 4;
    for (int i = 0; i < pins; ++i) {
        const qreal y = body.top() + body.height() * (i + 0.5) / pins;
        p.drawLine(QPointF(body.left() - 3, y), QPointF(body.left(), y));
        p.drawLine(QPointF(body.right(), y), QPointF(body.right() + 3, y));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(45, 45, 50));
    p.drawRoundedRect(body, 2, 2);
    p.setBrush(QColor(200, 200, 200));
    p.drawEllipse(QPointF(body.left() + 3.5, body.top() + 3.5), 1.5, 1.5);
}

void drawArrow(QPainter& p, QPointF from, QPointF to, const QColor& colour) {
    p.setPen(QPen(colour, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QPointF d = (to - from) / std::hypot(to.x() - from.x(), to.y() - from.y());
    const QPointF n(-d.y(), d.x());
    p.drawLine(to, to - d * 6 + n * 5);
    p.drawLine(to, to - d * 6 - n * 5);
}

void drawPicture(QPainter& p, CommandPicture picture) {
    p.setRenderHint(QPainter::Antialiasing);
    switch (picture) {
    case CommandPicture::Open: {
        p.setPen(QPen(QColor(150, 110, 20), 1.2));
        p.setBrush(QColor(240, 200, 80));
        p.drawRect(QRectF(3, 8, 24, 18));
        p.setBrush(QColor(255, 225, 120));
        QPainterPath flap;
        flap.moveTo(3, 26);
        flap.lineTo(9, 13);
        flap.lineTo(30, 13);
        flap.lineTo(27, 26);
        flap.closeSubpath();
        p.drawPath(flap);
        break;
    }
    case CommandPicture::Save:
        p.setPen(QPen(QColor(20, 40, 110), 1.2));
        p.setBrush(QColor(50, 90, 190));
        p.drawRoundedRect(QRectF(4, 4, 24, 24), 2, 2);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(9, 4, 14, 9));
        p.setBrush(QColor(200, 200, 210));
        p.drawRect(QRectF(8, 18, 16, 10));
        break;
    case CommandPicture::Edit:
        p.setPen(QPen(QColor(90, 90, 90), 1.2));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(6, 3, 18, 26));
        p.setPen(QPen(QColor(120, 120, 200), 1.5));
        for (int y = 9; y <= 24; y += 5) p.drawLine(QPointF(9, y), QPointF(21, y));
        p.setPen(QPen(QColor(200, 120, 20), 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(16, 26), QPointF(29, 10));
        break;
    case CommandPicture::Auto:
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 150, 60));
        p.drawPolygon(QPolygonF({QPointF(4, 6), QPointF(16, 16), QPointF(4, 26)}));
        p.drawPolygon(QPolygonF({QPointF(16, 6), QPointF(28, 16), QPointF(16, 26)}));
        break;
    case CommandPicture::Erase:
        drawChip(p, QRectF(8, 6, 16, 20));
        p.setPen(QPen(QColor(220, 40, 40), 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6, 6), QPointF(26, 26));
        p.drawLine(QPointF(26, 6), QPointF(6, 26));
        break;
    case CommandPicture::Program:
        drawChip(p, QRectF(8, 14, 16, 16));
        drawArrow(p, QPointF(16, 1), QPointF(16, 13), QColor(230, 120, 20));
        break;
    case CommandPicture::Verify:
        drawChip(p, QRectF(6, 8, 16, 20));
        p.setPen(QPen(QColor(30, 160, 60), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(12, 18), QPointF(18, 25), QPointF(29, 7)}));
        break;
    case CommandPicture::Read:
        drawChip(p, QRectF(8, 14, 16, 16));
        drawArrow(p, QPointF(16, 13), QPointF(16, 1), QColor(40, 100, 210));
        break;
    case CommandPicture::Lock:
        p.setPen(QPen(QColor(120, 120, 120), 3.5));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(9, 3, 14, 16), 0, 180 * 16);
        p.drawLine(QPointF(9, 11), QPointF(9, 15));
        p.drawLine(QPointF(23, 11), QPointF(23, 15));
        p.setPen(QPen(QColor(150, 110, 10), 1.2));
        p.setBrush(QColor(230, 180, 40));
        p.drawRoundedRect(QRectF(5, 14, 22, 15), 2, 2);
        p.setBrush(QColor(90, 60, 0));
        p.drawEllipse(QPointF(16, 21), 2, 2);
        break;
    case CommandPicture::Chip:
        drawChip(p, QRectF(8, 4, 16, 24));
        break;
    case CommandPicture::Help: {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 100, 210));
        p.drawEllipse(QRectF(3, 3, 26, 26));
        QFont f;
        f.setBold(true);
        f.setPixelSize(20);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    case CommandPicture::Exit:
        p.setPen(QPen(QColor(110, 70, 30), 1.2));
        p.setBrush(QColor(170, 110, 60));
        p.drawRect(QRectF(5, 3, 14, 26));
        drawArrow(p, QPointF(14, 16), QPointF(29, 16), QColor(210, 40, 40));
        break;
    }
}

QIcon render(CommandPicture picture) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    drawPicture(p, picture);
    p.end();
    return QIcon(pixmap);
}

} // namespace

QIcon commandIcon(CommandPicture picture) { return render(picture); }

QIcon chipwrightIcon() { return render(CommandPicture::Chip); }
