#include "app/main_loop.h"
#include "app/startup.h"
#include "gui/gui.h"
#include "runtime/files.h"

int main(int argc, char** argv) {
    LoadLibrariesFromTheSystemOnly();
    if (StartGui(argc, argv) == 0) {
        ReportStartFailure("no desktop display to show the window on");
        return 1;
    }
    if (StartUp(SettingsPlaceFor(ExecutablePath(), CurrentDirectory(), TAVIMOR_INSTALL_BINDIR)) ==
        0) {
        ReleaseGui();  // another instance has the settings file and is in front now
        return 0;
    }
    RunMainLoop();
    EndProgram();
    return 0;
}
