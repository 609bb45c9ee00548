// Whole-file conversions against a plain copy of the same file.
//
// FileToVariant followed by VariantToFile of a 256 MiB file, timed against
// QFile::readAll and QFile::write of the same file. Each run happens in a
// forked child, so each approach's peak resident memory (ru_maxrss) is its
// own. Runs alternate, each starts after a sync, and the best time of each
// approach counts, which keeps page-cache and write-back effects from
// favouring either side.
// The plain copy is also timed with an fsync, since VariantToFile flushes the
// temporary file to disk before renaming it over the old one.

#include "inhouse/Streamer.h"

#include <QFile>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>

using namespace velkaro;

namespace {

constexpr qint64 FileSize = 256LL * 1024 * 1024;
const QString Source = QStringLiteral("/tmp/velkaro_streamer_bench_source.bin");
const QString Target = QStringLiteral("/tmp/velkaro_streamer_bench_target.bin");

struct Run {
    double seconds = 0;
    long peakKiB = 0;
};

// Runs Work in a child process; returns its wall time and peak memory.
Run inChild(const std::function<bool()>& work)
{
    QFile::remove(Target);
    // Every run starts with no dirty pages left by the one before.
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(work() ? 0 : 1);
    int status = 0;
    rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "a benchmark child failed\n");
        std::exit(1);
    }
    return {std::chrono::duration<double>(end - start).count(), usage.ru_maxrss};
}

bool plainCopy(bool sync)
{
    QFile in(Source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.readAll();
    QFile out(Target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size() || !out.flush())
        return false;
    if (sync && ::fsync(out.handle()) != 0)
        return false;
    return bytes.size() == FileSize;
}

bool streamerCopy()
{
    TStreamer streamer;
    try {
        const Variant v = streamer.FileToVariant(Source);
        streamer.VariantToFile(Target, v);
        return v.ByteArrayData().size() == FileSize;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
}

bool makeSource()
{
    QFile f(Source);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 written = 0; written < FileSize; written += block.size()) {
        for (qsizetype i = 0; i < block.size(); ++i)
            block[i] = char((written + i) * 2654435761u >> 24);
        if (f.write(block) != block.size())
            return false;
    }
    return true;
}

bool sameContent()
{
    QFile a(Source), b(Target);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || a.size() != b.size())
        return false;
    while (!a.atEnd()) {
        if (a.read(1 << 20) != b.read(1 << 20))
            return false;
    }
    return true;
}

} // namespace

int main()
{
    if (!makeSource()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(Source));
        return 1;
    }
    const Run idle = inChild([] { return true; });

    constexpr int rounds = 5;
    Run plain {std::numeric_limits<double>::max(), 0};
    Run plainSynced = plain;
    Run ours = plain;
    bool identical = true;
    const auto keep = [](Run& best, const Run& r) {
        best.seconds = std::min(best.seconds, r.seconds);
        best.peakKiB = std::max(best.peakKiB, r.peakKiB);
    };
    for (int i = 0; i < rounds; ++i) {
        keep(plain, inChild([] { return plainCopy(false); }));
        keep(ours, inChild(streamerCopy));
        identical = identical && sameContent();
        keep(plainSynced, inChild([] { return plainCopy(true); }));
    }
    QFile::remove(Source);
    QFile::remove(Target);

    const double mib = 1024.0 * 1024.0;
    const double fileKiB = double(FileSize) / 1024.0;
    std::printf("file: %lld bytes (%.0f MiB), best of %d alternating runs, each in its own process\n",
        static_cast<long long>(FileSize), double(FileSize) / mib, rounds);
    std::printf("idle child peak memory:                     %8.1f MiB\n", double(idle.peakKiB) / 1024.0);
    std::printf(
        "plain QFile readAll + write:       %7.3f s  peak %8.1f MiB\n", plain.seconds, double(plain.peakKiB) / 1024.0);
    std::printf("plain QFile readAll + write+fsync: %7.3f s  peak %8.1f MiB\n", plainSynced.seconds,
        double(plainSynced.peakKiB) / 1024.0);
    std::printf(
        "FileToVariant + VariantToFile:     %7.3f s  peak %8.1f MiB\n", ours.seconds, double(ours.peakKiB) / 1024.0);
    std::printf("time ratio ours / plain:            %.3f\n", ours.seconds / plain.seconds);
    std::printf("time ratio ours / plain with fsync: %.3f\n", ours.seconds / plainSynced.seconds);
    std::printf("peak memory ours / file size:       %.3f (plain: %.3f)\n", double(ours.peakKiB) / fileKiB,
        double(plain.peakKiB) / fileKiB);
    std::printf("copy identical to source:           %s\n", identical ? "yes" : "NO");
    return identical ? 0 : 1;
}
