// Lumo host SDK: the "AFS" extension (file systems) and the objects a file
// system hands to the host: names, enumerations, file information, handles.
#pragma once

#include "plugin/sdk/lumo_base.h"

LUMO_DECLARE_INTERFACE(IAfsInstance, "F4C199F2-0F2A-4E4A-80C9-F5B36D96F527")
LUMO_DECLARE_INTERFACE(IAfsAccount, "0EFD5254-9904-44F2-A31F-B653DB5E15DB")
LUMO_DECLARE_INTERFACE(IAfsFileSystem, "54D27498-9042-46E5-B372-A3ABFABC354D")
LUMO_DECLARE_INTERFACE(IAfsName, "E359F813-9315-4252-81A3-4FEF798F4463")
LUMO_DECLARE_INTERFACE(IAfsNameList, "B1201BCC-1A93-4A1B-AB36-849EF3AD60A7")
LUMO_DECLARE_INTERFACE(IAfsEnumFolder, "F2DD80D6-E81A-4784-B0AD-8CB80CDCEDAA")
LUMO_DECLARE_INTERFACE(IAfsFileInfo, "68517816-ADA3-4492-AD73-66B55DB1A5B6")
LUMO_DECLARE_INTERFACE(IAfsFileHandle, "F7C27B56-A000-4C21-9C8A-4D4A5B8AE6BB")
LUMO_DECLARE_INTERFACE(IAfsProgress, "86C0E78F-0B4F-4D80-85EA-1B27FB3CE09B")
LUMO_DECLARE_INTERFACE(IAfsStatus, "2991C321-4980-4FF1-9AF4-06DF3E76DCA7")

namespace Lumo {

// Attribute word of a name (IAfsFileInfo::get_Attributes).
enum AFS_Attribute : DWORD {
    AFS_Attribute_Folder = 0x100000,
};

// Open flags (IAfsFileSystem::Open, IAfsFileHandle::Reopen): access in bits
// 0x3, disposition in bits 0x3C.
enum AFS_OpenFlags : DWORD {
    AFS_Open_Read = 0x1,
    AFS_Open_Write = 0x2,
    AFS_Open_AccessMask = 0x3,
    AFS_Open_CreateNew = 0x4,     // fails when the file exists
    AFS_Open_CreateAlways = 0x8,  // creates or replaces; needs write access
    AFS_Open_OpenExisting = 0x10, // fails when the file does not exist
    AFS_Open_OpenAlways = 0x20,   // no existence test
    AFS_Open_DispositionMask = 0x3C,
};

// IAfsFileSystem::ParseName: only tell whether the text is a name of this file system.
constexpr DWORD AFS_Parse_TestOnly = 0x2;

// IAfsFileHandle::Seek origins.
enum AFS_SeekOrigin : DWORD {
    AFS_Seek_Begin = 0,
    AFS_Seek_Current = 1,
    AFS_Seek_End = 2,
};

// Yes/no answers of CompareNames and IsSameFile.
constexpr long AFS_True = 0xFFFF;
constexpr long AFS_False = 0;

// The host's "AFS" extension: the registry of file systems.
struct IAfsInstance : public IUnknown {
    // Adds a file system to those the host opens and saves names with.
    virtual HRESULT STDMETHODCALLTYPE RegisterFileSystem(IAfsFileSystem* file_system) = 0;
    // Removes a file system registered before.
    virtual HRESULT STDMETHODCALLTYPE UnregisterFileSystem(IAfsFileSystem* file_system) = 0;
    // Makes the host's object that stands for one account of a file system.
    virtual HRESULT STDMETHODCALLTYPE CreateAccountObject(IAfsFileSystem* file_system,
                                                          IAfsAccount** account) = 0;
};

// The host's per-account object of a file system.
struct IAfsAccount : public IUnknown {
    // Whether the account may write the named file; VARIANT_FALSE refuses a reopen for writing.
    virtual HRESULT STDMETHODCALLTYPE CanWrite(IAfsName* name, VARIANT_BOOL* can_write) = 0;
};

// A name object: the host's handle on one file or folder of a file system.
struct IAfsName : public IUnknown {
    // The file system that made the name (new reference).
    virtual HRESULT STDMETHODCALLTYPE get_FileSystem(IAfsFileSystem** file_system) = 0;
};

// A reference-counted list of names: the names chosen in a dialog.
struct IAfsNameList : public IUnknown {
    // Appends a name (the list takes a reference).
    virtual HRESULT STDMETHODCALLTYPE Add(IAfsName* name) = 0;
    // Releases every name.
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Count(long* count) = 0;
    // The name at an index (new reference).
    virtual HRESULT STDMETHODCALLTYPE get_Item(long index, IAfsName** name) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsEmpty(VARIANT_BOOL* empty) = 0;
};

// Asked before each step of a long operation; lets the user cancel it.
struct IAfsProgress : public IUnknown {
    // Sets *cancel to VARIANT_TRUE when the user cancelled; buffer and count describe the step.
    virtual HRESULT STDMETHODCALLTYPE QueryCancel(VARIANT_BOOL* cancel, const void* buffer,
                                                  ULONG count) = 0;
    // Tells which name the operation works on now.
    virtual HRESULT STDMETHODCALLTYPE OnItem(IAfsName* name) = 0;
};

// Told when a handle operation has ended.
struct IAfsStatus : public IUnknown {
    // The operation's result, with the full error text when it failed (else null).
    virtual HRESULT STDMETHODCALLTYPE Completed(HRESULT result, LPCWSTR error_text) = 0;
};

// Information about one name; also the item an enumeration yields.
struct IAfsFileInfo : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Title(BSTR* title) = 0;
    // AFS_Attribute bits.
    virtual HRESULT STDMETHODCALLTYPE get_Attributes(DWORD* attributes) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Size(LONGLONG* size) = 0;
    // Times as 64-bit FILETIME values.
    virtual HRESULT STDMETHODCALLTYPE get_CreationTime(LONGLONG* time) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastWriteTime(LONGLONG* time) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastAccessTime(LONGLONG* time) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;
    // The name the information belongs to (new reference).
    virtual HRESULT STDMETHODCALLTYPE get_Name(IAfsName** name) = 0;
};

// The children of one folder.
struct IAfsEnumFolder : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Folder(IAfsName** folder) = 0;
    // The next child; S_FALSE and no item at the end.
    virtual HRESULT STDMETHODCALLTYPE Next(IAfsFileInfo** item) = 0;
    // Starts over with a fresh listing.
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
};

// An open file: the host reads and writes through it at its own position.
struct IAfsFileHandle : public IUnknown {
    // The name the handle was opened on (new reference).
    virtual HRESULT STDMETHODCALLTYPE get_Name(IAfsName** name) = 0;
    // AFS_OpenFlags the handle was opened with.
    virtual HRESULT STDMETHODCALLTYPE get_AccessFlags(DWORD* flags) = 0;
    // Flags the file system keeps for the host; none so far.
    virtual HRESULT STDMETHODCALLTYPE get_UserFlags(DWORD* flags) = 0;
    // A second handle on the same file, at position 0.
    virtual HRESULT STDMETHODCALLTYPE Duplicate(IAfsFileHandle** handle) = 0;
    // AFS_True when the other handle is open on the same name.
    virtual HRESULT STDMETHODCALLTYPE IsSameFile(IAfsFileHandle* other, long* same) = 0;
    // Reads at the position and advances it; S_FALSE when fewer bytes came than asked.
    virtual HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read,
                                           IAfsStatus* status, IAfsProgress* progress) = 0;
    // Writes at the position and advances it.
    virtual HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG count, ULONG* written,
                                            IUnknown* reserved, IAfsProgress* progress) = 0;
    // Moves the position (AFS_SeekOrigin), kept within 0 and the size.
    virtual HRESULT STDMETHODCALLTYPE Seek(LONGLONG offset, DWORD origin,
                                           LONGLONG* new_position) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Position(LONGLONG* position) = 0;
    // Announces the size of the content about to be written.
    virtual HRESULT STDMETHODCALLTYPE SetSize(LONGLONG size, IUnknown* reserved,
                                              IAfsProgress* progress) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSize(LONGLONG* size, IAfsStatus* status,
                                              IAfsProgress* progress) = 0;
    // Starts writing the file's content from its beginning.
    virtual HRESULT STDMETHODCALLTYPE BeginWrite(IUnknown* reserved, IAfsProgress* progress) = 0;
    // Opens the name again with other AFS_OpenFlags, at position 0.
    virtual HRESULT STDMETHODCALLTYPE Reopen(DWORD flags, IUnknown* reserved,
                                             IAfsProgress* progress) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved2() = 0;
    // A property of the open file ("Title").
    virtual HRESULT STDMETHODCALLTYPE GetProperty(LPCWSTR name, VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
    // Makes the written content the file's content; the written size must match SetSize.
    virtual HRESULT STDMETHODCALLTYPE Commit(IUnknown* reserved, IAfsProgress* progress) = 0;
};

// A file system that the host opens and saves names with.
struct IAfsFileSystem : public IDispatch {
    // The name shown to the user.
    virtual HRESULT STDMETHODCALLTYPE get_DisplayName(BSTR* name) = 0;
    // Capability bits, the host's to interpret.
    virtual HRESULT STDMETHODCALLTYPE get_Capabilities(DWORD* capabilities) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved2() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperty(BSTR name, VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperty(BSTR name, VARIANT value) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
    // Turns a text into a name and makes sure its account is usable (may sign in).
    // context and reserved are passed through unchanged.
    virtual HRESULT STDMETHODCALLTYPE ResolveName(BSTR text, DWORD flags, IUnknown* context,
                                                  IUnknown* reserved, IAfsProgress* progress,
                                                  IAfsName** name) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved6() = 0;
    // Lists a folder's children; nothing is fetched before the first Next.
    virtual HRESULT STDMETHODCALLTYPE EnumFolder(IAfsName* folder, IAfsProgress* progress,
                                                 IUnknown* reserved,
                                                 IAfsEnumFolder** enumerator) = 0;
    // Turns a text into a name relative to a base name (AFS_Parse_TestOnly: only recognise it).
    virtual HRESULT STDMETHODCALLTYPE ParseName(BSTR text, DWORD flags, IAfsName* base,
                                                IAfsName** name) = 0;
    // The text of a name in the form the format flags ask for.
    virtual HRESULT STDMETHODCALLTYPE NameToText(IAfsName* name, DWORD format, BSTR* text) = 0;
    // The parent of a name; success and no name for a root.
    virtual HRESULT STDMETHODCALLTYPE NameGetParent(IAfsName* name, IAfsName** parent) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved7() = 0;
    // AFS_True when both names stand for the same file.
    virtual HRESULT STDMETHODCALLTYPE CompareNames(IAfsName* first, IAfsName* second,
                                                   long* result) = 0;
    // Opens a name with AFS_OpenFlags; a given holder receives the file in place of a new handle.
    virtual HRESULT STDMETHODCALLTYPE Open(IAfsName* name, DWORD flags, IAfsFileHandle* holder,
                                           IAfsProgress* progress, IAfsFileHandle** handle) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved8() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;
    // Information about a name; read lazily by its getters.
    virtual HRESULT STDMETHODCALLTYPE GetFileInfo(IAfsName* name, IAfsProgress* progress,
                                                  IUnknown* reserved, IAfsFileInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
    // Lets the user pick a file in the file system's own dialog.
    virtual HRESULT STDMETHODCALLTYPE Browse(HWND owner, DWORD options, IAfsNameList** chosen) = 0;
    // Keeps an object for the calling thread (null removes it; S_FALSE when there was none).
    virtual HRESULT STDMETHODCALLTYPE SetThreadObject(IUnknown* object) = 0;
    // The object kept for a thread (0: the calling one); S_FALSE when there is none.
    virtual HRESULT STDMETHODCALLTYPE GetThreadObject(DWORD thread_id, IUnknown** object) = 0;
};

} // namespace Lumo
