// Lumo host SDK: the host instance handed to a plug-in, and what it offers:
// extensions, strings, events, the UI thread, frames, views and documents.
#pragma once

#include "plugin/sdk/lumo_base.h"
#include "plugin/sdk/lumo_afs.h"
#include "plugin/sdk/lumo_uix.h"

LUMO_DECLARE_INTERFACE(ILumoInstance, "AE7E10BD-1928-467B-B275-55A69F0A2358")
LUMO_DECLARE_INTERFACE(ILumoTask, "C217C700-5E50-4B1D-9DD5-472ACC382021")
LUMO_DECLARE_INTERFACE(ILumoEvents, "E5C9B498-9489-417E-A0E6-CD162467E1C6")
LUMO_DECLARE_INTERFACE(ILumoEventSink, "8D00937C-06B9-4B5C-9A94-A7E046336B01")
LUMO_DECLARE_INTERFACE(ILumoFrame, "297F642F-129D-4008-BF14-DB50A049C63A")
LUMO_DECLARE_INTERFACE(ILumoView, "27236D6B-0858-46B7-BCD5-75FE1E6F6E8F")
LUMO_DECLARE_INTERFACE(ILumoOpenParams, "12E5F205-A8C1-488F-9826-A6CB03C6FD69")
LUMO_DECLARE_INTERFACE(ILumoProperties, "EE41AD8C-1742-4865-A767-3FD189FE3268")
LUMO_DECLARE_INTERFACE(ILumoProperty, "E77CEE7A-C2C3-47CA-8A4D-BF9095FFC432")

namespace Lumo {

// Types of a property's value (ILumoProperty::get_Type).
enum LUMO_PropType : long {
    LUMO_PropType_Empty = 0,
    LUMO_PropType_Bool = 1,
    LUMO_PropType_Int = 2, // 32-bit
    LUMO_PropType_Int64 = 3,
    LUMO_PropType_Double = 4,
};

// Bits of the open parameter "OpenFileFlags".
constexpr long LUMO_OpenFileFlag_ShowDialog = 0x4000; // let the user pick the file first

// ILumoView::SaveDocument modes.
constexpr long LUMO_SaveMode_SaveAs = 4;

// ILumoInstance::FormatSize: pick the unit that suits the size.
constexpr DWORD LUMO_SizeFormat_Auto = 0xFFFFFFFF;

// ILumoInstance::ShowMessage styles and answers.
constexpr DWORD LUMO_MsgBox_Error = 0x301; // an error, confirmed with OK
constexpr DWORD LUMO_MsgBox_AskYesNoCancel = 0x203;
constexpr DWORD LUMO_MsgBox_FromCommand = 0xA0000000; // raised by a command, not a dialog
constexpr long LUMO_MsgBox_Cancel = 2;
constexpr long LUMO_MsgBox_Yes = 6;
constexpr long LUMO_MsgBox_No = 7;

// Work the host runs on its UI thread.
struct ILumoTask : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Run() = 0;
};

// The host instance: what a plug-in gets at Init.
struct ILumoInstance : public IUnknown {
    // A named extension ("AFS", "UIX"); query it for its interface.
    virtual HRESULT STDMETHODCALLTYPE GetExtension(LPCWSTR name, IUnknown** extension) = 0;
    // Adds a plug-in's string table (XML) to the strings the host resolves.
    virtual HRESULT STDMETHODCALLTYPE LoadLocalization(IStream* strings) = 0;
    // The number that stands for a name (string id, control id, event name);
    // LUMO_NameId_Auto lets the host choose it on first use.
    virtual HRESULT STDMETHODCALLTYPE GetNameId(LPCWSTR name, long requested, long* id) = 0;
    // The localized string of a string id.
    virtual HRESULT STDMETHODCALLTYPE GetString(BSTR id, BSTR* text) = 0;
    // The localized string of a string id's number.
    virtual HRESULT STDMETHODCALLTYPE GetStringByNumber(long id, BSTR* text) = 0;
    // The event service.
    virtual HRESULT STDMETHODCALLTYPE get_Events(ILumoEvents** events) = 0;
    // Runs a task on the UI thread and waits up to timeout milliseconds (INFINITE);
    // on the UI thread itself the task runs at once.
    virtual HRESULT STDMETHODCALLTYPE RunOnMainThread(ILumoTask* task, DWORD timeout) = 0;
    // The main frame a command context belongs to (null context: the active one).
    virtual HRESULT STDMETHODCALLTYPE GetMainFrame(IUnknown* context, long index,
                                                   ILumoFrame** frame) = 0;
    // The application's main window: the owner of the plug-in's dialogs.
    virtual HRESULT STDMETHODCALLTYPE get_MainWindow(HWND* window) = 0;
    // Fresh parameters for ILumoView::OpenDocument.
    virtual HRESULT STDMETHODCALLTYPE CreateOpenParams(ILumoOpenParams** params) = 0;
    // Fresh options for ILumoView::SaveDocument.
    virtual HRESULT STDMETHODCALLTYPE CreateOperationOptions(IUnknown** options) = 0;
    // Shows a message box owned by a window; *answer (may be null) gets the button chosen.
    virtual HRESULT STDMETHODCALLTYPE ShowMessage(LPCWSTR text, LPCWSTR caption, DWORD help_id,
                                                  HWND owner, DWORD style, long* answer) = 0;
    // The file-type filter text of a key ("<pdf>"): description|patterns| pairs;
    // expand adds the patterns of every format the key stands for.
    virtual HRESULT STDMETHODCALLTYPE GetFileTypeFilter(LPCWSTR key, long expand, BSTR* filter) = 0;
    // A byte count as the host shows sizes ("1.2 MB").
    virtual HRESULT STDMETHODCALLTYPE FormatSize(LONGLONG bytes, DWORD format, BSTR* text) = 0;
    // Fills the defaults of a CreateObj record.
    virtual HRESULT STDMETHODCALLTYPE InitCreateParams(long reserved, UIX_CreateParams* params) = 0;
};

// Hears named events of the host.
struct ILumoEventSink : public IDispatch {
    // event_id is the number of the event's name; event is the event's own object.
    virtual HRESULT STDMETHODCALLTYPE OnEvent(long event_id, IUnknown* source, IUnknown* event) = 0;
};

struct ILumoEvents : public IUnknown {
    // Calls the sink for every event with that number.
    virtual HRESULT STDMETHODCALLTYPE Subscribe(long event_id, ILumoEventSink* sink,
                                                long reserved) = 0;
};

// A main window of the host.
struct ILumoFrame : public IUnknown {
    // The view that shows the frame's documents; none when no document is open.
    virtual HRESULT STDMETHODCALLTYPE get_MainView(ILumoView** view) = 0;
};

// The view that opens and saves documents.
struct ILumoView : public IUnknown {
    // The window that owns message boxes shown for the view.
    virtual HRESULT STDMETHODCALLTYPE get_Window(HWND* window) = 0;
    // Opens a file name as a document.
    virtual HRESULT STDMETHODCALLTYPE OpenDocument(IAfsName* name, ILumoOpenParams* params,
                                                   long reserved1, long reserved2) = 0;
    // Saves the active document to a file name (LUMO_SaveMode_*).
    virtual HRESULT STDMETHODCALLTYPE SaveDocument(IAfsName* target, long mode, IUnknown* options,
                                                   long reserved1, long reserved2, long reserved3,
                                                   long reserved4, long reserved5) = 0;
};

// How ILumoView::OpenDocument opens ("OpenFileFlags", "CanShowErrMsg").
struct ILumoOpenParams : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Properties(ILumoProperties** properties) = 0;
};

struct ILumoProperties : public IUnknown {
    // The property of a name; S_FALSE and none when it is absent.
    virtual HRESULT STDMETHODCALLTYPE FindItem(LPCWSTR name, ILumoProperty** property) = 0;
};

struct ILumoProperty : public IUnknown {
    // LUMO_PropType of the value.
    virtual HRESULT STDMETHODCALLTYPE get_Type(long* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Value(VARIANT* value) = 0;
    // Stores a value; the caller gives it in the property's own type.
    virtual HRESULT STDMETHODCALLTYPE put_Value(VARIANT value) = 0;
};

} // namespace Lumo
