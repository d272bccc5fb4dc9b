// VNloader: sends firmware to the device, prints its debug messages, and
// packages firmware files.
#include "app/command_line.h"
#include "app/package_mode.h"
#include "app/settings.h"
#include "app/update_transfer.h"
#include "diag/log.h"
#include "link/debug_listener.h"
#include "platform/platform.h"
#include "platform/text_names.h"

int main(int argc, char** argv)
{
    platformUtf8Arguments(&argc, &argv);
    RunMode mode = parseCommandLine(argc, argv);
    if (mode == RUN_USAGE)
        platformExit(1);
    if (mode == RUN_PACKAGE) {
        encryptFile();
        platformExit(1);
    }
    if (!platformNetStart()) {
        logMessage("WSAStartup failed");
        return -1;
    }
    if (!platformStartThread(DbgMsgThread, nullptr)) {
        logMessage("Unable to create DbgMsgThread");
        return -1;
    }
    if (mode == RUN_TRANSFER) {
        if (!platformStartThread(UpdateThread, nullptr)) {
            logMessage("Unable to create UpdateThread");
            return -1;
        }
    }
    platformSleepForever();
}
