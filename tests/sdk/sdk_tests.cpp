#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "plugin/sdk/lumo.h"

namespace {

using namespace Lumo;

// --- Interface identifiers -------------------------------------------------

struct NamedGuid {
    const char* name;
    GUID actual;
    GUID expected;
};

// Written as numbers, independently of the text the headers parse.
const NamedGuid kFixedIdentifiers[] = {
    {"ILumoPlugin",
     __uuidof(ILumoPlugin),
     {0x3077CBDA, 0x34BB, 0x4DBE, {0xBE, 0x4D, 0x4D, 0xA0, 0x35, 0xCB, 0x49, 0xBA}}},
    {"IAfsInstance",
     __uuidof(IAfsInstance),
     {0xF4C199F2, 0x0F2A, 0x4E4A, {0x80, 0xC9, 0xF5, 0xB3, 0x6D, 0x96, 0xF5, 0x27}}},
    {"IUixInstance",
     __uuidof(IUixInstance),
     {0xD5CABA2F, 0xB413, 0x4C6F, {0x94, 0xB6, 0x0B, 0x57, 0x3A, 0xFD, 0x07, 0xEB}}},
    {"ILumoEventSink",
     __uuidof(ILumoEventSink),
     {0x8D00937C, 0x06B9, 0x4B5C, {0x9A, 0x94, 0xA7, 0xE0, 0x46, 0x33, 0x6B, 0x01}}},
    {"IUixCmdBars",
     __uuidof(IUixCmdBars),
     {0xDB0C40F0, 0xB92F, 0x4B55, {0x84, 0xBD, 0xFF, 0xB6, 0xBC, 0x8B, 0x93, 0xDA}}},
};

TEST(SdkIdentifiers, FixedIdentifiersAreBound) {
    for (const auto& id : kFixedIdentifiers)
        EXPECT_TRUE(IsEqualGUID(id.actual, id.expected)) << id.name;
}

// A copied identifier would make QueryInterface hand out the wrong interface.
TEST(SdkIdentifiers, EveryInterfaceHasItsOwnIdentifier) {
#define LUMO_ID(name)                                                                              \
    { #name, __uuidof(name) }
    const std::pair<const char*, GUID> all[] = {
        LUMO_ID(ILumoPlugin),      LUMO_ID(ILumoInstance),     LUMO_ID(ILumoTask),
        LUMO_ID(ILumoEvents),      LUMO_ID(ILumoEventSink),    LUMO_ID(ILumoFrame),
        LUMO_ID(ILumoView),        LUMO_ID(ILumoOpenParams),   LUMO_ID(ILumoProperties),
        LUMO_ID(ILumoProperty),    LUMO_ID(IAfsInstance),      LUMO_ID(IAfsAccount),
        LUMO_ID(IAfsFileSystem),   LUMO_ID(IAfsName),          LUMO_ID(IAfsNameList),
        LUMO_ID(IAfsEnumFolder),   LUMO_ID(IAfsFileInfo),      LUMO_ID(IAfsFileHandle),
        LUMO_ID(IAfsProgress),     LUMO_ID(IAfsStatus),        LUMO_ID(IUixInstance),
        LUMO_ID(IUixCmdRegistry),  LUMO_ID(IUixCmdCollection), LUMO_ID(IUixCommand),
        LUMO_ID(IUixCmdHandler),   LUMO_ID(IUixCmdBars),       LUMO_ID(IUixMenu),
        LUMO_ID(IUixMenuItem),     LUMO_ID(IUixImage),         LUMO_ID(IUixIcon),
        LUMO_ID(IUixTheme),        LUMO_ID(IUixObj),           LUMO_ID(IUixDialog),
        LUMO_ID(IUixEvent),        LUMO_ID(IUixEventHandler),  LUMO_ID(IUixEventSource),
        LUMO_ID(IUixList),         LUMO_ID(IUixListCallback),  LUMO_ID(IUixCombo),
        LUMO_ID(IUixWaitProgress),
    };
#undef LUMO_ID
    for (std::size_t i = 0; i < std::size(all); ++i) {
        EXPECT_FALSE(IsEqualGUID(all[i].second, GUID{})) << all[i].first;
        EXPECT_FALSE(IsEqualGUID(all[i].second, IID_IUnknown)) << all[i].first;
        EXPECT_FALSE(IsEqualGUID(all[i].second, IID_IDispatch)) << all[i].first;
        for (std::size_t j = i + 1; j < std::size(all); ++j)
            EXPECT_FALSE(IsEqualGUID(all[i].second, all[j].second))
                << all[i].first << " and " << all[j].first;
    }
}

// Records the identifier it is asked for and answers nothing.
struct RecordingUnknown : IUnknown {
    GUID asked{};
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        asked = riid;
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

// The typed QueryInterface (what the plug-in writes for extensions and events)
// must ask for the interface's own identifier.
TEST(SdkIdentifiers, TypedQueryAsksForTheBoundIdentifier) {
    RecordingUnknown extension;
    IUnknown* unknown = &extension;
    IUixInstance* uix = nullptr;
    EXPECT_EQ(E_NOINTERFACE, unknown->QueryInterface(&uix));
    EXPECT_TRUE(IsEqualGUID(extension.asked, kFixedIdentifiers[2].expected));
    IUixCmdBars* bars = nullptr;
    unknown->QueryInterface(&bars);
    EXPECT_TRUE(IsEqualGUID(extension.asked, kFixedIdentifiers[4].expected));
}

// --- Values ------------------------------------------------------------------

struct NamedValue {
    const char* name;
    long long actual;
    long long expected;
};

#define LUMO_VALUE(constant, value)                                                                \
    { #constant, static_cast < long long>(constant), value }

TEST(SdkValues, HostValuesAreThoseTheHostUses) {
    const NamedValue values[] = {
        LUMO_VALUE(AFS_Attribute_Folder, 0x100000),
        LUMO_VALUE(AFS_Open_Read, 0x1),
        LUMO_VALUE(AFS_Open_Write, 0x2),
        LUMO_VALUE(AFS_Open_AccessMask, 0x3),
        LUMO_VALUE(AFS_Open_CreateNew, 0x4),
        LUMO_VALUE(AFS_Open_CreateAlways, 0x8),
        LUMO_VALUE(AFS_Open_OpenExisting, 0x10),
        LUMO_VALUE(AFS_Open_OpenAlways, 0x20),
        LUMO_VALUE(AFS_Open_DispositionMask, 0x3C),
        LUMO_VALUE(AFS_Parse_TestOnly, 0x2),
        LUMO_VALUE(AFS_Seek_Begin, 0),
        LUMO_VALUE(AFS_Seek_Current, 1),
        LUMO_VALUE(AFS_Seek_End, 2),
        LUMO_VALUE(AFS_True, 0xFFFF),
        LUMO_VALUE(UIX_ObjModal_AppModal, 1),
        LUMO_VALUE(UIX_ModalResult_Ok, 1),
        LUMO_VALUE(UIX_ModalResult_Cancel, 2),
        LUMO_VALUE(UIX_ObjKind_Dialog, 1),
        LUMO_VALUE(UIX_LayoutFormat_Xml, 3),
        LUMO_VALUE(UIX_Placement_CenterOwner, 1),
        LUMO_VALUE(UIX_ObjKind_WaitProgress, 34),
        LUMO_VALUE(UIX_Event_Size, 5),
        LUMO_VALUE(UIX_Event_ObjAttached, 6456),
        LUMO_VALUE(UIX_Event_ObjDetached, 6458),
        LUMO_VALUE(UIX_Event_Notify, 6482),
        LUMO_VALUE(UIX_Event_InitDialog, 6490),
        LUMO_VALUE(UIX_Notify_Click, 3),
        LUMO_VALUE(UIX_Notify_TextChanged, 5),
        LUMO_VALUE(UIX_Notify_SelChanged, 6),
        LUMO_VALUE(UIX_CmdState_Enabled, 0),
        LUMO_VALUE(UIX_CmdState_Disabled, 2),
        LUMO_VALUE(UIX_ListColumnStyle::UIX_ListColumnStyle_IconDown, 1),
        LUMO_VALUE(UIX_ListColumnStyle::UIX_ListColumnStyle_IconUp, 2),
        LUMO_VALUE(UIX_ListColumnMask_Style, 16),
        LUMO_VALUE(UIX_ListStyle_MultiSelect | UIX_ListStyle_ColumnHeader | UIX_ListStyle_Virtual,
                   0x4500),
        LUMO_VALUE(UIX_ListActivate_Confirm, 0x1),
        LUMO_VALUE(UIX_Metric_ListReservedWidth, -1),
        LUMO_VALUE(LUMO_NameId_Auto, -1),
        LUMO_VALUE(LUMO_PropType_Empty, 0),
        LUMO_VALUE(LUMO_PropType_Bool, 1),
        LUMO_VALUE(LUMO_PropType_Int, 2),
        LUMO_VALUE(LUMO_PropType_Int64, 3),
        LUMO_VALUE(LUMO_PropType_Double, 4),
        LUMO_VALUE(LUMO_OpenFileFlag_ShowDialog, 0x4000),
        LUMO_VALUE(LUMO_SaveMode_SaveAs, 4),
        LUMO_VALUE(LUMO_SizeFormat_Auto, 0xFFFFFFFF),
        LUMO_VALUE(LUMO_MsgBox_Error, 0x301),
        LUMO_VALUE(LUMO_MsgBox_AskYesNoCancel, 0x203),
        LUMO_VALUE(LUMO_MsgBox_FromCommand | LUMO_MsgBox_Error, 0xA0000301),
        LUMO_VALUE(LUMO_MsgBox_No, 7),
    };
    for (const auto& value : values)
        EXPECT_EQ(value.expected, value.actual) << value.name;
}

// Host values travel through 32-bit parameters: the sort-arrow expression the
// list code writes must keep its bits when passed as a style.
TEST(SdkValues, ColumnStyleExpressionsFitTheStyleParameters) {
    const DWORD both = UIX_ListColumnStyle::UIX_ListColumnStyle_IconDown |
                       UIX_ListColumnStyle::UIX_ListColumnStyle_IconUp;
    const bool ascending = true;
    const DWORD arrow = ascending ? UIX_ListColumnStyle::UIX_ListColumnStyle_IconUp
                                  : UIX_ListColumnStyle::UIX_ListColumnStyle_IconDown;
    EXPECT_EQ(3u, both);
    EXPECT_EQ(2u, arrow);
    EXPECT_EQ(sizeof(DWORD), sizeof(UIX_ListColumnStyle));
    EXPECT_EQ(sizeof(void*), sizeof(PARAM_T));
}

#undef LUMO_VALUE

// --- Slot order --------------------------------------------------------------

// A stand-in object whose table entry i answers i. Calling an interface
// operation on it through a member pointer therefore yields the operation's
// slot: the compiler lays a single-inheritance interface out as COM's binary
// standard requires (an object starting with a pointer to the table of its
// operations in declaration order, base interfaces first), and that layout is
// what the host and the plug-in meet on.
using SlotAnswer = HRESULT (*)();
template <int I> HRESULT AnswerSlot() {
    return I;
}
template <int... I>
constexpr std::array<SlotAnswer, sizeof...(I)> MakeTable(std::integer_sequence<int, I...>) {
    return {&AnswerSlot<I>...};
}
constexpr auto kSlotTable = MakeTable(std::make_integer_sequence<int, 48>());
struct SlotProbe {
    const SlotAnswer* table;
};
SlotProbe g_probe{kSlotTable.data()};

template <class C, class... A> int SlotOf(HRESULT (STDMETHODCALLTYPE C::*op)(A...)) {
    C* volatile object = reinterpret_cast<C*>(&g_probe);
    return (object->*op)(A{}...);
}
template <class C, class... A> int SlotOf(ULONG (STDMETHODCALLTYPE C::*op)(A...)) {
    C* volatile object = reinterpret_cast<C*>(&g_probe);
    return static_cast<int>((object->*op)(A{}...));
}

struct Slot {
    const char* name;
    int actual;
    int expected;
};
#define LUMO_SLOT(op, index)                                                                       \
    { #op, SlotOf(&op), index }

void ExpectSlots(const std::vector<Slot>& slots) {
    for (const auto& slot : slots)
        EXPECT_EQ(slot.expected, slot.actual) << slot.name;
}

TEST(SdkSlots, ProbeReadsTheStandardSlots) {
    ExpectSlots({
        LUMO_SLOT(IUnknown::AddRef, 1),
        LUMO_SLOT(IUnknown::Release, 2),
        LUMO_SLOT(IDispatch::GetTypeInfoCount, 3),
        LUMO_SLOT(IDispatch::Invoke, 6),
    });
}

TEST(SdkSlots, PluginInterface) {
    ExpectSlots({
        LUMO_SLOT(ILumoPlugin::get_ID, 3),
        LUMO_SLOT(ILumoPlugin::get_Title, 4),
        LUMO_SLOT(ILumoPlugin::get_Notice, 5),
        LUMO_SLOT(ILumoPlugin::get_Version, 6),
        LUMO_SLOT(ILumoPlugin::get_Flags, 7),
        LUMO_SLOT(ILumoPlugin::get_Name, 8),
        LUMO_SLOT(ILumoPlugin::get_Description, 9),
        LUMO_SLOT(ILumoPlugin::get_Company, 10),
        LUMO_SLOT(ILumoPlugin::get_Flags2, 11),
        LUMO_SLOT(ILumoPlugin::Init, 12),
        LUMO_SLOT(ILumoPlugin::InitFileSystems, 13),
        LUMO_SLOT(ILumoPlugin::InitUI, 14),
        LUMO_SLOT(ILumoPlugin::PostInit, 15),
        LUMO_SLOT(ILumoPlugin::Uninit, 16),
        LUMO_SLOT(ILumoPlugin::Reserved1, 17),
        LUMO_SLOT(ILumoPlugin::Reserved4, 20),
    });
}

TEST(SdkSlots, CommandHandlerAndEventSink) {
    ExpectSlots({
        LUMO_SLOT(IUixCmdHandler::Reserved1, 3),
        LUMO_SLOT(IUixCmdHandler::Reserved2, 4),
        LUMO_SLOT(IUixCmdHandler::UpdateState, 5),
        LUMO_SLOT(IUixCmdHandler::Reserved3, 6),
        LUMO_SLOT(IUixCmdHandler::Execute, 7),
        LUMO_SLOT(IUixCmdHandler::Reserved4, 8),
        // An automation interface: its own operations follow the seven standard slots.
        LUMO_SLOT(ILumoEventSink::OnEvent, 7),
        LUMO_SLOT(ILumoTask::Run, 3),
    });
}

TEST(SdkSlots, FileSystem) {
    ExpectSlots({
        LUMO_SLOT(IAfsFileSystem::get_DisplayName, 7),
        LUMO_SLOT(IAfsFileSystem::get_Capabilities, 8),
        LUMO_SLOT(IAfsFileSystem::GetProperty, 11),
        LUMO_SLOT(IAfsFileSystem::SetProperty, 12),
        LUMO_SLOT(IAfsFileSystem::ResolveName, 14),
        LUMO_SLOT(IAfsFileSystem::EnumFolder, 18),
        LUMO_SLOT(IAfsFileSystem::ParseName, 19),
        LUMO_SLOT(IAfsFileSystem::NameToText, 20),
        LUMO_SLOT(IAfsFileSystem::NameGetParent, 21),
        LUMO_SLOT(IAfsFileSystem::CompareNames, 23),
        LUMO_SLOT(IAfsFileSystem::Open, 24),
        LUMO_SLOT(IAfsFileSystem::GetFileInfo, 30),
        LUMO_SLOT(IAfsFileSystem::Browse, 33),
        LUMO_SLOT(IAfsFileSystem::SetThreadObject, 34),
        LUMO_SLOT(IAfsFileSystem::GetThreadObject, 35),
    });
}

TEST(SdkSlots, FileSystemObjects) {
    ExpectSlots({
        LUMO_SLOT(IAfsName::get_FileSystem, 3),
        LUMO_SLOT(IAfsEnumFolder::get_Folder, 7),
        LUMO_SLOT(IAfsEnumFolder::Next, 8),
        LUMO_SLOT(IAfsEnumFolder::Reset, 9),
        LUMO_SLOT(IAfsFileInfo::get_Title, 7),
        LUMO_SLOT(IAfsFileInfo::get_Attributes, 8),
        LUMO_SLOT(IAfsFileInfo::get_Size, 9),
        LUMO_SLOT(IAfsFileInfo::get_CreationTime, 10),
        LUMO_SLOT(IAfsFileInfo::get_LastWriteTime, 11),
        LUMO_SLOT(IAfsFileInfo::get_LastAccessTime, 12),
        LUMO_SLOT(IAfsFileInfo::get_Name, 14),
    });
}

TEST(SdkSlots, FileHandle) {
    ExpectSlots({
        LUMO_SLOT(IAfsFileHandle::get_Name, 3),
        LUMO_SLOT(IAfsFileHandle::get_AccessFlags, 4),
        LUMO_SLOT(IAfsFileHandle::get_UserFlags, 5),
        LUMO_SLOT(IAfsFileHandle::Duplicate, 6),
        LUMO_SLOT(IAfsFileHandle::IsSameFile, 7),
        LUMO_SLOT(IAfsFileHandle::Read, 8),
        LUMO_SLOT(IAfsFileHandle::Write, 9),
        LUMO_SLOT(IAfsFileHandle::Seek, 10),
        LUMO_SLOT(IAfsFileHandle::get_Position, 11),
        LUMO_SLOT(IAfsFileHandle::SetSize, 12),
        LUMO_SLOT(IAfsFileHandle::GetSize, 13),
        LUMO_SLOT(IAfsFileHandle::BeginWrite, 14),
        LUMO_SLOT(IAfsFileHandle::Reopen, 15),
        LUMO_SLOT(IAfsFileHandle::Reserved1, 16),
        LUMO_SLOT(IAfsFileHandle::Reserved2, 17),
        LUMO_SLOT(IAfsFileHandle::GetProperty, 18),
        LUMO_SLOT(IAfsFileHandle::Reserved4, 20),
        // Added after every operation whose place is fixed.
        LUMO_SLOT(IAfsFileHandle::Commit, 21),
    });
}

#undef LUMO_SLOT

} // namespace
