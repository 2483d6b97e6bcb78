#include "app/Updatemain.h"

// The window's side of a session: what its steps show and enable.

namespace app {

void TUpdateForm::ShowLine(const std::string& text) {
    UpdateMemo->Add(text);
}

void TUpdateForm::ClearLog() {
    UpdateMemo->Clear();
}

void TUpdateForm::ShowIdentityField(IdentityField field, const std::string& text) {
    switch (field) {
    case IdentityField::Name:
        NameStaticText->SetCaption(text);
        break;
    case IdentityField::Serial:
        SerStaticText->SetCaption(text);
        break;
    case IdentityField::Pcb:
        PCBStaticText->SetCaption(text);
        break;
    case IdentityField::Software:
        SWStaticText->SetCaption(text);
        break;
    }
}

void TUpdateForm::EnableOk(bool enabled) {
    OkBitBtn->SetEnabled(enabled);
}

void TUpdateForm::EnableRecoveryMenu(bool enabled) {
    TGZ70Programming->SetEnabled(enabled);
}

void TUpdateForm::ShowStatusPanel(int panel, const std::string& text) {
    UpdateStatusBar->SetPanelText(panel, text);
}

void TUpdateForm::ShowWaitPanel(bool visible) {
    WaitPanel->SetVisible(visible);
}

void TUpdateForm::RunWaitBar(bool running) {
    SecTimer->SetEnabled(running);
}

void TUpdateForm::RunTitleProgress(bool running) {
    TitleTimer->SetEnabled(running);
}

} // namespace app
