#pragma once
// A dialog template as data: the window's caption, size and font, and its controls in
// order (that order is also the tab order). Rectangles are in dialog units, so the
// layout scales with the dialog font; src/ui turns a template into widgets.

#include <cstdint>
#include <span>

namespace res {

// Window styles of the controls and dialogs, with their classic values so that a table
// reads like the original resource script. Only the bits the templates use are named.
inline constexpr uint32_t WS_POPUP = 0x80000000;
inline constexpr uint32_t WS_CHILD = 0x40000000;
inline constexpr uint32_t WS_VISIBLE = 0x10000000;
inline constexpr uint32_t WS_DISABLED = 0x08000000;
inline constexpr uint32_t WS_CAPTION = 0x00C00000;
inline constexpr uint32_t WS_BORDER = 0x00800000;
inline constexpr uint32_t WS_SYSMENU = 0x00080000;
inline constexpr uint32_t WS_THICKFRAME = 0x00040000;
inline constexpr uint32_t WS_GROUP = 0x00020000; // on a control
inline constexpr uint32_t WS_TABSTOP = 0x00010000; // on a control
inline constexpr uint32_t WS_MINIMIZEBOX = 0x00020000; // on a window
inline constexpr uint32_t WS_MAXIMIZEBOX = 0x00010000; // on a window
inline constexpr uint32_t DS_SETFONT = 0x00000040;

inline constexpr uint32_t WS_EX_CLIENTEDGE = 0x00000200;
inline constexpr uint32_t WS_EX_STATICEDGE = 0x00020000;
inline constexpr uint32_t WS_EX_APPWINDOW = 0x00040000;

// Buttons: the low four bits are the button type.
inline constexpr uint32_t BS_TYPEMASK = 0x0000000F;
inline constexpr uint32_t BS_PUSHBUTTON = 0x00000000;
inline constexpr uint32_t BS_AUTOCHECKBOX = 0x00000003;
inline constexpr uint32_t BS_OWNERDRAW = 0x0000000B;
inline constexpr uint32_t BS_FLAT = 0x00008000;

// Edit fields.
inline constexpr uint32_t ES_AUTOHSCROLL = 0x00000080;
inline constexpr uint32_t ES_NUMBER = 0x00002000;

// Static texts: the low five bits are the static type.
inline constexpr uint32_t SS_TYPEMASK = 0x0000001F;
inline constexpr uint32_t SS_LEFT = 0x00000000;
inline constexpr uint32_t SS_CENTER = 0x00000001;
inline constexpr uint32_t SS_RIGHT = 0x00000002;
inline constexpr uint32_t SS_LEFTNOWORDWRAP = 0x0000000C;
inline constexpr uint32_t SS_CENTERIMAGE = 0x00000200;
inline constexpr uint32_t SS_SUNKEN = 0x00001000;

// Combo boxes: a drop-down list, which offers its items and takes no typing.
inline constexpr uint32_t CBS_DROPDOWNLIST = 0x00000003;

// List views.
inline constexpr uint32_t LVS_REPORT = 0x00000001;
inline constexpr uint32_t LVS_NOLABELWRAP = 0x00000080;

// Control classes, by the names the templates use.
inline constexpr char kButtonClass[] = "Button";
inline constexpr char kEditClass[] = "Edit";
inline constexpr char kStaticClass[] = "Static";
inline constexpr char kListViewClass[] = "SysListView32";
inline constexpr char kComboBoxClass[] = "ComboBox";

struct DluRect {
    int x;
    int y;
    int cx;
    int cy;
};

struct DialogControl {
    int id;
    const char* name; // the identifier's name, also the widget's object name
    const char* className; // one of the k...Class names
    const char* caption;
    DluRect rect;
    uint32_t style;
    uint32_t exStyle;
};

struct DialogTemplate {
    int id;
    const char* caption;
    int cx; // client area, in dialog units
    int cy;
    const char* fontFace;
    int pointSize;
    uint32_t style;
    uint32_t exStyle;
    std::span<const DialogControl> controls;

    const DialogControl* Find(int controlId) const
    {
        for (const DialogControl& c : controls) {
            if (c.id == controlId)
                return &c;
        }
        return nullptr;
    }
};

// The template of that id, or null when the program has none.
const DialogTemplate* FindDialogTemplate(int id);

} // namespace res
