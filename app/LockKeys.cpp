#include "app/LockKeys.h"

#include <glob.h>

#include <fstream>

bool IsLockKeyOn(LockKey key) {
    const char* pattern = key == LockKey::Caps  ? "/sys/class/leds/*::capslock/brightness"
                          : key == LockKey::Num ? "/sys/class/leds/*::numlock/brightness"
                                                : "/sys/class/leds/*::scrolllock/brightness";
    glob_t found{};
    bool on = false;
    if (::glob(pattern, 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc && !on; ++i) {
            std::ifstream in(found.gl_pathv[i]);
            int brightness = 0;
            on = (in >> brightness) && brightness > 0;
        }
    }
    ::globfree(&found);
    return on;
}
