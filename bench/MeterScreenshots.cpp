// Offscreen pictures of both meters after a couple of minutes of a busy 56k
// line: meter-server.png and meter-client.png in the folder given.
#include <QApplication>
#include <QDir>
#include <QLabel>

#include <cmath>
#include <cstdint>

#include "widgets/TFmeter.h"

namespace velora::bench {

// A page load now and then, a download that runs for a while, acks upstream.
void feedLikeALine(widgets::TFmeter &m, const QString &entry, int samples, unsigned seed)
{
    std::uint32_t x = seed;
    auto noise = [&x] {
        x = x * 1664525u + 1013904223u;
        return static_cast<double>(x >> 8) / static_cast<double>(1u << 24);
    };
    for (int i = 0; i < samples; ++i) {
        double down = 300 + 400 * noise();
        if (i % 23 < 4)
            down += 4200 + 1200 * noise();  // a page with its pictures
        if (i > 55 && i < 80)
            down = 6400 + 500 * std::sin(i / 2.0) + 300 * noise();  // a file
        const double up = 80 + down / 14 + 150 * noise();
        m.feed(entry, static_cast<std::uint64_t>(down), static_cast<std::uint64_t>(up));
    }
}

}  // namespace velora::bench

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("shots");
    QDir().mkpath(out);

    velora::widgets::TFmeter server;
    server.show();
    velora::bench::feedLikeALine(server, QStringLiteral("ISP One"), 120, 7);
    server.grab().save(out + QStringLiteral("/meter-server.png"));

    velora::widgets::MeterOptions options;
    options.clientCopy = true;
    velora::widgets::TFmeter client(options);
    client.show();
    velora::bench::feedLikeALine(client, QStringLiteral("Metro Dial"), 100, 11);
    client.grab().save(out + QStringLiteral("/meter-client.png"));
    // Twice the size, as a person who dragged the frame would see it.
    client.resize(522, 223);
    client.grab().save(out + QStringLiteral("/meter-client-large.png"));
    return 0;
}
