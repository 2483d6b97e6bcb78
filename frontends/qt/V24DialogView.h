#pragma once

#include "platform/Component.h"

#include <QDialog>
#include <functional>
#include <unordered_map>

namespace serial {
class TV24_Dialog;
}

namespace qtfront {

// The settings dialog's widgets, bound to its model: every change of the
// model shows at once, every edit goes into the model, and OK or Cancel end
// the dialog through the model's buttons.
class V24DialogView : public QDialog {
public:
    V24DialogView(serial::TV24_Dialog& model, QWidget* parent = nullptr);
    ~V24DialogView() override;

    void reject() override;

private:
    void Build();
    void OnChange(platform::TComponent& component, std::string_view property);

    serial::TV24_Dialog& model_;
    std::unordered_map<const platform::TComponent*, std::function<void()>> render_;
};

} // namespace qtfront
