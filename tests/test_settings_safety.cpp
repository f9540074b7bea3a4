// The settings store under faults: a file that cannot be read or written or is damaged,
// and a lock file left by a save that was killed.

#include "helpers/log_capture.h"
#include "host/settings_manager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace Vardel;

namespace {

const QString kGroup = QStringLiteral("Korvane");
const QString kKey = QStringLiteral("captureFrameRate");

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class SettingsSafetyTest : public QObject {
    Q_OBJECT

private slots:
    void anUnusableFileGivesDefaultsAndOneWarning_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("rate"); // what a read gives
        QTest::addColumn<QString>("warning");
        QTest::newRow("a folder in its place") << "folder" << 60 << "cannot be read";
        QTest::newRow("a damaged line") << "damaged" << 120 << "is damaged";
        QTest::newRow("cannot be written") << "unwritable" << 60 << "could not be written";
    }

    void anUnusableFileGivesDefaultsAndOneWarning()
    {
        QFETCH(QString, fault);
        QFETCH(int, rate);
        QFETCH(QString, warning);
        QTemporaryDir folder;
        QString ini = folder.filePath(QStringLiteral("settings.ini"));
        if (fault == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(ini));
        } else if (fault == QLatin1String("damaged")) {
            writeFile(ini, "[Korvane]\nthis line is no setting\ncaptureFrameRate=120\n");
        } else {
            writeFile(folder.filePath(QStringLiteral("file")), "a file, not a folder");
            ini = folder.filePath(QStringLiteral("file/settings.ini"));
        }
        testing::LogCapture log;
        SettingsManager settings(ini);
        QCOMPARE(settings.getPluginValue(kGroup, kKey, 60).toInt(), rate);
        // However often the store is used, one line says what is wrong with the file.
        for (int value : {30, 60}) {
            settings.setPluginValue(kGroup, kKey, value);
            settings.getPluginValue(kGroup, kKey, 60);
        }
        const QStringList warnings = log.lines().filter(QStringLiteral("warning Settings: "));
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().contains(warning) && warnings.first().contains(ini), qPrintable(warnings.first()));
    }

    void anAbandonedLockDoesNotHoldUpTheNextSave()
    {
        // What a save killed between creating its lock file and writing its owner leaves.
        QTemporaryDir folder;
        const QString ini = folder.filePath(QStringLiteral("settings.ini"));
        QFile lock(ini + QStringLiteral(".lock"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-10), QFileDevice::FileModificationTime));
        lock.close();

        SettingsManager settings(ini);
        QElapsedTimer saving;
        saving.start();
        settings.setPluginValue(kGroup, kKey, 30);
        // Generous: left alone, the lock holds the save for 30 s.
        QVERIFY2(saving.elapsed() < 5000, qPrintable(QStringLiteral("%1 ms").arg(saving.elapsed())));
        QCOMPARE(QSettings(ini, QSettings::IniFormat).value(kGroup + QLatin1Char('/') + kKey).toInt(), 30);
    }
};

QTEST_GUILESS_MAIN(SettingsSafetyTest)
#include "test_settings_safety.moc"
