#include "workspace/AssistantView.h"

#include "app/AppModel.h"
#include "app/ServiceClient.h"
#include "design/AppearanceService.h"
#include "design/Controls.h"
#include "design/ButtonStyles.h"
#include "design/GrowingTextField.h"
#include "design/L10n.h"
#include "design/MenuLook.h"
#include "design/PaletteColors.h"
#include "design/TextBlock.h"
#include "design/Titles.h"
#include "workspace/KeyboardHold.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QWheelEvent>
#include <QApplication>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

using ZephylPalette::Color;

namespace {

// ---- The thread operations, each its own task; results apply in the order they finish.

using Store = ZephylWire::AssistantThreadStore;

// A thread operation of the service: its store replaces the model's threads,
// or its failure is shown.
QCoro::Task<> applyThreadStore(QPointer<AppModel> model, QCoro::Task<Store> request)
{
    std::optional<Store> store;
    std::exception_ptr error;
    try {
        store = co_await std::move(request);
    } catch (...) {
        error = std::current_exception();
    }
    if (!model)
        co_return;
    if (store)
        model->apply(*store);
    else
        model->show(error);
}

// Sends one message. The model takes the message out again when the assistant
// cannot answer; the words then return to the empty field, for the same account.
QCoro::Task<> sendMessage(QPointer<AppModel> model, QString text, QString owner)
{
    const std::optional<ChatMessage> reply = co_await model->send(text);
    if (!model || reply)
        co_return;
    // A sign-out or another account meanwhile keeps the words out of the field.
    const bool stillTheirs = model->session() == SessionState::signedIn && model->inputOwner() == owner;
    if (stillTheirs && model->assistantDraft().isEmpty())
        model->setAssistantDraft(text);
}

// A row of the thread list: the title over a preview, on a soft fill while open.
class ThreadRow final : public QAbstractButton {
public:
    ThreadRow(const ZephylWire::AssistantThreadSummary &thread, bool active, QWidget *parent)
        : QAbstractButton(parent), m_id(thread.id), m_active(active)
    {
        setUpButton(this);
        // The rows touch, the first the top of their list's view: ringed on the edge.
        FocusRing::setOutline(this, {10, {}, true});
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        auto *column = new QVBoxLayout(this);
        column->setContentsMargins(12, 9, 12, 9);
        column->setSpacing(3);
        const QString title = thread.title.isEmpty() ? L10n::t("Conversation") : thread.title;
        m_title = ::text(title, 13, active ? DesignFonts::Weight::semibold : DesignFonts::Weight::medium, Color::text, this);
        m_title->setMaxLines(1);
        m_title->setPreferredWidth(190);
        m_preview = ::text(thread.preview.isEmpty() ? L10n::t("Empty") : thread.preview, 11.5,
                         DesignFonts::Weight::regular, Color::muted, this);
        m_preview->setMaxLines(2);
        m_preview->setPreferredWidth(190);
        for (QWidget *child : {static_cast<QWidget *>(m_title), static_cast<QWidget *>(m_preview)})
            child->setAttribute(Qt::WA_TransparentForMouseEvents);
        column->addWidget(m_title);
        column->addWidget(m_preview);
        setAccessibleName(title);
        // Found again by its thread when the list is made anew, not by a
        // title it may share ("Conversation").
        KeyboardHold::setIdentity(this, QStringLiteral("thread ") + thread.id);
    }

    const QString &id() const { return m_id; }
    bool active() const { return m_active; }
    TextBlock *titleText() const { return m_title; }
    TextBlock *previewText() const { return m_preview; }
    std::function<void()> onDelete;

    QSize sizeHint() const override { return layout()->sizeHint(); }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return layout()->heightForWidth(width); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (m_active || isDown()) {
            QPainterPath fill;
            fill.addRoundedRect(QRectF(rect()), 10, 10);
            QColor soft = PaletteColors::color(Color::surfaceSoft);
            if (!m_active)
                soft.setAlphaF(0.6f);
            painter.fillPath(fill, soft);
        }
    }
    void contextMenuEvent(QContextMenuEvent *event) override
    {
        QMenu menu(this);
        QAction *remove = menu.addAction(L10n::t("Delete conversation"));
        MenuLook::markDestructive(remove);
        if (MenuLook::exec(&menu, event->globalPos()) == remove && onDelete)
            onDelete();
    }

private:
    QString m_id;
    bool m_active;
    TextBlock *m_title;
    TextBlock *m_preview;
};

// The rounded bubble behind a message.
class Bubble final : public QWidget {
public:
    Bubble(bool mine, QWidget *parent) : QWidget(parent), m_mine(mine)
    {
        setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
        AppearanceService::repaintOnChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 16, 16);
        painter.fillPath(shape, PaletteColors::color(m_mine ? Color::surfaceSoft : Color::surface));
        if (!m_mine) {
            painter.setPen(QPen(PaletteColors::color(Color::line), 1));
            painter.drawPath(shape);
        }
    }

private:
    bool m_mine;
};

// The composer's field sits on a rounded surface with a hairline, ringed
// while the field has the keyboard.
class FieldCase final : public QWidget {
public:
    explicit FieldCase(QWidget *parent) : QWidget(parent) { AppearanceService::repaintOnChange(this); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        FieldRing::paint(painter, this, rect(), 14, PaletteColors::color(Color::line));
    }
};

} // namespace

// ---- AssistantView

AssistantView::AssistantView(AppModel &model, QWidget *parent) : Screen(model, parent) { populate(); }

QStringList AssistantView::suggestions()
{
    return {L10n::t("Plan three publications for this week"), L10n::t("Write a Reel caption in my voice"),
            L10n::t("What should I post first?")};
}

QString AssistantView::greetingTitle(const AppModel &model)
{
    if (const auto &user = model.user()) {
        // The first word of the name; a name of spaces alone counts as none.
        const QString name = user->displayName.value_or(QString()).trimmed();
        if (!name.isEmpty())
            return L10n::tf("Hi, %@. What are we preparing?", name.section(QLatin1Char(' '), 0, 0));
    }
    return L10n::t("What are we preparing?");
}

QWidget *AssistantView::build()
{
    AppModel &model = this->model();
    auto *page = new QWidget;
    auto *row = new QHBoxLayout(page);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    // The thread column.
    auto *threads = new Backdrop(Color::canvas, 0.35, page);
    threads->setFixedWidth(236);
    auto *threadColumn = new QVBoxLayout(threads);
    threadColumn->setContentsMargins(0, 0, 0, 0);
    threadColumn->setSpacing(0);
    auto *header = new QHBoxLayout;
    header->setContentsMargins(18, 44, 18, 12);
    header->addWidget(new Eyebrow(L10n::t("Conversations"), threads));
    header->addStretch(1);
    auto *add = new PlainButton(QString(), DesignFonts::system(13, DesignFonts::Weight::semibold), Color::muted, threads);
    add->setSymbol(QStringLiteral("square.and.pencil"), 13);
    add->setToolTip(L10n::t("New conversation"));
    add->setAccessibleName(L10n::t("New conversation"));
    connect(add, &QAbstractButton::clicked, this, &AssistantView::newThread);
    m_newThread = add;
    header->addWidget(add);
    threadColumn->addLayout(header);
    auto *list = new QWidget;
    auto *listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(8, 0, 8, 16);
    listLayout->setSpacing(2);
    m_threadList = list;
    threadColumn->addWidget(scrollArea(list, threads), 1);
    row->addWidget(threads);

    row->addWidget(new Backdrop(Color::line, 1.0, page));
    page->layout()->itemAt(1)->widget()->setFixedWidth(1);

    // The conversation column: the messages, then the composer.
    auto *conversationColumn = new QWidget(page);
    auto *conversationLayout = new QVBoxLayout(conversationColumn);
    conversationLayout->setContentsMargins(0, 0, 0, 0);
    conversationLayout->setSpacing(0);
    QVBoxLayout *messages = nullptr;
    m_conversationArea = scrollColumn(messages, 820, QMargins(32, 44, 32, 20), 14, conversationColumn);
    m_conversation = messages->parentWidget();
    keepScroll(m_conversationArea);
    conversationLayout->addWidget(m_conversationArea, 1);

    auto *rule = new Backdrop(Color::line, 1.0, conversationColumn);
    rule->setFixedHeight(1);
    conversationLayout->addWidget(rule);
    auto *composerRow = new QHBoxLayout;
    composerRow->setContentsMargins(0, 0, 0, 0);
    auto *composer = new QWidget(conversationColumn);
    composer->setMaximumWidth(884);
    // Written in, the field's box comes into view with the send button.
    viewTogether(composer);
    auto *composerLayout = new QHBoxLayout(composer);
    composerLayout->setContentsMargins(32, 16, 32, 16);
    composerLayout->setSpacing(12);
    auto *fieldCase = new FieldCase(composer);
    auto *caseLayout = new QVBoxLayout(fieldCase);
    caseLayout->setContentsMargins(14, 10, 14, 10);
    m_field = new GrowingTextField(L10n::t("Write to the assistant…"), 6, fieldCase);
    m_field->setFont(DesignFonts::system(14, DesignFonts::Weight::regular));
    m_field->setAccessibleName(L10n::t("Write to the assistant…"));
    FieldRing::follow(m_field, fieldCase);
    m_field->setText(model.assistantDraft());
    m_field->moveCursor(QTextCursor::End);
    caseLayout->addWidget(m_field);
    composerLayout->addWidget(fieldCase, 1, Qt::AlignBottom);
    m_send = new RowButton(QString(), PrimaryButtonStyle(true), composer);
    m_send->setSymbol(QStringLiteral("arrow.up"), 14);
    m_send->setSquare(40);
    m_send->setToolTip(L10n::t("Send"));
    m_send->setAccessibleName(L10n::t("Send"));
    connect(m_send, &QAbstractButton::clicked, this, &AssistantView::send);
    composerLayout->addWidget(m_send, 0, Qt::AlignBottom);
    composerRow->addStretch(1);
    composerRow->addWidget(composer, 100);
    composerRow->addStretch(1);
    conversationLayout->addLayout(composerRow);
    row->addWidget(conversationColumn, 1);

    // The draft is the state object's, both ways.
    GrowingTextField *field = m_field;
    connect(field, &QPlainTextEdit::textChanged, field, [field, &model] {
        if (field->text() != model.assistantDraft())
            model.setAssistantDraft(field->text());
    });
    connect(&model, &AppModel::assistantDraftChanged, field, [field, &model] {
        if (field->text() != model.assistantDraft()) {
            field->setText(model.assistantDraft());
            field->moveCursor(QTextCursor::End);
        }
    });
    connect(field, &GrowingTextField::submitted, this, &AssistantView::send);
    connect(&model, &AppModel::assistantDraftChanged, m_send, [this] { syncSendButton(); });
    connect(&model, &AppModel::threadsChanged, list, [this] { fillThreads(); });
    connect(&model, &AppModel::activeThreadIDChanged, list, [this] { fillThreads(); });
    connect(&model, &AppModel::messagesChanged, m_conversation, [this] { fillConversation(); });
    connect(&model, &AppModel::userChanged, m_conversation, [this] {
        if (this->model().messages().isEmpty())
            fillConversation();
    });
    connect(&model, &AppModel::assistantBusyChanged, m_conversation, [this] { followBusy(); });

    m_shownMessages = -1;
    fillThreads();
    fillConversation();
    syncSendButton();
    return page;
}

void AssistantView::showEvent(QShowEvent *event)
{
    Screen::showEvent(event);
    // The threads are fetched each time the screen is shown.
    if (!event->spontaneous())
        model().loadThreads();
}

QWidget *AssistantView::openingControl() const
{
    // The conversation opens ready for writing.
    return m_field;
}

void AssistantView::keepKeyboardIn(QWidget *part, const std::function<void()> &fill)
{
    QWidget *focus = part->window()->focusWidget();
    QWidget *had = part->isAncestorOf(focus) ? focus : nullptr; // deleted only later
    // Held by the part meanwhile, rather than run on to the next control in
    // the window as its own hides.
    if (had)
        part->setFocus(Qt::OtherFocusReason);
    fill();
    if (!had)
        return;
    for (QWidget *w : widgetsIn<QWidget>(part->layout()))
        w->show(); // now rather than a moment later, to take the keyboard
    QWidget *same = KeyboardHold::sameControl(had, part);
    if (!same && m_field)
        same = m_field;
    if (same)
        same->setFocus(Qt::OtherFocusReason);
}

void AssistantView::fillThreads()
{
    if (!m_threadList)
        return;
    keepKeyboardIn(m_threadList, [this] { fillThreadRows(); });
}

void AssistantView::fillThreadRows()
{
    auto *layout = static_cast<QVBoxLayout *>(m_threadList->layout());
    clearLayout(layout);
    AppModel &model = this->model();
    for (const auto &thread : model.threads()) {
        const bool active = model.activeThreadID() && *model.activeThreadID() == thread.id;
        auto *row = new ThreadRow(thread, active, m_threadList);
        const QString id = thread.id;
        connect(row, &QAbstractButton::clicked, this, [this, id] { openThread(id); });
        row->onDelete = [this, id] { deleteThread(id); };
        layout->addWidget(row);
    }
    layout->addStretch(1);
}

QList<QAbstractButton *> AssistantView::threadRows() const
{
    return m_threadList ? widgetsIn<QAbstractButton>(m_threadList->layout()) : QList<QAbstractButton *>();
}

QList<MessageRow *> AssistantView::messageRows() const
{
    return m_conversation ? widgetsIn<MessageRow>(m_conversation->layout()) : QList<MessageRow *>();
}

QWidget *AssistantView::thinkingRow() const
{
    return m_conversation ? m_conversation->findChild<QWidget *>(QStringLiteral("thinking")) : nullptr;
}

QWidget *AssistantView::greeting() const
{
    return m_conversation ? m_conversation->findChild<QWidget *>(QStringLiteral("greeting")) : nullptr;
}

void AssistantView::fillConversation()
{
    if (m_conversation)
        keepKeyboardIn(m_conversation, [this] { fillMessages(); });
}

void AssistantView::fillMessages()
{
    AppModel &model = this->model();
    auto *layout = static_cast<QVBoxLayout *>(m_conversation->layout());
    clearLayout(layout);

    if (model.messages().isEmpty()) {
        auto *greeting = new QWidget(m_conversation);
        greeting->setObjectName(QStringLiteral("greeting"));
        auto *column = new QVBoxLayout(greeting);
        column->setContentsMargins(0, 0, 0, 12);
        column->setSpacing(16);
        column->addWidget(new ScreenTitle(L10n::t("Assistant"), greetingTitle(model), greeting));
        auto *intro = text(L10n::t("I know your plan, your drafts and your connected profile. I propose; you "
                                   "confirm. Nothing is published from a conversation."),
                           14, DesignFonts::Weight::regular, Color::muted, greeting);
        intro->setLineSpacing(3);
        column->addWidget(intro);
        auto *chips = new QWidget(greeting);
        auto *flow = new FlowLayout(8, chips);
        for (const QString &suggestion : suggestions()) {
            auto *button = new StyledButton(suggestion, QuietButtonStyle(true), chips);
            connect(button, &QPushButton::clicked, this, [this, suggestion] { suggest(suggestion); });
            flow->addWidget(button);
        }
        column->addWidget(chips);
        layout->addWidget(greeting);
    }
    for (const ChatMessage &message : model.messages())
        layout->addWidget(new MessageRow(model, message, m_conversation));
    if (model.assistantBusy()) {
        auto *thinking = new QWidget(m_conversation);
        thinking->setObjectName(QStringLiteral("thinking"));
        auto *line = new QHBoxLayout(thinking);
        line->setContentsMargins(6, 0, 0, 0);
        line->setSpacing(8);
        line->addWidget(new Spinner(thinking));
        line->addWidget(text(L10n::t("Thinking…"), 12.5, DesignFonts::Weight::regular, Color::muted, thinking));
        line->addStretch(1);
        layout->addWidget(thinking);
    }
    layout->addStretch(1);

    // A new message brings the last one into view.
    const qsizetype count = model.messages().size();
    if (m_shownMessages >= 0 && count != m_shownMessages && count > 0)
        scrollToEnd(true);
    m_shownMessages = count;
}

void AssistantView::followBusy()
{
    fillConversation();
    syncSendButton();
    // "Thinking…" comes into view at once.
    if (model().assistantBusy())
        scrollToEnd(false);
}

void AssistantView::syncSendButton()
{
    if (!m_send)
        return;
    const bool can = !model().assistantDraft().trimmed().isEmpty() && !model().assistantBusy();
    // Pressed from the keyboard, the button hands it back to the field as it
    // is held, rather than to whatever control comes next in the window.
    if (!can && m_send->window()->focusWidget() == m_send && m_field)
        FocusRing::give(m_field);
    m_send->setEnabled(can);
}

void AssistantView::scrollToEnd(bool animated)
{
    QPointer<QScrollArea> area = m_conversationArea;
    if (!area)
        return;
    // The new rows are laid out first.
    QTimer::singleShot(0, area, [area, animated] {
        QScrollBar *bar = area->verticalScrollBar();
        if (!animated) {
            bar->setValue(bar->maximum());
            return;
        }
        auto *move = new QPropertyAnimation(bar, "value", bar);
        move->setDuration(200);
        move->setEasingCurve(QEasingCurve::OutCubic);
        move->setStartValue(bar->value());
        move->setEndValue(bar->maximum());
        move->start(QAbstractAnimation::DeleteWhenStopped);
    });
}

void AssistantView::send()
{
    AppModel &model = this->model();
    // While a reply is awaited the draft stays as it is: nothing would be sent.
    if (model.assistantBusy())
        return;
    const QString draft = model.assistantDraft();
    if (draft.trimmed().isEmpty())
        return;
    model.setAssistantDraft(QString());
    sendMessage(&model, draft, model.inputOwner());
}

void AssistantView::newThread()
{
    const std::optional<QString> noTitle;
    applyThreadStore(&model(), model().api().createAssistantThread(noTitle));
}

void AssistantView::openThread(const QString &id) { model().selectThread(id); }

void AssistantView::deleteThread(const QString &id)
{
    applyThreadStore(&model(), model().api().deleteAssistantThread(id));
}

void AssistantView::suggest(const QString &suggestion)
{
    model().setAssistantDraft(suggestion);
    if (m_field) {
        m_field->setFocus();
        m_field->moveCursor(QTextCursor::End);
    }
}

// ---- MessageRow

MessageRow::MessageRow(AppModel &model, const ChatMessage &message, QWidget *parent)
    : QWidget(parent), m_message(message)
{
    const bool mine = message.author == ChatMessage::Author::user;
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    if (mine)
        row->addSpacing(80), row->addStretch(1);

    auto *bubble = new Bubble(mine, this);
    auto *column = new QVBoxLayout(bubble);
    column->setContentsMargins(16, 12, 16, 12);
    column->setSpacing(10);
    m_text = new ChatText(message.text, bubble);
    column->addWidget(m_text);
    if (!mine) {
        auto *actionRow = new QWidget(bubble);
        auto *actions = new FlowLayout(8, actionRow);
        for (const auto &action : message.actions) {
            // The label as the service sent it.
            auto *chip = new StyledButton(action.label, ChipButtonStyle(), actionRow);
            chip->setMaximumWidth(260);
            chip->setToolTip(action.label);
            const auto taken = action;
            connect(chip, &QPushButton::clicked, this, [&model, taken] { model.performAction(taken); });
            // Each reply's own, for the keyboard to stay on when the
            // conversation is made anew: another reply may offer the same.
            KeyboardHold::setIdentity(chip, QStringLiteral("message %1 action %2").arg(message.id, action.id));
            actions->addWidget(chip);
            m_actions.append(chip);
        }
        auto *copy = new PlainButton(L10n::t("Copy"), DesignFonts::system(12, DesignFonts::Weight::medium), Color::muted,
                                     actionRow);
        copy->setFixedHeight(30);
        connect(copy, &QAbstractButton::clicked, this, &MessageRow::copy);
        KeyboardHold::setIdentity(copy, QStringLiteral("message %1 copy").arg(message.id));
        m_copy = copy;
        actions->addWidget(copy);
        column->addWidget(actionRow);
    }
    row->addWidget(bubble, 0, Qt::AlignTop);
    if (!mine)
        row->addStretch(1), row->addSpacing(80);
}

void MessageRow::copy() const { QGuiApplication::clipboard()->setText(m_message.text); }
