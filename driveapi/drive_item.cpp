#include "driveapi/drive_item.h"

#include "driveapi/request_common.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "http/dates.h"
#include "http/encoding.h"

#include <charconv>
#include <string_view>

namespace gd {

namespace {

bool IsTrue(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject())
        return false;
    auto member = object.FindMember(name);
    return member != object.MemberEnd() && member->value.IsTrue();
}

const rapidjson::Value* ObjectMember(const rapidjson::Value& object, const char* name) {
    auto member = object.FindMember(name);
    if (member == object.MemberEnd() || !member->value.IsObject())
        return nullptr;
    return &member->value;
}

// A decimal string; anything else leaves 0.
std::int64_t SizeMember(const rapidjson::Value& object) {
    auto member = object.FindMember("fileSize");
    if (member == object.MemberEnd() || !member->value.IsString())
        return 0;
    const char* first = member->value.GetString();
    const char* last = first + member->value.GetStringLength();
    std::int64_t size = 0;
    auto [end, error] = std::from_chars(first, last, size);
    return error == std::errc() && end == last ? size : 0;
}

std::wstring JoinedOwners(const rapidjson::Value& object) {
    std::wstring joined;
    auto member = object.FindMember("ownerNames");
    if (member == object.MemberEnd() || !member->value.IsArray())
        return joined;
    for (const rapidjson::Value& name : member->value.GetArray()) {
        if (!name.IsString())
            continue;
        if (!joined.empty())
            joined += L',';
        joined += FromUtf8Value(name);
    }
    return joined;
}

void ReadFirstParent(const rapidjson::Value& object, DriveItem& item) {
    auto member = object.FindMember("parents");
    if (member == object.MemberEnd() || !member->value.IsArray() || member->value.Empty())
        return;
    const rapidjson::Value& parent = member->value[0];
    item.parent_is_root = IsTrue(parent, "isRoot");
    item.parent_id = WideMember(parent, "id");
}

} // namespace

HRESULT ParseFileResource(const rapidjson::Value& resource, DriveItem* item) {
    RETURN_HR_IF_NULL(GD_E_INVALID_ARG, item);
    RETURN_HR_IF(GD_E_INVALID_ARG, !resource.IsObject());
    return RunGuarded([&]() -> HRESULT {
        DriveItem parsed;
        parsed.title = WideMember(resource, "title");
        parsed.mime_type = WideMember(resource, "mimeType");
        parsed.is_folder = EqualsIgnoringCase(parsed.mime_type, kFolderMimeType);
        parsed.file_size = SizeMember(resource);
        GetDateMember(resource, "modifiedDate", &parsed.modified);
        GetDateMember(resource, "createdDate", &parsed.created);
        parsed.owner_names = JoinedOwners(resource);
        ReadFirstParent(resource, parsed);
        parsed.download_url = WideMember(resource, "downloadUrl");
        if (const rapidjson::Value* links = ObjectMember(resource, "exportLinks"))
            parsed.pdf_export_link = WideMember(*links, "application/pdf");
        parsed.alternate_link = WideMember(resource, "alternateLink");
        parsed.web_content_link = WideMember(resource, "webContentLink");
        if (const rapidjson::Value* labels = ObjectMember(resource, "labels"))
            parsed.trashed = IsTrue(*labels, "trashed");
        parsed.description = std::move(item->description);
        *item = std::move(parsed);
        return S_OK;
    });
}

HRESULT FillDriveFile(const rapidjson::Value& resource, DriveFile& file) {
    return RunGuarded([&]() -> HRESULT {
        if (!file.item)
            file.item = std::make_shared<DriveItem>();
        file.id = WideMember(resource, "id");
        return ParseFileResource(resource, file.item.get());
    });
}

} // namespace gd
