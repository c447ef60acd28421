// The entry point of the Linux program lumivex: gathers its surroundings and hands over to the saver.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "backends/linux/linux_backend.h"
#include "saver/linux_saver.h"

namespace {

// The program's own file as the kernel resolved it; empty when it cannot say.
std::string ProgramPath() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) return "";
    return std::string(path, static_cast<std::size_t>(length));
}

}  // namespace

int main(int argc, char** argv) {
    InstallEndSignals();
    LinuxEnvironment env;
    env.screensaverWindow = std::getenv("XSCREENSAVER_WINDOW");
    env.xdgConfigHome = std::getenv("XDG_CONFIG_HOME");
    env.home = std::getenv("HOME");
    env.display = std::getenv("DISPLAY");
    env.waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    env.programPath = ProgramPath();
    env.version = LUMIVEX_VERSION;
    env.useHost = UseLinuxHost;
    return LinuxSaverMain(argc, argv, env);
}
