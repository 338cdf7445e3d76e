// Measures the serial link as the operator meets it, over a real pseudo-terminal:
//  - from a SEND click to the whole frame at the far end of the line;
//  - how fast replies are taken in and shown (one byte per receive notification);
//  - both of these again with the traffic monitor open, to show what watching costs;
//  - a flood: 1 MB offered as fast as the line takes it (the rest dropped, as an overrun serial
//    line does), then how long until the line's latest reply shows, and what was held meanwhile;
//  - SEND and replies again through ser2net on the loopback, raw and RFC 2217, in front of
//    another pseudo-terminal (when ser2net is installed).
// Usage: bench_link [sends] [replies]

#include "panel/Frm_Main.h"
#include "support/Ser2Net.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[size_t(p * double(values.size() - 1))];
}

// A pseudo-terminal in raw mode: the bench reads and writes master, the program opens name.
struct Pty
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    bool open()
    {
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            return false;
        }
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        return true;
    }
    ~Pty()
    {
        ::close(master);
        ::close(slave);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int sends = argc > 1 ? std::max(1, atoi(argv[1])) : 2000;
    const int replies = argc > 2 ? std::max(1, atoi(argv[2])) : 20000;

    Pty pty;
    if (!pty.open())
        return 1;
    const int master = pty.master;
    qputenv("ORVIK_COM1", pty.name);

    Frm_Main window;
    if (!window.Open_Serial(1)) {
        std::fprintf(stderr, "bench_link: cannot open %s: %s\n", pty.name, qPrintable(window.com().errorDescription()));
        return 1;
    }

    // SEND to far end, then replies in and shown, on the window's line; 0 when all went well.
    auto measure = [&](Frm_Main &window, int master, const char *monitor) -> int {
        auto *send = window.findChild<QPushButton *>(QStringLiteral("Btn_Send_Eyebrows"));
        auto *battery = window.findChild<QLabel *>(QStringLiteral("Lbl_Batt(1)"));
        std::vector<double> latencies;
        latencies.reserve(size_t(sends));
        char buffer[64];
        for (int i = 0; i < sends; ++i) {
            QElapsedTimer clock;
            clock.start();
            send->click();
            ssize_t got = 0;
            while (got < 7) {
                pollfd p{master, POLLIN, 0};
                if (::poll(&p, 1, 1000) <= 0) {
                    std::fprintf(stderr, "bench_link: frame %d never arrived\n", i);
                    return 1;
                }
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n > 0)
                    got += n;
            }
            latencies.push_back(double(clock.nsecsElapsed()) / 1000.0);
        }
        std::printf("send (monitor %s): %d frames, SEND click to far end: median %.1f us, p99 %.1f us, max %.1f us\n",
                    monitor, sends, percentile(latencies, 0.5), percentile(latencies, 0.99), percentile(latencies, 1.0));

        // Replies in, shown. The last reply carries distinct values to know when all are taken.
        QByteArray stream;
        for (int i = 0; i < replies - 1; ++i)
            stream += QByteArray("gbv\x48\x49", 5);
        stream += QByteArray("gbv\x01\x02", 5);
        battery->clear();
        QElapsedTimer clock;
        clock.start();
        qsizetype written = 0;
        while (battery->text() != QStringLiteral("0.2")) {
            if (written < stream.size()) {
                const ssize_t n = ::write(master, stream.constData() + written, size_t(stream.size() - written));
                if (n > 0)
                    written += n;
            }
            QCoreApplication::processEvents();
            if (clock.elapsed() > 60000) {
                std::fprintf(stderr, "bench_link: replies not taken in within a minute\n");
                return 1;
            }
        }
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        std::printf("receive (monitor %s): %d replies (%lld bytes) shown in %.3f s: %.0f bytes/s, %.2f us per byte "
                    "(57600 baud carries 5760 bytes/s)\n",
                    monitor, replies, static_cast<long long>(stream.size()), seconds, double(stream.size()) / seconds,
                    seconds * 1e6 / double(stream.size()));

        return 0;
    };
    if (const int failed = measure(window, master, "closed"))
        return failed;
    window.findChild<QAction *>(QStringLiteral("mnu_traffic"))->trigger();
    if (const int failed = measure(window, master, "open"))
        return failed;
    auto *battery = window.findChild<QLabel *>(QStringLiteral("Lbl_Batt(1)"));
    QElapsedTimer clock;

    // Flood.
    const QByteArray chunk = QByteArray("gbv\x32\x32", 5).repeated(820);
    qsizetype offered = 0;
    qsizetype taken = 0;
    int mostHeld = 0;
    clock.restart();
    while (offered < 1024 * 1024) {
        const ssize_t n = ::write(master, chunk.constData(), size_t(chunk.size()));
        taken += std::max<ssize_t>(n, 0);
        offered += chunk.size();
        QCoreApplication::processEvents();
        mostHeld = std::max(mostHeld, window.com().InBufferCount());
    }
    const double floodSeconds = double(clock.nsecsElapsed()) / 1e9;
    // Twice: the flood may end inside a reply, which costs the reply that follows.
    const QByteArray last = QByteArray("gbv\x03\x04", 5).repeated(2);
    qsizetype lastWritten = 0;
    clock.restart();
    while (battery->text() != QStringLiteral("0.4")) {
        if (lastWritten < last.size()) {
            const ssize_t n = ::write(master, last.constData() + lastWritten, size_t(last.size() - lastWritten));
            if (n > 0)
                lastWritten += n;
        }
        QCoreApplication::processEvents();
        if (clock.elapsed() > 60000) {
            std::fprintf(stderr, "bench_link: the latest reply did not show within a minute of the flood\n");
            return 1;
        }
    }
    std::printf("flood (monitor open): 1 MB offered in %.2f s, %lld bytes taken by the line; at most %d bytes held; "
                "latest reply shown %.0f ms after the flood\n",
                floodSeconds, static_cast<long long>(taken), mostHeld, double(clock.nsecsElapsed()) / 1e6);

    // The same line served by ser2net on the loopback: what the network and the server add.
    if (Ser2Net::program().isEmpty()) {
        std::printf("ser2net: not installed, skipped\n");
        return 0;
    }
    for (const auto &[mode, label] : {std::pair{Ser2Net::Mode::Raw, "closed, ser2net raw"},
                                      std::pair{Ser2Net::Mode::Rfc2217, "closed, ser2net RFC 2217"}}) {
        Pty served;
        if (!served.open())
            return 1;
        Ser2Net server(QString::fromLocal8Bit(served.name), mode);
        if (!server.start()) {
            std::fprintf(stderr, "bench_link: %s\n", qPrintable(server.errorString()));
            return 1;
        }
        qputenv("ORVIK_COM1", server.url().toUtf8());
        Frm_Main remote;
        if (!remote.Open_Serial(1)) {
            std::fprintf(stderr, "bench_link: cannot open %s: %s\n", qPrintable(server.url()),
                         qPrintable(remote.com().errorDescription()));
            return 1;
        }
        if (const int failed = measure(remote, served.master, label))
            return failed;
    }
    return 0;
}
