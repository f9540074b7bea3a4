// The settings store under faults: a file that cannot be read or written or is damaged,
// and a lock file left by a save that was killed.

#include "helpers/log_capture.h"
#include "host/settings_manager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace Vardel;

class SettingsSafetyTest : public QObject {
    Q_OBJECT

private slots:
    void anUnusableFileGivesDefaultsAndOneWarning()
    {
        // What stands in the way (a folder, ending in '/', or a file with a damaged line), the
        // settings file, what a read gives, and the warning.
        for (const auto& [blocker, ini, rate, warning] :
             {std::tuple("s.ini/", "s.ini", 60, "cannot be read"), std::tuple("s.ini", "s.ini", 120, "is damaged"),
              std::tuple("file", "file/s.ini", 60, "could not be written")}) {
            QTemporaryDir folder;
            QFile file(folder.filePath(blocker));
            QVERIFY(QString(blocker).endsWith(u'/') ? QDir().mkpath(file.fileName())
                    : file.open(QIODevice::WriteOnly) && file.write("[Korvane]\nno setting\nrate=120\n") > 0);
            file.close();
            testing::LogCapture log;
            SettingsManager settings(folder.filePath(ini));
            QCOMPARE(settings.getPluginValue("Korvane", "rate", 60).toInt(), rate);
            // However often the store is used, one line says what is wrong with the file.
            for (int value : {30, 60}) {
                settings.setPluginValue("Korvane", "rate", value);
                settings.getPluginValue("Korvane", "rate", 60);
            }
            const QStringList warnings = log.lines().filter("warning Settings: ");
            QCOMPARE(warnings.size(), 1);
            QVERIFY2(warnings[0].contains(warning) && warnings[0].contains(folder.filePath(ini)), qPrintable(warnings[0]));
        }
    }

    void anAbandonedLockDoesNotHoldUpTheNextSave()
    {
        // What a save killed between creating its lock file and writing its owner leaves.
        QTemporaryDir folder;
        const QString ini = folder.filePath("settings.ini");
        QFile lock(ini + ".lock");
        QVERIFY(lock.open(QIODevice::WriteOnly)
                && lock.setFileTime(QDateTime::currentDateTime().addSecs(-10), QFileDevice::FileModificationTime));
        lock.close();
        SettingsManager settings(ini);
        QElapsedTimer saving;
        saving.start();
        settings.setPluginValue("Korvane", "rate", 30);
        // Generous: left alone, the lock holds the save for 30 s.
        QVERIFY2(saving.elapsed() < 5000, qPrintable(QStringLiteral("%1 ms").arg(saving.elapsed())));
        QCOMPARE(QSettings(ini, QSettings::IniFormat).value("Korvane/rate").toInt(), 30);
    }
};

QTEST_GUILESS_MAIN(SettingsSafetyTest)
#include "test_settings_safety.moc"
