#include "views/Legends.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>

namespace tarvicon {

void DrawLegend(TBitmap32& picture, const std::string& legend) {
    if (legend.empty() || picture.Width() <= 0 || picture.Height() <= 0) return;
    QImage target(reinterpret_cast<uchar*>(picture.Bits()), picture.Width(), picture.Height(),
                  picture.Width() * 4, QImage::Format_ARGB32);
    QPainter painter(&target);
    painter.setFont(QFont("Arial", 16));
    const QString text = QString::fromStdString(legend);
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine;
    const QRectF box = painter.boundingRect(QRectF(0, 0, 1e5, 1e5), flags, text);
    painter.fillRect(box, Qt::black);
    painter.setPen(QColor(255, 255, 255));
    painter.drawText(box, flags, text);
}

} // namespace tarvicon
