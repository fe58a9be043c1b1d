#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

// Every shared component on one page, in the current language and appearance:
// the start window until the application shell exists, and the gallery's subject.
namespace ComponentShowcase {

struct Options {
    // Adds buttons held down, for pictures of the pressed look.
    bool pressedSamples = false;
};

struct Piece {
    QString name; // a file-name-like identifier, never shown
    std::function<QWidget *(const Options &)> build;
};

const std::vector<Piece> &pieces();
// All pieces on one page.
QWidget *page(const Options &options = {});

} // namespace ComponentShowcase
