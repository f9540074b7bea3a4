#include "plugin/korvane_plugin.h"

#include "capture/platform.h"
#include "plugin/plugin_names.h"

namespace Vardel {

QStringList KorvanePlugin::enumerateVideoDevices()
{
    // The test source always comes first: a start without a chosen source takes it.
    QStringList sources{names::testSource};
    sources += deviceEntries();
    return sources;
}

QStringList KorvanePlugin::deviceEntries() { return platform::videoDeviceEntries(); }

} // namespace Vardel
