#include "platform/x11windows.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace Corvanith::Platform::X11 {

namespace {

struct TFreeReply {
    void operator()(void* Reply) const { std::free(Reply); }
};
template <typename T>
using TReply = std::unique_ptr<T, TFreeReply>;

// Deeper nesting than any real window tree; ends a walk through a tree that
// changes under it.
constexpr int MaxDepth = 64;

xcb_connection_t* Connection()
{
    if (qGuiApp == nullptr)
        return nullptr;
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

bool HasShapes(xcb_connection_t* C)
{
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(C, &xcb_shape_id);
    return shape != nullptr && shape->present;
}

// Window's bounding shape relative to its origin (inside its border), or an
// empty region for an unshaped window.
QRegion BoundingShape(xcb_connection_t* C, TWindowId Window)
{
    if (!HasShapes(C))
        return {};
    const TReply<xcb_shape_query_extents_reply_t> extents(
        xcb_shape_query_extents_reply(C, xcb_shape_query_extents(C, Window), nullptr));
    if (!extents || !extents->bounding_shaped)
        return {};
    const TReply<xcb_shape_get_rectangles_reply_t> shape(
        xcb_shape_get_rectangles_reply(C, xcb_shape_get_rectangles(C, Window, XCB_SHAPE_SK_BOUNDING), nullptr));
    if (!shape)
        return {};
    QRegion region;
    const xcb_rectangle_t* rects = xcb_shape_get_rectangles_rectangles(shape.get());
    const int count = xcb_shape_get_rectangles_rectangles_length(shape.get());
    for (int i = 0; i < count; ++i)
        region += QRect(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
    return region;
}

// The topmost viewable child of Parent that shows at Point (Parent's
// coordinates) and is not in Except; Point becomes the child's coordinates.
TWindowId ChildAt(xcb_connection_t* C, TWindowId Parent, QPoint& Point, const std::vector<TWindowId>& Except)
{
    const TReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(C, xcb_query_tree(C, Parent), nullptr));
    if (!tree)
        return XCB_WINDOW_NONE;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    // Listed bottom to top.
    for (int i = xcb_query_tree_children_length(tree.get()) - 1; i >= 0; --i) {
        const xcb_window_t child = children[i];
        if (std::find(Except.begin(), Except.end(), child) != Except.end())
            continue;
        const TReply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(C, xcb_get_window_attributes(C, child), nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE
            || attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY)
            continue;
        const TReply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(C, xcb_get_geometry(C, child), nullptr));
        if (!geometry)
            continue;
        const int border = geometry->border_width;
        const QPoint inside = Point - QPoint(geometry->x + border, geometry->y + border);
        const QRect outer(-border, -border, geometry->width + 2 * border, geometry->height + 2 * border);
        if (!outer.contains(inside))
            continue;
        const QRegion shape = BoundingShape(C, child);
        if (!shape.isEmpty() && !shape.contains(inside))
            continue;
        Point = inside;
        return child;
    }
    return XCB_WINDOW_NONE;
}

// Where Window's origin (inside its border) lies in root coordinates.
bool WindowOrigin(xcb_connection_t* C, TWindowId Window, QPoint& Origin)
{
    const TReply<xcb_translate_coordinates_reply_t> translated(xcb_translate_coordinates_reply(
        C, xcb_translate_coordinates(C, Window, RootWindow(), 0, 0), nullptr));
    if (!translated)
        return false;
    Origin = QPoint(translated->dst_x, translated->dst_y);
    return true;
}

// Window's rectangle in root coordinates, its border included, and its
// origin inside the border; empty for a window that no longer exists.
QRect OuterRect(xcb_connection_t* C, TWindowId Window, QPoint& Origin)
{
    const TReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(C, xcb_get_geometry(C, Window), nullptr));
    if (!geometry || !WindowOrigin(C, Window, Origin))
        return {};
    const int border = geometry->border_width;
    return QRect(Origin.x() - border, Origin.y() - border, geometry->width + 2 * border,
                 geometry->height + 2 * border);
}

} // namespace

bool Available() { return Connection() != nullptr; }

TWindowId RootWindow()
{
    xcb_connection_t* c = Connection();
    if (c == nullptr)
        return 0;
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

TWindowId WindowAtPointer(const std::vector<TWindowId>& Except)
{
    xcb_connection_t* c = Connection();
    if (c == nullptr)
        return 0;
    TWindowId window = RootWindow();
    // Each step asks the window found so far for its child under the pointer.
    // Once an excluded window has been passed by, the server's answer would
    // name it again: the rest of the walk looks the children up itself.
    bool passedExcluded = false;
    QPoint point;
    for (int depth = 0; depth < MaxDepth; ++depth) {
        TWindowId child = XCB_WINDOW_NONE;
        if (!passedExcluded) {
            const TReply<xcb_query_pointer_reply_t> pointer(
                xcb_query_pointer_reply(c, xcb_query_pointer(c, window), nullptr));
            if (!pointer || !pointer->same_screen)
                break;
            child = pointer->child;
            point = QPoint(pointer->win_x, pointer->win_y);
            if (child != XCB_WINDOW_NONE && std::find(Except.begin(), Except.end(), child) != Except.end()) {
                passedExcluded = true;
                child = ChildAt(c, window, point, Except);
            }
        } else {
            child = ChildAt(c, window, point, Except);
        }
        if (child == XCB_WINDOW_NONE)
            break;
        window = child;
    }
    return window;
}

QRect WindowRect(TWindowId Window)
{
    xcb_connection_t* c = Connection();
    QPoint origin;
    return c != nullptr ? OuterRect(c, Window, origin) : QRect();
}

QRegion WindowRegion(TWindowId Window)
{
    xcb_connection_t* c = Connection();
    QPoint origin;
    const QRect rect = c != nullptr ? OuterRect(c, Window, origin) : QRect();
    if (rect.isEmpty())
        return {};
    const QRegion shape = BoundingShape(c, Window);
    return shape.isEmpty() ? QRegion(rect) : shape.translated(origin);
}

QImage GrabWindow(TWindowId Window, const QRect& Rect)
{
    xcb_connection_t* c = Connection();
    QPoint origin;
    if (c == nullptr || Rect.isEmpty() || !WindowOrigin(c, Window, origin))
        return {};
    QScreen* screen = QGuiApplication::screenAt(Rect.center());
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return {};
    // In the window's own coordinates; what shows there is what the screen
    // shows, windows over it included.
    return screen->grabWindow(Window, Rect.x() - origin.x(), Rect.y() - origin.y(), Rect.width(), Rect.height())
        .toImage();
}

} // namespace Corvanith::Platform::X11
