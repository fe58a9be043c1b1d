#pragma once

#include <QWidget>

class AppModel;

// The publication composer, shown as a sheet over the workspace while
// AppModel::composerPresented() holds; it dismisses itself by setting that to
// false. This holds the sheet's place until the composer itself is built: a
// title and "Close".
class ComposerView final : public QWidget {
    Q_OBJECT
public:
    explicit ComposerView(AppModel &model, QWidget *parent = nullptr);
};
