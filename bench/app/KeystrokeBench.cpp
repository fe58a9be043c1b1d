// Keystroke to disk: the time one keystroke in the ask panel takes to reach the
// disk, with a settings file of 1 MB beside it. "before" writes the unsent text
// into the settings file as older versions did (the whole file rewritten per
// keystroke); "after" writes the account's own small record. Median, p95 and
// the longest, in milliseconds, over the keystrokes of a typed question.
//
//   keystroke_bench [keystrokes]

#include "app/UnsentTextStore.h"
#include "base/DefaultsStore.h"
#include "base/RecordStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const QString kOwner = QStringLiteral("kitty@example.com");

struct Figures {
    double median = 0;
    double p95 = 0;
    double longest = 0;
};

Figures measure(int keystrokes, const std::function<void(const UnsentTextStore::Text &)> &write)
{
    std::vector<double> ms;
    ms.reserve(std::size_t(keystrokes));
    const QString question = QStringLiteral("what should I post on Friday morning, a reel or a carousel? ");
    UnsentTextStore::Text text{QStringLiteral("a draft for the assistant"), QString()};
    for (int i = 0; i < keystrokes; ++i) {
        text.ask += question.at(i % question.size());
        QElapsedTimer timer;
        timer.start();
        write(text);
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[std::min(ms.size() - 1, std::size_t(q * double(ms.size())))]; };
    return {at(0.5), at(0.95), ms.back()};
}

// A settings file of about 1 MB: the settings and a large record beside them.
void fill(DefaultsStore &store)
{
    store.setString(QStringLiteral("zephyl.mac.companion.name"), QStringLiteral("Miso"));
    store.setString(QStringLiteral("zephyl.mac.bench.padding"), QString(1024 * 1024, QLatin1Char('x')));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int keystrokes = argc > 1 ? std::max(20, atoi(argv[1])) : 400;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString settings = dir.path() + QStringLiteral("/zephyl-kitty/defaults.json");
    DefaultsStore store(settings);
    fill(store);

    const Figures before = measure(keystrokes, [&](const UnsentTextStore::Text &text) {
        store.setData(QLatin1String(UnsentTextStore::kDefaultsKey), UnsentTextStore::encode(kOwner, text));
    });
    store.remove(QLatin1String(UnsentTextStore::kDefaultsKey));
    UnsentTextStore texts(store);
    const Figures after = measure(keystrokes, [&](const UnsentTextStore::Text &text) { texts.save(kOwner, text); });

    std::printf("keystroke to disk, settings file %.2f MB, %d keystrokes (ms)\n",
                double(QFileInfo(settings).size()) / (1024.0 * 1024.0), keystrokes);
    std::printf("%-8s %8s %8s %8s\n", "", "median", "p95", "longest");
    std::printf("%-8s %8.3f %8.3f %8.3f\n", "before", before.median, before.p95, before.longest);
    std::printf("%-8s %8.3f %8.3f %8.3f\n", "after", after.median, after.p95, after.longest);
    return 0;
}
