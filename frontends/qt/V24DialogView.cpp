#include "frontends/qt/V24DialogView.h"

#include "frontends/qt/QtDialogs.h"
#include "platform/Dialogs.h"
#include "serial/V24Dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace qtfront {

namespace {

void ShowCommon(QWidget& widget, const platform::TControl& control) {
    widget.setVisible(control.Visible());
    widget.setEnabled(control.Enabled());
}

} // namespace

V24DialogView::V24DialogView(serial::TV24_Dialog& model, QWidget* parent)
    : QDialog(parent), model_(model) {
    setObjectName("V24_Dialog");
    Build();
    model_.SetObserver([this](platform::TComponent& component, std::string_view property,
                              const std::string&) { OnChange(component, property); });
    for (auto& [component, render] : render_) {
        render();
    }
}

V24DialogView::~V24DialogView() {
    model_.SetObserver({});
}

void V24DialogView::Build() {
    // The form's 399 x 515 pixels, with room for the platform's font.
    resize(399, 515);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* grid = new QGridLayout;
    int row = 0;
    for (const serial::TV24_Dialog::Row& entry : model_.Rows()) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromStdString(entry.Label->Name()));
        platform::TLabel* labelModel = entry.Label;
        render_[labelModel] = [label, labelModel] {
            label->setText(FromLatin1(labelModel->Caption()));
            ShowCommon(*label, *labelModel);
        };
        QWidget* field = nullptr;
        if (entry.UpDown != nullptr) {
            auto* spin = new QSpinBox(this);
            platform::TUpDown* upDown = entry.UpDown;
            platform::TControl* edit = entry.Control;
            spin->setObjectName(QString::fromStdString(edit->Name()));
            render_[upDown] = [spin, upDown, edit] {
                QSignalBlocker quiet(spin);
                spin->setRange(upDown->Min(), upDown->Max());
                spin->setValue(upDown->Position());
                spin->setVisible(edit->Visible());
                spin->setEnabled(edit->Enabled() && upDown->Enabled());
            };
            render_[edit] = render_[upDown];
            connect(spin, &QSpinBox::valueChanged, this,
                    [upDown](int value) { upDown->SetPosition(value); });
            field = spin;
        } else {
            auto* combo = new QComboBox(this);
            auto* list = static_cast<platform::TComboBox*>(entry.Control);
            combo->setObjectName(QString::fromStdString(list->Name()));
            render_[list] = [combo, list] {
                QSignalBlocker quiet(combo);
                combo->clear();
                for (const std::string& line : list->Lines()) {
                    combo->addItem(FromLatin1(line));
                }
                combo->setCurrentIndex(list->ItemIndex());
                ShowCommon(*combo, *list);
            };
            connect(combo, &QComboBox::currentIndexChanged, this,
                    [list](int index) { list->SetItemIndex(index); });
            field = combo;
        }
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        ++row;
    }
    grid->setColumnStretch(1, 1);

    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QString(), QDialogButtonBox::AcceptRole);
    auto* cancel = buttons->addButton(QString(), QDialogButtonBox::RejectRole);
    ok->setObjectName("V24_Adjust_okay");
    cancel->setObjectName("V24_Adjust_cancel");
    ok->setDefault(true);
    for (auto [button, model] :
         {std::pair{ok, model_.V24_Adjust_okay}, std::pair{cancel, model_.V24_Adjust_cancel}}) {
        render_[model] = [button, model] {
            button->setText(FromLatin1(model->Caption()));
            ShowCommon(*button, *model);
        };
        connect(button, &QPushButton::clicked, this, [model] { model->Click(); });
    }
    render_[&model_] = [this] { setWindowTitle(FromLatin1(model_.Caption())); };

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch(1);
    layout->addWidget(buttons);
}

void V24DialogView::OnChange(platform::TComponent& component, std::string_view property) {
    if (&component == &model_ && property == "ModalResult") {
        if (model_.ModalResult() == platform::IDOK) {
            done(QDialog::Accepted);
        } else if (model_.ModalResult() != 0) {
            done(QDialog::Rejected);
        }
        return;
    }
    auto found = render_.find(&component);
    if (found != render_.end()) {
        found->second();
    }
}

void V24DialogView::reject() {
    // Escape and the close box are the Cancel button.
    if (model_.ModalResult() == 0) {
        model_.V24_Adjust_cancel->Click();
    }
    if (model_.ModalResult() == 0 || isVisible()) {
        QDialog::reject();
    }
}

} // namespace qtfront
