// The settings store under faults: a file that cannot be read or written or is damaged,
// a lock file left by a save that was killed or held by one that is slow; and its writes,
// one per burst of changes, none lost.

#include "helpers/log_capture.h"
#include "host/ring/unique_fd.h"
#include "host/settings_manager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Vardel;
using namespace std::chrono_literals;

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
                settings.flush();
                settings.getPluginValue("Korvane", "rate", 60);
            }
            const QStringList warnings = log.lines().filter("warning Settings: ");
            QCOMPARE(warnings.size(), 1);
            QVERIFY2(warnings[0].contains(warning) && warnings[0].contains(folder.filePath(ini)), qPrintable(warnings[0]));
        }
    }

    void changesGoToDiskOncePerBurstAndAreNeverLost()
    {
        QTemporaryDir folder;
        const QString ini = folder.filePath("s.ini");
        // The file as it is on disk (a QSettings of this process would see what is not written yet).
        const auto onDisk = [&] {
            QFile file(ini);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        {
            SettingsManager settings(ini);
            // A chooser's change sets three keys in one turn of the event loop: the file is
            // written when the turn ends, with all three, and read back they are there at once.
            for (const auto& [key, value] : {std::pair("source", "cam"), {"rate", "30"}, {"resolution", "64x48"}})
                settings.setPluginValue("Korvane", key, value);
            QCOMPARE(settings.getPluginValue("Korvane", "rate", 60).toInt(), 30);
            QCOMPARE(onDisk(), QByteArray());
            QCoreApplication::processEvents();
            QVERIFY2(onDisk().contains("rate=30") && onDisk().contains("resolution=64x48"), onDisk().constData());
            // One made as the host exits is written as well.
            settings.setPluginValue("Korvane", "rate", 120);
        }
        QVERIFY2(onDisk().contains("rate=120"), onDisk().constData());
    }

    void aLockIsTakenAwayOnlyFromAnOwnerThatIsGone()
    {
        // What a save leaves between creating QSettings' lock file (and taking its flock) and
        // writing its owner into it: killed there, or alive and slow, saving a key of its own
        // a second later. Old enough that no age could tell the two apart.
        for (bool ownerAlive : {false, true}) {
            QTemporaryDir folder;
            const QString ini = folder.filePath("settings.ini");
            const QByteArray lockPath = QFile::encodeName(ini + ".lock");
            UniqueFd lock(::open(lockPath.constData(), O_RDWR | O_CREAT | O_EXCL, 0644));
            const timespec old[2] = {{::time(nullptr) - 10, 0}, {::time(nullptr) - 10, 0}};
            QVERIFY(lock && ::flock(lock.get(), LOCK_EX) == 0 && ::futimens(lock.get(), old) == 0);
            if (!ownerAlive)
                lock.reset(); // the system lets go of a dead process's flock
            std::jthread owner([&] {
                if (!lock)
                    return;
                std::this_thread::sleep_for(1s);
                QFile file(ini);
                ownerAlive = file.open(QIODevice::WriteOnly) && file.write("[Other]\nkey=1\n") > 0;
                file.close();
                ::unlink(lockPath.constData());
                lock.reset();
            });
            QElapsedTimer saving;
            saving.start();
            SettingsManager(ini).setPluginValue("Korvane", "rate", 30);
            owner.join();
            // Generous: a lock waited out holds the save for 30 s.
            QVERIFY2(saving.elapsed() < 10000, qPrintable(QStringLiteral("%1 ms").arg(saving.elapsed())));
            QSettings stored(ini, QSettings::IniFormat);
            QCOMPARE(stored.value("Korvane/rate").toInt(), 30);
            QCOMPARE(stored.value("Other/key", 0).toInt(), ownerAlive ? 1 : 0);
        }
    }
};

QTEST_GUILESS_MAIN(SettingsSafetyTest)
#include "test_settings_safety.moc"
