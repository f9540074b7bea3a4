#pragma once

// A plug-in on the fake device, a camera listed after the test source, and the plug-in's
// panel, on a ring and settings file of their own.

#include "helpers/fake_video_capture.h"
#include "helpers/panel_driver.h"
#include "helpers/plugin_fixture.h"

#include <QWidget>

namespace Vardel::testing {

inline const QString kFakeCam = QStringLiteral("0: Fake Cam");

struct PanelSession {
    PluginEnvironment env;
    FakeDevicePlugin plugin;
    QWidget* panel = nullptr;
    PanelDriver ui{nullptr};

    // The camera delivers width x height frames at fps.
    PanelSession(const char* what, int width, int height, int fps) : env(what)
    {
        plugin.extraDevices = {kFakeCam};
        plugin.device->width = width;
        plugin.device->height = height;
        plugin.device->framesPerSecond = fps;
        plugin.setSettingsManager(env.settings.get());
    }
    ~PanelSession()
    {
        plugin.shutdown();
        delete panel;
    }

    // Initializes the plug-in and, unless told otherwise, shows its panel.
    void start(bool withPanel = true)
    {
        plugin.initialize();
        if (withPanel) {
            usePanel(plugin.createWidget());
            panel->show();
        }
    }
    // The panel the test drives from now on (the fixture deletes it).
    void usePanel(QWidget* created)
    {
        panel = created;
        ui = PanelDriver(created);
    }
};

} // namespace Vardel::testing
