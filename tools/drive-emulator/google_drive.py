"""Drive v2/v3 routes on an in-memory store: file resources, listings with
nextLink paging, metadata insert, resumable uploads, media downloads with
ranges and the PDF export of Google-native documents. Every route checks the
bearer token; errors have Drive's own shape."""

import base64
import hashlib
import json
import re
import secrets
import threading
import time
import urllib.parse

from emulator import Body, BytesBody, PatternBody, Response, pattern_bytes, ranged
import fixture_data
from fixture_data import FOLDER, GOOGLE_DOC, PDF
from google_oauth import auth_failure, google_json

NATIVE_PREFIX = "application/vnd.google-apps."
DEFAULT_PAGE_SIZE = 100
MAX_PAGE_SIZE = 1000
EXPORT_PATH = "/feeds/download/documents/export/Export"
EXPORT_FORMATS = {  # exportFormat -> mime type
    "pdf": PDF,
    "txt": "text/plain",
    "docx": "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
    "odt": "application/vnd.oasis.opendocument.text",
    "rtf": "application/rtf",
    "html": "text/html",
}
SMALL_PDF_TEXT = "Bulk entry"
PREALLOCATE_LIMIT = 512 << 20
SESSION_LIFETIME = 7 * 24 * 3600  # seconds an upload session lives, as on Drive
CONTENT_RANGE_RE = re.compile(r"bytes (?:(\d+)-(\d+)|\*)/(\d+|\*)$")


def api_error(status, reason, message, location_type=None, location=None):
    """Drive's error body: the reason sits in error.errors[0]."""
    detail = {"domain": "global", "reason": reason, "message": message}
    if location_type:
        detail.update(locationType=location_type, location=location)
    return google_json({"error": {"errors": [detail], "code": status, "message": message}},
                         status)


def not_found(file_id):
    return api_error(404, "notFound", "File not found: %s" % file_id, "parameter", "fileId")


def rfc3339(ms):
    seconds, millis = divmod(int(ms), 1000)
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(seconds)) + ".%03dZ" % millis


class BufferBody(Body):
    """An uploaded body kept as it arrived (no copy)."""

    def __init__(self, buffer):
        self.view = memoryview(buffer)
        self.length = len(buffer)

    def chunks(self, start, end):
        for pos in range(start, end, 1 << 20):
            yield self.view[pos:min(pos + (1 << 20), end)]


class Item:
    """One file or folder. content is a Body, None for folders and native documents."""

    def __init__(self, item_id, owner, parent, title, mime, content=None, trashed=False,
                 native_text=None, created=None):
        self.id, self.owner, self.parent = item_id, owner, parent
        self.title, self.mime = title, mime
        self.content = content
        self.trashed, self.explicitly_trashed = trashed, trashed
        self.native_text = native_text
        self.created = self.modified = created if created is not None else int(time.time() * 1000)
        self.description = ""
        self.version = 1
        self._sha256 = None

    @property
    def is_folder(self):
        return self.mime == FOLDER

    @property
    def is_native(self):
        return self.mime.startswith(NATIVE_PREFIX) and not self.is_folder

    def set_content(self, body):
        self.content, self._sha256 = body, None
        self.modified = int(time.time() * 1000)
        self.version += 1

    def sha256(self):
        if self._sha256 is None:
            digest = hashlib.sha256()
            for chunk in self.content.chunks(0, self.content.length):
                digest.update(chunk)
            self._sha256 = digest.hexdigest()
        return self._sha256

    def export_pdf(self):
        return fixture_data.make_pdf(self.native_text or self.title)


class DriveStore:
    """Every user's files, the upload sessions and the Drive-side settings."""

    def __init__(self, users, state_dir):
        self.lock = threading.Lock()
        self.users = users
        self.state_dir = state_dir  # where the listeners' address files are
        self.seed()

    def seed(self):
        with self.lock:
            self.items = {}
            self.children = {u["root"]: [] for u in self.users}
            self.sessions = {}
            self.page_cap = None
            self.repeat_next_link = 0  # pages that name themselves again (-1: all)
            self.range_cap = None  # bytes at most in one 206 answer
            self.forget_upload_bytes = 0  # the next chunk answer reports this much less
            # Where upload sessions, export links and nextLinks point; None:
            # the host the request came to.
            self.session_base = self.export_base = self.next_link_base = None
            self.encoded = {}  # (id, version, user id, base) -> resource JSON bytes
            for number, entry in enumerate(fixture_data.seed_entries()):
                owner, item_id, parent, title, mime, content, trashed, text = entry
                user = self.users[owner]
                item = Item(item_id, user["id"], parent or user["root"], title, mime,
                            BytesBody(content) if content is not None else None, trashed, text,
                            fixture_data.SEED_EPOCH_MS + number * 3600000)
                above = self.items.get(parent)
                item.explicitly_trashed = trashed and not (above and above.trashed)
                self._add(item)

    def _add(self, item):
        self.items[item.id] = item
        self.children.setdefault(item.parent, []).append(item.id)
        if item.is_folder:
            self.children.setdefault(item.id, [])

    def take_repeat(self):
        """Whether this page names itself as its nextLink, counted down once."""
        with self.lock:
            if not self.repeat_next_link:
                return False
            if self.repeat_next_link > 0:
                self.repeat_next_link -= 1
            return True

    def user_of(self, user_id):
        return next(u for u in self.users if u["id"] == user_id)

    def root_item(self, user):
        return Item(user["root"], user["id"], None, "My Drive", FOLDER,
                    created=fixture_data.SEED_EPOCH_MS - 86400000)

    def find(self, user, item_id):
        """The user's item (the alias "root" and root ids included), or None."""
        if item_id in ("root", user["root"]):
            return self.root_item(user)
        with self.lock:
            item = self.items.get(item_id)
        return item if item and item.owner == user["id"] else None

    def resolve_parent(self, user, parent_id):
        return user["root"] if parent_id in ("root", user["root"]) else parent_id

    def new_id(self):
        return "1" + base64.urlsafe_b64encode(secrets.token_bytes(24)).decode()[:32]

    def create(self, user, title, mime, parent, content=None, description=""):
        item = Item(self.new_id(), user["id"], parent, title, mime, content)
        item.description = description or ""
        with self.lock:
            self._add(item)
        return item

    def listing(self, user, clauses):
        """Items of the user matching every clause, in creation order."""
        parents = [c[1] for c in clauses if c[0] == "parent"]
        with self.lock:
            if parents:
                ids = list(self.children.get(self.resolve_parent(user, parents[0]), []))
            else:
                ids = list(self.items)
            items = [self.items[i] for i in ids]
        return [item for item in items if item.owner == user["id"]
                and all(matches(item, clause, user, self) for clause in clauses)]

    # --- the resource ---

    def encoded_resource(self, item, user, base):
        """resource() as JSON bytes, kept: big listings are asked for again and
        again by benchmarks, and encoding is most of their cost."""
        key = (item.id, item.version, user["id"], base)
        data = self.encoded.get(key)
        if data is None:
            data = json.dumps(self.resource(item, user, base), ensure_ascii=False).encode("utf-8")
            with self.lock:
                self.encoded[key] = data
        return data

    def resource(self, item, user, base):
        """The Drive v2 file resource of item, links pointing back at base."""
        owner = self.user_of(item.owner)
        is_root = item.parent is None
        resource = {
            "kind": "drive#file",
            "id": item.id,
            "etag": '"%s"' % hashlib.sha1(("%s/%d" % (item.id, item.version)).encode()).hexdigest(),
            "selfLink": "%s/drive/v2/files/%s" % (base, item.id),
            "title": item.title,
            "mimeType": item.mime,
            "labels": {"starred": False, "hidden": False, "trashed": item.trashed,
                       "restricted": False, "viewed": True},
            "createdDate": rfc3339(item.created),
            "modifiedDate": rfc3339(item.modified),
            "modifiedByMeDate": rfc3339(item.modified),
            "lastViewedByMeDate": rfc3339(item.modified),
            "markedViewedByMeDate": "1970-01-01T00:00:00.000Z",
            "version": str(item.version),
            "parents": [] if is_root else [{
                "kind": "drive#parentReference",
                "id": item.parent,
                "selfLink": "%s/drive/v2/files/%s/parents/%s" % (base, item.id, item.parent),
                "parentLink": "%s/drive/v2/files/%s" % (base, item.parent),
                "isRoot": item.parent == owner["root"],
            }],
            "userPermission": {"kind": "drive#permission", "etag": '"perm"', "id": "me",
                               "selfLink": "%s/drive/v2/files/%s/permissions/me" % (base, item.id),
                               "role": "owner", "type": "user"},
            "quotaBytesUsed": str(item.content.length if item.content else 0),
            "ownerNames": [owner["name"]],
            "owners": [{"kind": "drive#user", "displayName": owner["name"],
                        "isAuthenticatedUser": owner["id"] == user["id"],
                        "permissionId": owner["id"], "emailAddress": owner["email"]}],
            "lastModifyingUserName": owner["name"],
            "editable": True, "copyable": not item.is_folder, "writersCanShare": True,
            "shared": False, "explicitlyTrashed": item.explicitly_trashed,
            "appDataContents": False, "spaces": ["drive"],
        }
        if item.description:
            resource["description"] = item.description
        if item.is_folder:
            resource["alternateLink"] = "https://drive.google.com/drive/folders/" + item.id
        elif item.is_native:
            resource["alternateLink"] = "https://docs.google.com/document/d/%s/edit?usp=drivesdk" \
                % item.id
            resource["exportLinks"] = {
                mime: "%s%s?id=%s&exportFormat=%s" % (self.export_base or base, EXPORT_PATH,
                                                      item.id, fmt)
                for fmt, mime in EXPORT_FORMATS.items()}
        else:
            extension = item.title.rpartition(".")[2] if "." in item.title else ""
            resource.update({
                "alternateLink": "https://drive.google.com/file/d/%s/view?usp=drivesdk" % item.id,
                "webContentLink": "https://drive.google.com/uc?id=%s&export=download" % item.id,
                "downloadUrl": "%s/drive/v2/files/%s?alt=media&source=downloadUrl"
                               % (base, item.id),
                "originalFilename": item.title,
                "fileExtension": extension,
                "fileSize": str(item.content.length),
                "headRevisionId": "0B%s" % item.id[1:12] + str(item.version),
            })
        resource["iconLink"] = "https://drive-thirdparty.googleusercontent.com/16/type/" + item.mime
        return resource


# --- the q parameter --------------------------------------------------------

STRING = r"'((?:[^'\\]|\\.)*)'"
CLAUSES = [
    ("parent", re.compile(STRING + r"\s+in\s+parents", re.I)),
    ("trashed", re.compile(r"trashed\s*(=|!=)\s*(true|false)", re.I)),
    ("title", re.compile(r"title\s*(=|!=|contains)\s*" + STRING, re.I)),
    ("mimeType", re.compile(r"mimeType\s*(=|!=|contains)\s*" + STRING, re.I)),
]
AND = re.compile(r"\s+and\s+", re.I)


def unquote_q(text):
    return re.sub(r"\\(.)", r"\1", text)


def parse_q(q):
    """The clauses of q joined by "and"; ValueError for anything else."""
    clauses, pos, q = [], 0, q.strip()
    while q:
        for kind, pattern in CLAUSES:
            match = pattern.match(q, pos)
            if match:
                break
        else:
            raise ValueError(q[pos:])
        groups = match.groups()
        if kind == "parent":
            clauses.append(("parent", unquote_q(groups[0])))
        elif kind == "trashed":
            clauses.append(("trashed", groups[0], groups[1].lower() == "true"))
        else:
            clauses.append((kind, groups[0].lower(), unquote_q(groups[1])))
        pos = match.end()
        if pos == len(q):
            break
        joiner = AND.match(q, pos)
        if not joiner:
            raise ValueError(q[pos:])
        pos = joiner.end()
    return clauses


def matches(item, clause, user, store):
    kind = clause[0]
    if kind == "parent":
        return item.parent == store.resolve_parent(user, clause[1])
    if kind == "trashed":
        return (item.trashed == clause[2]) == (clause[1] == "=")
    value = item.title if kind == "title" else item.mime
    op, wanted = clause[1], clause[2]
    if op == "contains":
        return wanted.lower() in value.lower()
    return (value == wanted) == (op == "=")


def page_token(offset):
    return "~!!~" + base64.urlsafe_b64encode(json.dumps({"o": offset}).encode()).decode()


def page_offset(token):
    try:
        offset = json.loads(base64.urlsafe_b64decode(token[4:].encode()))["o"]
        if token.startswith("~!!~") and isinstance(offset, int) and offset >= 0:
            return offset
    except (ValueError, KeyError, TypeError):
        pass
    raise ValueError(token)


# --- routes -----------------------------------------------------------------


def add_routes(router, store, oauth):

    def signed_in(handler):
        """Runs handler with the bearer's user, or answers 401 (no valid token)
        or 403 (a token without a Drive scope)."""
        def run(request, **groups):
            grant = oauth.bearer_grant(request)
            if not grant:
                return auth_failure(request)
            if not any("/auth/drive" in scope for scope in grant["scope"].split()):
                return api_error(403, "insufficientPermissions",
                                 "Insufficient Permission: Request had insufficient "
                                 "authentication scopes.")
            return handler(request, oauth.user_by_id(grant["user"]), **groups)
        return run

    @router.route("GET", r"/drive/v2/files/?")
    @signed_in
    def list_files(request, user):
        try:
            clauses = parse_q(request.query.get("q", ""))
        except ValueError:
            return api_error(400, "invalid", "Invalid query", "parameter", "q")
        try:
            size = int(request.query.get("maxResults") or DEFAULT_PAGE_SIZE)
            if not 0 <= size <= MAX_PAGE_SIZE:
                raise ValueError()
        except ValueError:
            return api_error(400, "invalid", "Invalid value '%s'. Values must be within the "
                             "range: [0, 1000]" % request.query.get("maxResults"),
                             "parameter", "maxResults")
        size = size or DEFAULT_PAGE_SIZE
        if store.page_cap:
            size = min(size, store.page_cap)
        try:
            offset = page_offset(request.query["pageToken"]) if "pageToken" in request.query else 0
        except ValueError:
            return api_error(400, "invalid", "Invalid Value", "parameter", "pageToken")
        items = store.listing(user, clauses)
        base = request.base_url
        answer = {"kind": "drive#fileList", "etag": '"list"',
                  "selfLink": base + request.target}
        token = page_token(offset + size) if offset + size < len(items) else None
        if "pageToken" in request.query and store.take_repeat():
            token = request.query["pageToken"]  # the same nextLink as the page before
        if token:
            params = [(k, v) for k, v in request.query.items() if k != "pageToken"]
            answer["nextPageToken"] = token
            query = urllib.parse.urlencode(params + [("pageToken", token)])
            answer["nextLink"] = "%s/drive/v2/files?%s" % (store.next_link_base or base, query)
        answer["incompleteSearch"] = False
        head = json.dumps(answer, ensure_ascii=False).encode("utf-8")[:-1]
        parts = [store.encoded_resource(item, user, base) for item in items[offset:offset + size]]
        body = head + b', "items": [' + b", ".join(parts) + b"]}"
        return Response(200, body, "application/json; charset=UTF-8")

    @router.route("POST", r"/drive/v2/files/?")
    @signed_in
    def insert_file(request, user):
        try:
            meta = request.json() if request.body.strip() else {}
            if not isinstance(meta, dict):
                raise ValueError()
        except (ValueError, UnicodeDecodeError):
            return api_error(400, "parseError", "Parse Error")
        parents = meta.get("parents") or [{"id": "root"}]
        if not isinstance(parents, list) or not all(isinstance(p, dict) for p in parents):
            return api_error(400, "invalid", "Invalid Value", "other", "parents")
        parent = store.find(user, str(parents[0].get("id", "")))
        if not parent or not parent.is_folder:
            return not_found(parents[0].get("id", ""))
        mime = meta.get("mimeType") or "application/octet-stream"
        content = None if mime.startswith(NATIVE_PREFIX) else BytesBody(b"")
        item = store.create(user, meta.get("title") or "Untitled", mime, parent.id, content,
                            meta.get("description", ""))
        return google_json(store.resource(item, user, request.base_url))

    @router.route("GET", r"/drive/(?P<version>v2|v3)/files/(?P<file_id>[A-Za-z0-9_-]+)")
    @signed_in
    def get_file(request, user, version, file_id):
        item = store.find(user, file_id)
        if not item:
            return not_found(file_id)
        if request.query.get("alt") == "media":
            return media(request, item)
        if version == "v3":
            return google_json({"kind": "drive#file", "id": item.id, "name": item.title,
                                "mimeType": item.mime})
        return Response(200, store.encoded_resource(item, user, request.base_url),
                         "application/json; charset=UTF-8")

    def media(request, item):
        if item.content is None:
            return api_error(403, "fileNotDownloadable",
                             "Only files with binary content can be downloaded. Use Export "
                             "with Docs Editors files.", "parameter", "alt")
        response = Response(200, item.content, item.mime)
        return ranged(request, item.content, response, store.range_cap)

    @router.route("GET", EXPORT_PATH)
    @signed_in
    def export(request, user):
        return export_answer(user, request.query.get("id", ""),
                             EXPORT_FORMATS.get(request.query.get("exportFormat", "")))

    @router.route("GET", r"/drive/(v2|v3)/files/(?P<file_id>[A-Za-z0-9_-]+)/export")
    @signed_in
    def export_v3(request, user, file_id):
        return export_answer(user, file_id, request.query.get("mimeType"))

    def export_answer(user, file_id, mime):
        item = store.find(user, file_id)
        if not item:
            return not_found(file_id)
        if not item.is_native:
            return api_error(403, "fileNotExportable",
                             "Export only supports Docs Editors files.")
        if mime == PDF:
            response = Response(200, item.export_pdf(), PDF)
            response.framing = "chunked"  # converted as it is sent: no length ahead
            return response
        if mime == "text/plain":
            return Response.text(item.native_text or "", content_type="text/plain; charset=utf-8")
        return api_error(400, "badRequest", "The requested conversion is not supported.",
                         "parameter", "mimeType")

    @router.route("PUT", r"/upload/drive/v2/files/(?P<file_id>[A-Za-z0-9_-]+)", stream_body=True)
    @signed_in
    def upload(request, user, file_id):
        if request.query.get("upload_id"):
            return upload_content(request, user, file_id, request.query["upload_id"])
        if request.query.get("uploadType") != "resumable":
            return api_error(400, "badRequest", "Only uploadType=resumable is supported here.",
                             "parameter", "uploadType")
        item = store.find(user, file_id)
        if not item:
            return not_found(file_id)
        if item.content is None:
            return api_error(400, "badRequest", "This file cannot hold content.")
        announced = request.header("x-upload-content-length")
        if announced and not announced.isdigit():
            return api_error(400, "badRequest", "Invalid X-Upload-Content-Length.",
                             "header", "X-Upload-Content-Length")
        session = base64.urlsafe_b64encode(secrets.token_bytes(30)).decode()
        with store.lock:
            store.sessions[session] = {"file": item.id, "user": user["id"],
                                       "length": int(announced) if announced else None,
                                       "created": time.time(), "kept": Kept(), "done": None}
            base = store.session_base or request.base_url
        response = Response(200, b"")
        response.set_header("Location", "%s/upload/drive/v2/files/%s?uploadType=resumable"
                            "&upload_id=%s" % (base.rstrip("/"), item.id, session))
        response.set_header("X-GUploader-UploadID", session)
        return response

    def upload_content(request, user, file_id, session_id):
        with store.lock:
            session = store.sessions.get(session_id)
            if session and time.time() - session["created"] > SESSION_LIFETIME:
                store.sessions.pop(session_id, None)
                session = None
        if not session or session["user"] != user["id"] or session["file"] != file_id:
            return api_error(404, "notFound", "Upload session not found.")
        if request.header("content-range"):
            return upload_chunk(request, user, session)
        announced = session["length"]
        body, received = receive(request.body_reader, announced)
        if announced is not None and received < announced:
            return Response(308, b"")  # no Range header: nothing was kept
        if announced is not None and received > announced:
            return api_error(400, "badRequest", "The upload is longer than announced.")
        with store.lock:
            store.sessions.pop(session_id, None)
            item = store.items.get(session["file"])
        if not item:
            return not_found(session["file"])
        item.set_content(body)
        return google_json(store.resource(item, user, request.base_url))

    def upload_chunk(request, user, session):
        """Content-Range: "bytes a-b/N" sends bytes a..b of N, "bytes */N" asks
        what was kept. Drive answers 308 with Range: bytes=0-K (no Range while
        nothing is kept) until the last byte arrives, then 200 with the
        resource, also to later status queries."""
        match = CONTENT_RANGE_RE.match(request.header("content-range").strip())
        if not match:
            return api_error(400, "badRequest", "Failed to parse Content-Range header.")
        first, last, total = match.groups()
        announced = session["length"]
        if total != "*" and announced is not None and int(total) != announced:
            return api_error(400, "badRequest", "The total does not match the announced length.")
        total = int(total) if total != "*" else announced
        kept = session["kept"]
        if session["done"] is None and first is not None:
            first, last = int(first), int(last)
            length = int(request.header("content-length") or -1)
            if last < first or length != last - first + 1 or (total is not None and last >= total):
                return api_error(400, "badRequest", "Invalid Content-Range or Content-Length.")
            if first > kept.length:
                return api_error(400, "badRequest", "According to the Content-Range header, "
                                 "the upload offset is %d byte(s), which exceeds already uploaded "
                                 "size of %d byte(s)." % (first, kept.length))
            kept.receive(request.body_reader, first)
        with store.lock:
            if store.forget_upload_bytes:  # Drive reports less than it was sent
                kept.forget(store.forget_upload_bytes)
                store.forget_upload_bytes = 0
        if session["done"] is None and total is not None and kept.length == total:
            item = store.items.get(session["file"])
            if not item:
                return not_found(session["file"])
            item.set_content(kept.body())
            session["done"] = item
        if session["done"] is not None:
            return google_json(store.resource(session["done"], user, request.base_url))
        response = Response(308, b"")
        if kept.length:
            response.set_header("Range", "bytes=0-%d" % (kept.length - 1))
        return response


class Kept:
    """The bytes an upload session kept, as runs of the test pattern (nothing
    stored) and copied pieces."""

    def __init__(self):
        self.pieces = []  # (start, length, bytes or None for the pattern)
        self.length = 0

    def receive(self, reader, first):
        """Takes a chunk's body that starts at first; bytes kept already are
        passed over. What arrived before a dropped connection stays kept."""
        skip = self.length - first
        for chunk in reader.chunks():
            if skip >= len(chunk):
                skip -= len(chunk)
                continue
            self.add(chunk[skip:])
            skip = 0

    def add(self, data):
        pattern = PatternBody.matches(self.length, data)
        last = self.pieces[-1] if self.pieces else None
        if pattern and last and last[2] is None:
            self.pieces[-1] = (last[0], last[1] + len(data), None)
        else:
            self.pieces.append((self.length, len(data), None if pattern else bytes(data)))
        self.length += len(data)

    def forget(self, count):
        keep = max(0, self.length - count)
        pieces, self.pieces = self.pieces, []
        for start, length, data in pieces:
            if start < keep:
                size = min(length, keep - start)
                self.pieces.append((start, size, None if data is None else data[:size]))
        self.length = keep

    def body(self):
        if all(data is None for _, _, data in self.pieces):
            return PatternBody(self.length)
        whole = bytearray(self.length)
        for start, length, data in self.pieces:
            whole[start:start + length] = data if data is not None else pattern_bytes(
                start + length)[start:]
        return BufferBody(whole)


def receive(reader, announced):
    """(Body, length) of a streamed upload. A body that is the test pattern
    is kept as a PatternBody (nothing stored); any other is copied once."""
    received, data = 0, None
    # Room for the announced length, within reason: an announced size is a claim.
    capacity = min(announced, PREALLOCATE_LIMIT) if announced is not None else 0
    for chunk in reader.chunks():
        size = len(chunk)
        if data is None and PatternBody.matches(received, chunk):
            received += size
            continue
        if data is None:
            data = bytearray(max(capacity, received))
            data[:received] = pattern_bytes(received)
        if received + size > len(data):
            if announced is not None and received + size > announced:
                received += size  # too long: refused, keep counting only
                continue
            data.extend(bytes(received + size - len(data)))
        data[received:received + size] = chunk
        received += size
    if data is None:
        return PatternBody(received), received
    del data[received:]
    return BufferBody(data), received


# --- control ----------------------------------------------------------------


def set_times(store, item, fields):
    """Dates a control request gives a new item, in milliseconds since 1970."""
    with store.lock:
        if fields.get("created_ms") is not None:
            item.created = int(fields["created_ms"])
        if fields.get("modified_ms") is not None:
            item.modified = int(fields["modified_ms"])


def control(request, store, oauth):
    """Drive's part of the control interface, or None when the path is not ours."""
    action = (request.method, request.path)
    if action == ("POST", "/_emu/seed"):
        store.seed()
        return google_json({})
    if action == ("POST", "/_emu/drive"):
        settings = request.json() if request.body.strip() else {}
        with store.lock:
            for name in ("page_cap", "range_cap"):
                if name in settings:
                    setattr(store, name, int(settings[name]) if settings[name] else None)
            if "forget_upload_bytes" in settings:
                store.forget_upload_bytes = int(settings["forget_upload_bytes"] or 0)
            if "age_sessions" in settings:  # seconds, as if that much time had passed
                for session in store.sessions.values():
                    session["created"] -= float(settings["age_sessions"])
            if "repeat_next_link" in settings:
                store.repeat_next_link = int(settings["repeat_next_link"] or 0)
            for name in ("session_base", "export_base", "next_link_base"):
                if name in settings:
                    setattr(store, name, expand_base(store, settings[name]))
            store.encoded.clear()  # resources hold the export links
            answer = {name: getattr(store, name) for name in
                      ("page_cap", "range_cap", "repeat_next_link", "session_base",
                       "export_base", "next_link_base", "forget_upload_bytes")}
        return google_json(answer)
    if action == ("GET", "/_emu/files"):
        with store.lock:
            items = list(store.items.values())
        return google_json({"files": [summary(store, item) for item in items]})
    if action == ("POST", "/_emu/files"):
        fields = request.json()
        user, parent = owner_and_parent(store, oauth, fields)
        size = int(fields.get("size", 0))
        if size < 0:
            raise ValueError("size %d" % size)
        item = store.create(user, fields.get("title", "Generated.pdf"), fields.get("mimeType", PDF),
                            parent, PatternBody(size))
        set_times(store, item, fields)
        return google_json(summary(store, item))
    if action == ("POST", "/_emu/folders"):
        fields = request.json()
        user, parent = owner_and_parent(store, oauth, fields)
        folder = store.create(user, fields.get("title", "Bulk folder"), FOLDER, parent)
        set_times(store, folder, fields)
        content = BytesBody(fixture_data.make_pdf(SMALL_PDF_TEXT))
        for number in range(int(fields.get("count", 0))):
            store.create(user, "Entry %05d.pdf" % number, PDF, folder.id, content)
        return google_json(summary(store, folder))
    match = re.fullmatch(r"/_emu/files/([A-Za-z0-9_-]+)/content-sha256", request.path)
    if request.method == "GET" and match:
        with store.lock:
            item = store.items.get(match.group(1))
        if not item or item.content is None:
            return Response.text("no such file with content\n", 404)
        return google_json({"sha256": item.sha256(), "length": item.content.length,
                            "version": str(item.version)})
    return None


def expand_base(store, base):
    """A base URL for handed-out links; {http} and {https} in it become this
    emulator's ports."""
    if not base:
        return None
    for kind in ("http", "https"):
        token = "{%s}" % kind
        if token in base:
            with open("%s/%s.addr" % (store.state_dir, kind)) as f:
                base = base.replace(token, f.read().strip().rpartition(":")[2])
    return base.rstrip("/")


def owner_and_parent(store, oauth, fields):
    """The owner (by "user" e-mail, else the parent's owner, else the first
    user) and the parent id (the owner's root when none is given)."""
    parent = fields.get("parent")
    with store.lock:
        parent_item = store.items.get(parent) if parent else None
    if parent and not (parent_item and parent_item.is_folder) \
            and not any(parent == u["root"] for u in store.users):
        raise ValueError("no folder %r" % parent)
    if fields.get("user"):
        user = oauth.user_by_email(fields["user"])
    elif parent_item:
        user = store.user_of(parent_item.owner)
    else:
        user = next((u for u in store.users if u["root"] == parent), store.users[0])
    if not user:
        raise ValueError("unknown user %r" % fields.get("user"))
    return user, store.resolve_parent(user, parent or "root")


def summary(store, item):
    return {"id": item.id, "title": item.title, "mimeType": item.mime,
            "owner": store.user_of(item.owner)["email"], "parent": item.parent,
            "size": item.content.length if item.content is not None else None,
            "trashed": item.trashed}
