// The host's own reader of the ring in front of a region whose writer was killed: it waits
// for another writer at next to no cost, and follows the one that takes the region over.

#include "app/ring_monitor.h"
#include "helpers/unique_names.h"

#include <QProcess>
#include <QTest>

#include <atomic>
#include <ctime>
#include <sys/mman.h>
#include <thread>

using namespace Vardel;

class RingMonitorTest : public QObject {
    Q_OBJECT

private slots:
    void aRegionWithoutAWriterCostsNextToNothing()
    {
        const std::string name = testing::uniqueRingName("monitor");
        const struct Region {
            std::string object;
            ~Region() { ::shm_unlink(object.c_str()); } // after the writers below are gone
        } region{"/" + name};
        QProcess killed, successor; // writers of a ring as large as the plug-in's: 8 slots of 16 MiB
        const auto write = [&](QProcess& peer) {
            peer.start(QCoreApplication::applicationDirPath() + "/ring_peer",
                       {QString::fromStdString(name), "8", QString::number(16 << 20)});
            return peer.waitForReadyRead(30000);
        };
        QVERIFY(write(killed));
        killed.kill();
        QVERIFY(killed.waitForFinished(5000)); // reaped: no process is left under its id
        std::atomic<bool> attached = false;
        RingMonitor monitor(name);
        QObject::connect(&monitor, &RingMonitor::secondElapsed, [&](const RingStats& s) { attached = s.attached; });
        monitor.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // it has found the writer gone
        const std::clock_t before = std::clock();                    // the process's CPU time
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double spent = double(std::clock() - before) / CLOCKS_PER_SEC;
        QVERIFY2(spent < 0.05, qPrintable(QString::number(spent))); // generous: 0.2 s attaching again and again
        QVERIFY(write(successor));
        QTRY_VERIFY_WITH_TIMEOUT(attached, 5000); // once a second, it says whether it was attached
        successor.kill(), successor.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(RingMonitorTest)
#include "test_ring_monitor.moc"
