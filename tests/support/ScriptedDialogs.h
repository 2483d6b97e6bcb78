#pragma once

#include "platform/Dialogs.h"

#include <deque>
#include <string>
#include <vector>

namespace testing_support {

// Records every box and answers questions from a script (No when it runs out).
class ScriptedDialogs : public platform::Dialogs {
public:
    struct Box {
        std::string Text;
        std::string Caption;
        unsigned Flags;
    };

    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        Boxes.push_back({text, caption, flags});
        if ((flags & 0x0F) != platform::MB_YESNO) {
            return platform::IDOK;
        }
        if (Answers.empty()) {
            return platform::IDNO;
        }
        int answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    bool OpenFile(const std::string&, const std::string&, std::string& path) override {
        if (ChosenFile.empty()) {
            return false;
        }
        path = ChosenFile;
        return true;
    }
    bool ChooseFolder(const std::string& title, std::string& folder) override {
        FolderTitles.push_back(title);
        if (ChosenFolder.empty()) {
            return false;
        }
        folder = ChosenFolder;
        return true;
    }
    bool OpenDocument(const std::string& path) override {
        OpenedDocuments.push_back(path);
        return DocumentOpens;
    }

    std::vector<Box> Boxes;
    std::deque<int> Answers;
    std::string ChosenFile;
    std::string ChosenFolder; // empty: the folder dialog is cancelled
    std::vector<std::string> FolderTitles;
    std::vector<std::string> OpenedDocuments;
    bool DocumentOpens = true;
};

} // namespace testing_support
