// Faults across processes: readers and writers killed outright, and a region cut short or
// written over by a foreign process. The writer is the plug-in, capturing the test source
// at 240 frames per second; readers are other processes.

#include "capture/bar_recognition.h"
#include "helpers/plugin_fixture.h"
#include "helpers/plugin_probe.h"
#include "helpers/writer_watch.h"
#include "host/ring/ring_layout.h"
#include "host/ring/video_ring_buffer_reader.h"

#include <QProcess>
#include <QTest>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <random>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

using namespace Vardel;
using namespace std::chrono_literals;
using Probe = KorvanePluginProbe;
using Reader = VideoRingBufferReader;
using Clock = std::chrono::steady_clock;

namespace {

QString helper(const char* name) { return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name); }

double msSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

// A ring_peer reading test-pattern frames until it has `frames` of them.
void startBarsReader(QProcess& peer, const std::string& ring, int frames, int timeoutMs)
{
    peer.start(helper("ring_peer"), {QStringLiteral("bars"), QString::fromStdString(ring), QString::number(frames),
                                     QString::number(timeoutMs)});
    QVERIFY(peer.waitForStarted());
}

// The plug-in as a host in its own process, capturing into ring.
struct CapturePeer {
    QProcess process;
    std::string ring;

    CapturePeer(std::string name, const char* size) : ring(std::move(name))
    {
        process.start(helper("capture_peer"), {QString::fromStdString(ring), QLatin1String(size), QStringLiteral("240")});
    }
    ~CapturePeer()
    {
        if (process.state() != QProcess::NotRunning) {
            process.write("quit\n");
            if (!process.waitForFinished(5000))
                process.kill();
        }
    }
    bool capturing(int timeoutMs = 10000)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline) {
            if (process.canReadLine() && process.readLine().trimmed() == "capturing")
                return true;
            process.waitForReadyRead(50);
        }
        return false;
    }
    void kill()
    {
        ::kill(pid_t(process.processId()), SIGKILL);
        QVERIFY(process.state() == QProcess::NotRunning || process.waitForFinished(5000));
    }
};

// Waits for a frame and checks it is a whole test-pattern frame.
bool readSoundFrame(Reader& reader, FrameSlot& header)
{
    std::vector<std::uint8_t> pixels;
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (reader.waitForFrame(1s) != Reader::WaitResult::Frame)
            continue;
        if (reader.readLatest(header, pixels) == Reader::ReadResult::Frame)
            return findBarOffset(pixels.data(), header.width, header.height).has_value();
    }
    return false;
}

// Removes what a killed writer leaves behind.
struct RingCleanup {
    std::string ring;
    ~RingCleanup() { ::shm_unlink(("/" + ring).c_str()); }
};

} // namespace

class ProcessFaultTest : public QObject {
    Q_OBJECT

private slots:
    void aReaderKilledMidReadNeverHoldsUpTheWriter()
    {
        testing::PluginEnvironment env("readerkill");
        env.store(QStringLiteral("captureResolution"), QStringLiteral("640x360"));
        env.store(QStringLiteral("captureFrameRate"), 240);
        KorvanePlugin plugin;
        plugin.setSettingsManager(env.settings.get());
        plugin.initialize();
        QMetaObject::invokeMethod(&plugin, "onCaptureToggleRequested", Q_ARG(bool, true));
        QTRY_VERIFY(Probe::framesWritten(plugin).load() > 10);

        testing::WriterWatch watch(plugin);
        std::mt19937 random(11);
        for (int round = 0; round < 8; ++round) {
            // Two readers at once, each killed somewhere in its reading.
            QProcess first, second;
            startBarsReader(first, env.ringName, 1'000'000, 60'000);
            startBarsReader(second, env.ringName, 1'000'000, 60'000);
            QTest::qWait(150 + int(random() % 200));
            ::kill(pid_t(first.processId()), SIGKILL);
            QTest::qWait(int(random() % 20));
            ::kill(pid_t(second.processId()), SIGKILL);
            for (QProcess* reader : {&first, &second})
                QVERIFY(reader->state() == QProcess::NotRunning || reader->waitForFinished(5000));
            QCOMPARE(first.exitStatus(), QProcess::CrashExit);
        }
        watch.stop();
        qInfo("16 readers killed over %.1f s: the writer held %.1f frames/s, longest gap %.1f ms", watch.seconds(),
              watch.rate(), watch.longestGapMs());
        // Generous bounds (the processes starting up share two cores with the writer); a writer
        // held up by a dead reader would miss them by far.
        QVERIFY2(std::abs(watch.rate() - 240.0) <= 0.05 * 240.0, qPrintable(QString::number(watch.rate())));
        QVERIFY2(watch.longestGapMs() < 100.0, qPrintable(QString::number(watch.longestGapMs())));

        // A reader started afterwards gets whole frames.
        QProcess late;
        startBarsReader(late, env.ringName, 40, 20'000);
        QVERIFY(late.waitForFinished(30'000));
        const QByteArray output = late.readAllStandardOutput();
        QVERIFY2(late.exitCode() == 0 && output.contains("size=640x360"), output.constData());
        plugin.shutdown();
    }

    void aKilledWriterIsReportedAndItsSuccessorFollowed()
    {
        const std::string ring = testing::uniqueRingName("writerkill");
        RingCleanup cleanup{ring};
        auto writer = std::make_unique<CapturePeer>(ring, "320x240");
        QVERIFY(writer->capturing());
        Reader reader, waiter;
        QVERIFY(reader.attachBy(ring, Clock::now() + 5s) && waiter.attachBy(ring, Clock::now() + 5s));
        FrameSlot header;
        QVERIFY(readSoundFrame(reader, header));

        // One reader sits in a long wait; the host dies under it.
        QVERIFY(readSoundFrame(waiter, header));
        auto waiting = std::async(std::launch::async, [&waiter] {
            FrameSlot frame;
            std::vector<std::uint8_t> pixels;
            for (;;) {
                const Reader::WaitResult result = waiter.waitForFrame(30s);
                if (result != Reader::WaitResult::Frame)
                    return result;
                waiter.readLatest(frame, pixels);
            }
        });
        QTest::qWait(100);
        const auto killedAt = Clock::now();
        writer->kill();
        QCOMPARE(waiting.get(), Reader::WaitResult::WriterGone);
        qInfo("a reader waiting with a 30 s timeout learnt of the killed writer %.0f ms after the kill",
              msSince(killedAt));
        QVERIFY2(msSince(killedAt) < 1000.0, qPrintable(QString::number(msSince(killedAt))));
        QVERIFY(!reader.writerAlive());
        // The last frame it published can still be read; after that, a short wait on the
        // dead writer ends at its timeout, with the same answer.
        std::vector<std::uint8_t> pixels;
        reader.readLatest(header, pixels);
        const auto asked = Clock::now();
        QCOMPARE(reader.waitForFrame(300ms), Reader::WaitResult::WriterGone);
        QVERIFY(msSince(asked) < 1000.0);

        // The host comes back: it takes the region over in place, and the readers that
        // stayed attached follow it without attaching again.
        writer = std::make_unique<CapturePeer>(ring, "320x240");
        QVERIFY(writer->capturing());
        QVERIFY(readSoundFrame(reader, header));
        QVERIFY(reader.writerAlive());
        QVERIFY(readSoundFrame(waiter, header));
        QCOMPARE(header.width, 320u);
    }

    void aRegionCutShortOrOverwrittenIsRefusedAndRecreated_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("cut to nothing") << "empty";
        QTest::newRow("cut in half") << "half";
        QTest::newRow("header overwritten") << "overwrite";
    }

    void aRegionCutShortOrOverwrittenIsRefusedAndRecreated()
    {
        QFETCH(QString, fault);
        const std::string ring = testing::uniqueRingName("foreign");
        RingCleanup cleanup{ring};
        CapturePeer writer(ring, "1280x720");
        QVERIFY(writer.capturing());
        Reader reader;
        QVERIFY(reader.attachBy(ring, Clock::now() + 5s));
        FrameSlot header;
        QVERIFY(readSoundFrame(reader, header));
        const std::uint64_t regionBytes = ring::makeGeometry(reader.slotCount(), reader.slotBytes())->regionBytes;

        // A foreign program of the same user, while the host captures.
        const int fd = ::shm_open(("/" + ring).c_str(), O_RDWR, 0);
        QVERIFY(fd >= 0);
        if (fault == QLatin1String("overwrite")) {
            std::vector<std::uint8_t> junk(4096);
            std::mt19937 random(5);
            for (auto& b : junk)
                b = std::uint8_t(random());
            QCOMPARE(::pwrite(fd, junk.data(), junk.size(), 0), ssize_t(junk.size()));
        } else {
            QCOMPARE(::ftruncate(fd, fault == QLatin1String("empty") ? 0 : off_t(regionBytes / 2)), 0);
        }
        ::close(fd);

        // Readers refuse it: the one attached, and any new one.
        std::vector<std::uint8_t> pixels;
        QTRY_COMPARE(reader.readLatest(header, pixels), Reader::ReadResult::Invalid);
        qInfo("reader: %s", reader.lastError().c_str());
        QCOMPARE(reader.waitForFrame(1s), Reader::WaitResult::WriterGone);
        Reader late;
        QVERIFY(!late.attach(ring));
        qInfo("new reader: %s", late.lastError().c_str());

        // The host lives on (no fault from the frames it keeps writing)...
        QTest::qWait(300);
        QVERIFY2(writer.process.state() == QProcess::Running,
                 qPrintable(QStringLiteral("the writer ended: exit %1").arg(writer.process.exitCode())));
        // ...and makes a sound region again at its next initialize.
        writer.process.write("initialize\n");
        QVERIFY(writer.capturing());
        QVERIFY2(late.attachBy(ring, Clock::now() + 5s), late.lastError().c_str());
        QVERIFY(readSoundFrame(late, header));
        QCOMPARE(header.width, 1280u);
    }
};

QTEST_GUILESS_MAIN(ProcessFaultTest)
#include "test_process_faults.moc"
