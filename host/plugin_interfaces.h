#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QtPlugin>

class QObject;
class QWidget;

namespace Vardel {

class SettingsManager;

// The virtual operations below are the host's binary contract with every plug-in:
// their order is fixed and must never change.

class ITranslatablePlugin {
public:
    virtual ~ITranslatablePlugin() = default;
    virtual void retranslate() = 0;
};

class IPlugin : public ITranslatablePlugin {
public:
    virtual QString pluginId() const = 0;
    virtual QString name() const = 0;
    virtual QString version() const = 0;
    virtual QJsonObject metadata() const = 0;
    virtual bool initialize() = 0;
    virtual void shutdown() = 0;
    virtual void reservedHook() = 0;
    virtual QStringList dependencies() const = 0;
};

class IUIPlugin : public IPlugin {
public:
    virtual void setSettingsManager(SettingsManager* settings) = 0;
    virtual QWidget* createWidget() = 0;
    virtual QObject* reservedObject() = 0;
    virtual bool reservedFlag1() const = 0;
    virtual bool reservedFlag2() const = 0;
};

} // namespace Vardel

#define VARDEL_IPLUGIN_IID "com.vardel.IPlugin/1.0"
#define VARDEL_IUIPLUGIN_IID "com.vardel.IUIPlugin/1.0"

Q_DECLARE_INTERFACE(Vardel::IPlugin, VARDEL_IPLUGIN_IID)
Q_DECLARE_INTERFACE(Vardel::IUIPlugin, VARDEL_IUIPLUGIN_IID)
