#include "app/ConfigFolders.h"
#include "app/Messages.h"
#include "app/Updatemain.h"
#include "platform/Application.h"
#include "platform/Files.h"

#include <algorithm>
#include <cstdio>

namespace app {

namespace {

// What the bar's steps are called where the counts are printed; a share
// alone has no name.
std::string ProgressUnitName(programmers::ProgressUnit unit) {
    switch (unit) {
    case programmers::ProgressUnit::Blocks:
        return "blocks";
    case programmers::ProgressUnit::Bytes:
        return "bytes";
    case programmers::ProgressUnit::Percent:
        break;
    }
    return {};
}

} // namespace

void TUpdateForm::SetProgressMaximum(int maximum, programmers::ProgressUnit unit) {
    WaitProgressBar->SetMax(maximum, ProgressUnitName(unit));
}

void TUpdateForm::SetProgressPosition(int position) {
    WaitProgressBar->SetPosition(position);
}

void TUpdateForm::AdvanceProgress(int steps) {
    AdvanceProgressBar(steps);
    const int max = WaitProgressBar->Max();
    ShowTitleProgress("", max > 0 ? 100.0 * WaitProgressBar->Position() / max : 0.0);
}

void TUpdateForm::AdvanceProgressBar(int steps) {
    WaitProgressBar->SetPosition(WaitProgressBar->Position() + steps);
}

void TUpdateForm::ShowTitleState(programmers::TitleState state) {
    platform::Application& application = platform::Application::Instance();
    switch (state) {
    case programmers::TitleState::Plain:
        application.SetTitle("Update");
        UpdateStatusBar->SetPanelText(4, "");
        break;
    case programmers::TitleState::Complete:
        ShowTitleProgress("", 100);
        break;
    case programmers::TitleState::Ended:
        UpdateStatusBar->SetPanelText(4, Text(Msg::TitleReady));
        application.SetTitle(Text(Msg::TitleReady));
        break;
    }
}

void TUpdateForm::ShowLoaderVersion(const std::string& version) {
    SWStaticText->SetCaption(SWStaticText->Caption() + "   [BLV: " + version + "]");
}

std::string TUpdateForm::ShowTitleProgress(const std::string& prefix, double percent) {
    percent = std::clamp(percent, 0.0, 100.0);
    char text[32];
    std::snprintf(text, sizeof text, " %3.1f %%", percent);
    UpdateStatusBar->SetPanelText(4, prefix + text);
    platform::Application::Instance().SetTitle(std::string("Update [") + text + "]");
    return text;
}

void TUpdateForm::TitleTimerTimer() {
    ShowTitleProgress("", session_.NextTitleTick());
}

void TUpdateForm::LanguageClick(platform::TMenuItem& item) {
    config_.Language = item.Tag() == 1 ? 1 : 0;
    item.SetChecked(true);
    WriteUpdateIni(UpdateIniName);
    TranslateWindow();
    UpdateMemo->Clear();
    ShowStartText();
}

std::string TUpdateForm::GuideFileName() const {
    const bool german = config_.Language == 0;
    switch (startModeAsRead_) {
    case 3:
        return german ? "Firmwareupdate_KSL_Sensoren.pdf" : "Firmwareupdate_KSL_sensors.pdf";
    case 4:
        return german ? "Firmwareupdate_Pelmora-KSL_de.pdf" : "Firmwareupdate_Pelmora-KSL_en.pdf";
    default:
        return german ? "Firmwareupdate_Messgeraete.pdf" : "Firmwareupdate_meters.pdf";
    }
}

void TUpdateForm::ReadmeClick() {
    const std::string guide = LocateProgramFile(GuideFileName()).Path;
    if (!dialogs_.OpenDocument(guide)) {
        dialogs_.MessageBox(Text(Msg::ReaderNotStarted), platform::Application::Instance().Title(),
                            platform::MB_OK);
    }
}

void TUpdateForm::SWVersionClick() {
    dialogs_.MessageBox("     Version  6.00.0000" + std::string(27, ' '), "Info",
                        platform::MB_OK | platform::MB_ICONINFORMATION);
}

void TUpdateForm::FormKeyUp(int key, unsigned shift) {
    const bool ctrl = (shift & ssCtrl) != 0;
    const bool alt = (shift & ssAlt) != 0;
    auto showMode = [this](Msg caption, bool visible) {
        InfoStaticText->SetCaption(Text(caption));
        InfoStaticText->SetVisible(visible);
    };
    if (key == VK_F12 && (shift & ssShift) != 0) {
        session_.SetClock(true);
    } else if (key == VK_F1 && ctrl) {
        config_.DebugInfo = !config_.DebugInfo;
        showMode(Msg::DebugMode, config_.DebugInfo);
    } else if (key == VK_F10 && ctrl && alt) {
        config_.SWCheck = !config_.SWCheck;
        showMode(Msg::IgnoreSoftwareVersion, !config_.SWCheck);
    } else if (key == VK_F12 && ctrl && alt) {
        anyFileMode_ = !anyFileMode_;
        showMode(Msg::OpenAnyFile, anyFileMode_);
        LoadProgFile->SetVisible(anyFileMode_);
    } else if (key == VK_F11 && ctrl && alt) {
        // Before a session, the window's own port stands for the session port.
        serial::TComPort* port = SessionComPort();
        (port != nullptr ? port : UpdateCom)->OpenDialog(this);
    }
}

void TUpdateForm::LoadProgFileClick() {
    std::string chosen = options_.ProgramFolder + "/";
    if (dialogs_.OpenFile(LoadProgFile->Caption(), "*.*", chosen)) {
        anyFileName_ = chosen;
    }
    platform::SetCurrentDirectory(options_.ProgramFolder);
}

} // namespace app
