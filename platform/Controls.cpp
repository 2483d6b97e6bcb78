#include "platform/Controls.h"

#include <algorithm>

namespace platform {

namespace {

const char* BoolText(bool value) {
    return value ? "true" : "false";
}

} // namespace

void TControl::SetCaption(const std::string& caption) {
    if (caption_ != caption) {
        caption_ = caption;
        Changed("Caption", caption);
    }
}

void TControl::SetHint(const std::string& hint) {
    if (hint_ != hint) {
        hint_ = hint;
        Changed("Hint", hint);
    }
}

void TControl::SetVisible(bool visible) {
    if (visible_ != visible) {
        visible_ = visible;
        Changed("Visible", BoolText(visible));
    }
}

void TControl::SetEnabled(bool enabled) {
    if (enabled_ != enabled) {
        enabled_ = enabled;
        Changed("Enabled", BoolText(enabled));
    }
}

void TControl::SetWidth(int width) {
    if (width_ != width) {
        width_ = width;
        Changed("Width", std::to_string(width));
    }
}

void TControl::Click() {
    if (enabled_ && OnClick) {
        OnClick(*this);
    }
}

void TCheckBox::SetChecked(bool checked) {
    if (checked_ != checked) {
        checked_ = checked;
        Changed("Checked", BoolText(checked));
    }
}

void TStringsControl::Add(const std::string& line) {
    lines_.push_back(line);
    Changed("Lines.Add", line);
}

void TStringsControl::Clear() {
    if (!lines_.empty()) {
        lines_.clear();
        Changed("Lines.Clear", "");
    }
}

void TStringsControl::SetLine(std::size_t index, const std::string& line) {
    if (index < lines_.size() && lines_[index] != line) {
        lines_[index] = line;
        Changed("Lines[" + std::to_string(index) + "]", line);
    }
}

void TRadioGroup::SetItemIndex(int index) {
    if (itemIndex_ != index) {
        itemIndex_ = index;
        Changed("ItemIndex", std::to_string(index));
    }
}

void TTabControl::SetTabIndex(int index) {
    if (tabIndex_ != index) {
        tabIndex_ = index;
        Changed("TabIndex", std::to_string(index));
    }
}

void TComboBox::SetItemIndex(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= Lines().size()) {
        index = -1;
    }
    if (itemIndex_ != index) {
        itemIndex_ = index;
        Changed("ItemIndex", std::to_string(index));
    }
}

void TUpDown::SetPosition(int position) {
    position = std::clamp(position, min_, max_);
    if (position_ != position) {
        position_ = position;
        Changed("Position", std::to_string(position));
    }
    if (associate_ != nullptr) {
        associate_->SetCaption(std::to_string(position_));
    }
}

void TUpDown::SetRange(int min, int max) {
    min_ = min;
    max_ = std::max(min, max);
    Changed("Range", std::to_string(min_) + ".." + std::to_string(max_));
    SetPosition(position_);
}

void TUpDown::SetAssociate(TEdit* edit) {
    associate_ = edit;
    SetPosition(position_);
}

void TModalForm::SetModalResult(int result) {
    if (modalResult_ != result) {
        modalResult_ = result;
        Changed("ModalResult", std::to_string(result));
    }
}

void TProgressBar::SetPosition(int position) {
    position = std::clamp(position, min_, max_);
    if (position_ != position) {
        position_ = position;
        Changed("Position", std::to_string(position));
    }
}

void TProgressBar::SetMax(int max, const std::string& unit) {
    max = std::max(max, min_);
    if (max_ != max || unit_ != unit) {
        max_ = max;
        unit_ = unit;
        Changed("Max", std::to_string(max_));
        SetPosition(position_);
    }
}

void TStatusBar::AddPanel(const std::string& text, int width) {
    panels_.push_back({text, width});
}

void TStatusBar::SetPanelText(std::size_t index, const std::string& text) {
    if (index < panels_.size() && panels_[index].Text != text) {
        panels_[index].Text = text;
        Changed("Panels[" + std::to_string(index) + "]", text);
    }
}

void TMenuItem::SetChecked(bool checked) {
    if (checked_ == checked) {
        return;
    }
    checked_ = checked;
    Changed("Checked", BoolText(checked));
    // A checked radio item unchecks its siblings, as the framework does.
    if (checked && radioItem_ && parent_ != nullptr) {
        for (TMenuItem* sibling : parent_->Items()) {
            if (sibling != this && sibling->RadioItem()) {
                sibling->SetChecked(false);
            }
        }
    }
}

void TMenuItem::AddItem(TMenuItem* item) {
    items_.push_back(item);
    item->parent_ = this;
}

} // namespace platform
