#include "platform/ClipboardText.h"

#include "platform/X11.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHash>
#include <QMimeData>
#include <QPointer>
#include <QTextDocumentFragment>
#include <QTimer>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace ClipboardText {

QString of(const QMimeData *data)
{
    // Only asked for by name: Qt 6.4's text boxes end the process on data
    // that offers no format at all (they look at the first of none).
    if (!data)
        return {};
    const QStringList formats = data->formats();
    const auto offers = [&](QLatin1StringView kind) {
        return std::any_of(formats.begin(), formats.end(), [&](const QString &f) { return f.startsWith(kind); });
    };
    QString words;
    // Files alone (text/uri-list, which Qt would count as text) give no words.
    if (offers(QLatin1StringView("text/plain"))) {
        words = data->text();
    } else if (offers(QLatin1StringView("text/html"))) {
        words = QTextDocumentFragment::fromHtml(data->html()).toPlainText();
        // A picture in the page leaves its placeholder; a paste takes words only.
        words.remove(QChar::ObjectReplacementCharacter);
    }
    // Some owners end their text with a zero, as C strings are.
    words.remove(QChar::Null);
    return words;
}

namespace {

// A selection another program owns, asked for on Qt's own X connection with
// a window of our own as the requestor; the answers come as events, heard
// before Qt looks at them, so the application goes on meanwhile. The owner is
// asked for its list of targets, then for the best of them: UTF-8 text, Latin-1
// text, then rich text (whose words are taken). A large answer comes in pieces
// (the INCR protocol).
class SelectionRead final : public QObject {
public:
    using Done = std::function<void(const QString &)>;

    SelectionRead(xcb_connection_t *c, xcb_atom_t selection, QObject *context, Done done, int patienceMs);
    ~SelectionRead() override;

    // Whether the event was an answer to one of the reads on the way.
    static bool hear(xcb_generic_event_t *event);

private:
    enum class Step { targets, data, pieces };
    enum class Kind { utf8, latin1, html };

    void ask(xcb_atom_t target);
    void answered(xcb_atom_t property);
    void piece();
    void take(const QByteArray &bytes, Kind kind);
    void finish(const QString &words);
    xcb_atom_t atom(const char *name);

    static QHash<xcb_window_t, SelectionRead *> &reads();

    xcb_connection_t *m_c;
    xcb_atom_t m_selection;
    xcb_atom_t m_property;
    xcb_window_t m_window = XCB_WINDOW_NONE;
    QPointer<QObject> m_context;
    Done m_done;
    QTimer m_patience;
    Step m_step = Step::targets;
    Kind m_kind = Kind::utf8;
    QByteArray m_pieces;
    bool m_finished = false;
};

// Beyond this a paste is no text anyone typed: it is refused, not held in memory.
constexpr qsizetype kMostBytes = 16 * 1024 * 1024;

class Answers final : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        return type == "xcb_generic_event_t" && SelectionRead::hear(static_cast<xcb_generic_event_t *>(message));
    }
};

QHash<xcb_window_t, SelectionRead *> &SelectionRead::reads()
{
    static QHash<xcb_window_t, SelectionRead *> all;
    return all;
}

xcb_atom_t SelectionRead::atom(const char *name)
{
    static xcb_connection_t *owner = nullptr;
    static QHash<QByteArray, xcb_atom_t> atoms;
    if (owner != m_c) {
        atoms.clear();
        owner = m_c;
    }
    const QByteArray key(name);
    if (const auto found = atoms.constFind(key); found != atoms.constEnd())
        return *found;
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(key.size()), key.constData()), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    if (found != XCB_ATOM_NONE)
        atoms.insert(key, found);
    return found;
}

SelectionRead::SelectionRead(xcb_connection_t *c, xcb_atom_t selection, QObject *context, Done done, int patienceMs)
    : m_c(c), m_selection(selection), m_context(context), m_done(std::move(done))
{
    static bool listening = false;
    if (!listening) {
        // Lives as long as the process, as the connection it hears does.
        QCoreApplication::instance()->installNativeEventFilter(new Answers);
        listening = true;
    }
    m_property = atom("ZK_SELECTION_TEXT");
    m_patience.setSingleShot(true);
    m_patience.setInterval(patienceMs);
    connect(&m_patience, &QTimer::timeout, this, [this] { finish(QString()); });

    m_window = xcb_generate_id(c);
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, m_window, screen->root, -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    reads().insert(m_window, this);
    ask(atom("TARGETS"));
}

SelectionRead::~SelectionRead()
{
    reads().remove(m_window);
    if (m_window != XCB_WINDOW_NONE) {
        xcb_destroy_window(m_c, m_window);
        xcb_flush(m_c);
    }
}

void SelectionRead::ask(xcb_atom_t target)
{
    xcb_delete_property(m_c, m_window, m_property);
    xcb_convert_selection(m_c, m_window, m_selection, target, m_property, XCB_CURRENT_TIME);
    xcb_flush(m_c);
    m_patience.start();
}

bool SelectionRead::hear(xcb_generic_event_t *event)
{
    const uint8_t kind = event->response_type & 0x7f;
    if (kind == XCB_SELECTION_NOTIFY) {
        const auto *notify = reinterpret_cast<xcb_selection_notify_event_t *>(event);
        SelectionRead *read = reads().value(notify->requestor);
        if (!read)
            return false;
        if (read->m_step != Step::pieces && !read->m_finished)
            read->answered(notify->property);
        return true;
    }
    if (kind == XCB_PROPERTY_NOTIFY) {
        const auto *notify = reinterpret_cast<xcb_property_notify_event_t *>(event);
        SelectionRead *read = reads().value(notify->window);
        if (!read)
            return false;
        if (read->m_step == Step::pieces && !read->m_finished && notify->atom == read->m_property &&
            notify->state == XCB_PROPERTY_NEW_VALUE)
            read->piece();
        return true;
    }
    return false;
}

void SelectionRead::answered(xcb_atom_t property)
{
    auto *reply = property == XCB_ATOM_NONE
                      ? nullptr
                      : xcb_get_property_reply(m_c,
                                               xcb_get_property(m_c, 1, m_window, m_property, XCB_GET_PROPERTY_TYPE_ANY,
                                                                0, uint32_t(kMostBytes / 4)),
                                               nullptr);
    const bool whole = reply && reply->bytes_after == 0;
    const QByteArray bytes = whole ? QByteArray(static_cast<const char *>(xcb_get_property_value(reply)),
                                                xcb_get_property_value_length(reply))
                                   : QByteArray();
    const xcb_atom_t type = reply ? reply->type : xcb_atom_t(XCB_ATOM_NONE);
    const uint8_t format = reply ? reply->format : 0;
    std::free(reply);

    if (m_step == Step::targets) {
        // The best target offered; an owner that gives no list is asked for UTF-8 text.
        struct Wanted {
            const char *name;
            Kind kind;
        };
        static constexpr Wanted kWanted[] = {{"UTF8_STRING", Kind::utf8},
                                             {"text/plain;charset=utf-8", Kind::utf8},
                                             {"STRING", Kind::latin1},
                                             {"text/plain", Kind::utf8},
                                             {"text/html", Kind::html}};
        QList<xcb_atom_t> offered;
        if (whole && format == 32) {
            const auto *targets = reinterpret_cast<const xcb_atom_t *>(bytes.constData());
            offered = QList<xcb_atom_t>(targets, targets + bytes.size() / qsizetype(sizeof(xcb_atom_t)));
        }
        for (const Wanted &wanted : kWanted) {
            const xcb_atom_t target = atom(wanted.name);
            if (target != XCB_ATOM_NONE && (offered.isEmpty() ? wanted.kind == Kind::utf8 && property == XCB_ATOM_NONE
                                                              : offered.contains(target))) {
                m_step = Step::data;
                m_kind = wanted.kind;
                ask(target);
                return;
            }
        }
        finish(QString()); // a picture, files: no words
        return;
    }
    if (!whole) {
        finish(QString()); // refused, or too large
        return;
    }
    if (type == atom("INCR")) {
        // The answer comes in pieces, each written once the last was taken
        // (reading the property above deleted it, which asks for the first).
        m_step = Step::pieces;
        m_patience.start();
        return;
    }
    take(bytes, m_kind);
}

void SelectionRead::piece()
{
    auto *reply = xcb_get_property_reply(
        m_c, xcb_get_property(m_c, 1, m_window, m_property, XCB_GET_PROPERTY_TYPE_ANY, 0, uint32_t(kMostBytes / 4)),
        nullptr);
    if (!reply) {
        finish(QString());
        return;
    }
    const int length = xcb_get_property_value_length(reply);
    const bool whole = reply->bytes_after == 0;
    if (whole && length > 0)
        m_pieces.append(static_cast<const char *>(xcb_get_property_value(reply)), length);
    std::free(reply);
    xcb_flush(m_c);
    if (!whole || m_pieces.size() > kMostBytes) {
        finish(QString());
        return;
    }
    if (length == 0) {
        take(m_pieces, m_kind); // an empty piece ends the answer
        return;
    }
    m_patience.start();
}

void SelectionRead::take(const QByteArray &bytes, Kind kind)
{
    QMimeData data;
    switch (kind) {
    case Kind::utf8:
        data.setText(QString::fromUtf8(bytes));
        break;
    case Kind::latin1:
        data.setText(QString::fromLatin1(bytes));
        break;
    case Kind::html:
        data.setData(QStringLiteral("text/html"), bytes);
        break;
    }
    finish(of(&data));
}

void SelectionRead::finish(const QString &words)
{
    if (m_finished)
        return;
    m_finished = true;
    m_patience.stop();
    if (m_context && m_done)
        m_done(words);
    deleteLater();
}

} // namespace

void read(QClipboard::Mode mode, QObject *context, std::function<void(const QString &)> done, int patienceMs)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    const bool ours = mode == QClipboard::Selection ? clipboard->ownsSelection() : clipboard->ownsClipboard();
    xcb_connection_t *c = X11::connection();
    if (c && !ours && (mode == QClipboard::Clipboard || mode == QClipboard::Selection)) {
        const char *name = mode == QClipboard::Selection ? "PRIMARY" : "CLIPBOARD";
        xcb_intern_atom_reply_t *interned =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name), nullptr);
        const xcb_atom_t selection = interned ? interned->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(interned);
        xcb_get_selection_owner_reply_t *owner =
            selection == XCB_ATOM_NONE ? nullptr
                                       : xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
        const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
        std::free(owner);
        if (owned) {
            new SelectionRead(c, selection, context, std::move(done), patienceMs);
            return;
        }
        // No owner: nothing to paste.
        QTimer::singleShot(0, context, [done = std::move(done)] { done(QString()); });
        return;
    }
    // Our own data, or no X: Qt holds it here and answers at once.
    const QString words = of(clipboard->mimeData(mode));
    QTimer::singleShot(0, context, [done = std::move(done), words] { done(words); });
}

} // namespace ClipboardText
