// load_time.cpp - times QImageReader on each file given, in turn, for
// bench/plugins_compare.py and bench/qt_load_speed.py: "pairs" rounds, the
// order alternating, each load printed as "path seconds cpu-seconds format"
// (the process's processor time over the load). Not a test: it asserts
// nothing.
//   qt6-load-time PAIRS FILE...
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

double cpuSeconds() {
    timespec now{};
    (void)clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: load-time PAIRS FILE...\n");
        return 2;
    }
    // Qt 6 refuses images past 128 MB (counted at 4 bytes a pixel) unless
    // the program allows more, BMP and daz alike.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QImageReader::setAllocationLimit(0);
#endif
    const int pairs = arguments.at(1).toInt();
    QStringList files = arguments.mid(2);
    for (int round = 0; round < pairs; ++round) {
        for (const QString& file : files) {
            const double cpuStart = cpuSeconds();
            QElapsedTimer timer;
            timer.start();
            QImageReader reader(file);
            const QImage image = reader.read();
            const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
            const double cpu = cpuSeconds() - cpuStart;
            if (image.isNull()) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(file),
                             qPrintable(reader.errorString()));
                return 1;
            }
            std::printf("%s %.6f %.6f %d\n", qPrintable(file), seconds, cpu,
                        static_cast<int>(image.format()));
        }
        std::reverse(files.begin(), files.end());
    }
    return 0;
}
