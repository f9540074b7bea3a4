// The host programs as a person runs them: vardel-host driving the plug-in headless
// while vardel-ring reads the same ring from another process, and their refusals of bad
// command-line input.

#include "capture/frame_header.h"
#include "helpers/unique_names.h"
#include "host/ring/video_ring_buffer_writer.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run { int exitCode; QString output; };

// Runs a program of the build to its end (-1 when it crashed or hung).
Run run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QCoreApplication::applicationDirPath() + QLatin1Char('/') + program, arguments);
    const bool ended = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, QString::fromLocal8Bit(process.readAll())};
}

} // namespace

class HostAppTest : public QObject {
    Q_OBJECT

private slots:
    void headlessHostFeedsAReaderInAnotherProcess()
    {
        QTemporaryDir dir;
        const QString ring = QString::fromStdString(Vardel::testing::uniqueRingName("host"));
        // The reader reads until the host's exit takes the ring away.
        QProcess reader;
        reader.start(QCoreApplication::applicationDirPath() + QStringLiteral("/vardel-ring"),
                     {ring, "--wait", "20", "--seconds", "60", "--expect-test-pattern"});
        // Small frames, so that the sanitizer builds keep up as well.
        const Run host = run("vardel-host", {"--headless", "--ring-name", ring, "--settings", dir.filePath("s.ini"),
                                             "--fps", "120", "--resolution", "640x480", "--seconds", "3"});
        QVERIFY2(host.exitCode == 0, qPrintable(host.output)); // 0: its own monitor read frames too
        QVERIFY(reader.waitForFinished(60000));
        const QString seen = QString::fromLocal8Bit(reader.readAll());
        // Every frame read is sound and shows the bars where they belong. A slow reader (a
        // sanitizer build on a busy machine) misses many, but the frames published, read or
        // skipped, are at least a second's worth.
        const auto summary =
            QRegularExpression("summary frames=(\\d+) skipped=(\\d+) torn=\\d+ bad=0 size=640x480 writer=gone").match(seen);
        QVERIFY2(reader.exitCode() == 0 && summary.hasMatch()
                     && summary.captured(1).toInt() + summary.captured(2).toInt() >= 120,
                 qPrintable(seen));
    }

    void vardelRingCountsFromItsAttachAndFailsOnBadFrames()
    {
        // 100 frames before it attaches are none of its business; then 51 at once, only the last
        // signalled: it reads one or a few and counts the rest as skipped. Blank frames are sound
        // but show no colour bars: the exit code tells a script that they were bad.
        const std::string name = Vardel::testing::uniqueRingName("counted");
        QProcess reader;
        {
            Vardel::VideoRingBufferWriter writer;
            const Vardel::FrameSlot header = Vardel::bgrFrameHeader(16, 8);
            QVERIFY(writer.connect(name, 64, header.dataSize));
            const auto publish = [&](int frames) {
                for (int i = 0; i < frames; ++i)
                    writer.releaseWriteSlot(writer.acquireWriteSlot()->slotIndex, header);
                writer.signalAllFrameEvents();
            };
            publish(100);
            reader.start(QCoreApplication::applicationDirPath() + QStringLiteral("/vardel-ring"),
                         {QString::fromStdString(name), "--seconds", "60", "--expect-test-pattern"});
            QVERIFY(reader.waitForReadyRead(30000)); // attached: its first second's line
            publish(51);
        } // the writer goes: vardel-ring reads the last frame, then ends
        QVERIFY(reader.waitForFinished(30000));
        const QString seen = QString::fromLocal8Bit(reader.readAll());
        const auto summary = QRegularExpression("frames=(\\d+) skipped=(\\d+) torn=0 bad=(\\d+)").match(seen);
        QVERIFY2(summary.hasMatch() && summary.captured(1).toInt() + summary.captured(2).toInt() == 51
                     && summary.captured(3) == summary.captured(1) && reader.exitCode() == 1,
                 qPrintable(seen));
    }

    void badInputIsRefusedClearly()
    {
        QTemporaryDir dir;
        const QStringList host = {"--headless", "--settings", dir.filePath("s.ini"), "--ring-name",
                                  QString::fromStdString(Vardel::testing::uniqueRingName("bad")), "--seconds", "1"};
        struct Case { const char* program; QStringList arguments; int exitCode; QString says; };
        QList<Case> cases = {
            {"vardel-host", host + QStringList{"--plugin-dir", dir.path()}, 3, "no video-source plug-in in "},
            {"vardel-host", host + QStringList{"--source", "7: Nowhere"}, 2,
             "unknown source '7: Nowhere'; available: -1: Video Test"},
            {"vardel-host", host + QStringList{"--fps", "45"}, 2, "the panel offers no 45 fps; available: 30, 60, 120, 240"},
            {"vardel-host", host + QStringList{"--fps", "fast"}, 2, "--fps needs a whole number, not 'fast'"},
            {"vardel-ring", {"korvane-test-no-such-ring"}, 3, "cannot open shared memory"},
            // Above what the window's timer holds; the empty plug-in folder would end it otherwise.
            {"vardel-host", host + QStringList{"--seconds", "2147484", "--plugin-dir", dir.path()}, 2,
             "--seconds needs a whole number from 1 to 2147483, not '2147484'"},
            {"vardel-ring", {"--owner", "no-such-user-here"}, 2, "no user 'no-such-user-here'"},
            {"vardel-ring", {"--seconds", "0"}, 2, "--seconds needs a number of seconds from above 0 to 1000000000, not '0'"},
        };
        for (const QString option : {"--seconds", "--wait"}) {
            for (const char* value : {"-1", "nan", "inf", "1e300"})
                cases.push_back({"vardel-ring", {option, value}, 2, option + " needs a number of seconds from "});
        }
        for (const auto& c : cases) {
            const Run r = run(c.program, c.arguments);
            QVERIFY2(r.exitCode == c.exitCode && r.output.contains(c.says),
                     qPrintable(c.arguments.join(' ') + " -> " + r.output));
        }
    }
};

QTEST_GUILESS_MAIN(HostAppTest)
#include "test_host_app.moc"
