// x11_held_keys: prints the names of the keys the X server holds pressed,
// one per line, and "button N" for each pointer button held (nothing when
// all are up), for the tests that drive the real program under Xvfb: a key
// left pressed by one run would reach the next program started on the same
// display.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <cstdio>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "x11_held_keys: no display\n");
        return 1;
    }
    char keys[32];
    XQueryKeymap(display, keys);
    for (int code = 8; code < 256; ++code) {
        if (!(keys[code / 8] & (1 << (code % 8)))) continue;
        const KeySym sym = XkbKeycodeToKeysym(display, static_cast<KeyCode>(code), 0, 0);
        const char* name = sym == NoSymbol ? nullptr : XKeysymToString(sym);
        if (name)
            std::printf("%s\n", name);
        else
            std::printf("%d\n", code); // xdotool takes a key code too
    }
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned int mask = 0;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &x, &y, &mask);
    const unsigned int buttons[] = {Button1Mask, Button2Mask, Button3Mask, Button4Mask, Button5Mask};
    for (int b = 0; b < 5; ++b)
        if (mask & buttons[b]) std::printf("button %d\n", b + 1);
    XCloseDisplay(display);
    return 0;
}
