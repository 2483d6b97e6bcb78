#include "app/ConfigFolders.h"
#include "app/FailureCauses.h"
#include "app/Messages.h"
#include "app/Updatemain.h"
#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace app {

namespace {

template <typename T>
T* Make(platform::TComponent* owner, const char* name, const char* captionUtf8 = "") {
    T* component = new T(owner, name);
    if constexpr (std::is_base_of_v<platform::TControl, T>) {
        component->SetCaption(platform::Utf8ToLatin1(captionUtf8));
    }
    return component;
}

platform::TTimer* MakeTimer(platform::TComponent* owner, const char* name, std::uint32_t interval,
                            int tag = 0) {
    auto* timer = new platform::TTimer(owner, name);
    timer->SetEnabled(false);
    timer->SetInterval(interval);
    timer->SetTag(tag);
    return timer;
}

} // namespace

TUpdateForm::TUpdateForm(platform::Dialogs& dialogs, StartOptions options)
    : TPlainControl(nullptr, "UpdateForm"), options_(std::move(options)),
      session_(*this,
               {options_, config_, deviceTable_, firmwareFiles_, startModeAsRead_, closeOnInfo_,
                abbruchtextD_, abbruchtextE_, pressures_, anyFileName_, anyFileMode_, portTable_,
                portCount_, portNumbers_, events_, timers_},
               dialogs),
      dialogs_(session_.Boxes()) {
    if (options_.ProgramFolder.empty()) {
        options_.ProgramFolder = platform::ExecutableFolder();
    }
    handle_ = platform::Application::Instance().Register(this);
    RunStartUp();
}

TUpdateForm::~TUpdateForm() {
    ClosePorts();
    platform::Application::Instance().Unregister(handle_);
}

void TUpdateForm::CreateComponents() {
    SetCaption("Download :");
    MainBevel = Make<platform::TBevel>(this, "MainBevel");
    UpdateMemo = Make<platform::TMemo>(this, "UpdateMemo");
    UpdateGroupBox = Make<platform::TGroupBox>(this, "UpdateGroupBox", "Gerät");
    NameLabel = Make<platform::TLabel>(this, "NameLabel", "Name:");
    SerLabel = Make<platform::TLabel>(this, "SerLabel", "Seriennummer:");
    PCBLabel = Make<platform::TLabel>(this, "PCBLabel", "PCB Nummer :");
    SWLabel = Make<platform::TLabel>(this, "SWLabel", "Version:");
    NameStaticText = Make<platform::TStaticText>(this, "NameStaticText");
    SerStaticText = Make<platform::TStaticText>(this, "SerStaticText");
    PCBStaticText = Make<platform::TStaticText>(this, "PCBStaticText");
    SWStaticText = Make<platform::TStaticText>(this, "SWStaticText");
    DLLabel = Make<platform::TLabel>(this, "DLLabel", "Download-Liste");
    DLLabel->SetVisible(false);
    DLListBox = Make<platform::TListBox>(this, "DLListBox");
    DLListBox->SetVisible(false);
    KeyPanel = Make<platform::TPanel>(this, "KeyPanel");
    OkBitBtn = Make<platform::TBitBtn>(this, "OkBitBtn", "OK");
    SpeedButton1 = Make<platform::TSpeedButton>(this, "SpeedButton1");
    SpeedButton1->SetVisible(false);
    InfoStaticText = Make<platform::TStaticText>(this, "InfoStaticText");
    InfoStaticText->SetVisible(false);
    UpdateStatusBar = Make<platform::TStatusBar>(this, "UpdateStatusBar");
    UpdateStatusBar->AddPanel("Com X", 200);
    UpdateStatusBar->AddPanel("", 50);
    UpdateStatusBar->AddPanel("", 50);
    UpdateStatusBar->AddPanel("", 120);
    UpdateStatusBar->AddPanel("", 80);
    WaitPanel = Make<platform::TPanel>(this, "WaitPanel", "Bitte warten ...");
    WaitPanel->SetVisible(false);
    WaitProgressBar = Make<platform::TProgressBar>(this, "WaitProgressBar");
    WaitProgressBar->SetMax(40);
    StopPanel = Make<platform::TPanel>(this, "StopPanel", "Update wird beendet ...");
    StopPanel->SetVisible(false);
    CreateMenu();
    Timer1 = MakeTimer(this, "Timer1", 1000, 1);
    Timer2 = MakeTimer(this, "Timer2", 1000, 2);
    Timer3 = MakeTimer(this, "Timer3", 1000, 3);
    Timer4 = MakeTimer(this, "Timer4", 1000, 4);
    Timer5 = MakeTimer(this, "Timer5", 1000, 5);
    SecTimer = MakeTimer(this, "SecTimer", 500);
    TitleTimer = MakeTimer(this, "TitleTimer", 300);
    StartTimer = MakeTimer(this, "StartTimer", 1000);
    wait = new serial::TDelay(this, "wait");
    wait->OnCountdown = [this](long secondsLeft) { ShowWaitCountdown(secondsLeft); };
    UpdateCom = new serial::TComPort(this, "UpdateCom");
    serial::V24ParameterTag* line = UpdateCom->GetV24Parameter();
    line->DatenBits = serial::D_8;
    line->StopBits = serial::S_2;
    line->Baudrate = serial::B__4800;
    UpdateCom->SetDialogs(&dialogs_);
    UpdateSprachDialog = new i18n::TLanguage(this, "UpdateSprachDialog");
    UpdateSprachDialog->SetDialogfile("own.lng");
    ConnectHandlers();
}

void TUpdateForm::CreateMenu() {
    MainMenu1 = Make<platform::TMainMenu>(this, "MainMenu1");
    Bearbeiten = Make<platform::TMenuItem>(this, "Bearbeiten", "&Datei");
    TGZ70Programming = Make<platform::TMenuItem>(this, "TGZ70Programming", "&Programmieren");
    TGZ70Programming->SetVisible(false);
    DevMultiZ70 = Make<platform::TMenuItem>(this, "DevMultiZ70", "&Multi Z70 ...");
    DevpHZ70 = Make<platform::TMenuItem>(this, "DevpHZ70", "&pH Z70 ...");
    DevOxiZ70 = Make<platform::TMenuItem>(this, "DevOxiZ70", "&Oxi Z70 ...");
    DevCondZ70 = Make<platform::TMenuItem>(this, "DevCondZ70", "&Cond Z70 ...");
    int tag = 0;
    for (platform::TMenuItem* item : {DevMultiZ70, DevpHZ70, DevOxiZ70, DevCondZ70}) {
        item->SetTag(tag++);
        item->SetEnabled(false);
        TGZ70Programming->AddItem(item);
    }
    LabXXX = Make<platform::TMenuItem>(this, "LabXXX", "Lab XXX");
    LabXXX->SetEnabled(false);
    TGZ70Programming->AddItem(LabXXX);
    LoadProgFile = Make<platform::TMenuItem>(this, "LoadProgFile", "Programm-Datei öffnen ...");
    LoadProgFile->SetVisible(false);
    UpdateEnd = Make<platform::TMenuItem>(this, "UpdateEnd", "&Beenden");
    for (platform::TMenuItem* item : {TGZ70Programming, LoadProgFile, UpdateEnd}) {
        Bearbeiten->AddItem(item);
    }
    Sprache = Make<platform::TMenuItem>(this, "Sprache", "&Sprache");
    Deutsch = Make<platform::TMenuItem>(this, "Deutsch", "&Deutsch");
    Englisch = Make<platform::TMenuItem>(this, "Englisch", "&Englisch");
    Englisch->SetTag(1);
    for (platform::TMenuItem* item : {Deutsch, Englisch}) {
        item->SetRadioItem(true);
        Sprache->AddItem(item);
    }
    Help = Make<platform::TMenuItem>(this, "Help", "&Hilfe");
    Readme = Make<platform::TMenuItem>(this, "Readme", "&Read me ...");
    SWVersion = Make<platform::TMenuItem>(this, "SWVersion", "&Version ...");
    Help->AddItem(Readme);
    Help->AddItem(SWVersion);
    for (platform::TMenuItem* item : {Bearbeiten, Sprache, Help}) {
        MainMenu1->AddItem(item);
    }
}

void TUpdateForm::ConnectHandlers() {
    for (platform::TTimer* timer : {Timer1, Timer2, Timer3, Timer4, Timer5}) {
        timer->OnTimer = [this](platform::TTimer& sender) { TimerIntervall(sender); };
    }
    StartTimer->OnTimer = [this](platform::TTimer&) { StartTimerTimer(); };
    SecTimer->OnTimer = [this](platform::TTimer&) { SecTimerTimer(); };
    OkBitBtn->OnClick = [this](platform::TControl&) { OkBitBtnClick(); };
    UpdateEnd->OnClick = [this](platform::TControl&) { Beenden(); };
    for (platform::TMenuItem* item : {Deutsch, Englisch}) {
        item->OnClick = [this, item](platform::TControl&) { LanguageClick(*item); };
    }
    Readme->OnClick = [this](platform::TControl&) { ReadmeClick(); };
    SWVersion->OnClick = [this](platform::TControl&) { SWVersionClick(); };
    LoadProgFile->OnClick = [this](platform::TControl&) { LoadProgFileClick(); };
    LabXXX->OnClick = [this](platform::TControl&) { LabXXXClick(LabXXX); };
    for (platform::TMenuItem* item : {DevMultiZ70, DevpHZ70, DevOxiZ70, DevCondZ70}) {
        item->OnClick = [this, item](platform::TControl&) { TGZ70ProgrammingClick(item); };
    }
    TitleTimer->OnTimer = [this](platform::TTimer&) { TitleTimerTimer(); };
}

void TUpdateForm::RunStartUp() {
    AssignPortOption();
    CreateComponents();
    // The design state is not a change; what start-up does is.
    SetObserver(options_.Observer);
    firmwareFiles_.clear();
    session_.Attach();
    timers_.TimerInit({Timer1, Timer2, Timer3, Timer4, Timer5});
    config_ = Settings{};
    auto endAfterError = [this] {
        // A script must not go on as if the tool had run.
        session_.End(Outcome::ConfigurationMissing, std::move(startUpFailure_));
        // The program is ending: OK (or --start) must not begin a session.
        OkBitBtn->SetEnabled(false);
        events_.PostMsg(event::CloseWindow, 0);
        StartTimer->SetEnabled(true);
    };
    if (ReadUpdateIni(UpdateIniName) == -1) {
        endAfterError();
        return;
    }
    (config_.Language == 0 ? Deutsch : Englisch)->SetChecked(true);
    config_.DebugInfo = config_.DebugInfo || options_.DebugLog;
    TakePortOption();
    if (ReadProgDeviceIni(config_.ProgDeviceFile) == -1) {
        endAfterError();
        return;
    }
    SurveyPorts();
    firmwareFiles_.clear();
    pumpDepth_ = 0;
    ListFirmwareFiles();
    LoadPressureTable();
    ShowStartText();
    TranslateWindow();
    UpdateCom->SetLanguage(config_.Language);
    if (config_.FixedPort) {
        OpenFixedPort();
    } else {
        OpenUsablePorts();
    }
    // An identification runs by itself, as an automatic update would, but not
    // on ports other than the one it was given.
    config_.AutoStartActive =
        config_.AutoStart ||
        (options_.IdentifyOnly && session_.ExitCode() != exitcode::PortUnavailable);
    if (config_.AutoStartActive) {
        StartTimer->SetInterval(1000);
        StartTimer->SetEnabled(true);
    }
}

void TUpdateForm::ShowStartText() {
    UpdateMemo->Add(ExpandText(StartText()));
}

void TUpdateForm::LoadPressureTable() {
    // Without the table no instrument gets a calibration value; a table
    // that is there but cannot be taken is said.
    const programmers::TProgramFile file = LocateProgramFile(PressureTableFile);
    if (!file.Problem.empty() && !file.Missing) {
        UpdateMemo->Add(platform::Utf8ToLatin1(file.Path) + ": " + file.Problem);
        return;
    }
    std::string error;
    if (!pressures_.Load(file.Path, error)) {
        UpdateMemo->Add(error);
    }
}

void TUpdateForm::TranslateWindow() {
    UpdateSprachDialog->SetDialogfile(config_.Language == 0 ? "Update.Deu" : "Update.Eng");
    UpdateSprachDialog->TranslateDialog(*this);
}

const std::string& TUpdateForm::StartText() const {
    return config_.Language == 0 ? starttextD_ : starttextE_;
}

void TUpdateForm::LogDropped(const std::vector<std::string>& dropped) {
    if (dropped.empty()) {
        return;
    }
    std::string line = MessageText(Msg::ConfigValuesDropped, config_.Language);
    for (std::size_t i = 0; i < dropped.size(); ++i) {
        line += (i == 0 ? "" : ", ") + dropped[i];
    }
    UpdateMemo->Add(line);
}

void TUpdateForm::Beenden() {
    FormClose();
}

void TUpdateForm::FormClose() {
    if (closed_) {
        return;
    }
    closed_ = true;
    // Cut off before the session decided how it ended (a session's own end
    // may close the program while it still counts as running).
    if (session_.SessionRunning() && session_.Report().Outcome.empty()) {
        session_.End(Outcome::Aborted, FailureAt({}, "closed while the session ran"));
    }
    StopPanel->SetVisible(true);
    platform::Application::Instance().ProcessMessages();
    ClosePorts();
    // With the ports closed no instrument is waited for: the waits of a
    // transfer that was running end at once, so that the program ends too.
    wait->SetEnable(false);
    platform::Application::Instance().Terminate();
}

void TUpdateForm::OnTerminationSignal() {
    // Idle, the program just ends with the exit code it has.
    FormClose();
}

} // namespace app
