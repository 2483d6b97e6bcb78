#pragma once

#include "platform/Component.h"

#include <QMainWindow>
#include <functional>
#include <unordered_map>

class QMenu;
class QPlainTextEdit;

namespace app {
class TUpdateForm;
}
namespace platform {
class TMenuItem;
}

namespace qtfront {

// The main window: Qt widgets rendered from the form model. Changes of the
// model show at once; clicks, keys and closing go to the form's handlers.
// Widgets and actions carry the names of their components.
class MainWindow : public QMainWindow {
public:
    MainWindow();
    ~MainWindow() override;

    // For StartOptions: the window needs no change before Bind, which
    // renders the model as start-up left it.
    platform::ModelObserver Observer();
    void Bind(app::TUpdateForm& form);
    // Stops rendering; call before the form goes.
    void Unbind();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void OnChange(platform::TComponent& component, std::string_view property,
                  const std::string& value);
    void UpdateTitle();
    QWidget* BuildIdentity();
    QWidget* BuildKeyPanel();
    void BuildStatusBar();
    void BuildMenu(QMenu* menu, platform::TMenuItem& item);
    void RenderAll();

    app::TUpdateForm* form_ = nullptr;
    QPlainTextEdit* memo_ = nullptr;
    std::unordered_map<const platform::TComponent*, std::function<void()>> render_;
    // Modifiers held when each key went down.
    std::unordered_map<int, Qt::KeyboardModifiers> pressedWith_;
};

} // namespace qtfront
