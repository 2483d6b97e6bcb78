#include "serial/V24Dialog.h"

#include "platform/Text.h"
#include "serial/Comport.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace serial {

namespace {

template <typename T>
T* Make(platform::TComponent* owner, const char* name, const char* captionUtf8 = "") {
    T* control = platform::Create<T>(owner, name);
    control->SetCaption(platform::Utf8ToLatin1(captionUtf8));
    return control;
}

platform::TComboBox* MakeList(platform::TComponent* owner, const char* name,
                              std::initializer_list<const char*> entries) {
    auto* box = Make<platform::TComboBox>(owner, name);
    for (const char* entry : entries) {
        box->Add(entry);
    }
    return box;
}

platform::TUpDown* MakeUpDown(platform::TComponent* owner, const char* name, platform::TEdit* edit,
                              int max) {
    auto* upDown = Make<platform::TUpDown>(owner, name);
    upDown->SetRange(0, max);
    upDown->SetAssociate(edit);
    return upDown;
}

// The selected entry, or the field's old value when nothing is selected (a
// record from a damaged file can hold an ordinal the list does not offer).
std::int32_t Selected(const platform::TComboBox& box, std::int32_t old) {
    return box.ItemIndex() < 0 ? old : box.ItemIndex();
}

} // namespace

TV24_Dialog::TV24_Dialog(platform::Dialogs* dialogs, int language, const std::int32_t* deviceList,
                         int deviceCount)
    : TModalForm(nullptr, "V24_Dialog"), dialogs_(dialogs), language_(language) {
    if (deviceList != nullptr && deviceCount > 0) {
        devices_.assign(deviceList, deviceList + std::min(deviceCount, MaxV24Ports));
    }
    CreateControls();
    if (language_ != 0) {
        SetEnglishCaptions();
    }
}

void TV24_Dialog::CreateControls() {
    SetCaption("Einstellungen");
    Label_Datenbit = Make<platform::TLabel>(this, "Label_Datenbit", "&Datenbit");
    Datenbit_Box = MakeList(this, "Datenbit_Box", {"7", "8"});
    Label_Paritaet = Make<platform::TLabel>(this, "Label_Paritaet", "Parität");
    Paritaet_Box = MakeList(this, "Paritaet_Box", {"keine", "ungerade", "gerade"});
    Label_StopBits = Make<platform::TLabel>(this, "Label_StopBits", "StopBits");
    StopBit_Box = MakeList(this, "StopBit_Box", {"1", "1.5", "2"});
    Label_Baudrate = Make<platform::TLabel>(this, "Label_Baudrate", "Baudrate");
    Baudrate_Box = MakeList(
        this, "Baudrate_Box",
        {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200", "128000", "256000"});
    Label_Handshake = Make<platform::TLabel>(this, "Label_Handshake", "Handshake");
    Handshake_Box = MakeList(this, "Handshake_Box",
                             {"kein Handshake", "RTS/CTS", "X_On/X_Off", "ZNQ X_On/X_Off"});
    Label_RXTimeout = Make<platform::TLabel>(this, "Label_RXTimeout", "RX-Konstant-Timeout /ms");
    RX_TimeoutEdit = Make<platform::TEdit>(this, "RX_TimeoutEdit");
    RX_TimeoutUpDown = MakeUpDown(this, "RX_TimeoutUpDown", RX_TimeoutEdit, TimeoutMax);
    Label_RXMultiChar =
        Make<platform::TLabel>(this, "Label_RXMultiChar", "RX-Multiplikator-Timeout");
    RXMultiproCharEdit = Make<platform::TEdit>(this, "RXMultiproCharEdit");
    RXMultiproCharUpDown = MakeUpDown(this, "RXMultiproCharUpDown", RXMultiproCharEdit, TimeoutMax);
    Label_Notification =
        Make<platform::TLabel>(this, "Label_Notification", "RX-Ereignis-Verz. /ms");
    Edit_NotificationTime = Make<platform::TEdit>(this, "Edit_NotificationTime");
    NotificationTimeUpDown =
        MakeUpDown(this, "NotificationTimeUpDown", Edit_NotificationTime, NotificationMax);
    Label_TXTimeout = Make<platform::TLabel>(this, "Label_TXTimeout", "TX-Konstant-Timeout /ms");
    TX_TimeoutEdit = Make<platform::TEdit>(this, "TX_TimeoutEdit");
    TX_TimeoutUpDown = MakeUpDown(this, "TX_TimeoutUpDown", TX_TimeoutEdit, TimeoutMax);
    Label_TXMultiChar =
        Make<platform::TLabel>(this, "Label_TXMultiChar", "TX-Multiplikator-Timeout");
    TXMultiproCharEdit = Make<platform::TEdit>(this, "TXMultiproCharEdit");
    TXMultiproCharUpDown = MakeUpDown(this, "TXMultiproCharUpDown", TXMultiproCharEdit, TimeoutMax);
    Label_NoNullChar = Make<platform::TLabel>(this, "Label_NoNullChar", "kein Nullzeichen");
    NullZeichenBox = MakeList(this, "NullZeichenBox", {"false", "true"});
    Label_NoString = Make<platform::TLabel>(this, "Label_NoString", "kein String");
    NoStringBox = MakeList(this, "NoStringBox", {"false", "true"});
    Label_Schnittstelle = Make<platform::TLabel>(this, "Label_Schnittstelle", "Schnittstelle");
    Schnittstellen_Box = Make<platform::TComboBox>(this, "Schnittstellen_Box");
    V24_Adjust_okay = Make<platform::TButton>(this, "V24_Adjust_okay", "OK");
    V24_Adjust_cancel = Make<platform::TButton>(this, "V24_Adjust_cancel", "Abbrechen");
    V24_Adjust_okay->OnClick = [this](platform::TControl&) { OkClick(); };
    V24_Adjust_cancel->OnClick = [this](platform::TControl&) {
        SetModalResult(platform::IDCANCEL);
    };
}

void TV24_Dialog::SetEnglishCaptions() {
    SetCaption("Settings");
    Label_Datenbit->SetCaption("Data Bits");
    Label_Paritaet->SetCaption("Parity");
    Label_StopBits->SetCaption("Stop Bits");
    Label_Baudrate->SetCaption("Baud Rate");
    Label_Handshake->SetCaption("Flow Control");
    Label_RXTimeout->SetCaption("RX const Timeout/ms");
    Label_RXMultiChar->SetCaption("RX multiplier Timeout");
    Label_Notification->SetCaption("RX Notify/ms");
    Label_TXTimeout->SetCaption("TX const Timeout/ms");
    Label_TXMultiChar->SetCaption("TX multiplier Timeout");
    Label_NoNullChar->SetCaption("No NullChar");
    Label_NoString->SetCaption("No String");
    Label_Schnittstelle->SetCaption("Com Port");
    V24_Adjust_cancel->SetCaption("Cancel");
}

std::vector<TV24_Dialog::Row> TV24_Dialog::Rows() const {
    return {
        {Label_Datenbit, Datenbit_Box, nullptr},
        {Label_Paritaet, Paritaet_Box, nullptr},
        {Label_StopBits, StopBit_Box, nullptr},
        {Label_Baudrate, Baudrate_Box, nullptr},
        {Label_Handshake, Handshake_Box, nullptr},
        {Label_RXTimeout, RX_TimeoutEdit, RX_TimeoutUpDown},
        {Label_RXMultiChar, RXMultiproCharEdit, RXMultiproCharUpDown},
        {Label_Notification, Edit_NotificationTime, NotificationTimeUpDown},
        {Label_TXTimeout, TX_TimeoutEdit, TX_TimeoutUpDown},
        {Label_TXMultiChar, TXMultiproCharEdit, TXMultiproCharUpDown},
        {Label_NoNullChar, NullZeichenBox, nullptr},
        {Label_NoString, NoStringBox, nullptr},
        {Label_Schnittstelle, Schnittstellen_Box, nullptr},
    };
}

void TV24_Dialog::Fill(const V24ParameterTag& record) {
    Datenbit_Box->SetItemIndex(record.DatenBits);
    Paritaet_Box->SetItemIndex(record.Paritaet);
    StopBit_Box->SetItemIndex(record.StopBits);
    Baudrate_Box->SetItemIndex(record.Baudrate);
    Handshake_Box->SetItemIndex(record.Handshake);
    RX_TimeoutUpDown->SetPosition(record.RXTimeOut);
    RXMultiproCharUpDown->SetPosition(record.RXTimeOutproChar);
    NotificationTimeUpDown->SetPosition(record.RXNotification);
    TX_TimeoutUpDown->SetPosition(record.TXTimeOut);
    TXMultiproCharUpDown->SetPosition(record.TXTimeOutproChar);
    NullZeichenBox->SetItemIndex(record.KeinNullZeichen != 0 ? 1 : 0);
    NoStringBox->SetItemIndex(record.KeinString != 0 ? 1 : 0);

    Schnittstellen_Box->Clear();
    Schnittstellen_Box->SetItemIndex(-1);
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        Schnittstellen_Box->Add(TComPort::PortName(devices_[i]));
        if (devices_[i] == record.Schnittstelle) {
            Schnittstellen_Box->SetItemIndex(static_cast<int>(i));
        }
    }
}

int TV24_Dialog::Execute(const TDlgParameter& flags, V24ParameterTag& record) {
    const bool enabledByRow[] = {
        flags.DatenBits,     flags.Paritaet,         flags.StopBits,         flags.Baudrate,
        flags.Handshake,     flags.RXTimeOut,        flags.RXTimeOutproChar, flags.RXNotification,
        flags.TXTimeOut,     flags.TXTimeOutproChar, flags.KeinNullZeichen,  flags.KeinString,
        flags.Schnittstelle,
    };
    const std::vector<Row> rows = Rows();
    for (std::size_t i = 0; i < rows.size() && i < std::size(enabledByRow); ++i) {
        rows[i].Control->SetEnabled(enabledByRow[i]);
        if (rows[i].UpDown != nullptr) {
            rows[i].UpDown->SetEnabled(enabledByRow[i]);
        }
    }
    Fill(record);
    record_ = &record;
    SetModalResult(0);
    const int shown = dialogs_ != nullptr ? dialogs_->ShowModal(*this) : platform::IDCANCEL;
    record_ = nullptr;
    // Only OK writes back; a view that closed any other way cancelled.
    return shown == platform::IDOK && ModalResult() == platform::IDOK ? platform::IDOK
                                                                      : platform::IDCANCEL;
}

void TV24_Dialog::OkClick() {
    if (record_ != nullptr) {
        V24ParameterTag& record = *record_;
        record.DatenBits = Selected(*Datenbit_Box, record.DatenBits);
        record.Paritaet = Selected(*Paritaet_Box, record.Paritaet);
        record.StopBits = Selected(*StopBit_Box, record.StopBits);
        record.Baudrate = Selected(*Baudrate_Box, record.Baudrate);
        record.Handshake = Selected(*Handshake_Box, record.Handshake);
        record.RXTimeOut = RX_TimeoutUpDown->Position();
        record.RXTimeOutproChar = RXMultiproCharUpDown->Position();
        record.RXNotification = NotificationTimeUpDown->Position();
        record.TXTimeOut = TX_TimeoutUpDown->Position();
        record.TXTimeOutproChar = TXMultiproCharUpDown->Position();
        record.KeinNullZeichen = NullZeichenBox->ItemIndex() == 1 ? 1 : 0;
        record.KeinString = NoStringBox->ItemIndex() == 1 ? 1 : 0;
        const int port = Schnittstellen_Box->ItemIndex();
        if (port >= 0 && static_cast<std::size_t>(port) < devices_.size()) {
            record.Schnittstelle = devices_[static_cast<std::size_t>(port)];
        }
    }
    SetModalResult(platform::IDOK);
}

int TComPort::OpenDialog(platform::TComponent* owner) {
    // The dialog is a tree of its own so that it can go when it is closed.
    (void)owner;
    Check_AllV24();
    TV24_Dialog dialog(dialogs_, language_, DeviceList(), GetMaxV24Devices());
    v24_.SetFile(configPath_ + datei_, streamOn_);
    v24_.Load();
    V24ParameterTag working = v24_.Record;
    const int result = dialog.Execute(dialogFlags_, working);
    if (result == platform::IDOK) {
        v24_.Assign(working);
        if (open_) {
            Close();
            Open(window_, threadId_, working.Schnittstelle, true);
        }
    }
    return result;
}

} // namespace serial
