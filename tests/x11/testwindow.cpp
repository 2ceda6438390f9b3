// A second X client for the window-picker tests: one top-level window filled
// with a colour, optionally L-shaped, optionally with a child window of
// another colour. The X server paints both from their background colours, so
// the program only maps them, prints their ids and waits to be ended.
//
//   corvanith_testwindow X Y W H RRGGBB [shape] [child X Y W H RRGGBB]
//
// Prints "window ID" and, with a child, "child ID", one a line, once both show.
#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct TBox {
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
    uint32_t Color = 0;
};

bool ReadBox(char** Argv, TBox& Box)
{
    Box.X = std::atoi(Argv[0]);
    Box.Y = std::atoi(Argv[1]);
    Box.Width = std::atoi(Argv[2]);
    Box.Height = std::atoi(Argv[3]);
    Box.Color = uint32_t(std::strtoul(Argv[4], nullptr, 16));
    return Box.Width > 0 && Box.Height > 0;
}

xcb_window_t MakeWindow(xcb_connection_t* C, xcb_window_t Parent, const xcb_screen_t& Screen, const TBox& Box)
{
    const xcb_window_t window = xcb_generate_id(C);
    const uint32_t values[] = {Box.Color, 1};
    xcb_create_window(C, XCB_COPY_FROM_PARENT, window, Parent, int16_t(Box.X), int16_t(Box.Y), uint16_t(Box.Width),
                      uint16_t(Box.Height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, Screen.root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    return window;
}

} // namespace

int main(int argc, char** argv)
{
    TBox top;
    if (argc < 6 || !ReadBox(argv + 1, top)) {
        std::fprintf(stderr, "usage: %s X Y W H RRGGBB [shape] [child X Y W H RRGGBB]\n", argv[0]);
        return 2;
    }
    int next = 6;
    const bool shaped = next < argc && std::strcmp(argv[next], "shape") == 0;
    if (shaped)
        ++next;
    TBox child;
    const bool hasChild = next + 5 < argc && std::strcmp(argv[next], "child") == 0 && ReadBox(argv + next + 1, child);

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    const xcb_screen_t& screen = *xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = MakeWindow(c, screen.root, screen, top);
    const std::string title = "corvanith test window";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        uint32_t(title.size()), title.data());
    if (shaped) {
        // An L: the lower right quarter cut away.
        const int16_t w = int16_t(top.Width), h = int16_t(top.Height);
        const xcb_rectangle_t rects[] = {{0, 0, uint16_t(w), uint16_t(h / 2)},
                                         {0, int16_t(h / 2), uint16_t(w / 2), uint16_t(h - h / 2)}};
        xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED, window, 0, 0, 2,
                             rects);
    }
    xcb_window_t inner = XCB_WINDOW_NONE;
    if (hasChild) {
        inner = MakeWindow(c, window, screen, child);
        xcb_map_window(c, inner);
    }
    xcb_map_window(c, window);
    // Once the server has answered, both windows show.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    std::printf("window %u\n", window);
    if (hasChild)
        std::printf("child %u\n", inner);
    std::fflush(stdout);
    while (xcb_generic_event_t* event = xcb_wait_for_event(c))
        std::free(event);
    xcb_disconnect(c);
    return 0;
}
