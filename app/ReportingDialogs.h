#pragma once

#include "app/SessionReport.h"
#include "platform/Dialogs.h"

namespace app {

// The front-end's dialogs, with every message box also noted in the report.
class ReportingDialogs : public platform::Dialogs {
public:
    ReportingDialogs(platform::Dialogs& shown, SessionReport& report)
        : shown_(shown), report_(report) {}
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        report_.Boxes.push_back({caption, text});
        return shown_.MessageBox(text, caption, flags);
    }
    bool OpenFile(const std::string& title, const std::string& filter, std::string& path) override {
        return shown_.OpenFile(title, filter, path);
    }
    bool OpenDocument(const std::string& path) override { return shown_.OpenDocument(path); }
    int ShowModal(platform::TModalForm& form) override { return shown_.ShowModal(form); }
    void Beep() override { shown_.Beep(); }

private:
    platform::Dialogs& shown_;
    SessionReport& report_;
};

} // namespace app
