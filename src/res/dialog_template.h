#pragma once
// Dialog templates as data: every control of a dialog with its ID, class, caption, place and size
// in dialog units and its initial style. Dialogs build their widgets from these tables
// (dialog_builder.h), so the layout lives in one place per dialog and tests can walk it.
#include <cstddef>
#include <span>

enum class DlgClass {
    Static,    // text label
    Group,     // group box frame
    Button,    // push button
    Radio,     // auto radio button
    Check,     // auto check box
    Edit,      // single- or multi-line edit
    Combo,     // combo box
    Spin,      // up-down control
    Trackbar,  // horizontal slider
    Progress,  // progress bar
    Custom,    // owner-drawn control; the dialog supplies the widget
};

// Style flags of a control.
enum DlgStyle : unsigned {
    kStyleNone = 0,
    kHidden = 1u << 0,        // no visible style: created, never shown
    kDisabled = 1u << 1,      // disabled in the template
    kGroupStart = 1u << 2,    // first radio button of a new radio group
    kMultiline = 1u << 3,     // edit: several lines, both scroll bars, no word wrap
    kReadOnly = 1u << 4,      // edit: read-only
    kDropList = 1u << 5,      // combo: drop-down list (not editable)
    kDropDown = 1u << 6,      // combo: editable drop-down
    kSorted = 1u << 7,        // combo: items kept in ascending order
    kNotify = 1u << 8,        // static: reports clicks
    kDefaultButton = 1u << 9  // push button drawn as the default one
};

struct DlgControl {
    int id;  // -1 for controls without an ID
    DlgClass cls;
    const char* caption;  // UTF-8
    int x, y, cx, cy;     // dialog units
    unsigned style;
};

struct DlgTemplate {
    int id;
    const char* caption;  // UTF-8
    int cx, cy;           // client size in dialog units
    const char* fontFamily;
    int fontPointSize;
    std::span<const DlgControl> controls;
};

// The template with this ID, or nullptr.
const DlgTemplate* FindDialogTemplate(int id);

// Templates defined in template_<id>.cpp.
const DlgTemplate& Template100();
const DlgTemplate& Template102();
