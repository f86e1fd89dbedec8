"""Wire checks of the OAuth and Drive routes, run by selfcheck.py."""

import base64
import hashlib
import http.client
import json
import os
import re
import socket
import ssl
import time
import urllib.parse

import fixture_data

CLIENT = fixture_data.CLIENT_ID
SECRET = fixture_data.CLIENT_SECRET
REDIRECT = fixture_data.REDIRECT_URI
SCOPE = "https://www.googleapis.com/auth/drive https://www.googleapis.com/auth/userinfo.profile"
ALICE, BOB = (u["email"] for u in fixture_data.USERS)
FID = fixture_data.file_id


class Api:
    """One keep-alive connection to the emulator, JSON in and out."""

    def __init__(self, address):
        host, port = address.split(":")
        self.address = address
        self.conn = http.client.HTTPConnection(host, int(port), timeout=30)

    def call(self, method, path, body=None, headers=None, token=None):
        headers = dict(headers or {})
        if token:
            headers["Authorization"] = "Bearer " + token
        if isinstance(body, dict):
            body = urllib.parse.urlencode(body)
            headers.setdefault("Content-Type", "application/x-www-form-urlencoded")
        self.conn.request(method, path, body=body, headers=headers)
        response = self.conn.getresponse()
        return response, response.read()

    def json(self, method, path, body=None, headers=None, token=None):
        response, data = self.call(method, path, body, headers, token)
        try:
            return response.status, json.loads(data.decode("utf-8"))
        except ValueError:
            return response.status, None

    def control(self, path, value=None, method="POST"):
        body = json.dumps(value).encode() if value is not None else b""
        return self.json(method, path, body if method == "POST" else None)[1]


def title_of(page):
    match = re.search(rb"<title>(.*?)</title>", page, re.S)
    return match.group(1).decode("utf-8").replace("&amp;", "&") if match else None


def consent_params(**changes):
    params = {"response_type": "code", "client_id": CLIENT, "redirect_uri": REDIRECT,
              "scope": SCOPE.replace(" ", "+"), "include_granted_scopes": "true"}
    params.update(changes)
    # As the client builds it: nothing escaped, scopes joined with "+".
    return "/o/oauth2/auth?" + "&".join("%s=%s" % item for item in params.items())


def approve(api, user=ALICE, decision="approve"):
    form = {"response_type": "code", "client_id": CLIENT, "redirect_uri": REDIRECT,
            "scope": SCOPE, "include_granted_scopes": "true", "user": user, "decision": decision}
    return title_of(api.call("POST", "/o/oauth2/approval", form)[1])


def exchange(api, code, **changes):
    form = {"code": code, "client_id": CLIENT, "client_secret": SECRET,
            "redirect_uri": REDIRECT, "grant_type": "authorization_code"}
    form.update(changes)
    return api.json("POST", "/oauth2/v3/token", form)


def check_oauth(api, check):
    response, page = api.call("GET", consent_params())
    check(response.status == 200 and title_of(page) == "Sign in - Google Accounts"
          and b'<iframe src="/o/oauth2/postmessageRelay"' in page
          and page.count(b"<form") == 1
          and b'<form method="post" action="/o/oauth2/approval">' in page
          and b'name="client_id" value="%s"' % CLIENT.encode() in page
          and b'name="scope" value="%s"' % SCOPE.encode() in page
          and b'<option value="%s">' % BOB.encode() in page
          and b'name="decision" value="approve"' in page
          and b'name="decision" value="deny"' in page, "oauth: consent page")
    frame = title_of(api.call("GET", "/o/oauth2/postmessageRelay")[1])
    check("Success" in frame, "oauth: the inner frame's title says Success")
    bad = [title_of(api.call("GET", consent_params(**change))[1]) for change in
           ({"client_id": "1-other.apps.googleusercontent.com"},
            {"redirect_uri": "http://127.0.0.1/"}, {"redirect_uri": "https://127.0.0.1:1/"},
            {"redirect_uri": "http://example.com:8080/"},
            {"redirect_uri": "urn:ietf:wg:oauth:2.0:oob"})]
    check(bad == ["Error"] * 5, "oauth: unknown client and other redirects get Error")
    check(approve(api, decision="deny") == "Denied error=access_denied", "oauth: denial")
    check(approve(api, user="nobody@example.com") == "Error", "oauth: unknown user")

    title = approve(api)
    code = title[len("Success code="):] if title.startswith("Success code=") else ""
    status, tokens = exchange(api, code, redirect_uri="urn:ietf:wg:oauth:2.0:oob")
    check(status == 400 and tokens["error"] == "redirect_uri_mismatch",
          "token: redirect mismatch refused")
    status, tokens = exchange(api, code, client_secret="wrong")
    check(status == 401 and tokens["error"] == "invalid_client", "token: wrong secret is 401")
    status, tokens = exchange(api, code)
    check(status == 200 and tokens["token_type"] == "Bearer"
          and isinstance(tokens["expires_in"], int) and tokens["expires_in"] > 0
          and tokens["refresh_token"] and tokens["access_token"], "token: code exchange")
    status, again = exchange(api, code)
    check(status == 400 and again["error"] == "invalid_grant", "token: a code works once")

    api.control("/_emu/oauth", {"success_title": "Success state=x&code={code}&scope={scope}"})
    title = approve(api, user=BOB)
    code = re.search(r"[ &]code=([^&]*)", title).group(1)
    status, bob = exchange(api, code)
    check(status == 200 and title.startswith("Success state=x&code=4/")
          and "&scope=" in title, "oauth: success title template with further parameters")

    api.control("/_emu/oauth", {"approval_redirect": True, "success_title": None})
    form = {"response_type": "code", "client_id": CLIENT, "redirect_uri": REDIRECT,
            "scope": SCOPE, "user": ALICE, "decision": "approve"}
    response, _ = api.call("POST", "/o/oauth2/approval", form)
    location = response.getheader("Location") or ""
    prefix = "http://%s/" % api.address
    title = title_of(api.call("GET", location[len(prefix) - 1:])[1]) \
        if location.startswith(prefix) else ""
    status, redirected = exchange(api, title[len("Success code="):])
    check(response.status == 302 and title.startswith("Success code=4/") and status == 200,
          "oauth: approval through a redirect")
    api.control("/_emu/oauth", {"approval_redirect": False})

    access = tokens["access_token"]
    for method in ("GET", "POST"):
        path = "/oauth2/v1/tokeninfo"
        if method == "GET":
            status, info = api.json("GET", path + "?access_token=" + urllib.parse.quote(access))
        else:
            status, info = api.json("POST", path, {"access_token": access})
        check(status == 200 and info["audience"] == CLIENT and info["scope"] == SCOPE
              and info["user_id"] == fixture_data.USERS[0]["id"] and "userid" not in info
              and "email" not in info and 0 < info["expires_in"] <= 3600,
              "tokeninfo: %s" % method)
    status, info = api.json("GET", "/oauth2/v1/tokeninfo", token=access)
    check(status == 200 and info["user_id"] == fixture_data.USERS[0]["id"],
          "tokeninfo: the token as Authorization: Bearer")
    status, me = api.json("GET", "/oauth2/v2/userinfo", token=bob["access_token"])
    check(status == 200 and me["id"] == fixture_data.USERS[1]["id"]
          and me["name"] == "Bob Emulator" and "email" not in me
          and "verified_email" not in me, "userinfo: Bob's token, no e-mail without its scope")
    mail = api.control("/_emu/tokens", {"issue": {"user": BOB, "scope": SCOPE + " email"}})
    status, me = api.json("GET", "/oauth2/v2/userinfo", token=mail["access_token"])
    check(status == 200 and me["email"] == BOB and me["verified_email"] is True,
          "userinfo: the e-mail with the email scope")

    api.control("/_emu/tokens", {"expire_all": True})
    status, info = api.json("POST", "/oauth2/v1/tokeninfo", {"access_token": access})
    check(status == 400
          and info == {"error": "invalid_token", "error_description": "Invalid Value"},
          "tokeninfo: expired token is 400 invalid_token")
    response, body = api.call("GET", "/drive/v2/files/root", token=access)
    error = json.loads(body)
    check(response.status == 401 and error["error"]["errors"][0]["reason"] == "authError"
          and error["error"]["errors"][0]["location"] == "Authorization"
          and error["error"]["code"] == 401 and response.getheader("WWW-Authenticate")
          == 'Bearer realm="https://accounts.google.com/", error="invalid_token"',
          "drive: expired token is 401 authError")
    refresh = {"refresh_token": tokens["refresh_token"], "client_id": CLIENT,
               "client_secret": SECRET, "grant_type": "refresh_token"}
    status, renewed = api.json("POST", "/oauth2/v3/token", refresh)
    check(status == 200 and "refresh_token" not in renewed
          and api.json("GET", "/drive/v2/files/root", token=renewed["access_token"])[0] == 200,
          "token: refresh gives a working token")
    api.control("/_emu/tokens", {"lifetime": 0})
    status, short = api.json("POST", "/oauth2/v3/token", refresh)
    check(short["expires_in"] == 0
          and api.json("GET", "/drive/v2/files/root", token=short["access_token"])[0] == 401,
          "token: lifetime 0 gives expired tokens")
    api.control("/_emu/tokens", {"lifetime": None, "revoke": tokens["refresh_token"]})
    status, refused = api.json("POST", "/oauth2/v3/token", refresh)
    check(status == 400 and refused["error"] == "invalid_grant"
          and api.json("GET", "/drive/v2/files/root", token=renewed["access_token"])[0] == 401,
          "token: a revoked refresh token and its access tokens stop working")


def pkce_pair(verifier):
    digest = hashlib.sha256(verifier.encode()).digest()
    return verifier, base64.urlsafe_b64encode(digest).decode().rstrip("=")


def loopback_approval(api, redirect, challenge, decision="approve", state="st4te_-"):
    """The approval's answer for a loopback redirect, and its Location's query."""
    params = {"response_type": "code", "client_id": CLIENT, "redirect_uri": redirect,
              "scope": SCOPE, "code_challenge": challenge, "code_challenge_method": "S256",
              "state": state, "user": ALICE, "decision": decision}
    response, _ = api.call("POST", "/o/oauth2/approval", params)
    location = response.getheader("Location") or ""
    return response, location, dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(location).query))


def check_loopback(api, check):
    verifier, challenge = pkce_pair("v" * 20 + "-._~" + "0123456789" * 4)
    redirect = "http://127.0.0.1:53682/"
    page_params = {"redirect_uri": redirect, "code_challenge": challenge,
                   "code_challenge_method": "S256", "state": "st4te_-"}
    response, page = api.call("GET", consent_params(**page_params))
    check(response.status == 200 and title_of(page) == "Sign in - Google Accounts"
          and b'name="code_challenge" value="%s"' % challenge.encode() in page
          and b'name="state" value="st4te_-"' in page, "loopback: consent page carries PKCE")
    bad = [title_of(api.call("GET", consent_params(**dict(page_params, **change)))[1])
           for change in ({"code_challenge": "short"}, {"code_challenge_method": "S512"})]
    check(bad == ["Error"] * 2, "loopback: a malformed challenge gets Error")

    response, location, query = loopback_approval(api, redirect, challenge)
    check(response.status == 302 and location.startswith(redirect + "?state=st4te_-&code=")
          and query.get("scope") == SCOPE, "loopback: approval redirects to the listener")
    code = query.get("code", "")
    status, missing = exchange(api, code, redirect_uri=redirect)
    check(status == 400 and missing["error"] == "invalid_grant", "loopback: no verifier refused")
    _, _, query = loopback_approval(api, redirect, challenge)
    status, wrong = exchange(api, query.get("code", ""), redirect_uri=redirect,
                             code_verifier=verifier[:-1] + "x")
    check(status == 400 and wrong["error"] == "invalid_grant", "loopback: a wrong verifier refused")
    _, _, query = loopback_approval(api, redirect, challenge)
    status, oob = exchange(api, query.get("code", ""), code_verifier=verifier)
    check(status == 400 and oob["error"] == "redirect_uri_mismatch",
          "loopback: the exchange needs the code's redirect URI")
    status, tokens = exchange(api, query.get("code", ""), redirect_uri=redirect,
                              code_verifier=verifier)
    check(status == 200 and tokens["access_token"], "loopback: the right verifier exchanges")

    other = "http://localhost:1/"
    response, location, query = loopback_approval(api, other, challenge, decision="deny")
    check(response.status == 302 and location == other + "?error=access_denied&state=st4te_-",
          "loopback: denial redirects with the error")


def list_all(api, token, first_path):
    """Items and the request paths of every page, following nextLink."""
    items, paths, path = [], [], first_path
    while path:
        paths.append(path)
        status, page = api.json("GET", path, token=token)
        if status != 200:
            return None, paths
        items += page["items"]
        link = page.get("nextLink")
        path = None
        if link:
            parts = urllib.parse.urlsplit(link)
            if parts.netloc != api.address or parts.scheme != "http":
                return None, paths
            path = parts.path + "?" + parts.query
    return items, paths


def check_drive_metadata(api, check, token, bob):
    status, item = api.json("GET", "/drive/v2/files/" + FID("aliceQuoted"), token=token)
    check(status == 200 and item["kind"] == "drive#file"
          and item["title"] == "Report \"Q3\" \u2013 \u00dcberblick \u6771\u4eac.pdf"
          and item["fileSize"] == str(len(fixture_data.make_pdf("Report Q3")))
          and re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z", item["modifiedDate"])
          and item["parents"][0] == dict(item["parents"][0], id="0AEmuAliceRootUk9PVA",
                                         isRoot=True)
          and item["labels"]["trashed"] is False and item["ownerNames"] == ["Alice Emulator"]
          and item["downloadUrl"].startswith("http://" + api.address),
          "drive: file resource")
    response, raw = api.call("GET", "/drive/v2/files/" + FID("aliceQuoted"), token=token)
    check("\u6771\u4eac".encode("utf-8") in raw, "drive: titles are sent as raw UTF-8")
    status, error = api.json("GET", "/drive/v2/files/1nothingHere", token=token)
    check(status == 404 and error["error"]["errors"][0]["reason"] == "notFound",
          "drive: unknown id is 404 notFound")
    check(api.json("GET", "/drive/v2/files/" + FID("aliceWelcome"), token=bob)[0] == 404,
          "drive: another user's file is not found")
    response, body = api.call("GET", "/drive/v2/files/" + FID("aliceWelcome"))
    check(response.status == 401 and json.loads(body)["error"] == {
        "errors": [{"domain": "global", "reason": "required", "message": "Login Required",
                    "locationType": "header", "location": "Authorization"}],
        "code": 401, "message": "Login Required"}
        and response.getheader("WWW-Authenticate") == 'Bearer realm="https://accounts.google.com/"',
        "drive: no token is 401 required")
    status, doc = api.json("GET", "/drive/v2/files/" + FID("aliceMeetingDoc"), token=token)
    check("fileSize" not in doc and "downloadUrl" not in doc
          and doc["exportLinks"]["application/pdf"].startswith("http://" + api.address),
          "drive: Google Docs document has an export link and no size")
    pdf_link = urllib.parse.urlsplit(doc["exportLinks"]["application/pdf"])
    pdf_path = pdf_link.path + "?" + pdf_link.query
    response, body = api.call("GET", pdf_path, token=token)
    check(response.status == 200 and body.startswith(b"%PDF-") and body.rstrip().endswith(b"%%EOF")
          and response.getheader("Content-Length") is None
          and response.getheader("Transfer-Encoding") == "chunked",
          "drive: export link gives a PDF, chunked")
    check(api.call("GET", pdf_path)[0].status == 401, "drive: export link needs the token")
    api.control("/_emu/drive", {"export_base": "https://localhost:{https}"})
    status, doc = api.json("GET", "/drive/v2/files/" + FID("aliceMeetingDoc"), token=token)
    api.control("/_emu/drive", {"export_base": None})
    check(doc["exportLinks"]["application/pdf"].startswith("https://localhost:"),
          "drive: export links on another base")
    status, error = api.json("GET", "/drive/v3/files/%s?alt=media" % FID("aliceMeetingDoc"),
                             token=token)
    check(status == 403 and error["error"]["errors"][0]["reason"] == "fileNotDownloadable",
          "drive: media of a Google Docs document is 403 fileNotDownloadable")


def check_listing(api, check, token):
    root = "/drive/v2/files/?corpus=DEFAULT&maxResults=1000&q='root'+in+parents"
    items, _ = list_all(api, token, root)
    titles = {i["title"]: i for i in items or []}
    check(items is not None and "Trashed folder" in titles
          and titles["Trashed folder"]["labels"]["trashed"] is True
          and "Inside trash.pdf" not in titles and "Budget 2024.pdf" not in titles
          and all(i["parents"][0]["isRoot"] for i in items), "list: root, trashed entries marked")
    api.control("/_emu/drive", {"page_cap": 3})
    paging = ("/drive/v2/files/?corpus=DEFAULT&maxResults=1000&q='%s'+in+parents"
              % FID("alicePaging"))
    items, paths = list_all(api, token, paging)
    check(items is not None and len(paths) == 3
          and [i["title"] for i in items] == ["Page %d.pdf" % n for n in range(1, 8)],
          "list: three pages through absolute nextLinks")
    api.control("/_emu/drive", {"next_link_base": "http://localhost:{http}"})
    status, page = api.json("GET", paging, token=token)
    other = "http://localhost:%s/drive/v2/files?" % api.address.split(":")[1]
    check(page["nextLink"].startswith(other), "list: nextLink on another host name")
    api.control("/_emu/drive", {"next_link_base": None, "repeat_next_link": 2})
    first = api.json("GET", paging, token=token)[1]["nextLink"]
    second_path = urllib.parse.urlsplit(first)
    second_path = second_path.path + "?" + second_path.query
    links = [api.json("GET", second_path, token=token)[1]["nextLink"] for _ in range(3)]
    check(links[:2] == [first, first] and links[2] != first,
          "list: repeat_next_link names the same page again, twice")
    api.control("/_emu/drive", {"page_cap": None, "repeat_next_link": None})
    items, _ = list_all(api, token, "/drive/v2/files?q=%s" % urllib.parse.quote(
        "'%s' in parents and trashed = false" % FID("aliceProjects")))
    check([i["title"] for i in items or []] == ["2024", "Design notes.pdf"],
          "list: URL-encoded q with a trashed clause")
    status, error = api.json("GET", "/drive/v2/files?q=bogus", token=token)
    check(status == 400, "list: a query it cannot read is 400")
    status, error = api.json("GET", "/drive/v2/files?maxResults=1001", token=token)
    check(status == 400, "list: maxResults over 1000 is 400")

    folder = api.control("/_emu/folders", {"title": "Bulk", "count": 10000})
    start = time.monotonic()
    items, paths = list_all(api, token, "/drive/v2/files/?corpus=DEFAULT&maxResults=1000"
                            "&q='%s'+in+parents" % folder["id"])
    elapsed = time.monotonic() - start
    check(items is not None and len(items) == 10000 and len(paths) == 10
          and len({i["id"] for i in items}) == 10000,
          "list: 10,000 entries in 10 pages (%.2f s)" % elapsed)


def check_media(api, check, token):
    data = fixture_data.make_pdf("Large manual", fixture_data.LARGE_PDF_PADDING)
    path = "/drive/v3/files/%s?alt=media" % FID("aliceLargeManual")
    response, body = api.call("GET", path, token=token)
    check(response.status == 200 and body == data, "media: whole file without Range")
    response, body = api.call("GET", path, headers={"Range": "bytes=100-1099"}, token=token)
    check(response.status == 206 and body == data[100:1100]
          and response.getheader("Content-Range") == "bytes 100-1099/%d" % len(data),
          "media: range 206")
    for value in ("bytes=%d-" % len(data), "bytes=-0"):
        response, body = api.call("GET", path, headers={"Range": value}, token=token)
        check(response.status == 416
              and response.getheader("Content-Range") == "bytes */%d" % len(data),
              "media: %s is 416" % value)
    empty = api.control("/_emu/files", {"title": "Empty.pdf", "size": 0})
    response, body = api.call("GET", "/drive/v3/files/%s?alt=media" % empty["id"],
                              headers={"Range": "bytes=-100"}, token=token)
    check(response.status == 416 and response.getheader("Content-Range") == "bytes */0",
          "media: a suffix range of an empty file is 416")
    big = api.control("/_emu/files", {"title": "Generated.bin", "size": 50 << 20})
    start = time.monotonic()
    response, body = api.call("GET", "/drive/v3/files/%s?alt=media" % big["id"],
                              headers={"Range": "bytes=%d-%d" % ((50 << 20) - 300, (50 << 20) - 1)},
                              token=token)
    check(response.status == 206
          and body == bytes(i % 251 for i in range((50 << 20) - 300, 50 << 20)),
          "media: generated file served by slicing")
    response, body = api.call("GET", "/drive/v3/files/%s?alt=media" % big["id"], token=token)
    rate = len(body) / (time.monotonic() - start) / 1e6
    check(len(body) == 50 << 20, "media: 50 MiB generated file whole (%.0f MB/s)" % rate)


def raw_exchange(address, data, half_close=False):
    """Sends raw bytes (then ends the sending side) and reads until the server closes."""
    host, port = address.split(":")
    with socket.create_connection((host, int(port)), timeout=10) as sock:
        sock.sendall(data)
        if half_close:
            sock.shutdown(socket.SHUT_WR)
        answer = b""
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                return answer
            answer += chunk


def start_upload(api, token, file_id, length):
    response, body = api.call("PUT", "/upload/drive/v2/files/%s?uploadType=resumable" % file_id,
                              b"", {"X-Upload-Content-Type": "application/octet-stream",
                                    "X-Upload-Content-Length": str(length)}, token)
    return response.status, response.getheader("Location")


def check_uploads(api, check, token):
    status, error = api.json("POST", "/drive/v2/files", b"{not json",
                             {"Content-Type": "application/json; charset=UTF-8"}, token)
    check(status == 400 and error["error"]["errors"][0]["reason"] == "parseError",
          "insert: a body that is not JSON is 400")
    title = "New \"quoted\" \u00e9t\u00e9 \U0001F600.pdf"
    meta = json.dumps({"title": title, "mimeType": "application/pdf",
                       "parents": [{"kind": "drive#parentReference", "id": FID("alice2024"),
                                    "isRoot": False}]}, ensure_ascii=False).encode("utf-8")
    status, item = api.json("POST", "/drive/v2/files", meta,
                            {"Content-Type": "application/json; charset=UTF-8"}, token)
    check(status == 200 and item["title"] == title and item["fileSize"] == "0"
          and item["parents"][0]["id"] == FID("alice2024"), "insert: file with a parent")
    status, top = api.json("POST", "/drive/v2/files", b'{"title": "Top.pdf"}',
                           {"Content-Type": "application/json"}, token)
    check(status == 200 and top["parents"][0]["isRoot"] is True, "insert: no parent means root")
    status, _ = api.json("POST", "/drive/v2/files", b'{"parents": [{"id": "1nothingHere"}]}',
                         {"Content-Type": "application/json"}, token)
    check(status == 404, "insert: unknown parent is 404")

    # Pattern bytes first, then others: kept from where the pattern ends.
    content = (bytes(range(251)) * 10000)[:(5 << 19) + 7] + bytes(reversed(range(256))) * 999
    status, location = start_upload(api, token, item["id"], len(content))
    session = urllib.parse.urlsplit(location or "")
    check(status == 200 and session.netloc == api.address and "upload_id=" in session.query,
          "upload: session URL on this host")
    session_path = session.path + "?" + session.query
    response, body = api.call("PUT", session_path, content,
                              {"Content-Type": "application/octet-stream"}, token)
    done = json.loads(body) if response.status == 200 else {}
    digest = api.control("/_emu/files/%s/content-sha256" % item["id"], method="GET")
    response, back = api.call("GET", "/drive/v3/files/%s?alt=media" % item["id"],
                              headers={"Range": "bytes=%d-" % (len(content) - 70000)}, token=token)
    check(done.get("fileSize") == str(len(content))
          and digest == {"sha256": hashlib.sha256(content).hexdigest(), "length": len(content),
                         "version": done.get("version")}
          and back == content[-70000:], "upload: content stored byte for byte")

    # A chunked body shorter than announced, and a connection that ends early.
    for head, data in (("Transfer-Encoding: chunked", b"1f4\r\n" + b"x" * 500 + b"\r\n0\r\n\r\n"),
                       ("Content-Length: 1000", b"x" * 500)):
        status, location = start_upload(api, token, item["id"], 1000)
        session = urllib.parse.urlsplit(location)
        answer = raw_exchange(api.address, (
            "PUT %s?%s HTTP/1.1\r\nHost: %s\r\nAuthorization: Bearer %s\r\n%s\r\n"
            "Connection: close\r\n\r\n" % (session.path, session.query, api.address, token, head)
        ).encode() + data, half_close=True)
        digest_after = api.control("/_emu/files/%s/content-sha256" % item["id"], method="GET")
        check(not answer.startswith(b"HTTP/1.1 200") and digest_after == digest,
              "upload: %s, 500 of 1000 bytes: refused, nothing committed" % head.split(":")[0])

    size = 64 << 20
    status, location = start_upload(api, token, item["id"], size)
    session = urllib.parse.urlsplit(location)
    start = time.monotonic()
    conn = http.client.HTTPConnection(*api.address.split(":"), timeout=30)
    conn.putrequest("PUT", session.path + "?" + session.query)
    conn.putheader("Authorization", "Bearer " + token)
    conn.putheader("Content-Length", str(size))
    conn.endheaders()
    block = bytes(i % 251 for i in range(251 * 4096))
    sent = 0
    while sent < size:
        piece = memoryview(block)[:min(len(block), size - sent)]
        conn.send(piece)
        sent += len(piece)
    answer = conn.getresponse()
    done = json.loads(answer.read()) if answer.status == 200 else {}
    rate = size / (time.monotonic() - start) / 1e6
    check(done.get("fileSize") == str(size), "upload: 64 MiB pattern upload (%.0f MB/s)" % rate)

    for base, expected in (("http://localhost:{http}/", "http://localhost:"),
                           ("https://127.0.0.1:{https}", "https://127.0.0.1:")):
        api.control("/_emu/drive", {"session_base": base})
        status, location = start_upload(api, token, item["id"], 1)
        port = urllib.parse.urlsplit(location or "").port
        check(status == 200 and location.startswith(expected) and port
              and "/upload/drive/v2/files/" in location, "upload: session handed out on " + base)
    api.control("/_emu/drive", {"session_base": None})


def check_chunked_uploads(api, check, token):
    item = api.control("/_emu/files", {"title": "Chunked.bin", "size": 10})
    content = bytes(range(251)) * 3000 + b"not the pattern" * 1000
    size = len(content)

    def session():
        location = start_upload(api, token, item["id"], size)[1]
        parts = urllib.parse.urlsplit(location)
        return parts.path + "?" + parts.query

    def put(path, first, last, data=None):
        value = "bytes %d-%d/%d" % (first, last, size) if data is not None else "bytes */%d" % size
        return api.call("PUT", path, data if data is not None else b"",
                        {"Content-Range": value}, token)

    path = session()
    response, _ = put(path, 0, 0)
    check(response.status == 308 and response.getheader("Range") is None,
          "chunks: status of a new session, 308 without Range")
    response, _ = put(path, 0, 262143, content[:262144])
    check(response.status == 308 and response.getheader("Range") == "bytes=0-262143",
          "chunks: 308 with the Range kept")
    response, _ = put(path, 300000, size - 1, content[300000:])
    check(response.status == 400, "chunks: a chunk past what was kept is 400")
    # Overlapping the kept bytes is fine: they are passed over.
    response, _ = put(path, 100000, 400000, content[100000:400001])
    check(response.getheader("Range") == "bytes=0-400000", "chunks: overlap passed over")
    api.control("/_emu/drive", {"forget_upload_bytes": 1000})
    response, _ = put(path, 0, 0)
    check(response.status == 308 and response.getheader("Range") == "bytes=0-399000",
          "chunks: Drive may report fewer bytes than were sent")
    before = api.control("/_emu/files/%s/content-sha256" % item["id"], method="GET")
    check(before["length"] == 10, "chunks: nothing committed before the last byte")
    api.call("POST", "/_emu/faults", json.dumps({
        "path": path, "method": "PUT", "drop_request_after_bytes": 50000}).encode())
    dropped = False
    try:
        put(path, 399001, size - 1, content[399001:])
    except (ConnectionError, http.client.HTTPException):
        dropped = True
    api.conn.close()
    response, _ = put(path, 0, 0)
    check(dropped and response.getheader("Range") == "bytes=0-449000",
          "chunks: a dropped chunk keeps what arrived")
    response, body = put(path, 449001, size - 1, content[449001:])
    done = json.loads(body) if response.status == 200 else {}
    digest = api.control("/_emu/files/%s/content-sha256" % item["id"], method="GET")
    check(done.get("fileSize") == str(size)
          and digest["sha256"] == hashlib.sha256(content).hexdigest(),
          "chunks: the last byte commits, byte for byte")
    response, body = put(path, 0, 0)
    check(response.status == 200 and json.loads(body)["id"] == item["id"],
          "chunks: a finished session's status is the resource")
    path = session()
    api.control("/_emu/drive", {"age_sessions": 7 * 24 * 3600 + 1})
    check(put(path, 0, 0)[0].status == 404, "chunks: a session ends after a week")


def check_reset(api, check, token):
    created = api.control("/_emu/files", {"title": "Gone after reset.pdf", "size": 10})
    api.control("/_emu/reset", {})
    check(api.control("/_emu/files/%s/content-sha256" % created["id"], method="GET") is None
          and api.json("GET", "/drive/v2/files/root", token=token)[0] == 401
          and len(api.control("/_emu/files", method="GET")["files"])
          == len(fixture_data.seed_entries()), "reset: files re-seeded, tokens forgotten")


def check_https(address, check, token):
    host, port = address.split(":")
    context = ssl.create_default_context()
    context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
    conn = http.client.HTTPSConnection(host, int(port), context=context, timeout=10)
    conn.request("GET", "/drive/v2/files/" + FID("aliceWelcome"),
                 headers={"Authorization": "Bearer " + token})
    response = conn.getresponse()
    item = json.loads(response.read())
    check(response.status == 200 and item["downloadUrl"].startswith("https://" + address + "/"),
          "https: file resource with links back over https")


def run(state, check):
    http_address = open(os.path.join(state, "http.addr")).read()
    api = Api(http_address)
    api.control("/_emu/reset", {})
    check_oauth(api, check)
    check_loopback(api, check)
    token = api.control("/_emu/tokens", {"issue": {"user": ALICE}})["access_token"]
    bob = api.control("/_emu/tokens", {"issue": {"user": BOB}})["access_token"]
    check_drive_metadata(api, check, token, bob)
    check_https(open(os.path.join(state, "https.addr")).read(), check, token)
    check_listing(api, check, token)
    check_media(api, check, token)
    check_uploads(api, check, token)
    check_chunked_uploads(api, check, token)
    check_reset(api, check, token)
