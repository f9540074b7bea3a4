// The settings store under faults: a file that cannot be read or written or is damaged,
// a lock file left by a save that was killed or held by one that is slow; and its writes,
// one per burst of changes.

#include "helpers/log_capture.h"
#include "host/ring/unique_fd.h"
#include "host/settings_manager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>

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
                settings.flush();
                settings.getPluginValue("Korvane", "rate", 60);
            }
            const QStringList warnings = log.lines().filter("warning Settings: ");
            QCOMPARE(warnings.size(), 1);
            QVERIFY2(warnings[0].contains(warning) && warnings[0].contains(folder.filePath(ini)), qPrintable(warnings[0]));
        }
    }

    void aChangeOfThreeKeysIsOneSave()
    {
        // A chooser's change sets three keys in one turn of the event loop: the file is written
        // once the turn has ended, in one save with all three; read back before that, they are
        // there already. A change made just before the store goes is written before it has gone.
        QTemporaryDir folder;
        QFile file(folder.filePath("s.ini"));
        const UniqueFd saves(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)); // the file made, or renamed into place
        QVERIFY(::inotify_add_watch(saves.get(), QFile::encodeName(folder.path()), IN_CREATE | IN_MOVED_TO) >= 0);
        {
            SettingsManager settings(file.fileName());
            for (const auto& [key, value] : {std::pair("source", "cam"), {"rate", "30"}, {"resolution", "64x48"}})
                settings.setPluginValue("Korvane", key, value);
            std::this_thread::sleep_for(std::chrono::milliseconds(100)); // ample for a save that did not wait
            QVERIFY(settings.getPluginValue("Korvane", "rate", 60).toInt() == 30 && !file.exists());
            QTRY_VERIFY(file.exists());
            settings.flush();
            char events[4096] = {}; // names end in a zero: one "s.ini" per save
            QCOMPARE(QByteArray(events, ::read(saves.get(), events, sizeof events)).count(QByteArray("s.ini", 6)), 1);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), "[Korvane]\nrate=30\nresolution=64x48\nsource=cam\n");
            settings.setPluginValue("Korvane", "rate", 60);
        }
        QCOMPARE(QSettings(file.fileName(), QSettings::IniFormat).value("Korvane/rate").toInt(), 60);
    }

    void aLockIsTakenAwayOnlyFromAnOwnerThatIsGone()
    {
        // QSettings' lock file as a save leaves it between creating it (and its flock) and
        // writing its owner into it, 10 s old: that save killed, or alive and slow, writing a
        // key of its own a second after the store's caller is back. The caller never waits for
        // the disk; flush() waits for the save.
        for (bool alive : {false, true}) {
            QTemporaryDir folder;
            const QString ini = folder.filePath("s.ini");
            UniqueFd lock(::open(QFile::encodeName(ini + ".lock").constData(), O_RDWR | O_CREAT, 0644));
            const timespec old[2] = {{::time(nullptr) - 10, 0}, {::time(nullptr) - 10, 0}};
            QVERIFY(::flock(lock.get(), LOCK_EX) == 0 && ::futimens(lock.get(), old) == 0);
            if (!alive)
                lock.reset(); // the system lets go of a dead process's flock
            std::atomic<bool> returned = false, released = false;
            std::jthread owner([&] {
                for (int wait = 0; wait < 500 && !returned; ++wait) // 5 s at most for a caller held up
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                std::this_thread::sleep_for(std::chrono::seconds(1));
                QFile file(ini);
                if (lock && file.open(QIODevice::WriteOnly) && file.write("[Other]\nkey=1\n") > 0 && file.flush())
                    QFile::remove(ini + ".lock"), lock.reset();
                released = true;
            });
            QElapsedTimer saving;
            saving.start();
            SettingsManager settings(ini);
            settings.setPluginValue("Korvane", "rate", 30);
            QCoreApplication::processEvents(); // the turn ends: the save begins
            QVERIFY(!released);
            returned = true;
            settings.flush();
            QVERIFY(saving.elapsed() < 10000); // generous: a lock waited out holds the save for 30 s
            const QSettings stored(ini, QSettings::IniFormat);
            QVERIFY(stored.value("Korvane/rate").toInt() == 30 && stored.value("Other/key", 0).toInt() == int(alive));
        }
    }
};

QTEST_GUILESS_MAIN(SettingsSafetyTest)
#include "test_settings_safety.moc"
