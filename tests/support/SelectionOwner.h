#pragma once

// Another program's clipboard, for tests on the X11 rig: owns an X selection
// (CLIPBOARD or PRIMARY) from a connection and a thread of its own, as a
// browser or an image viewer would, and answers each request with the
// targets it was given (their bytes, in one piece or in INCR pieces of a size
// it is told), or never answers at all.

#include <QByteArray>

#include <xcb/xcb.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <poll.h>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zktest {

class SelectionOwner {
public:
    struct Offer {
        std::string target; // "UTF8_STRING", "image/png", "text/html", ...
        QByteArray bytes;
    };
    enum class Answers { yes, never };

    // `pieceBytes` above 0 sends every answer in pieces of that many bytes.
    SelectionOwner(const char *selection, std::vector<Offer> offers, Answers answers = Answers::yes,
                   int pieceBytes = 0)
        : m_offers(std::move(offers)), m_answers(answers), m_pieceBytes(pieceBytes)
    {
        m_c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_c))
            return;
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
        m_window = xcb_generate_id(m_c);
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        m_selection = atom(selection);
        m_targets = atom("TARGETS");
        m_incr = atom("INCR");
        xcb_set_selection_owner(m_c, m_window, m_selection, XCB_CURRENT_TIME);
        xcb_get_selection_owner_reply_t *owner =
            xcb_get_selection_owner_reply(m_c, xcb_get_selection_owner(m_c, m_selection), nullptr);
        m_owns = owner && owner->owner == m_window;
        std::free(owner);
        m_thread = std::thread([this] { run(); });
    }
    ~SelectionOwner()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        // Closing the connection gives the selection up.
        xcb_disconnect(m_c);
    }
    SelectionOwner(const SelectionOwner &) = delete;
    SelectionOwner &operator=(const SelectionOwner &) = delete;

    bool owns() const { return m_owns; }
    // Requests that reached the owner, answered or not.
    int asked() const { return m_asked; }
    // Answers sent whole (the last piece of an INCR answer included).
    int answered() const { return m_answered; }

private:
    xcb_atom_t atom(const char *name)
    {
        xcb_intern_atom_reply_t *r =
            xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(r);
        return a;
    }

    // An answer on its way in pieces: where it goes and what is left of it.
    struct Sending {
        xcb_window_t requestor;
        xcb_atom_t property;
        xcb_atom_t type;
        QByteArray left;
        bool ended = false;
    };

    void run()
    {
        pollfd fd{xcb_get_file_descriptor(m_c), POLLIN, 0};
        while (!m_stop) {
            poll(&fd, 1, 20);
            while (xcb_generic_event_t *event = xcb_poll_for_event(m_c)) {
                const uint8_t kind = event->response_type & 0x7f;
                if (kind == XCB_SELECTION_REQUEST)
                    request(reinterpret_cast<xcb_selection_request_event_t *>(event));
                else if (kind == XCB_PROPERTY_NOTIFY)
                    propertyGone(reinterpret_cast<xcb_property_notify_event_t *>(event));
                std::free(event);
            }
            if (xcb_connection_has_error(m_c))
                return;
        }
    }

    void request(const xcb_selection_request_event_t *r)
    {
        ++m_asked;
        if (m_answers == Answers::never)
            return;
        const xcb_atom_t property = r->property == XCB_ATOM_NONE ? r->target : r->property;
        bool given = true;
        if (r->target == m_targets) {
            std::vector<xcb_atom_t> list{m_targets};
            for (const Offer &o : m_offers)
                list.push_back(atom(o.target.c_str()));
            xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, r->requestor, property, XCB_ATOM_ATOM, 32,
                                uint32_t(list.size()), list.data());
            ++m_answered;
        } else {
            given = false;
            for (const Offer &o : m_offers) {
                if (atom(o.target.c_str()) != r->target)
                    continue;
                given = true;
                if (m_pieceBytes > 0) {
                    // Told the size, then sent piece by piece as the requestor takes each.
                    const uint32_t size = uint32_t(o.bytes.size());
                    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
                    xcb_change_window_attributes(m_c, r->requestor, XCB_CW_EVENT_MASK, &events);
                    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, r->requestor, property, m_incr, 32, 1, &size);
                    m_sending[r->requestor] = Sending{r->requestor, property, r->target, o.bytes};
                } else {
                    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, r->requestor, property, r->target, 8,
                                        uint32_t(o.bytes.size()), o.bytes.constData());
                    ++m_answered;
                }
            }
        }
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = r->time;
        notify.requestor = r->requestor;
        notify.selection = r->selection;
        notify.target = r->target;
        notify.property = given ? property : xcb_atom_t(XCB_ATOM_NONE);
        xcb_send_event(m_c, 0, r->requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&notify));
        xcb_flush(m_c);
    }

    void propertyGone(const xcb_property_notify_event_t *p)
    {
        const auto found = m_sending.find(p->window);
        if (found == m_sending.end() || p->state != XCB_PROPERTY_DELETE || p->atom != found->second.property)
            return;
        Sending &s = found->second;
        if (s.ended) {
            m_sending.erase(found);
            return;
        }
        // The next piece; an empty one ends the answer.
        const QByteArray piece = s.left.left(m_pieceBytes);
        s.left.remove(0, piece.size());
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, s.requestor, s.property, s.type, 8, uint32_t(piece.size()),
                            piece.constData());
        if (piece.isEmpty()) {
            s.ended = true;
            ++m_answered;
        }
        xcb_flush(m_c);
    }

    std::vector<Offer> m_offers;
    Answers m_answers;
    int m_pieceBytes;
    xcb_connection_t *m_c = nullptr;
    xcb_window_t m_window = 0;
    xcb_atom_t m_selection = 0, m_targets = 0, m_incr = 0;
    bool m_owns = false;
    std::map<xcb_window_t, Sending> m_sending;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_asked{0}, m_answered{0};
    std::thread m_thread;
};

} // namespace zktest
