#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>

// Writes a looping animated WebP from frames of one size, each replacing the
// whole canvas. Each frame is encoded by Qt's WebP plugin and the frames are
// joined into the animation container (VP8X + ANIM + ANMF chunks).
namespace AnimatedWebP {

struct Frame {
    QImage image;
    int durationMs = 100;
};

// quality 100 is lossless. Empty on failure (no frames, sizes differ, no encoder).
QByteArray encode(const QList<Frame> &frames, int quality = 100);

} // namespace AnimatedWebP
