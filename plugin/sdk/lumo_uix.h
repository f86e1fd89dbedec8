// Lumo host SDK: the "UIX" extension (user interface): commands and menus,
// icons and themes, dialogs built from layouts, controls and their events.
#pragma once

#include "plugin/sdk/lumo_base.h"

LUMO_DECLARE_INTERFACE(IUixInstance, "D5CABA2F-B413-4C6F-94B6-0B573AFD07EB")
LUMO_DECLARE_INTERFACE(IUixCmdRegistry, "D48ED27F-C994-43AB-B487-E861C4ABBBE1")
LUMO_DECLARE_INTERFACE(IUixCmdCollection, "F3495D3A-813B-4B75-9CA5-7E45BF940234")
LUMO_DECLARE_INTERFACE(IUixCommand, "70905325-74AD-4745-B04F-EF56D39B4FD6")
LUMO_DECLARE_INTERFACE(IUixCmdHandler, "B36B1E2C-8EE4-48A0-A433-CABE42A203DF")
LUMO_DECLARE_INTERFACE(IUixCmdBars, "DB0C40F0-B92F-4B55-84BD-FFB6BC8B93DA")
LUMO_DECLARE_INTERFACE(IUixMenu, "6DD7DEC0-7392-4275-90B4-0AD447C6C9BC")
LUMO_DECLARE_INTERFACE(IUixMenuItem, "695D1BD2-3CAE-4622-902E-AF40074E23B6")
LUMO_DECLARE_INTERFACE(IUixImage, "E6A99427-5BAE-465E-8CF2-A59DD231EC86")
LUMO_DECLARE_INTERFACE(IUixIcon, "E9450982-BCE9-457A-B34E-C120E314C4A8")
LUMO_DECLARE_INTERFACE(IUixTheme, "8A501705-4ACA-4260-A812-B23D56B90C1B")
LUMO_DECLARE_INTERFACE(IUixObj, "7DD5FA7B-5381-4986-8025-03661C83A528")
LUMO_DECLARE_INTERFACE(IUixDialog, "AF6452FB-E699-496D-9DBE-6483668E7DD0")
LUMO_DECLARE_INTERFACE(IUixEvent, "B7496FD8-257A-4B10-9D86-18A01F7C20FF")
LUMO_DECLARE_INTERFACE(IUixEventHandler, "8A2FF354-5F6C-451F-8EBA-CEBA8E6A4719")
LUMO_DECLARE_INTERFACE(IUixEventSource, "19194452-1184-4D9F-A64C-29EA34A214DB")
LUMO_DECLARE_INTERFACE(IUixList, "86DB514F-4A29-41D9-9725-6304819C617F")
LUMO_DECLARE_INTERFACE(IUixListCallback, "2F205035-1BBE-44A0-93AE-337D9F229325")
LUMO_DECLARE_INTERFACE(IUixCombo, "6C0D0224-91DB-43F6-99C8-035E579374FA")
LUMO_DECLARE_INTERFACE(IUixWaitProgress, "68BC8D10-FE30-4014-A945-CDA8D4FDA96E")

namespace Lumo {

// Command states (IUixCmdHandler::UpdateState).
enum UIX_CmdState : long {
    UIX_CmdState_Enabled = 0,
    UIX_CmdState_Disabled = 2,
};

// How DoModal blocks.
enum UIX_ObjModal : long {
    UIX_ObjModal_Modeless = 0,
    UIX_ObjModal_AppModal = 1,
};

// End codes of a modal loop, as the plug-in's dialogs use them.
enum UIX_ModalResult : long {
    UIX_ModalResult_Ok = 1,
    UIX_ModalResult_Cancel = 2,
};

// Kinds of objects CreateObj makes.
enum UIX_ObjKind : long {
    UIX_ObjKind_Dialog = 1,
    UIX_ObjKind_WaitProgress = 34,
};

// Formats of the layout handed to CreateObj.
enum UIX_LayoutFormat : long {
    UIX_LayoutFormat_None = 0,
    UIX_LayoutFormat_Xml = 3,
};

// Where a new dialog appears.
enum UIX_Placement : long {
    UIX_Placement_Default = 0,
    UIX_Placement_CenterOwner = 1,
};

// Event codes (IUixEvent::get_Code). Window messages keep their own numbers
// (5 is WM_SIZE, 0x100 WM_KEYDOWN).
enum UIX_EventCode : long {
    UIX_Event_Size = 5,
    UIX_Event_ObjAttached = 6456, // the host hands the new object to its handler
    UIX_Event_ObjDetached = 6458, // the object is being destroyed; the handler lets it go
    UIX_Event_Notify = 6482,      // a control notification (IUixEvent::get_Kind)
    UIX_Event_InitDialog = 6490,  // the dialog and its items exist
};

// Kinds of control notifications (UIX_Event_Notify).
enum UIX_NotifyKind : long {
    UIX_Notify_Click = 3,
    UIX_Notify_TextChanged = 5,
    UIX_Notify_SelChanged = 6,
};

// Which events IUixObj::GetEventSource offers.
enum UIX_EventSourceKind : long {
    UIX_EventSource_Notify = 0,   // control notifications
    UIX_EventSource_Keyboard = 1, // key messages before the host handles them
};

// Style bits of a list object (IUixObj::SetStyle).
enum UIX_ListStyle : DWORD {
    UIX_ListStyle_MultiSelect = 0x0100,
    UIX_ListStyle_ColumnHeader = 0x0400,
    UIX_ListStyle_Virtual = 0x4000, // rows hold no data; the callback supplies every cell
};

// Column styles: the sort arrow in a column header.
enum UIX_ListColumnStyle : DWORD {
    UIX_ListColumnStyle_IconDown = 1, // descending
    UIX_ListColumnStyle_IconUp = 2,   // ascending
};

// Which fields IUixList::SetColumn changes.
enum UIX_ListColumnMask : DWORD {
    UIX_ListColumnMask_Text = 0x1,
    UIX_ListColumnMask_Hint = 0x2,
    UIX_ListColumnMask_Image = 0x4,
    UIX_ListColumnMask_Width = 0x8,
    UIX_ListColumnMask_Style = 0x10,
};

// IUixListCallback::OnItemActivated flags.
constexpr DWORD UIX_ListActivate_Confirm = 0x1; // double click or Enter, not a mere selection

// IUixInstance::GetMetric: the width a list keeps free of columns (its scroll bar).
constexpr long UIX_Metric_ListReservedWidth = -1;

// One cell of a list.
struct UIX_ListItemId {
    long nItem;
    long nColumn;
};

// What CreateObj makes. ILumoInstance::InitCreateParams fills the defaults.
struct UIX_CreateParams {
    ULONG size; // sizeof(UIX_CreateParams)
    long kind;  // UIX_ObjKind
    IUixEventHandler* handler;
    IUixObj* parent; // a control's parent object; null for a dialog
    HWND owner;      // a dialog's owner window
    long layout_format;
    const void* layout;
    ULONG layout_size;
    LPCWSTR id;  // dialog id in the layout, or the new control's id
    DWORD style; // window style of a dialog, control style of a control
    RECT rect;   // a control's place in its parent's client area
    long placement;
};

// The host's "UIX" extension.
struct IUixInstance : public IUnknown {
    // The registry that commands are created in.
    virtual HRESULT STDMETHODCALLTYPE get_CmdRegistry(IUixCmdRegistry** registry) = 0;
    // A new, empty icon that holds one image per size.
    virtual HRESULT STDMETHODCALLTYPE CreateIcon(IUixIcon** icon) = 0;
    // Decodes an image file (PNG) into a bitmap.
    virtual HRESULT STDMETHODCALLTYPE DecodeImage(IStream* stream, IUixImage** image) = 0;
    // Creates a dialog from a layout, or a control; the handler sees it attached first.
    virtual HRESULT STDMETHODCALLTYPE CreateObj(UIX_CreateParams* params, IUixObj** obj) = 0;
    // The current theme.
    virtual HRESULT STDMETHODCALLTYPE get_Theme(IUixTheme** theme) = 0;
    // The icon the host shows for files with this extension (".pdf").
    virtual HRESULT STDMETHODCALLTYPE CreateFileTypeIcon(BSTR extension, DWORD flags,
                                                         IUixImage** icon) = 0;
    // A size the UI service keeps (UIX_Metric_*), in pixels.
    virtual HRESULT STDMETHODCALLTYPE GetMetric(long metric, long* value) = 0;
    // Dialog units to pixels at the current resolution.
    virtual HRESULT STDMETHODCALLTYPE ScaleUnits(long units, long* pixels) = 0;
};

struct IUixCmdRegistry : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Collection(IUixCmdCollection** collection) = 0;
};

struct IUixCmdCollection : public IUnknown {
    // Creates a command named by a string id; the handler runs it and reports its state.
    virtual HRESULT STDMETHODCALLTYPE CreateCommand(LPCWSTR name, long reserved,
                                                    IUixCmdHandler* handler,
                                                    IUixCommand** command) = 0;
};

struct IUixCommand : public IUnknown {
    // The number the host gave the command.
    virtual HRESULT STDMETHODCALLTYPE get_ID(long* id) = 0;
    // Texts starting with "$$$." are string ids the host resolves.
    virtual HRESULT STDMETHODCALLTYPE put_Title(LPCWSTR title) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Tip(LPCWSTR tip) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Style(long style) = 0;
    // A string id naming the group the command is listed under.
    virtual HRESULT STDMETHODCALLTYPE put_Category(LPCWSTR category) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Icon(IUixIcon* icon) = 0;
};

// Implemented by whoever owns commands: the host asks it for states and runs.
struct IUixCmdHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved2() = 0;
    // Writes the command's UIX_CmdState for a context.
    virtual HRESULT STDMETHODCALLTYPE UpdateState(IUixCommand* command, long reserved,
                                                  IUnknown* context, long* state) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
    // Runs the command in a context.
    virtual HRESULT STDMETHODCALLTYPE Execute(long reserved, IUixCommand* command, long reserved2,
                                              IUnknown* context) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
};

// The main window's command bars, handed with "e.mainView.customizeCmdBars".
struct IUixCmdBars : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_MenuBar(IUixMenu** menu_bar) = 0;
};

// A menu bar or a menu.
struct IUixMenu : public IUnknown {
    // Index of the item that runs the named command ("cmd.file"); -1 when none.
    virtual HRESULT STDMETHODCALLTYPE FindItem(LPCWSTR command_name, long* index) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Item(long index, IUixMenuItem** item) = 0;
    // Position of the item that runs a command id; -1 when none.
    virtual HRESULT STDMETHODCALLTYPE FindCommand(long command_id, long reserved,
                                                  long* position) = 0;
    // Inserts an item for a command id before a position (-1: at the end).
    virtual HRESULT STDMETHODCALLTYPE InsertCommand(long position, long command_id, long style,
                                                    long reserved) = 0;
};

struct IUixMenuItem : public IUnknown {
    // The item's sub-menu; success and none for a plain item.
    virtual HRESULT STDMETHODCALLTYPE get_SubMenu(IUixMenu** menu) = 0;
};

// A bitmap or an icon the host can draw.
struct IUixImage : public IUnknown {};

// An icon with one image per size.
struct IUixIcon : public IUixImage {
    virtual HRESULT STDMETHODCALLTYPE AddImage(IUixImage* image) = 0;
};

struct IUixTheme : public IUnknown {
    // A named icon of the theme ("ico.folder", "ico.folder.opened").
    virtual HRESULT STDMETHODCALLTYPE GetIcon(BSTR id, IUixImage** icon) = 0;
};

// A dialog or control made by the UI service.
struct IUixObj : public IUnknown {
    // Runs the dialog until EndModal; *result gets the end code.
    virtual HRESULT STDMETHODCALLTYPE DoModal(UIX_ObjModal modal, long* result) = 0;
    // Ends the modal loop; DoModal returns with this code.
    virtual HRESULT STDMETHODCALLTYPE EndModal(long result) = 0;
    // Destroys the window; the handler sees UIX_Event_ObjDetached.
    virtual HRESULT STDMETHODCALLTYPE Destroy() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Window(HWND* window) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ClientRect(RECT* rect) = 0;
    // A dialog's title, a button's caption, an edit's contents.
    virtual HRESULT STDMETHODCALLTYPE get_Text(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Text(LPCWSTR text) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL enabled) = 0;
    // Shows or hides with a ShowWindow command (SW_SHOWNA, SW_HIDE).
    virtual HRESULT STDMETHODCALLTYPE Show(int command) = 0;
    // Sets the style bits in mask to those of bits.
    virtual HRESULT STDMETHODCALLTYPE SetStyle(DWORD bits, DWORD mask) = 0;
    // The object's events of a kind (UIX_EventSourceKind); none when it has no such events.
    virtual HRESULT STDMETHODCALLTYPE GetEventSource(UIX_EventSourceKind kind,
                                                     IUixEventSource** source) = 0;
};

// A dialog made from a layout.
struct IUixDialog : public IUnknown {
    // The control with a numeric id (from ILumoInstance::GetNameId).
    virtual HRESULT STDMETHODCALLTYPE GetItem(long id, IUixObj** item) = 0;
};

// An event of a UI object.
struct IUixEvent : public IUnknown {
    // UIX_EventCode, or a window message.
    virtual HRESULT STDMETHODCALLTYPE get_Code(long* code) = 0;
    // The object the event concerns: the dialog, or the control that notifies.
    virtual HRESULT STDMETHODCALLTYPE get_Object(IUixObj** obj) = 0;
    // The numeric id of the notifying control.
    virtual HRESULT STDMETHODCALLTYPE get_ItemId(long* id) = 0;
    // UIX_NotifyKind of a notification.
    virtual HRESULT STDMETHODCALLTYPE get_Kind(long* kind) = 0;
    // The window a message was sent to, and the message's parameters.
    virtual HRESULT STDMETHODCALLTYPE get_Window(HWND* window) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WParam(WPARAM* wparam) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LParam(LPARAM* lparam) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Point(POINT* point) = 0;
    // VARIANT_TRUE: the host does not process the event further.
    virtual HRESULT STDMETHODCALLTYPE put_Handled(VARIANT_BOOL handled) = 0;
};

// Receives a UI object's events: dialog callbacks, control notifications, keys.
struct IUixEventHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnEvent(IUixEvent* event) = 0;
};

struct IUixEventSource : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Advise(IUixEventHandler* handler, DWORD* cookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) = 0;
};

// A list control whose cells come from a callback.
struct IUixList : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE put_Callback(IUixListCallback* callback) = 0;
    // Inserts a column before an index (-1: appends).
    virtual HRESULT STDMETHODCALLTYPE InsertColumn(long index, long width, LPCWSTR text,
                                                   LPCWSTR hint) = 0;
    // Changes the fields of a column that mask (UIX_ListColumnMask) selects; the
    // style bits in style_clear are cleared, then those in style_set set.
    virtual HRESULT STDMETHODCALLTYPE SetColumn(long index, DWORD mask, LPCWSTR text, LPCWSTR hint,
                                                IUixImage* image, long width, DWORD style_set,
                                                DWORD style_clear, DWORD reserved) = 0;
    // UIX_ListColumnStyle bits of a column.
    virtual HRESULT STDMETHODCALLTYPE get_ColumnStyle(long index, DWORD* style) = 0;
    // Inserts a row before an index (-1: appends).
    virtual HRESULT STDMETHODCALLTYPE InsertItem(long index, PARAM_T param, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveAllItems() = 0;
    // Sets the number of rows at once.
    virtual HRESULT STDMETHODCALLTYPE put_ItemCount(long count) = 0;
    // Asks the callback again for count rows from first.
    virtual HRESULT STDMETHODCALLTYPE RedrawItems(long first, long count) = 0;
    // The first selected row; S_FALSE when none.
    virtual HRESULT STDMETHODCALLTYPE GetFirstSelected(UIX_ListItemId* item) = 0;
    // The selected row after *item; S_FALSE at the end.
    virtual HRESULT STDMETHODCALLTYPE GetNextSelected(UIX_ListItemId* item) = 0;
};

// Answers a list's questions about its cells and hears its clicks.
struct IUixListCallback : public IUnknown {
    // The cell's text (owned by the callback until the next call) and draw-text flags.
    virtual HRESULT STDMETHODCALLTYPE GetItemText(const UIX_ListItemId* item, LPCWSTR* text,
                                                  long* length, DWORD* draw_text_flags) = 0;
    // The cell's image (new reference) and its opacity, 0 to 1; S_FALSE for none.
    virtual HRESULT STDMETHODCALLTYPE GetItemImage(const UIX_ListItemId* item, IUixImage** image,
                                                   double* opacity) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetItemImageSize(const UIX_ListItemId* item, SIZE* size) = 0;
    // A row was activated (UIX_ListActivate_Confirm: chosen, not only selected).
    virtual HRESULT STDMETHODCALLTYPE OnItemActivated(const UIX_ListItemId* item, DWORD flags) = 0;
    // A column header was clicked; kinds above 1 are other buttons.
    virtual HRESULT STDMETHODCALLTYPE OnColumnClick(long column, long click_kind) = 0;
};

struct IUixCombo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Count(long* count) = 0;
    // Inserts an entry before an index (-1: appends); edit_text is what the closed
    // combo shows when it is chosen.
    virtual HRESULT STDMETHODCALLTYPE InsertItem(long index, LPCWSTR text, LPCWSTR edit_text,
                                                 IUixImage* icon, PARAM_T param, DWORD flags) = 0;
    // Selects an entry (-1: none).
    virtual HRESULT STDMETHODCALLTYPE put_SelItem(long index) = 0;
    // The selected entry; -1 when none.
    virtual HRESULT STDMETHODCALLTYPE get_SelItem(long* index) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetItemParam(long index, PARAM_T* param) = 0;
};

// The spinning wait indicator (UIX_ObjKind_WaitProgress).
struct IUixWaitProgress : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Start() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
};

} // namespace Lumo
