#pragma once

#include "platform/Component.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// Font of a form or control as the form stores it; the model keeps it for
// front-ends and does not interpret it.
struct TFont {
    std::string Name = "MS Sans Serif";
    int Height = -11;
    bool Bold = false;
};

// Anything with a caption the translation component and the front-ends see.
class TControl : public TComponent {
public:
    using TComponent::TComponent;
    const char* ClassName() const override { return "TControl"; }

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& hint);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    int Width() const { return width_; }
    void SetWidth(int width);

    std::function<void(TControl& sender)> OnClick;
    // Runs OnClick when the control is enabled, as a user's click would.
    void Click();

private:
    std::string caption_;
    std::string hint_;
    bool visible_ = true;
    bool enabled_ = true;
    int width_ = 0;
};

// A class name as a template argument, so that controls without properties of
// their own are one line each.
template <std::size_t N> struct ClassNameLiteral {
    constexpr ClassNameLiteral(const char (&text)[N]) { std::copy_n(text, N, value); }
    char value[N];
};

template <ClassNameLiteral ClassNameText> class TPlainControl : public TControl {
public:
    using TControl::TControl;
    const char* ClassName() const override { return ClassNameText.value; }
};

using TLabel = TPlainControl<"TLabel">;
using TStaticText = TPlainControl<"TStaticText">;
using TPanel = TPlainControl<"TPanel">;
using TGroupBox = TPlainControl<"TGroupBox">;
using TBitBtn = TPlainControl<"TBitBtn">;
using TButton = TPlainControl<"TButton">;
using TSpeedButton = TPlainControl<"TSpeedButton">;
using TTabSheet = TPlainControl<"TTabSheet">;
using TBevel = TPlainControl<"TBevel">;
using TForm = TPlainControl<"TForm">;

class TCheckBox : public TControl {
public:
    using TControl::TControl;
    const char* ClassName() const override { return "TCheckBox"; }
    bool Checked() const { return checked_; }
    void SetChecked(bool checked);

private:
    bool checked_ = false;
};

class TRadioButton : public TCheckBox {
public:
    using TCheckBox::TCheckBox;
    const char* ClassName() const override { return "TRadioButton"; }
};

// A control that shows a list of lines: memo, list box, radio group, tab control.
class TStringsControl : public TControl {
public:
    using TControl::TControl;
    const std::vector<std::string>& Lines() const { return lines_; }
    void Add(const std::string& line);
    void Clear();
    void SetLine(std::size_t index, const std::string& line);

private:
    std::vector<std::string> lines_;
};

class TMemo : public TStringsControl {
public:
    using TStringsControl::TStringsControl;
    const char* ClassName() const override { return "TMemo"; }
};

class TListBox : public TStringsControl {
public:
    using TStringsControl::TStringsControl;
    const char* ClassName() const override { return "TListBox"; }
};

class TRadioGroup : public TStringsControl {
public:
    using TStringsControl::TStringsControl;
    const char* ClassName() const override { return "TRadioGroup"; }
    int ItemIndex() const { return itemIndex_; }
    void SetItemIndex(int index);

private:
    int itemIndex_ = -1;
};

class TTabControl : public TStringsControl {
public:
    using TStringsControl::TStringsControl;
    const char* ClassName() const override { return "TTabControl"; }
    int TabIndex() const { return tabIndex_; }
    void SetTabIndex(int index);

private:
    int tabIndex_ = -1;
};

// A drop-down list: the entries are Lines, the selection ItemIndex (-1: none).
class TComboBox : public TStringsControl {
public:
    using TStringsControl::TStringsControl;
    const char* ClassName() const override { return "TComboBox"; }
    int ItemIndex() const { return itemIndex_; }
    // An index outside the entries selects nothing, as the framework does.
    void SetItemIndex(int index);

private:
    int itemIndex_ = -1;
};

// A one-line edit; its text is the Caption.
using TEdit = TPlainControl<"TEdit">;

// A number with a range, shown through the edit it is attached to.
class TUpDown : public TControl {
public:
    using TControl::TControl;
    const char* ClassName() const override { return "TUpDown"; }
    int Position() const { return position_; }
    // Clamped to Min..Max; the attached edit shows the result.
    void SetPosition(int position);
    int Min() const { return min_; }
    int Max() const { return max_; }
    void SetRange(int min, int max);
    TEdit* Associate() const { return associate_; }
    void SetAssociate(TEdit* edit);

private:
    int position_ = 0;
    int min_ = 0;
    int max_ = 100;
    TEdit* associate_ = nullptr;
};

// A form shown modally: it runs until ModalResult is set (IDOK 1, IDCANCEL 2).
class TModalForm : public TControl {
public:
    using TControl::TControl;
    const char* ClassName() const override { return "TForm"; }
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int result);

private:
    int modalResult_ = 0;
};

class TProgressBar : public TControl {
public:
    using TControl::TControl;
    const char* ClassName() const override { return "TProgressBar"; }
    int Position() const { return position_; }
    // Clamped to Min..Max, as the framework does.
    void SetPosition(int position);
    int Min() const { return min_; }
    int Max() const { return max_; }
    // What a step counts ("blocks"), for views that print the counts; a
    // maximum set without one leaves the bar a share alone.
    const std::string& Unit() const { return unit_; }
    void SetMax(int max, const std::string& unit = {});

private:
    int position_ = 0;
    int min_ = 0;
    int max_ = 100;
    std::string unit_;
};

class TStatusBar : public TControl {
public:
    using TControl::TControl;
    const char* ClassName() const override { return "TStatusBar"; }
    struct Panel {
        std::string Text;
        int Width = 50;
    };
    void AddPanel(const std::string& text, int width);
    std::size_t PanelCount() const { return panels_.size(); }
    const Panel& PanelAt(std::size_t index) const { return panels_.at(index); }
    // Ignored for an index that has no panel.
    void SetPanelText(std::size_t index, const std::string& text);

private:
    std::vector<Panel> panels_;
};

class TMenuItem : public TControl {
public:
    using TControl::TControl;
    const char* ClassName() const override { return "TMenuItem"; }
    bool Checked() const { return checked_; }
    void SetChecked(bool checked);
    bool RadioItem() const { return radioItem_; }
    void SetRadioItem(bool radio) { radioItem_ = radio; }
    // Sub-items in menu order (they are owned by the form, not by this item).
    const std::vector<TMenuItem*>& Items() const { return items_; }
    void AddItem(TMenuItem* item);
    TMenuItem* Parent() const { return parent_; }

private:
    bool checked_ = false;
    bool radioItem_ = false;
    std::vector<TMenuItem*> items_;
    TMenuItem* parent_ = nullptr;
};

class TMainMenu : public TMenuItem {
public:
    using TMenuItem::TMenuItem;
    const char* ClassName() const override { return "TMainMenu"; }
};

} // namespace platform
