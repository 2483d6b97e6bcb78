#include "serial/V24Dialog.h"

#include "../serial/FakeSerialDevice.h"
#include "../serial/SerialTestSupport.h"
#include "../support/ScriptedDialogs.h"
#include "serial/Comport.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>

namespace {

using namespace serial;

// Shows a modal form by running a script on its model; the script plays
// the operator.
class ModalScript : public testing_support::ScriptedDialogs {
public:
    int ShowModal(platform::TModalForm& form) override {
        ++Shown;
        if (Operator) {
            Operator(static_cast<TV24_Dialog&>(form));
        }
        return form.ModalResult();
    }
    std::function<void(TV24_Dialog&)> Operator;
    int Shown = 0;
};

TDlgParameter AllFlags(bool on) {
    TDlgParameter flags;
    for (bool* flag :
         {&flags.DatenBits, &flags.Schnittstelle, &flags.Paritaet, &flags.StopBits, &flags.Baudrate,
          &flags.Handshake, &flags.RXTimeOut, &flags.RXTimeOutproChar, &flags.RXNotification,
          &flags.TXTimeOut, &flags.TXTimeOutproChar, &flags.KeinNullZeichen, &flags.KeinString}) {
        *flag = on;
    }
    return flags;
}

V24ParameterTag SampleRecord() {
    V24ParameterTag record;
    record.DatenBits = D_7;
    record.Paritaet = Even;
    record.StopBits = S_2;
    record.Baudrate = B_38400;
    record.Handshake = XonXoff;
    record.RXTimeOut = 20;
    record.RXTimeOutproChar = 3;
    record.RXNotification = 50;
    record.TXTimeOut = 5000;
    record.TXTimeOutproChar = 4;
    record.KeinNullZeichen = 1;
    record.KeinString = 0;
    record.Schnittstelle = 4;
    return record;
}

const std::int32_t Devices[] = {0, 4, 7};

TEST(V24Dialog, AllFlagsFalseDisablesEveryControlAndOkWritesTheShownValuesClamped) {
    ModalScript dialogs;
    bool everyControlDisabled = true;
    dialogs.Operator = [&](TV24_Dialog& dialog) {
        for (const TV24_Dialog::Row& row : dialog.Rows()) {
            everyControlDisabled &= !row.Control->Enabled();
            everyControlDisabled &= row.UpDown == nullptr || !row.UpDown->Enabled();
        }
        EXPECT_EQ(dialog.TX_TimeoutEdit->Caption(), "1000");
        dialog.V24_Adjust_okay->Click();
    };
    TV24_Dialog dialog(&dialogs, 0, Devices, 3);
    V24ParameterTag record = SampleRecord();
    record.RXNotification = 20000;

    EXPECT_EQ(dialog.Execute(AllFlags(false), record), platform::IDOK);
    EXPECT_TRUE(everyControlDisabled);
    V24ParameterTag expected = SampleRecord();
    expected.TXTimeOut = 1000;
    expected.RXNotification = 10000;
    EXPECT_EQ(record, expected);
}

TEST(V24Dialog, EachFlagEnablesOnlyItsOwnRow) {
    ModalScript dialogs;
    TV24_Dialog dialog(&dialogs, 0, Devices, 3);
    TDlgParameter flags;
    flags.Baudrate = true;
    flags.TXTimeOut = true;
    flags.Schnittstelle = true;
    V24ParameterTag record;
    dialog.Execute(flags, record);
    for (const TV24_Dialog::Row& row : dialog.Rows()) {
        const bool expected = row.Control == dialog.Baudrate_Box ||
                              row.Control == dialog.TX_TimeoutEdit ||
                              row.Control == dialog.Schnittstellen_Box;
        EXPECT_EQ(row.Control->Enabled(), expected) << row.Control->Name();
    }
    EXPECT_TRUE(dialog.TX_TimeoutUpDown->Enabled());
    EXPECT_FALSE(dialog.RX_TimeoutUpDown->Enabled());
}

TEST(V24Dialog, OkTakesTheOperatorsChoicesIncludingThePort) {
    ModalScript dialogs;
    dialogs.Operator = [](TV24_Dialog& dialog) {
        EXPECT_EQ(dialog.Schnittstellen_Box->Lines(),
                  (std::vector<std::string>{"COM1", "COM5", "COM8"}));
        EXPECT_EQ(dialog.Schnittstellen_Box->ItemIndex(), 1);
        EXPECT_EQ(dialog.Baudrate_Box->ItemIndex(), B_38400);
        dialog.Baudrate_Box->SetItemIndex(B115200);
        dialog.Paritaet_Box->SetItemIndex(NoParity);
        dialog.TX_TimeoutUpDown->SetPosition(250);
        dialog.NoStringBox->SetItemIndex(1);
        dialog.Schnittstellen_Box->SetItemIndex(2);
        dialog.V24_Adjust_okay->Click();
    };
    TV24_Dialog dialog(&dialogs, 0, Devices, 3);
    V24ParameterTag record = SampleRecord();
    ASSERT_EQ(dialog.Execute(AllFlags(true), record), platform::IDOK);
    EXPECT_EQ(record.Baudrate, B115200);
    EXPECT_EQ(record.Paritaet, NoParity);
    EXPECT_EQ(record.TXTimeOut, 250);
    EXPECT_EQ(record.KeinString, 1);
    EXPECT_EQ(record.KeinNullZeichen, 1);
    EXPECT_EQ(record.Schnittstelle, 7);
}

TEST(V24Dialog, CancelLeavesTheRecordAloneWhateverWasEdited) {
    ModalScript dialogs;
    dialogs.Operator = [](TV24_Dialog& dialog) {
        dialog.Baudrate_Box->SetItemIndex(B__1200);
        dialog.RX_TimeoutUpDown->SetPosition(999);
        dialog.V24_Adjust_cancel->Click();
    };
    TV24_Dialog dialog(&dialogs, 0, Devices, 3);
    V24ParameterTag record = SampleRecord();
    EXPECT_EQ(dialog.Execute(AllFlags(true), record), platform::IDCANCEL);
    EXPECT_EQ(record, SampleRecord());

    // A front-end that cannot show the form, or none at all, cancels too.
    testing_support::ScriptedDialogs plain;
    TV24_Dialog unseen(&plain, 0, Devices, 3);
    EXPECT_EQ(unseen.Execute(AllFlags(true), record), platform::IDCANCEL);
    TV24_Dialog nowhere(nullptr, 0, Devices, 3);
    EXPECT_EQ(nowhere.Execute(AllFlags(true), record), platform::IDCANCEL);
    EXPECT_EQ(record, SampleRecord());
}

TEST(V24Dialog, ValuesTheListsDoNotOfferSurviveOk) {
    // Mark parity, a damaged baud ordinal and a port that has gone select
    // nothing; OK must not write -1 over them.
    ModalScript dialogs;
    dialogs.Operator = [](TV24_Dialog& dialog) {
        EXPECT_EQ(dialog.Paritaet_Box->ItemIndex(), -1);
        EXPECT_EQ(dialog.Baudrate_Box->ItemIndex(), -1);
        EXPECT_EQ(dialog.Schnittstellen_Box->ItemIndex(), -1);
        dialog.V24_Adjust_okay->Click();
    };
    TV24_Dialog dialog(&dialogs, 0, Devices, 3);
    V24ParameterTag record = SampleRecord();
    record.Paritaet = Mark;
    record.Baudrate = 42;
    record.Schnittstelle = 2;
    V24ParameterTag before = record;
    before.TXTimeOut = 1000;
    ASSERT_EQ(dialog.Execute(AllFlags(true), record), platform::IDOK);
    EXPECT_EQ(record, before);
}

TEST(V24Dialog, EnglishReplacesTheCaptionsButNotTheEntries) {
    TV24_Dialog german(nullptr, 0, Devices, 3);
    EXPECT_EQ(german.Caption(), "Einstellungen");
    EXPECT_EQ(german.Label_Paritaet->Caption(), "Parit\xe4t");
    EXPECT_EQ(german.V24_Adjust_cancel->Caption(), "Abbrechen");

    TV24_Dialog english(nullptr, 1, Devices, 3);
    EXPECT_EQ(english.Caption(), "Settings");
    EXPECT_EQ(english.Label_Paritaet->Caption(), "Parity");
    EXPECT_EQ(english.Label_Schnittstelle->Caption(), "Com Port");
    EXPECT_EQ(english.V24_Adjust_cancel->Caption(), "Cancel");
    EXPECT_EQ(english.Paritaet_Box->Lines(),
              (std::vector<std::string>{"keine", "ungerade", "gerade"}));
}

// TComPort::OpenDialog over fake lines: COM1 free, COM2 held by another program.
class ComPortDialog : public ::testing::Test {
protected:
    ComPortDialog() {
        for (int index : {0, 1}) {
            const std::string target = ports.Path() + "/target" + std::to_string(index);
            std::ofstream(target).put('\n');
            ports.Link(index, target);
        }
        line->heldPaths.insert(ports.Path() + "/COM2");
        line->heldPaths.insert(ports.Path() + "/target1");
        com.SetDialogs(&dialogs);
        *com.V24Dialog() = AllFlags(true);
    }
    ~ComPortDialog() override { com.Close(); }

    serialtest::PortDirectory ports;
    std::shared_ptr<serialtest::FakeLine> line = std::make_shared<serialtest::FakeLine>();
    serialtest::MessageLog window;
    ModalScript dialogs;
    TComPort com{nullptr, "Com",
                 [line = line] { return std::make_unique<serialtest::FakeSerialDevice>(line); }};
};

TEST_F(ComPortDialog, OffersBusyPortsAndCancelLeavesRecordAndOpenPortUntouched) {
    ASSERT_NE(com.Open(window.Handle(), 0, 0, false), INVALID_HANDLE_VALUE);
    const HANDLE device = com.Handle();
    const V24ParameterTag before = com.V24()->Record;
    dialogs.Operator = [](TV24_Dialog& dialog) {
        EXPECT_EQ(dialog.Schnittstellen_Box->Lines(), (std::vector<std::string>{"COM1", "COM2"}));
        dialog.Baudrate_Box->SetItemIndex(B__9600);
        dialog.V24_Adjust_cancel->Click();
    };
    EXPECT_EQ(com.OpenDialog(nullptr), platform::IDCANCEL);
    EXPECT_EQ(dialogs.Shown, 1);
    EXPECT_EQ(com.V24()->Record, before);
    EXPECT_TRUE(com.IsOpen());
    EXPECT_EQ(com.Handle(), device);
}

TEST_F(ComPortDialog, OkStoresTheRecordAndReopensAnOpenPortWithIt) {
    ASSERT_NE(com.Open(window.Handle(), 0, 0, false), INVALID_HANDLE_VALUE);
    dialogs.Operator = [](TV24_Dialog& dialog) {
        dialog.Baudrate_Box->SetItemIndex(B_19200);
        dialog.V24_Adjust_okay->Click();
    };
    EXPECT_EQ(com.OpenDialog(nullptr), platform::IDOK);
    EXPECT_EQ(com.V24()->Record.Baudrate, B_19200);
    ASSERT_TRUE(com.IsOpen());
    EXPECT_EQ(com.PortIndex(), 0);
    std::lock_guard lock(line->mutex);
    EXPECT_EQ(line->dcb.BaudRate, 19200u);
}

TEST_F(ComPortDialog, OkOnAClosedPortOnlyStoresTheRecord) {
    dialogs.Operator = [](TV24_Dialog& dialog) {
        dialog.Schnittstellen_Box->SetItemIndex(1);
        dialog.V24_Adjust_okay->Click();
    };
    EXPECT_EQ(com.OpenDialog(nullptr), platform::IDOK);
    EXPECT_EQ(com.V24()->Record.Schnittstelle, 1);
    EXPECT_FALSE(com.IsOpen());
}

} // namespace
