// The plug-in's name objects: an account root (My Drive of one account) and
// a file name (a Drive file or folder, or a file still to be created, below
// its parent name). The file system hands these to the host as IAfsName and
// knows its own by this interface.
#pragma once

#include "auth/account_store.h"
#include "driveapi/drive_item.h"
#include "plugin/com_object.h"
#include "plugin/sdk/lumo.h"

#include <windows.h>

#include <memory>
#include <string>

GD_DECLARE_INTERFACE(IDriveName, "5996675A-1E7C-40D2-ABF7-6B34ABC720B0")

namespace gd {

class DriveFileSystem;

struct IDriveName : public Lumo::IAfsName {
    // The entry of the name's account; an account root signs in for it the
    // first time (through the file system).
    virtual HRESULT GetAccountEntry(AccountEntryPtr* entry) = 0;
    // The entry's Drive account.
    virtual HRESULT GetAccount(std::shared_ptr<DriveAccount>* account) = 0;
    // AFS_True when both stand for the same Drive file; an account root
    // equals nothing, itself included.
    virtual HRESULT Compare(IDriveName* other, long* result) = 0;
    // The name's text: a link for a file with an id, a "gd://" name for one
    // still without, the root text for an account root.
    virtual HRESULT GetText(std::wstring* text) = 0;
    // scheme://host of the name's account root.
    virtual std::wstring RootText() = 0;
    // The item's title; empty for an account root and a file without item.
    virtual std::wstring Title() = 0;
    // The Drive file (null for an account root).
    virtual std::shared_ptr<DriveFile> File() = 0;
    // Takes over a file found or created for this name (id and item).
    virtual void AdoptFile(std::shared_ptr<DriveFile> file) = 0;
    virtual bool IsFileName() = 0;
    // A folder without looking at any item: the account root.
    virtual bool IsFolderByItself() = 0;
    // Null for an account root.
    virtual ComPtr<IDriveName> Parent() = 0;
    // The file's item, fetched on the name's account when it has none yet.
    virtual HRESULT GetItem(std::shared_ptr<DriveItem>* item) = 0;
};

// The plug-in's own name behind a host name of the given file system; null
// for a foreign or absent name.
ComPtr<IDriveName> OwnName(Lumo::IAfsName* name, Lumo::IAfsFileSystem* fileSystem);

// An account root for a text's scheme and host; its account comes with the
// first operation that needs one, or it is given.
HRESULT MakeAccountRoot(DriveFileSystem* fileSystem, const std::wstring& rootText,
                        AccountEntryPtr entry, ComPtr<IDriveName>* root);
// A file name for file below parent.
HRESULT MakeFileName(std::shared_ptr<DriveFile> file, ComPtr<IDriveName> parent,
                     ComPtr<IDriveName>* name);
// A name for a file to be created below parent: no id, an item with the
// title, mime type "application/pdf" and the folder flag.
HRESULT MakeNewFileName(ComPtr<IDriveName> parent, const std::wstring& title, bool isFolder,
                        ComPtr<IDriveName>* name);

// The id of the folder a name stands for: "root" for an account root.
std::wstring FolderIdOf(IDriveName* name);
// The Drive folder to list for a name: null for an account root (the root
// of the drive), else the name's file.
std::shared_ptr<DriveFile> FolderToList(IDriveName* name);

// Gives a name without id the id and item of the file its titles lead to,
// from its nearest ancestor with an id down; 0x83FF0002 when a level has no
// child of that title.
HRESULT LookUpByTitle(IDriveName* name);
// Whether a file name's file exists: fetched again by id (404 is no), or
// looked up by title. A fetched item is kept.
HRESULT Exists(IDriveName* name, bool* exists);

} // namespace gd
