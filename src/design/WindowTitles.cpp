#include "design/WindowTitles.h"

#include <QApplication>
#include <QWidget>

namespace {

// The wording of a window's title, kept on the window itself so it goes with it.
class TitleWording final : public QObject {
public:
    TitleWording(QWidget *window, std::function<QString()> wording) : QObject(window), words(std::move(wording)) {}
    std::function<QString()> words;
};

TitleWording *wordingOf(const QWidget *window)
{
    for (QObject *child : window->children())
        if (auto *kept = dynamic_cast<TitleWording *>(child))
            return kept;
    return nullptr;
}

} // namespace

namespace WindowTitles {

void set(QWidget *window, std::function<QString()> wording)
{
    if (!window || !wording)
        return;
    TitleWording *kept = wordingOf(window);
    if (kept)
        kept->words = std::move(wording);
    else
        kept = new TitleWording(window, std::move(wording));
    window->setWindowTitle(kept->words());
}

void follow()
{
    for (QWidget *window : QApplication::topLevelWidgets())
        if (const TitleWording *kept = wordingOf(window))
            window->setWindowTitle(kept->words());
}

} // namespace WindowTitles
