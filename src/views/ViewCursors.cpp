#include "views/ViewCursors.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <iterator>

// The resources live in a static library: nothing references them, so they are registered by hand.
static void InitViewResources() {
    Q_INIT_RESOURCE(views);
}

namespace tarvicon {

namespace {

constexpr int FirstCursor = 8;
constexpr int CursorSize = 32;

struct TCursorDrawing {
    const char* Name;
    int HotX; // in the drawing's 32 × 32 grid
    int HotY;
};

// Numbers 8..16 in order; each hot spot is the point of the drawing that acts: the arrow's tip,
// the lens' centre, the angle's vertex, the middle elsewhere.
constexpr TCursorDrawing CursorDrawings[] = {
    {"CUR_NORMAL", 2, 2},   {"CUR_HAND", 16, 16},     {"CUR_ZOOM", 13, 13},
    {"CUR_BRIGHT", 16, 16}, {"CUR_CONTRAST", 16, 16}, {"CUR_SLICE", 16, 16},
    {"CUR_PARAM", 16, 16},  {"CUR_WAIT", 16, 16},     {"CUR_ANGLE", 6, 25},
};

const TCursorDrawing* Drawing(int number) {
    const int index = number - FirstCursor;
    if (index < 0 || index >= static_cast<int>(std::size(CursorDrawings))) return nullptr;
    return &CursorDrawings[index];
}

} // namespace

std::string ViewCursorName(int number) {
    const TCursorDrawing* drawing = Drawing(number);
    return drawing ? drawing->Name : std::string();
}

QCursor ViewCursor(int number) {
    const TCursorDrawing* drawing = Drawing(number);
    if (!drawing) return QCursor(Qt::ArrowCursor);
    static const bool registered = (InitViewResources(), true);
    (void)registered;
    QSvgRenderer renderer(QStringLiteral(":/cursors/") + QLatin1String(drawing->Name));
    if (!renderer.isValid()) return QCursor(Qt::ArrowCursor);
    QPixmap picture(CursorSize, CursorSize);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    renderer.render(&painter);
    painter.end();
    return QCursor(picture, drawing->HotX, drawing->HotY);
}

} // namespace tarvicon
