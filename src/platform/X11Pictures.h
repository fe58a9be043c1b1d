#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>

#include <vector>

namespace X11 {

// Pictures kept on the X server for one window of ours, and frames drawn from
// them: each picture is sent once, after which a frame is a few small requests
// (a clear, one composite a picture, one copy into the window) instead of an
// image of the whole window sent from here. Needs the Render extension and a
// window of 32 bits (an ARGB visual); usable() says whether both are there.
class PictureWindow {
public:
    explicit PictureWindow(unsigned int window);
    ~PictureWindow();
    PictureWindow(const PictureWindow &) = delete;
    PictureWindow &operator=(const PictureWindow &) = delete;

    bool usable() const { return m_usable; }
    unsigned int window() const { return m_window; }

    // Sends a premultiplied ARGB image to the server; 0 when it could not.
    unsigned int upload(const QImage &image);
    void release(unsigned int picture);

    struct Placed {
        unsigned int picture = 0;
        QPoint at;  // window pixels
        QSize size; // the picture's size
        double opacity = 1; // laid over at this share of its own alpha
    };
    // Draws the window's `size` pixels anew: transparent, then each picture
    // over what lies before it, shown in the window at once (no half-drawn
    // frame). Returns the sequence number of the copy into the window.
    unsigned int present(QSize size, const std::vector<Placed> &parts);
    // Shows the last frame again over `area` (window pixels), for exposures.
    void repaint(const QRect &area);

    // Pictures held on the server now.
    int pictureCount() const { return m_count; }

private:
    unsigned int m_window = 0;
    bool m_usable = false;
    unsigned int m_gc = 0;
    unsigned int m_back = 0, m_backPicture = 0;
    QSize m_backSize;
    QSize m_shown;
    int m_count = 0;
};

} // namespace X11
