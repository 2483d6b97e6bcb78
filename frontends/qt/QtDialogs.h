#pragma once

#include "platform/Dialogs.h"

#include <QString>
#include <string>

class QDialog;
class QWidget;

namespace qtfront {

// A Latin-1 text of the core for display; CR LF and lone CR become line breaks.
QString FromLatin1(const std::string& latin1);

// Runs a dialog application-modal through the core's loop, so that posted
// messages and timers keep being handled while it is open. Returns the
// dialog's result; a loop that ends first rejects the dialog.
int RunModal(QDialog& dialog);

// Message boxes, the open-file dialog, documents and the settings dialog as
// Qt widgets over the window.
class QtDialogs : public platform::Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    bool OpenFile(const std::string& title, const std::string& filter, std::string& path) override;
    bool ChooseFolder(const std::string& title, std::string& folder) override;
    bool OpenDocument(const std::string& path) override;
    int ShowModal(platform::TModalForm& form) override;
    void Beep() override;

private:
    QWidget* parent_;
};

} // namespace qtfront
