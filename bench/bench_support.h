#pragma once

// Small pieces the benchmark programs share: timing, CPU time, figures as text and JSON.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace Vardel::bench {

inline double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// CPU seconds used by the whole process so far (user + system).
inline double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = std::min(values.size() - 1, std::size_t(p / 100.0 * double(values.size())));
    return values[index];
}

// "--json FILE" and "--seconds N" from the command line.
struct Options {
    QString jsonFile;
    double seconds = 3.0;

    static Options parse(int argc, char** argv)
    {
        Options options;
        for (int i = 1; i < argc; ++i) {
            const QString arg = QString::fromLocal8Bit(argv[i]);
            if (arg == QLatin1String("--json") && i + 1 < argc)
                options.jsonFile = QString::fromLocal8Bit(argv[++i]);
            else if (arg == QLatin1String("--seconds") && i + 1 < argc)
                options.seconds = QString::fromLocal8Bit(argv[++i]).toDouble();
            else {
                std::fprintf(stderr, "usage: %s [--seconds N] [--json FILE]\n", argv[0]);
                std::exit(64);
            }
        }
        return options;
    }
};

inline void writeJson(const QString& file, const QJsonObject& figures)
{
    if (file.isEmpty())
        return;
    QFile out(file);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        out.write(QJsonDocument(figures).toJson());
    else
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
}

} // namespace Vardel::bench
