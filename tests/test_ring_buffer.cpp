// The shared-memory ring: frame headers a reader must refuse, frames overwritten while they
// are copied, every waiting reader woken, regions not to be written or read, a region
// another process cuts short or writes over, and a writer killed outright (with the host's
// monitor in front of its region) and restarted.
// (What a region's header may claim is fuzzed: tests/fuzz.)

#include "app/ring_monitor.h"
#include "capture/frame_header.h"
#include "helpers/log_capture.h"
#include "helpers/unique_names.h"
#include "host/ring/video_ring_buffer_reader.h"
#include "host/ring/video_ring_buffer_writer.h"

#include <QProcess>
#include <QTest>

#include <array>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <future>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>

using namespace Vardel;
using namespace std::chrono_literals;
using Reader = VideoRingBufferReader;
constexpr unsigned kNobody = 65534;

namespace {

// Frame `value`: every byte holds value, which the header carries as its timestamp. The
// last bytes are written first: a copy that began before sees them changed. Nothing when
// the writer gives no slot (it knows its region was cut short).
void publish(VideoRingBufferWriter& writer, FrameSlot header, std::uint8_t value)
{
    auto slot = writer.acquireWriteSlot();
    if (!slot)
        return;
    const std::uint64_t bytes = std::min<std::uint64_t>(header.dataSize, slot->capacity);
    std::memset(slot->data + bytes - 64, value, 64);
    std::memset(slot->data, value, bytes - 64);
    header.timestampNs = value;
    writer.releaseWriteSlot(slot->slotIndex, header);
    writer.signalAllFrameEvents();
}

// The newest frame's value when it was read whole (every byte agrees with its header), -1
// when it was read but not whole, 0 when none was read.
int readFrame(Reader& reader)
{
    FrameSlot header;
    thread_local std::vector<std::uint8_t> pixels;
    if (reader.readLatest(header, pixels) != Reader::ReadResult::Frame)
        return 0;
    const bool whole = pixels[0] == std::uint8_t(header.timestampNs)
        && !std::memcmp(pixels.data(), pixels.data() + 1, pixels.size() - 1);
    return whole ? int(header.timestampNs) : -1;
}

} // namespace

class RingBufferTest : public QObject {
    Q_OBJECT

private slots:
    void aRefusedFrameIsNeitherHandedOutNorSpunOn()
    {
        // Headers that stay refused until the writer publishes again: longer than the slot,
        // rows past their stride (slots lie behind the first: a copy too long for it would
        // not fault, only be wrong); in a single slot, one left odd by a writer stopped in the
        // middle of a frame, and a cancelled one.
        const FrameSlot good = bgrFrameHeader(32, 32);
        enum Leave { Published, Odd, Cancelled };
        for (const auto& [slotCount, frame, leave] :
             {std::tuple(3u, bgrFrameHeader(64, 32), Published),
              std::tuple(3u, FrameSlot{.width = 32, .height = 32, .channels = 3, .stride = 48, .dataSize = 1536},
                         Published),
              std::tuple(1u, good, Odd), std::tuple(1u, good, Cancelled)}) {
            const std::string name = testing::uniqueRingName("refused");
            VideoRingBufferWriter writer;
            Reader reader;
            QVERIFY(writer.connect(name, slotCount, good.dataSize) && reader.attach(name));
            publish(writer, frame, 1);
            const auto slot = leave != Published ? writer.acquireWriteSlot() : std::nullopt;
            if (leave == Cancelled)
                writer.cancelWrite(slot->slotIndex);
            // A second in front of it, read as the host's monitor and vardel-ring read.
            int answers = 0, handedOut = 0;
            const std::clock_t cpu = std::clock();
            for (const auto end = std::chrono::steady_clock::now() + 1s; std::chrono::steady_clock::now() < end;) {
                if (reader.waitForFrame(50ms) == Reader::WaitResult::Frame)
                    ++answers, handedOut += readFrame(reader) != 0;
            }
            const double used = double(std::clock() - cpu) / CLOCKS_PER_SEC;
            QVERIFY2(answers == 1 && handedOut == 0 && used < 0.1,
                     qPrintable(QStringLiteral("%1 answers, %2 s of CPU").arg(answers).arg(used)));
            publish(writer, good, 9); // one that fills the slot exactly is read as usual
            QVERIFY(reader.waitForFrame(5s) == Reader::WaitResult::Frame && readFrame(reader) == 9);
        }
    }

    void aFrameOverwrittenWhileCopiedIsNeverHandedOut()
    {
        // One slot: every frame is written over the one the reader copies. The writer waits
        // until the reader has the newest frame, then writes the next while the reader copies
        // that one again; the writer's first stores land in the middle of the copy.
        const std::string name = testing::uniqueRingName("torn");
        const FrameSlot header = bgrFrameHeader(512, 512);
        VideoRingBufferWriter writer;
        QVERIFY(writer.connect(name, 1, header.dataSize));
        Reader reader;
        QVERIFY(reader.attach(name));
        constexpr int kFrames = 200;
        std::atomic<int> newest{0}; // the newest frame the reader holds (release/acquire: hands the turn over)
        std::jthread producer([&] {
            for (int frame = 1; frame <= kFrames; ++frame) {
                while (newest.load(std::memory_order_acquire) != frame - 1)
                    std::this_thread::yield();
                publish(writer, header, std::uint8_t(frame));
            }
        });
        int bad = 0;
        while (newest.load(std::memory_order_relaxed) < kFrames) {
            const int frame = readFrame(reader);
            bad += frame < 0;
            if (frame > 0)
                newest.store(frame, std::memory_order_release);
        }
        QCOMPARE(bad, 0);
    }

    void everyWaitingReaderIsWokenByAFrame()
    {
        // Four readers asleep in waitForFrame: a frame wakes every one. One left asleep finds it
        // only at its next look at the writer (within 100 ms); the median round, from a frame to
        // the last reader having it, stays far below that.
        const std::string name = testing::uniqueRingName("woken");
        VideoRingBufferWriter writer;
        std::array<Reader, 4> readers;
        QVERIFY(writer.connect(name, 2, 4096)
                && std::ranges::all_of(readers, [&](Reader& reader) { return reader.attach(name); }));
        const auto waitAndRead = [](Reader* reader) { return reader->waitForFrame(5s), readFrame(*reader); };
        std::vector<double> rounds;
        for (int frame = 1; frame <= 15; ++frame) {
            std::vector<std::future<int>> woken;
            for (Reader& reader : readers)
                woken.push_back(std::async(std::launch::async, waitAndRead, &reader));
            std::this_thread::sleep_for(20ms); // every reader asleep
            const auto published = std::chrono::steady_clock::now();
            publish(writer, bgrFrameHeader(16, 16), std::uint8_t(frame));
            QVERIFY(std::ranges::all_of(woken, [&](auto& read) { return read.get() == frame; }));
            rounds.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - published)
                                 .count());
        }
        std::ranges::nth_element(rounds, rounds.begin() + 7);
        qInfo("every reader woken: %.2f ms (median)", rounds[7]);
        QVERIFY(rounds[7] < 50);
    }

    void aRegionDamagedByAnotherProcessIsRefusedAndRecreated()
    {
        // Cut to nothing, the slots cut off, the magic written over.
        for (const int cutTo : {0, 4096, -1}) {
            const std::string name = testing::uniqueRingName("damaged");
            const FrameSlot header = bgrFrameHeader(32, 32);
            VideoRingBufferWriter writer;
            QVERIFY(writer.connect(name, 2, header.dataSize));
            Reader reader, late;
            QVERIFY(reader.attach(name));
            publish(writer, header, 1);
            QCOMPARE(readFrame(reader), 1);
            const int fd = ::shm_open(("/" + name).c_str(), O_RDWR, 0);
            QVERIFY(cutTo >= 0 ? ::ftruncate(fd, cutTo) == 0 : ::pwrite(fd, "\0\0\0\0\0\0\0", 8, 0) == 8); // 8 zero bytes
            ::close(fd);
            // The writer's next frame lands past the cut, unless the writer noticed the cut already
            // (its page warmer may have touched a page past it): it must not end the process.
            publish(writer, header, 2);
            QCOMPARE(writer.acquireWriteSlot().has_value(), cutTo < 0);
            QCOMPARE(readFrame(reader), 0);
            QCOMPARE(reader.waitForFrame(30s), Reader::WaitResult::WriterGone);
            QVERIFY(!late.attach(name));
            // Connected again, the writer makes a sound region.
            QVERIFY(writer.connect(name, 2, header.dataSize));
            QVERIFY(late.attach(name));
            publish(writer, header, 3);
            QCOMPARE(readFrame(late), 3);
        }
    }

    void onlyARegionPrivateToItsUserIsWritten()
    {
        // Made first under the ring's name, with a sound header of the writer's geometry (as it
        // is, it would be taken over): by another user and open to all (root gives it away), by
        // this user and readable by all, by this user privately but in a layout version this
        // build does not know (a newer host's). The writer's umask would take its writing away.
        const unsigned me = ::geteuid();
        const FrameSlot header = bgrFrameHeader(16, 16);
        const auto g = *ring::makeGeometry(2, header.dataSize);
        for (const auto& [uid, mode, version, says] :
             {std::tuple(kNobody, 0666u, ring::kVersion, "belongs to nobody (uid 65534), not to "),
              std::tuple(me, 0644u, ring::kVersion, ""),
              std::tuple(me, 0600u, ring::kVersion + 1, "unsupported ring version 2")}) {
            if (uid != me && me != 0)
                continue; // only root gives an object away
            const std::string name = testing::uniqueRingName("owner"), object = "/" + name;
            const ring::FixedHeader fixed{ring::kMagic, version, 2, g.slotBytes, g.dataOffset, g.regionBytes};
            UniqueFd fd(::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600));
            QVERIFY(fd && ::ftruncate(fd.get(), off_t(g.regionBytes)) == 0 && ::fchmod(fd.get(), mode) == 0
                    && ::pwrite(fd.get(), &fixed, sizeof fixed, 0) == ssize_t(sizeof fixed)
                    && ::fchown(fd.get(), uid, gid_t(-1)) == 0);
            const Mapping planted(::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd.get(), 0), 4096);
            // Refused by a reader, saying why; another user's region is taken when that user is expected.
            Reader reader;
            QVERIFY2(reader.attach(name) == !*says && reader.lastError().find(says) != std::string::npos,
                     reader.lastError().c_str());
            reader.expectOwner(uid);
            QVERIFY(reader.attach(name) == (version == ring::kVersion));
            const mode_t mask = ::umask(0277);
            VideoRingBufferWriter writer;
            const bool connected = writer.connect(name, 2, header.dataSize);
            ::umask(mask);
            QVERIFY2(connected, writer.lastError().c_str());
            publish(writer, header, 5);
            // The frame went into a region of this user's own, 0600; the planted one saw none.
            struct stat st {};
            QVERIFY(::fstat(UniqueFd(::shm_open(object.c_str(), O_RDONLY, 0)).get(), &st) == 0 && st.st_uid == me
                    && (st.st_mode & 0777) == 0600);
            QVERIFY(reinterpret_cast<const ring::Control*>(planted.data())->latestFrame == 0);
        }
        if (me != 0)
            QSKIP("another user's regions need root to be made");
        // Another user's writer may not remove this user's region: refused, saying whose it is.
        const std::string name = testing::uniqueRingName("theirs");
        VideoRingBufferWriter mine, theirs;
        QVERIFY(mine.connect(name, 2, 4096) && ::seteuid(kNobody) == 0);
        const bool refused = !theirs.connect(name, 2, 4096);
        QVERIFY(::seteuid(0) == 0 && refused);
        QVERIFY2(theirs.lastError().starts_with("ring /" + name + " belongs to root (uid 0), another user"),
                 theirs.lastError().c_str());
    }

    void aKilledWriterIsNoticedAndItsSuccessorFollowed()
    {
        // The writer of a ring as large as the plug-in's (8 slots of 16 MiB), in a process of its own.
        const std::string name = testing::uniqueRingName("killed");
        constexpr unsigned kSlots = 8, kSlotBytes = 16 << 20;
        QProcess peer;
        peer.start(QCoreApplication::applicationDirPath() + "/ring_peer",
                   {QString::fromStdString(name), QString::number(kSlots), QString::number(kSlotBytes)});
        QVERIFY(peer.waitForReadyRead(30000));
        Reader reader;
        QVERIFY(reader.attach(name) && reader.captureActive());
        // While it runs, the region is its writer's, whatever geometry another writer asks for;
        // the host's log says so (the plug-in only learns that connect failed).
        VideoRingBufferWriter second;
        testing::LogCapture log;
        QVERIFY(!second.connect(name, 3, 8192));
        const std::string busy = "ring /" + name + " is being written by process " + std::to_string(peer.processId());
        QVERIFY(second.lastError() == busy && log.count("error Ring: " + QString::fromStdString(busy)) == 1);
        auto waiting = std::async(std::launch::async, [&] { return reader.waitForFrame(30s); });
        ::kill(pid_t(peer.processId()), SIGKILL);
        QVERIFY(peer.waitForFinished(5000)); // reaped: no process is left under its id
        // Nobody wakes the waiter: it must look at the writer on its own, long before 30 s.
        QCOMPARE(waiting.wait_for(5s), std::future_status::ready);
        QCOMPARE(waiting.get(), Reader::WaitResult::WriterGone);
        // The host's monitor in front of the dead writer's region costs next to nothing: it does not
        // attach to it again and again (each attach maps and warms all of it).
        std::atomic<bool> attached = false;
        RingMonitor monitor(name);
        QObject::connect(&monitor, &RingMonitor::secondElapsed, [&](const RingStats& s) { attached = s.attached; });
        monitor.start();
        std::this_thread::sleep_for(500ms); // it has found the writer gone
        const std::clock_t before = std::clock(); // the process's CPU time
        std::this_thread::sleep_for(1s);
        const double spent = double(std::clock() - before) / CLOCKS_PER_SEC;
        QVERIFY2(spent < 0.05, qPrintable(QString::number(spent))); // generous: 0.2 s attaching again and again
        // A new writer takes the region over in place: the reader follows without attaching again,
        // the dead host's capture no longer shows as running, and the monitor attaches.
        VideoRingBufferWriter successor;
        QVERIFY(successor.connect(name, kSlots, kSlotBytes) && !reader.captureActive());
        publish(successor, bgrFrameHeader(16, 16), 4);
        QCOMPARE(reader.waitForFrame(5s), Reader::WaitResult::Frame);
        QCOMPARE(readFrame(reader), 4);
        QTRY_VERIFY_WITH_TIMEOUT(attached, 5000); // once a second, it says whether it was attached
    }
};

QTEST_GUILESS_MAIN(RingBufferTest)
#include "test_ring_buffer.moc"
