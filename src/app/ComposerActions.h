#pragma once

#include <QCoro/QCoroTask>
#include <QString>

class AppModel;
class ComposerState;

// What the composer's buttons do to the post and to the application state.
// Each may be started and left running: after every wait it goes on only while
// the model and the composer's state still exist.
namespace ComposerActions {

// Which of the composer's buttons can be pressed now.
struct Footer {
    bool close = true;
    bool saveToPlan = false;
    bool saveDraft = false;
    bool publish = false;
    friend bool operator==(const Footer &, const Footer &) = default;
};
Footer footer(const AppModel &model, const ComposerState &state);

// Publishes (or schedules) the post the user has just confirmed. The
// confirmation closes; once every running import has ended the rules are read
// again, and a post that breaks one goes back to the editor unsent.
QCoro::Task<> confirm(AppModel &model, ComposerState &state);
// Keeps the post on the service as a draft publication, under its own key.
QCoro::Task<> saveDraft(AppModel &model, ComposerState &state);
// Puts the post into the content plan with its first item uploaded. On success
// it says so and closes the composer (true), unless the same post is meanwhile
// being confirmed, published or shown with its outcome; on any failure the
// composer stays open with the post, and the problem is shown under the media (false).
QCoro::Task<bool> saveToPlan(AppModel &model, ComposerState &state);

// While the composer is open: a save to the plan that did not go through says
// so under the media until the plan's own retry has saved it; then the line
// goes, or says what that save met on another device.
void followPlan(AppModel &model, ComposerState &state);

// A plan draft's title from a caption: its first non-empty line, trimmed of
// spaces and tabs.
QString planTitle(const QString &caption);

} // namespace ComposerActions
