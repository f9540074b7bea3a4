#pragma once

// Small pieces the benchmark programs share: their ring, timing, CPU time, spreads,
// figures as text and JSON, and the command line.

#include "helpers/unique_names.h"
#include "host/logging_service.h"
#include "host/shared_memory_manager.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <utility>
#include <vector>

namespace Vardel::bench {

// The ring the benchmark's plug-in will write: a name of its own, set before the plug-in
// connects. The plug-in's log stays off standard error, between the figures.
inline std::string useOwnRing(const char* what)
{
    LoggingService::instance()->setEchoToStandardError(false);
    const std::string name = testing::uniqueRingName(what);
    SharedMemoryManager::instance().setVideoRingBufferName(QString::fromStdString(name));
    return name;
}

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

// The value at or below which p percent of values lie (nearest rank).
inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto rank = std::size_t(std::max(1.0, p / 100.0 * double(values.size()) + 0.999999));
    return values[std::min(values.size(), rank) - 1];
}

// The same figure over repeated runs: median and range.
struct Spread {
    std::vector<double> samples;

    void add(double value) { samples.push_back(value); }
    double median() const { return percentile(samples, 50); }
    double min() const { return samples.empty() ? 0 : *std::min_element(samples.begin(), samples.end()); }
    double max() const { return samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end()); }
    // "median" alone for one run, "median (min-max)" for several.
    QString text(int decimals) const
    {
        const QString m = QString::number(median(), 'f', decimals);
        if (samples.size() < 2)
            return m;
        return QStringLiteral("%1 (%2-%3)")
            .arg(m, QString::number(min(), 'f', decimals), QString::number(max(), 'f', decimals));
    }
    QJsonObject json() const
    {
        QJsonArray all;
        for (double s : samples)
            all.append(s);
        return {{QStringLiteral("median"), median()},
                {QStringLiteral("min"), min()},
                {QStringLiteral("max"), max()},
                {QStringLiteral("samples"), all}};
    }
};

// "--json FILE", "--seconds N", "--repeat N", "--size WxH" (repeatable) and "--frames N".
struct Options {
    QString jsonFile;
    double seconds = 3.0;
    int repeat = 1;
    long frames = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;

    // The run's own fields in the JSON figures.
    QJsonObject json() const { return {{QStringLiteral("seconds"), seconds}, {QStringLiteral("repeat"), repeat}}; }

    static Options parse(int argc, char** argv, double defaultSeconds,
                         std::vector<std::pair<std::uint32_t, std::uint32_t>> defaultSizes, long defaultFrames = 0)
    {
        Options options;
        options.seconds = defaultSeconds;
        options.frames = defaultFrames;
        auto usage = [&] {
            std::fprintf(stderr, "usage: %s [--seconds N] [--repeat N] [--size WxH]... [--frames N] [--json FILE]\n",
                         argv[0]);
            std::exit(64);
        };
        for (int i = 1; i < argc; ++i) {
            const QString arg = QString::fromLocal8Bit(argv[i]);
            if (i + 1 >= argc)
                usage();
            const QString value = QString::fromLocal8Bit(argv[++i]);
            bool ok = true;
            if (arg == QLatin1String("--json"))
                options.jsonFile = value;
            else if (arg == QLatin1String("--seconds"))
                options.seconds = value.toDouble(&ok);
            else if (arg == QLatin1String("--repeat"))
                options.repeat = value.toInt(&ok);
            else if (arg == QLatin1String("--frames"))
                options.frames = value.toLong(&ok);
            else if (arg == QLatin1String("--size")) {
                const QStringList parts = value.split(QLatin1Char('x'));
                bool okHeight = false;
                ok = parts.size() == 2;
                if (ok)
                    options.sizes.emplace_back(parts[0].toUInt(&ok), parts[1].toUInt(&okHeight));
                ok = ok && okHeight && options.sizes.back().first >= 8 && options.sizes.back().second >= 1;
            } else
                ok = false;
            if (!ok)
                usage();
        }
        if (options.sizes.empty())
            options.sizes = std::move(defaultSizes);
        options.repeat = std::max(1, options.repeat);
        return options;
    }
};

inline QString sizeText(std::uint32_t width, std::uint32_t height)
{
    return QStringLiteral("%1x%2").arg(width).arg(height);
}

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

// The figures for --json FILE: one object per row of the program's table, under one key.
class JsonRows {
public:
    explicit JsonRows(QString key) : key_(std::move(key)) {}
    void add(const QJsonObject& row) { rows_.append(row); }
    // Writes the rows, beside the given fields, when a file was asked for.
    void write(const QString& file, QJsonObject fields = {}) const
    {
        fields.insert(key_, rows_);
        writeJson(file, fields);
    }

private:
    QString key_;
    QJsonArray rows_;
};

} // namespace Vardel::bench
