// SPDX-License-Identifier: GPL-3.0-or-later
// Pointer input for the KWin test session, as a user makes it: KWin's fake input protocol, which
// KWin grants to a client whose desktop file lists it. Reads commands from standard input and
// answers each with "ok" once KWin has handled it, or "error":
//   move X Y     the pointer to a point of the screen
//   press        the left button down
//   release      the left button up
#include "fake-input-client-protocol.h"

#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

namespace {

constexpr uint32_t kLeftButton = 0x110; // BTN_LEFT

org_kde_kwin_fake_input* fakeInput = nullptr;

void announced(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0)
        fakeInput = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4));
}

void removed(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener{announced, removed};

} // namespace

int main() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "kwin_pointer: no Wayland display\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, nullptr);
    wl_display_roundtrip(display);
    if (!fakeInput) {
        std::fprintf(stderr, "kwin_pointer: KWin offers no fake input to this program\n");
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(fakeInput, "kwin_pointer", "tests drive the pointer");
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream command(line);
        std::string verb;
        command >> verb;
        double x = 0, y = 0;
        if (verb == "move" && command >> x >> y)
            org_kde_kwin_fake_input_pointer_motion_absolute(fakeInput, wl_fixed_from_double(x),
                                                            wl_fixed_from_double(y));
        else if (verb == "press" || verb == "release")
            org_kde_kwin_fake_input_button(fakeInput, kLeftButton, verb == "press" ? 1 : 0);
        else {
            std::cout << "error" << std::endl;
            continue;
        }
        const bool handled = wl_display_roundtrip(display) >= 0;
        std::cout << (handled ? "ok" : "error") << std::endl;
    }
    wl_display_disconnect(display);
    return 0;
}
