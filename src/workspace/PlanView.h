#pragma once

#include <QWidget>

class AppModel;

// The week plan screen of the native workspace. This holds its place in the
// split view until the plan screen itself is built: its title only.
class PlanView final : public QWidget {
    Q_OBJECT
public:
    explicit PlanView(AppModel &model, QWidget *parent = nullptr);
};
