#pragma once

#include "platform/Controls.h"
#include "platform/Dialogs.h"
#include "serial/V24Parameter.h"

#include <cstdint>
#include <vector>

namespace serial {

// The serial settings dialog as a form model: the front-end shows it through
// Dialogs::ShowModal, and OK writes the controls back into the record.
class TV24_Dialog : public platform::TModalForm {
public:
    // Ranges of the number fields.
    static constexpr int TimeoutMax = 1000;
    static constexpr int NotificationMax = 10000;

    // deviceList holds deviceCount port indexes (busy ports included).
    // Language 0 keeps the German captions; any other sets the English ones.
    TV24_Dialog(platform::Dialogs* dialogs, int language, const std::int32_t* deviceList,
                int deviceCount);
    const char* ClassName() const override { return "TV24_Dialog"; }

    // Enables the controls by flags, fills them from record and shows the
    // form. Returns 1 (OK: record updated) or 2 (cancel: record untouched).
    int Execute(const TDlgParameter& flags, V24ParameterTag& record);

    int Language() const { return language_; }

    platform::TLabel* Label_Datenbit;
    platform::TComboBox* Datenbit_Box;
    platform::TLabel* Label_Paritaet;
    platform::TComboBox* Paritaet_Box;
    platform::TLabel* Label_StopBits;
    platform::TComboBox* StopBit_Box;
    platform::TLabel* Label_Baudrate;
    platform::TComboBox* Baudrate_Box;
    platform::TLabel* Label_Handshake;
    platform::TComboBox* Handshake_Box;
    platform::TLabel* Label_RXTimeout;
    platform::TEdit* RX_TimeoutEdit;
    platform::TUpDown* RX_TimeoutUpDown;
    platform::TLabel* Label_RXMultiChar;
    platform::TEdit* RXMultiproCharEdit;
    platform::TUpDown* RXMultiproCharUpDown;
    platform::TLabel* Label_Notification;
    platform::TEdit* Edit_NotificationTime;
    platform::TUpDown* NotificationTimeUpDown;
    platform::TLabel* Label_TXTimeout;
    platform::TEdit* TX_TimeoutEdit;
    platform::TUpDown* TX_TimeoutUpDown;
    platform::TLabel* Label_TXMultiChar;
    platform::TEdit* TXMultiproCharEdit;
    platform::TUpDown* TXMultiproCharUpDown;
    platform::TLabel* Label_NoNullChar;
    platform::TComboBox* NullZeichenBox;
    platform::TLabel* Label_NoString;
    platform::TComboBox* NoStringBox;
    platform::TLabel* Label_Schnittstelle;
    platform::TComboBox* Schnittstellen_Box;
    platform::TButton* V24_Adjust_okay;
    platform::TButton* V24_Adjust_cancel;

    // One row of the form: label, control and (for numbers) the up-down.
    struct Row {
        platform::TLabel* Label;
        platform::TControl* Control;
        platform::TUpDown* UpDown;
    };
    // Rows from top to bottom.
    std::vector<Row> Rows() const;

private:
    void CreateControls();
    void SetEnglishCaptions();
    void Fill(const V24ParameterTag& record);
    void OkClick();

    platform::Dialogs* dialogs_;
    int language_;
    std::vector<std::int32_t> devices_;
    V24ParameterTag* record_ = nullptr;
};

} // namespace serial
