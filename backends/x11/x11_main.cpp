// The entry point of the Linux program lumivex: gathers its surroundings and hands over to the saver.
#include <cstdlib>

#include "backends/x11/x11_backend.h"
#include "saver/linux_saver.h"

int main(int argc, char** argv) {
    InstallEndSignals();
    KeepCommandLine(argc, argv);
    LinuxEnvironment env;
    env.screensaverWindow = std::getenv("XSCREENSAVER_WINDOW");
    env.xdgConfigHome = std::getenv("XDG_CONFIG_HOME");
    env.home = std::getenv("HOME");
    env.display = std::getenv("DISPLAY");
    env.dataDir = LUMIVEX_DATADIR;
    env.version = LUMIVEX_VERSION;
    return LinuxSaverMain(argc, argv, env);
}
