#pragma once

#include "platform/Controls.h"

#include <string>

namespace platform {

// Message box flags and answers with their Windows values, so that the
// flag words read as they would there.
enum : unsigned {
    MB_OK = 0x00,
    MB_OKCANCEL = 0x01,
    MB_YESNO = 0x04,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};

enum : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
};

// Everything modal that the core asks of a person. Each front-end implements
// it; tests use a scripted one. Texts are Latin-1.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Returns IDOK, IDCANCEL, IDYES or IDNO.
    virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
    // The open-file dialog; false when cancelled.
    virtual bool OpenFile(const std::string& title, const std::string& filter,
                          std::string& path) = 0;
    // The folder dialog, starting at folder; false when cancelled or when the
    // front-end has none.
    virtual bool ChooseFolder(const std::string& title, std::string& folder) {
        (void)title;
        (void)folder;
        return false;
    }
    // Shows a document with the desktop's viewer; false when that failed.
    virtual bool OpenDocument(const std::string& path) = 0;
    // Shows a form modally until its ModalResult is set and returns it; a
    // front-end without a view for the form cancels it.
    virtual int ShowModal(TModalForm& form) {
        (void)form;
        return IDCANCEL;
    }
    // One audible signal; a front-end without sound gives none.
    virtual void Beep() {}
};

} // namespace platform
