// The emulated "UIX" extension: command registry, command bars with their
// menus, icons and images decoded with WIC.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/dialogs.h"
#include "host/string_table.h"
#include "plugin/com_object.h"
#include "plugin/sdk/lumo.h"

namespace gd {

// A decoded image: its size and 32-bit premultiplied BGRA pixels.
class HostImage : public ComObject<Lumo::IUixImage> {
public:
    // What a theme or file-type icon was made for ("ico.folder", ".pdf").
    std::wstring m_key;
    UINT m_width = 0;
    UINT m_height = 0;
    std::vector<BYTE> m_pixels;
};

class HostIcon : public ComObject<Lumo::IUixIcon> {
public:
    HRESULT STDMETHODCALLTYPE AddImage(Lumo::IUixImage* image) override;
    // The sizes (width) of the images added, in order.
    std::vector<UINT> ImageWidths() const;

protected:
    void* QueryMore(REFIID iid) override;

private:
    mutable std::mutex m_lock;
    std::vector<ComPtr<Lumo::IUixImage>> m_images;
};

class HostCommand : public ComObject<Lumo::IUixCommand> {
public:
    HostCommand(std::wstring name, long id, Lumo::IUixCmdHandler* handler);

    HRESULT STDMETHODCALLTYPE get_ID(long* id) override;
    HRESULT STDMETHODCALLTYPE put_Title(LPCWSTR title) override;
    HRESULT STDMETHODCALLTYPE put_Tip(LPCWSTR tip) override;
    HRESULT STDMETHODCALLTYPE put_Style(long style) override;
    HRESULT STDMETHODCALLTYPE put_Category(LPCWSTR category) override;
    HRESULT STDMETHODCALLTYPE put_Icon(Lumo::IUixIcon* icon) override;

    const std::wstring m_name;
    const long m_id;
    // Dropped when the plug-in that made the command is unloaded.
    ComPtr<Lumo::IUixCmdHandler> m_handler;
    // As the plug-in set them ("$$$." ids unresolved).
    std::wstring m_title, m_tip, m_category;
    long m_style = 0;
    ComPtr<Lumo::IUixIcon> m_icon;
};

class HostMenu;

// One entry of a menu: the command it runs and its sub-menu, if any.
struct HostMenuEntry {
    long command_id = 0;
    long style = 0;
    ComPtr<HostMenu> sub_menu;
};

class HostMenu : public ComObject<Lumo::IUixMenu> {
public:
    explicit HostMenu(std::shared_ptr<StringTable> strings) : m_strings(std::move(strings)) {}

    HRESULT STDMETHODCALLTYPE FindItem(LPCWSTR command_name, long* index) override;
    HRESULT STDMETHODCALLTYPE get_Item(long index, Lumo::IUixMenuItem** item) override;
    HRESULT STDMETHODCALLTYPE FindCommand(long command_id, long reserved, long* position) override;
    HRESULT STDMETHODCALLTYPE InsertCommand(long position, long command_id, long style,
                                            long reserved) override;

    // Appends an entry for a named command; its sub-menu when with_sub_menu.
    HostMenu* Append(const std::wstring& command_name, bool with_sub_menu);
    // The names of the entries' commands, in order.
    std::vector<std::wstring> CommandNames() const;
    // The sub-menu of the entry that runs the named command; null when none.
    HostMenu* SubMenu(const std::wstring& command_name) const;

private:
    std::shared_ptr<StringTable> m_strings;
    std::vector<HostMenuEntry> m_entries;
};

class HostCmdBars : public ComObject<Lumo::IUixCmdBars> {
public:
    // A menu bar with the File menu ("cmd.file") and its "cmd.openFrom" and
    // "cmd.saveTo" sub-menus, less the File entries the user removed.
    explicit HostCmdBars(std::shared_ptr<StringTable> strings,
                         const std::vector<std::wstring>& removed = {});
    HRESULT STDMETHODCALLTYPE get_MenuBar(Lumo::IUixMenu** menu_bar) override;

    HostMenu* MenuBar() const { return m_menu_bar.Get(); }

private:
    ComPtr<HostMenu> m_menu_bar;
};

struct IconRecord;

class UixHost
    : public ComObject<Lumo::IUixInstance, Lumo::IUixCmdRegistry, Lumo::IUixCmdCollection> {
public:
    // ui_thread: where CreateObj answers.
    UixHost(std::shared_ptr<StringTable> strings, DWORD ui_thread);

    HRESULT STDMETHODCALLTYPE get_CmdRegistry(Lumo::IUixCmdRegistry** registry) override;
    HRESULT STDMETHODCALLTYPE CreateIcon(Lumo::IUixIcon** icon) override;
    HRESULT STDMETHODCALLTYPE DecodeImage(IStream* stream, Lumo::IUixImage** image) override;
    HRESULT STDMETHODCALLTYPE CreateObj(Lumo::UIX_CreateParams* params,
                                        Lumo::IUixObj** obj) override;
    HRESULT STDMETHODCALLTYPE get_Theme(Lumo::IUixTheme** theme) override;
    HRESULT STDMETHODCALLTYPE CreateFileTypeIcon(BSTR extension, DWORD flags,
                                                 Lumo::IUixImage** icon) override;
    HRESULT STDMETHODCALLTYPE GetMetric(long metric, long* value) override;
    HRESULT STDMETHODCALLTYPE ScaleUnits(long units, long* pixels) override;

    HRESULT STDMETHODCALLTYPE get_Collection(Lumo::IUixCmdCollection** collection) override;

    HRESULT STDMETHODCALLTYPE CreateCommand(LPCWSTR name, long reserved,
                                            Lumo::IUixCmdHandler* handler,
                                            Lumo::IUixCommand** command) override;

    // The command created with a name; null when none.
    ComPtr<HostCommand> FindCommand(const std::wstring& name) const;
    std::vector<ComPtr<HostCommand>> Commands() const;

    // Waits (from a thread other than the UI thread) until a dialog of the
    // layout id runs its modal loop; null when timeout milliseconds passed.
    ComPtr<HostDialog> WaitForDialog(const std::wstring& layout_id, DWORD timeout) const;
    // Every dialog made so far, destroyed ones included.
    std::vector<ComPtr<HostDialog>> Dialogs() const;
    // Ends every running modal loop with Cancel (on the UI thread): what a
    // test does when it fails with a dialog still up.
    void CancelModalDialogs() const;
    // How often the theme was asked for an icon id, or CreateFileTypeIcon for
    // an extension (as given).
    long IconCalls(const std::wstring& key) const;
    // get_Theme fails with hr from now on; S_OK ends that.
    void SetThemeFailure(HRESULT hr);

    // On the UI thread, before the module is freed: forgets the commands
    // whose handler or icon is the module's code and destroys the dialogs
    // that hold any of its objects.
    void DropObjectsOf(HMODULE module);

private:
    HRESULT CreateControl(const Lumo::UIX_CreateParams& params, ComPtr<HostControl>* control);

    std::shared_ptr<StringTable> m_strings;
    const DWORD m_ui_thread;
    mutable std::mutex m_lock;
    std::vector<ComPtr<HostCommand>> m_commands;
    std::vector<ComPtr<HostDialog>> m_dialogs;
    std::shared_ptr<IconRecord> m_icons;
};

} // namespace gd
