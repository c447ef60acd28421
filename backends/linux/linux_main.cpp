// The entry point of the Linux program lumivex: gathers its surroundings and hands over to the saver.
#include <cstdlib>

#include "backends/linux/linux_backend.h"
#include "saver/linux_saver.h"

int main(int argc, char** argv) {
    InstallEndSignals();
    LinuxEnvironment env;
    env.screensaverWindow = std::getenv("XSCREENSAVER_WINDOW");
    env.xdgConfigHome = std::getenv("XDG_CONFIG_HOME");
    env.home = std::getenv("HOME");
    env.display = std::getenv("DISPLAY");
    env.waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    env.dataDir = LUMIVEX_DATADIR;
    env.version = LUMIVEX_VERSION;
    env.useHost = UseLinuxHost;
    return LinuxSaverMain(argc, argv, env);
}
