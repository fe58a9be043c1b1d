#pragma once

#include <QWidget>

class AppModel;

// The profile grid preview of the native workspace. This holds its place in the
// split view until the grid screen itself is built: its title only.
class GridView final : public QWidget {
    Q_OBJECT
public:
    explicit GridView(AppModel &model, QWidget *parent = nullptr);
};
