// The plug-in as the host sees it before anything runs: its metadata, its entry points,
// its type answers and its identity.

#include "host/plugin_interfaces.h"

#include <QApplication>
#include <QJsonArray>
#include <QLibrary>
#include <QPluginLoader>
#include <QPointer>
#include <QTest>

using namespace Vardel;

class PluginShellTest : public QObject {
    Q_OBJECT

private slots:
    void metadataIsReadWithoutInstantiating()
    {
        QPluginLoader loader(QStringLiteral(KORVANE_PLUGIN_PATH));
        const QJsonObject meta = loader.metaData();
        QCOMPARE(meta.value(QStringLiteral("IID")).toString(), QStringLiteral("com.vardel.IUIPlugin"));
        QCOMPARE(meta.value(QStringLiteral("className")).toString(), QStringLiteral("KorvanePlugin"));

        const QJsonObject data = meta.value(QStringLiteral("MetaData")).toObject();
        QCOMPARE(data.size(), 10);
        QCOMPARE(data.value(QStringLiteral("author")).toString(), QStringLiteral("Vardel Team"));
        QVERIFY(data.value(QStringLiteral("dependencies")).isArray());
        QVERIFY(data.value(QStringLiteral("dependencies")).toArray().isEmpty());
        QCOMPARE(data.value(QStringLiteral("description")).toString(),
                 QStringLiteral("Video capture using OpenCV with DirectShow device enumeration"));
        QCOMPARE(data.value(QStringLiteral("displayName")).toString(), QStringLiteral("Korvane"));
        const QJsonArray features = data.value(QStringLiteral("features")).toArray();
        QCOMPARE(features, (QJsonArray{QStringLiteral("korvane"), QStringLiteral("directshow_enumeration"),
                                       QStringLiteral("camera_support"), QStringLiteral("video_preview")}));
        QCOMPARE(data.value(QStringLiteral("platform")).toString(), QStringLiteral("windows"));
        QVERIFY(data.value(QStringLiteral("priority")).isDouble());
        QCOMPARE(data.value(QStringLiteral("priority")).toInt(), 50);
        QVERIFY(data.value(QStringLiteral("requiresAuthentication")).isBool());
        QCOMPARE(data.value(QStringLiteral("requiresAuthentication")).toBool(), false);
        QCOMPARE(data.value(QStringLiteral("type")).toString(), QStringLiteral("video_source"));
        QCOMPARE(data.value(QStringLiteral("version")).toString(), QStringLiteral("1.0.0"));
    }

    void oneInstanceAtATime()
    {
        QLibrary library(QStringLiteral(KORVANE_PLUGIN_PATH));
        QVERIFY2(library.load(), qPrintable(library.errorString()));
        using Instance = QObject* (*)();
        auto instance = reinterpret_cast<Instance>(library.resolve("qt_plugin_instance"));
        QVERIFY(instance);
        QVERIFY(library.resolve("qt_plugin_query_metadata_v2"));

        QPointer<QObject> first = instance();
        QVERIFY(first);
        QCOMPARE(instance(), first.data());
        first->setObjectName(QStringLiteral("first"));
        delete first.data();
        QVERIFY(!first);
        QPointer<QObject> second = instance();
        QVERIFY(second);
        QVERIFY(second->objectName().isEmpty()); // a fresh object, not the old one revived
        QCOMPARE(second->parent(), nullptr);
        delete second.data();
    }

    void typeQueriesAndIdentity()
    {
        QPluginLoader loader(QStringLiteral(KORVANE_PLUGIN_PATH));
        QObject* object = loader.instance();
        QVERIFY2(object, qPrintable(loader.errorString()));

        auto* asPlugin = qobject_cast<IPlugin*>(object);
        auto* asUiPlugin = qobject_cast<IUIPlugin*>(object);
        QVERIFY(asPlugin && asUiPlugin);
        QCOMPARE(static_cast<void*>(asPlugin), static_cast<void*>(asUiPlugin));
        QVERIFY(static_cast<void*>(asUiPlugin) != static_cast<void*>(object));

        QCOMPARE(object->qt_metacast(nullptr), nullptr);
        QCOMPARE(object->qt_metacast("Vardel::KorvanePlugin"), static_cast<void*>(object));
        QCOMPARE(object->qt_metacast("IUIPlugin"), static_cast<void*>(asUiPlugin));
        QCOMPARE(object->qt_metacast("com.vardel.IPlugin/1.0"), static_cast<void*>(asUiPlugin));
        QCOMPARE(object->qt_metacast("com.vardel.IUIPlugin/1.0"), static_cast<void*>(asUiPlugin));
        QCOMPARE(object->qt_metacast("com.vardel.IUIPlugin"), nullptr);
        QCOMPARE(object->qt_metacast("Vardel::Nothing"), nullptr);
        QCOMPARE(object->qt_metacast("QObject"), static_cast<void*>(object));

        QCOMPARE(asUiPlugin->pluginId(), QStringLiteral("korvane"));
        QCOMPARE(asUiPlugin->name(), QStringLiteral("Korvane"));
        QCOMPARE(asUiPlugin->version(), QStringLiteral("1.0.0"));
        QVERIFY(asUiPlugin->dependencies().isEmpty());
        QCOMPARE(asUiPlugin->reservedObject(), nullptr);
        QVERIFY(asUiPlugin->reservedFlag1());
        QVERIFY(asUiPlugin->reservedFlag2());

        const QJsonObject meta = asUiPlugin->metadata();
        QCOMPARE(meta.size(), 8);
        QCOMPARE(meta.value(QStringLiteral("description")).toString(),
                 QStringLiteral("Optimized video capture for modern gaming capture cards"));
        QVERIFY(meta.value(QStringLiteral("priority")).isDouble());
        QCOMPARE(meta.value(QStringLiteral("priority")).toInt(), 50);
        QVERIFY(meta.value(QStringLiteral("requiresAuthentication")).isBool());
        QVERIFY(!meta.contains(QStringLiteral("features")) && !meta.contains(QStringLiteral("dependencies")));

        // The meta-object: five slots, nothing else of its own.
        const QMetaObject* mo = object->metaObject();
        QCOMPARE(mo->methodCount() - mo->methodOffset(), 5);
        QCOMPARE(mo->method(mo->methodOffset() + 0).methodSignature(), QByteArray("onVideoSourceChanged(QString)"));
        QCOMPARE(mo->method(mo->methodOffset() + 3).methodSignature(), QByteArray("onCaptureToggleRequested(bool)"));
        QCOMPARE(mo->method(mo->methodOffset() + 4).methodSignature(), QByteArray("updateFPS()"));
        QCOMPARE(mo->propertyCount() - mo->propertyOffset(), 0);

        // A language change before there is a panel creates none.
        asUiPlugin->retranslate();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
        delete object;
    }
};

QTEST_MAIN(PluginShellTest)
#include "test_plugin_shell.moc"
