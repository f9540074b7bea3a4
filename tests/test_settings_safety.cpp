// The settings file under faults: a host killed in the middle of a save, and a file that
// cannot be read or written or is damaged.

#include "helpers/log_capture.h"
#include "helpers/plugin_fixture.h"
#include "helpers/plugin_probe.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <random>
#include <signal.h>

using namespace Vardel;
using Probe = KorvanePluginProbe;

namespace {

constexpr int kOtherKeys = 1500;

// The host's file also holds other plug-ins' settings; none of them may be lost either.
QByteArray sharedSettingsFile()
{
    QByteArray text = "[Korvane]\nvideoSource=0: Cam\ncaptureFrameRate=60\ncaptureResolution=1920x1080\n\n[Other]\n";
    for (int i = 0; i < kOtherKeys; ++i)
        text += QStringLiteral("key%1=a value another plug-in keeps: number %1\n").arg(i, 4, 10, QLatin1Char('0')).toUtf8();
    return text;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// What a fresh reader finds in a copy of the file (a copy: this process's QSettings cache
// must not answer for what is on disk). Empty when something is missing or malformed.
QString checkSavedFile(const QString& path, const QString& copy)
{
    QFile::remove(copy);
    if (!QFile::copy(path, copy))
        return QStringLiteral("no file");
    QSettings file(copy, QSettings::IniFormat);
    if (file.status() != QSettings::NoError)
        return QStringLiteral("unreadable (status %1)").arg(int(file.status()));
    static const QRegularExpression source(QStringLiteral("^\\d+: Cam$"));
    static const QRegularExpression resolution(QStringLiteral("^(\\d+)x\\1$"));
    bool rateIsNumber = false;
    file.value(QStringLiteral("Korvane/captureFrameRate")).toString().toInt(&rateIsNumber);
    if (!source.match(file.value(QStringLiteral("Korvane/videoSource")).toString()).hasMatch() || !rateIsNumber
        || !resolution.match(file.value(QStringLiteral("Korvane/captureResolution")).toString()).hasMatch())
        return QStringLiteral("Korvane keys missing or malformed: ") + file.allKeys().filter(QStringLiteral("Korvane")).join(u',');
    file.beginGroup(QStringLiteral("Other"));
    if (file.childKeys().size() != kOtherKeys
        || file.value(QStringLiteral("key1499")).toString() != QLatin1String("a value another plug-in keeps: number 1499"))
        return QStringLiteral("the other plug-in's keys were damaged");
    return {};
}

} // namespace

class SettingsSafetyTest : public QObject {
    Q_OBJECT

private slots:
    void aKilledSaveNeverLeavesAHalfWrittenFile()
    {
        QTemporaryDir folder;
        const QString ini = folder.filePath(QStringLiteral("settings.ini"));
        writeFile(ini, sharedSettingsFile());
        // How long one save of the three keys takes here (sanitizer builds are slower), so
        // that the kills spread over the first few saves of each run.
        const QString timed = folder.filePath(QStringLiteral("timed.ini"));
        writeFile(timed, sharedSettingsFile());
        QElapsedTimer saving;
        saving.start();
        {
            SettingsManager settings(timed);
            for (const char* key : {"videoSource", "captureFrameRate", "captureResolution"})
                settings.setPluginValue(QStringLiteral("Korvane"), QLatin1String(key), 1);
        }
        const int saveMs = std::max(2, int(saving.elapsed()));
        std::mt19937 random(20261206);
        int saves = 0, abandonedLocks = 0;
        QTemporaryDir copies;
        for (int round = 0; round < 30; ++round) {
            QProcess saver;
            saver.start(QCoreApplication::applicationDirPath() + QStringLiteral("/settings_saver"), {ini});
            QVERIFY(saver.waitForStarted());
            QVERIFY2(saver.waitForReadyRead(20000), qPrintable(QStringLiteral("round %1: %2").arg(round).arg(QString::fromLocal8Bit(saver.readAllStandardError()))));
            QTest::qSleep(int(random() % unsigned(3 * saveMs))); // somewhere in one of the first saves
            ::kill(pid_t(saver.processId()), SIGKILL);
            QVERIFY(saver.waitForFinished(10000));
            QCOMPARE(saver.exitStatus(), QProcess::CrashExit);
            // Killed between creating the save's lock file and writing its owner into it: the
            // host comes back a few seconds later, and its first save must not wait for it.
            QFile lock(ini + QStringLiteral(".lock"));
            if (lock.exists() && lock.size() == 0) {
                ++abandonedLocks;
                QVERIFY(lock.open(QIODevice::ReadWrite));
                QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-5), QFileDevice::FileModificationTime));
            }
            const QString copy = copies.filePath(QStringLiteral("copy%1.ini").arg(round));
            const QString problem = checkSavedFile(ini, copy);
            QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("after kill %1: %2").arg(round).arg(problem)));
            QSettings file(copy, QSettings::IniFormat);
            saves = std::max(saves, file.value(QStringLiteral("Korvane/captureFrameRate")).toInt());
        }
        const QStringList leftovers =
            QDir(folder.path()).entryList({QStringLiteral("settings.ini.*")}, QDir::Files).filter(QRegularExpression(QStringLiteral("\\.[A-Za-z0-9]{6}$")));
        qInfo("30 kills, %d ms per save, up to %d saves per run; %d empty lock files and %lld temporary files left behind",
              saveMs, saves, abandonedLocks, qsizetype(leftovers.size()));
        QVERIFY(saves > 1); // the kills did land while saves were going on
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
        settings.setPluginValue(QStringLiteral("Korvane"), QStringLiteral("captureFrameRate"), 30);
        QVERIFY2(saving.elapsed() < 5000, qPrintable(QStringLiteral("%1 ms").arg(saving.elapsed())));
        QCOMPARE(settings.status(), QSettings::NoError);
        QCOMPARE(QSettings(ini, QSettings::IniFormat).value(QStringLiteral("Korvane/captureFrameRate")).toInt(), 30);
    }

    void anUnusableFileGivesDefaultsAndOneWarning_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("source"); // what the plug-in then holds
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("warning");
        QTest::newRow("a folder in its place") << "folder" << "" << 60 << "cannot be read";
        QTest::newRow("random bytes") << "bytes" << "" << 60 << "is damaged";
        QTest::newRow("its own group damaged") << "own" << "0: Cam" << 120 << "is damaged";
        QTest::newRow("another group damaged") << "other" << "0: Cam" << 120 << "is damaged";
        QTest::newRow("cannot be written") << "unwritable" << "" << 60 << "could not be written";
    }

    void anUnusableFileGivesDefaultsAndOneWarning()
    {
        QFETCH(QString, fault);
        QFETCH(QString, source);
        QFETCH(int, rate);
        QFETCH(QString, warning);
        QTemporaryDir folder;
        QString ini = folder.filePath(QStringLiteral("settings.ini"));
        if (fault == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(ini));
        } else if (fault == QLatin1String("bytes")) {
            std::mt19937 random(7);
            QByteArray bytes(4096, '\0');
            for (char& b : bytes)
                b = char(random());
            writeFile(ini, bytes);
        } else if (fault == QLatin1String("own")) {
            writeFile(ini, "[Korvane]\nvideoSource=0: Cam\nthis line is no setting\ncaptureFrameRate=120\n"
                           "captureResolution=1280x720\n");
        } else if (fault == QLatin1String("other")) {
            writeFile(ini, "[Other]\nthis line is no setting\n[Korvane]\nvideoSource=0: Cam\ncaptureFrameRate=120\n"
                           "captureResolution=1280x720\n");
        } else {
            writeFile(folder.filePath(QStringLiteral("file")), "a file, not a folder");
            ini = folder.filePath(QStringLiteral("file/settings.ini"));
        }

        testing::PluginEnvironment env("settings");
        testing::LogCapture log;
        SettingsManager settings(ini);
        {
            KorvanePlugin plugin;
            plugin.setSettingsManager(&settings);
            QVERIFY(plugin.initialize());
            QCOMPARE(Probe::videoSource(plugin), source);
            QCOMPARE(Probe::captureFrameRate(plugin), rate);
            // Changes are saved as usual; however many fail, one line says so.
            QMetaObject::invokeMethod(&plugin, "onCaptureFrameRateChanged", Q_ARG(int, 30));
            QMetaObject::invokeMethod(&plugin, "onCaptureFrameRateChanged", Q_ARG(int, rate));
            plugin.shutdown();
        }
        QStringList warnings = log.lines().filter(QStringLiteral("warning Settings: "));
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().contains(warning), qPrintable(warnings.first()));
        QVERIFY2(warnings.first().contains(ini), qPrintable(warnings.first()));

        if (fault == QLatin1String("folder"))
            QVERIFY(QFileInfo(ini).isDir()); // nothing was written over it
        if (fault == QLatin1String("own") || fault == QLatin1String("other")) {
            // What could be read survives the saves.
            QSettings file(ini, QSettings::IniFormat);
            QCOMPARE(file.value(QStringLiteral("Korvane/videoSource")).toString(), QStringLiteral("0: Cam"));
            QCOMPARE(file.value(QStringLiteral("Korvane/captureResolution")).toString(), QStringLiteral("1280x720"));
        }

        // Another unusable store the host hands over later is reported on its own, once.
        const QString otherIni = folder.filePath(QStringLiteral("other.ini"));
        QVERIFY(QDir().mkpath(otherIni));
        SettingsManager other(otherIni);
        {
            KorvanePlugin plugin;
            plugin.setSettingsManager(&settings);
            plugin.initialize();
            plugin.setSettingsManager(&other);
            QMetaObject::invokeMethod(&plugin, "onCaptureFrameRateChanged", Q_ARG(int, 30));
            QMetaObject::invokeMethod(&plugin, "onCaptureFrameRateChanged", Q_ARG(int, 60));
        }
        warnings = log.lines().filter(QStringLiteral("warning Settings: "));
        QCOMPARE(warnings.size(), 2); // the first store has spoken already
        QVERIFY2(warnings.last().contains(otherIni), qPrintable(warnings.last()));
    }
};

QTEST_GUILESS_MAIN(SettingsSafetyTest)
#include "test_settings_safety.moc"
