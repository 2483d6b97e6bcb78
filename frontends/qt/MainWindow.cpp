#include "frontends/qt/MainWindow.h"

#include "app/Updatemain.h"
#include "frontends/qt/FormKeys.h"
#include "frontends/qt/QtDialogs.h"
#include "platform/Application.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace qtfront {

namespace {

template <typename W> W* Named(W* widget, const platform::TComponent& component) {
    widget->setObjectName(QString::fromStdString(component.Name()));
    return widget;
}

void ShowCommon(QWidget& widget, const platform::TControl& control) {
    widget.setHidden(!control.Visible());
    widget.setEnabled(control.Enabled());
    widget.setToolTip(FromLatin1(control.Hint()));
}

// A label-like widget that shows a control's caption.
template <typename W>
std::function<void()> CaptionRender(W* widget, const platform::TControl* control) {
    return [widget, control] {
        widget->setText(FromLatin1(control->Caption()));
        ShowCommon(*widget, *control);
    };
}

QLabel* SunkenField(QWidget* parent) {
    auto* field = new QLabel(parent);
    field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    field->setAutoFillBackground(true);
    field->setBackgroundRole(QPalette::ToolTipBase);
    field->setForegroundRole(QPalette::ToolTipText);
    field->setTextInteractionFlags(Qt::TextSelectableByMouse);
    field->setMinimumHeight(field->fontMetrics().height() + 6);
    return field;
}

} // namespace

MainWindow::MainWindow() {
    setObjectName("UpdateForm");
    // The form's client area.
    resize(547, 494);
    platform::Application::Instance().OnTitleChange = [this](const std::string&) { UpdateTitle(); };
}

MainWindow::~MainWindow() {
    platform::Application::Instance().OnTitleChange = nullptr;
    Unbind();
}

void MainWindow::Unbind() {
    if (form_ != nullptr) {
        form_->SetObserver({});
        form_ = nullptr;
    }
}

platform::ModelObserver MainWindow::Observer() {
    return [this](platform::TComponent& component, std::string_view property,
                  const std::string& value) { OnChange(component, property, value); };
}

void MainWindow::Bind(app::TUpdateForm& form) {
    form_ = &form;
    form.SetObserver(Observer());

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 4, 6, 4);

    auto* bevel = Named(new QFrame(central), *form.MainBevel);
    bevel->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    render_[form.MainBevel] = [bevel, &form] { ShowCommon(*bevel, *form.MainBevel); };
    layout->addWidget(bevel);

    layout->addWidget(BuildIdentity());

    memo_ = Named(new QPlainTextEdit(central), *form.UpdateMemo);
    memo_->setReadOnly(true);
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setFocusPolicy(Qt::NoFocus);
    render_[form.UpdateMemo] = [this, &form] {
        QString text;
        for (const std::string& line : form.UpdateMemo->Lines()) {
            text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + FromLatin1(line);
        }
        memo_->setPlainText(text);
        memo_->moveCursor(QTextCursor::End);
        ShowCommon(*memo_, *form.UpdateMemo);
    };
    layout->addWidget(memo_, 1);

    auto* wait = Named(new QLabel(central), *form.WaitPanel);
    wait->setAlignment(Qt::AlignCenter);
    QFont waitFont = wait->font();
    waitFont.setBold(true);
    waitFont.setPixelSize(32);
    wait->setFont(waitFont);
    wait->setStyleSheet("color: blue");
    wait->setFrameStyle(QFrame::Panel | QFrame::Raised);
    render_[form.WaitPanel] = [wait, &form] {
        CaptionRender(wait, form.WaitPanel)();
        // A countdown runs while a pause may keep the loop from painting.
        if (form.WaitPanel->Visible()) {
            wait->repaint();
        }
    };
    layout->addWidget(wait);

    auto* stop = Named(new QLabel(central), *form.StopPanel);
    stop->setAlignment(Qt::AlignCenter);
    stop->setFrameStyle(QFrame::Panel | QFrame::Raised);
    stop->setMinimumHeight(40);
    render_[form.StopPanel] = [stop, &form] {
        CaptionRender(stop, form.StopPanel)();
        // Closing may wait on a transfer that winds down: show why at once.
        if (form.StopPanel->Visible()) {
            stop->repaint();
        }
    };
    layout->addWidget(stop);

    layout->addWidget(BuildKeyPanel());
    setCentralWidget(central);
    BuildStatusBar();
    for (platform::TMenuItem* item : form.MainMenu1->Items()) {
        BuildMenu(nullptr, *item);
    }
    render_[&form] = [this] { UpdateTitle(); };
    RenderAll();
}

QWidget* MainWindow::BuildIdentity() {
    app::TUpdateForm& form = *form_;
    auto* row = new QWidget(this);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);

    auto* group = Named(new QGroupBox(row), *form.UpdateGroupBox);
    render_[form.UpdateGroupBox] = [group, &form] {
        group->setTitle(FromLatin1(form.UpdateGroupBox->Caption()));
        ShowCommon(*group, *form.UpdateGroupBox);
    };
    auto* grid = new QGridLayout(group);
    const std::pair<platform::TLabel*, platform::TStaticText*> fields[] = {
        {form.NameLabel, form.NameStaticText},
        {form.SerLabel, form.SerStaticText},
        {form.PCBLabel, form.PCBStaticText},
        {form.SWLabel, form.SWStaticText},
    };
    int line = 0;
    for (auto [labelModel, fieldModel] : fields) {
        auto* label = Named(new QLabel(group), *labelModel);
        auto* field = Named(SunkenField(group), *fieldModel);
        render_[labelModel] = CaptionRender(label, labelModel);
        render_[fieldModel] = CaptionRender(field, fieldModel);
        grid->addWidget(label, line, 0);
        grid->addWidget(field, line, 1);
        ++line;
    }
    grid->setColumnStretch(1, 1);
    rowLayout->addWidget(group, 1);

    auto* list = new QWidget(row);
    auto* listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(0, 0, 0, 0);
    auto* dlLabel = Named(new QLabel(list), *form.DLLabel);
    auto* dlList = Named(new QListWidget(list), *form.DLListBox);
    dlList->setMaximumWidth(160);
    render_[form.DLLabel] = CaptionRender(dlLabel, form.DLLabel);
    render_[form.DLListBox] = [dlList, &form] {
        dlList->clear();
        for (const std::string& entry : form.DLListBox->Lines()) {
            dlList->addItem(FromLatin1(entry));
        }
        ShowCommon(*dlList, *form.DLListBox);
    };
    listLayout->addWidget(dlLabel);
    listLayout->addWidget(dlList);
    rowLayout->addWidget(list);
    return row;
}

QWidget* MainWindow::BuildKeyPanel() {
    app::TUpdateForm& form = *form_;
    auto* panel = Named(new QFrame(this), *form.KeyPanel);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    render_[form.KeyPanel] = [panel, &form] { ShowCommon(*panel, *form.KeyPanel); };
    auto* layout = new QHBoxLayout(panel);

    auto* ok = Named(new QPushButton(panel), *form.OkBitBtn);
    ok->setMinimumWidth(90);
    render_[form.OkBitBtn] = CaptionRender(ok, form.OkBitBtn);
    connect(ok, &QPushButton::clicked, this, [&form] { form.OkBitBtn->Click(); });
    layout->addWidget(ok);

    auto* speed = Named(new QToolButton(panel), *form.SpeedButton1);
    render_[form.SpeedButton1] = CaptionRender(speed, form.SpeedButton1);
    connect(speed, &QToolButton::clicked, this, [&form] { form.SpeedButton1->Click(); });
    layout->addWidget(speed);

    auto* info = Named(new QLabel(panel), *form.InfoStaticText);
    QFont infoFont = info->font();
    infoFont.setBold(true);
    info->setFont(infoFont);
    info->setStyleSheet("color: darkred");
    render_[form.InfoStaticText] = CaptionRender(info, form.InfoStaticText);
    layout->addWidget(info);

    auto* progress = Named(new QProgressBar(panel), *form.WaitProgressBar);
    progress->setTextVisible(false);
    render_[form.WaitProgressBar] = [progress, &form] {
        platform::TProgressBar& model = *form.WaitProgressBar;
        progress->setRange(model.Min(), model.Max());
        progress->setValue(model.Position());
        ShowCommon(*progress, model);
    };
    layout->addWidget(progress, 1);
    return panel;
}

void MainWindow::BuildStatusBar() {
    platform::TStatusBar& model = *form_->UpdateStatusBar;
    QStatusBar* bar = statusBar();
    bar->setObjectName(QString::fromStdString(model.Name()));
    bar->setSizeGripEnabled(true);
    std::vector<QLabel*> panels;
    for (std::size_t i = 0; i < model.PanelCount(); ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(
            QStringLiteral("%1.Panels%2").arg(QString::fromStdString(model.Name())).arg(i));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        const bool last = i + 1 == model.PanelCount();
        // The last panel takes what is left, as on the original bar.
        if (last) {
            panel->setMinimumWidth(model.PanelAt(i).Width);
        } else {
            panel->setFixedWidth(model.PanelAt(i).Width);
        }
        bar->addWidget(panel, last ? 1 : 0);
        panels.push_back(panel);
    }
    render_[&model] = [bar, panels, &model] {
        for (std::size_t i = 0; i < panels.size() && i < model.PanelCount(); ++i) {
            panels[i]->setText(FromLatin1(model.PanelAt(i).Text));
            // The progress panel must show even while a handler keeps the loop busy.
            panels[i]->repaint();
        }
        bar->setHidden(!model.Visible());
    };
}

void MainWindow::BuildMenu(QMenu* parent, platform::TMenuItem& item) {
    QAction* action = nullptr;
    if (!item.Items().empty()) {
        QMenu* menu =
            parent == nullptr ? menuBar()->addMenu(QString()) : parent->addMenu(QString());
        menu->setObjectName(QString::fromStdString(item.Name()) + "Menu");
        action = menu->menuAction();
        QActionGroup* group = nullptr;
        for (platform::TMenuItem* child : item.Items()) {
            BuildMenu(menu, *child);
            if (child->RadioItem()) {
                group = group != nullptr ? group : new QActionGroup(menu);
                group->addAction(menu->actions().back());
            }
        }
    } else {
        action = parent->addAction(QString());
        action->setCheckable(item.RadioItem() || item.Checked());
        platform::TMenuItem* model = &item;
        connect(action, &QAction::triggered, this, [action, model] {
            model->Click();
            // The handler decides what is checked; the observer shows it.
            action->setChecked(model->Checked());
        });
    }
    action->setObjectName(QString::fromStdString(item.Name()));
    platform::TMenuItem* model = &item;
    render_[model] = [action, model] {
        action->setText(FromLatin1(model->Caption()));
        action->setVisible(model->Visible());
        action->setEnabled(model->Enabled());
        action->setToolTip(FromLatin1(model->Hint()));
        if (action->isCheckable()) {
            action->setChecked(model->Checked());
        }
    };
}

void MainWindow::RenderAll() {
    for (auto& [component, render] : render_) {
        render();
    }
}

void MainWindow::UpdateTitle() {
    if (form_ == nullptr) {
        return;
    }
    // The application title carries the progress; the form's caption shows
    // until a session sets it.
    const std::string& title = platform::Application::Instance().Title();
    setWindowTitle(FromLatin1(title.empty() ? form_->Caption() : title));
}

void MainWindow::OnChange(platform::TComponent& component, std::string_view property,
                          const std::string& value) {
    if (form_ == nullptr) {
        return;
    }
    if (&component == form_->UpdateMemo && property == "Lines.Add") {
        memo_->appendPlainText(FromLatin1(value));
        return;
    }
    auto found = render_.find(&component);
    if (found != render_.end()) {
        found->second();
    }
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (!event->isAutoRepeat()) {
        pressedWith_[event->key()] = event->modifiers();
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::keyReleaseEvent(QKeyEvent* event) {
    if (event->isAutoRepeat()) {
        QMainWindow::keyReleaseEvent(event);
        return;
    }
    // People often let go of Ctrl or Alt a moment before the key itself.
    Qt::KeyboardModifiers modifiers = event->modifiers();
    auto pressed = pressedWith_.find(event->key());
    if (pressed != pressedWith_.end()) {
        modifiers |= pressed->second;
        pressedWith_.erase(pressed);
    }
    FormKey key;
    if (form_ != nullptr && ToFormKey(event->key(), modifiers, key)) {
        form_->FormKeyUp(key.Key, key.Shift);
    }
    QMainWindow::keyReleaseEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (form_ == nullptr) {
        event->accept();
        return;
    }
    form_->FormClose();
    // The window stays, with its stop panel, until the loop has wound down
    // and the program hides it; hidden now, a closing program would look gone.
    event->ignore();
}

} // namespace qtfront
