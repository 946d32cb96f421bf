#include "shell/portbringup.h"

#include "programmer/hostview.h"
#include "programmer/sequencer.h"
#include "serial/comport.h"

bool bringUpPort(TCustomComPort& port, bool& comSeted, Sequencer& sequencer, HostView& view) {
    if (!comSeted) {
        port.SaveSettings(RegistryStore, portSettingsLocation);
        comSeted = true;
    }
    port.RestoreSettings(RegistryStore, portSettingsLocation);
    try {
        port.Connect();
    } catch (const std::exception&) {
        // The message names COM1 whatever port is configured; the setup dialog shows which one it is.
        view.showMessage(QStringLiteral("COM1 Open Fail ! Please Check !"));
        return false;
    }
    sequencer.sendProbe();
    return true;
}

void releasePort(TCustomComPort& port) {
    port.SaveSettings(RegistryStore, portSettingsLocation);
    port.Disconnect();
}
