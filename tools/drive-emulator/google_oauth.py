"""Google's OAuth endpoints for installed applications: the consent page,
the token, tokeninfo and userinfo endpoints, and the tokens they share with
the Drive routes. Answers keep Google's JSON shapes and status codes."""

import base64
import hashlib
import html
import json
import secrets
import threading
import time
import urllib.parse

from emulator import GOOGLE_CHALLENGE, INVALID_TOKEN_CHALLENGE, Response
import fixture_data

DEFAULT_LIFETIME = 3599  # what Google reports for a fresh access token
CODE_LIFETIME = 600
DEFAULT_SCOPE = ("https://www.googleapis.com/auth/drive "
                 "https://www.googleapis.com/auth/userinfo.profile")
DEFAULT_SUCCESS_TITLE = "Success code={code}"
EMAIL_SCOPES = ("email", "https://www.googleapis.com/auth/userinfo.email")


def google_json(value, status=200):
    """JSON with text as raw UTF-8, as Google sends it (not pretty-printed:
    indenting takes json's slow Python encoder, too slow for big listings)."""
    data = json.dumps(value, ensure_ascii=False).encode("utf-8")
    return Response(status, data, "application/json; charset=UTF-8")


def oauth_error(status, error, description):
    return google_json({"error": error, "error_description": description}, status)


def bearer_token(request):
    """The token of an "Authorization: Bearer" header, or ""."""
    scheme, _, token = request.header("authorization").strip().partition(" ")
    return token.strip() if scheme.lower() == "bearer" else ""


def auth_failure(request):
    """The 401 Google's APIs give without a bearer token ("required"; the
    challenge names no error, RFC 6750 3.1) or for an invalid, expired or
    revoked one ("authError", error="invalid_token")."""
    if bearer_token(request):
        reason, message, challenge = "authError", "Invalid Credentials", INVALID_TOKEN_CHALLENGE
    else:
        reason, message, challenge = "required", "Login Required", GOOGLE_CHALLENGE
    response = google_json({"error": {
        "errors": [{"domain": "global", "reason": reason, "message": message,
                    "locationType": "header", "location": "Authorization"}],
        "code": 401, "message": message}}, 401)
    response.set_header("WWW-Authenticate", challenge)
    return response


def has_email_scope(grant):
    return any(scope in grant["scope"].split() for scope in EMAIL_SCOPES)


def html_page(title, body, status=200):
    text = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%s</title></head>\n"
            "<body>\n%s\n</body></html>\n") % (html.escape(title, quote=False), body)
    response = Response.text(text, status, "text/html; charset=utf-8")
    response.set_header("Cache-Control", "no-cache, no-store, max-age=0, must-revalidate")
    return response


def error_page(status, error, description):
    return html_page("Error", "<h1>Error %d: %s</h1>\n<p>%s</p>" % (
        status, html.escape(error), html.escape(description)), status)


def new_secret(prefix, size=32):
    return prefix + base64.urlsafe_b64encode(secrets.token_bytes(size)).decode().rstrip("=")


def is_loopback_redirect(uri):
    """http://127.0.0.1:PORT/... or http://localhost:PORT/...: Google takes any
    port (and path) on the loopback interface for a desktop client."""
    try:
        parts = urllib.parse.urlsplit(uri)
        port = parts.port
    except ValueError:
        return False
    return (parts.scheme == "http" and parts.hostname in ("127.0.0.1", "localhost")
            and port is not None and not parts.query and not parts.fragment)


def accepted_redirect(uri):
    return uri == fixture_data.REDIRECT_URI or is_loopback_redirect(uri)


PKCE_VERIFIER_CHARS = frozenset("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                "0123456789-._~")


def pkce_refusal(params):
    """An error page for a malformed code_challenge, or None (RFC 7636 4.2)."""
    challenge = params.get("code_challenge")
    method = params.get("code_challenge_method")
    if challenge is None:
        if method is not None:
            return error_page(400, "invalid_request", "Missing code_challenge.")
        return None
    if method not in (None, "plain", "S256"):
        return error_page(400, "invalid_request", "Invalid code_challenge_method.")
    if not 43 <= len(challenge) <= 128 or not set(challenge) <= PKCE_VERIFIER_CHARS:
        return error_page(400, "invalid_request", "Invalid code_challenge.")
    return None


def pkce_matches(grant, verifier):
    """True when the code's challenge (if any) is met by the verifier."""
    challenge = grant.get("code_challenge")
    if challenge is None:
        return True
    if not verifier:
        return False
    if grant.get("code_challenge_method", "plain") == "S256":
        digest = hashlib.sha256(verifier.encode("ascii", "replace")).digest()
        verifier = base64.urlsafe_b64encode(digest).decode().rstrip("=")
    return secrets.compare_digest(verifier, challenge)


def with_query(uri, fields):
    """uri with fields added to its query, as Google's redirect carries them."""
    return uri + ("&" if "?" in uri else "?") + urllib.parse.urlencode(fields)


def form_fields(request):
    return dict(urllib.parse.parse_qsl(request.body.decode("latin-1"), keep_blank_values=True))


class OAuth:
    """Users, the accepted client, and every code and token handed out."""

    def __init__(self):
        self.lock = threading.Lock()
        self.users = fixture_data.USERS
        self.clients = {fixture_data.CLIENT_ID: fixture_data.CLIENT_SECRET}
        self.reset()

    def reset(self):
        with self.lock:
            self.codes = {}  # code -> grant
            self.access = {}  # access token -> grant with "expires_at"
            self.refresh = {}  # refresh token -> grant
            self.lifetime = DEFAULT_LIFETIME
            self.success_title = DEFAULT_SUCCESS_TITLE
            self.approval_redirect = False  # answer the approval with a 302 to the result

    def user_by_email(self, email):
        return next((u for u in self.users if u["email"].lower() == email.lower()), None)

    def user_by_id(self, user_id):
        return next((u for u in self.users if u["id"] == user_id), None)

    # --- tokens ---

    def issue_access(self, client_id, user, scope, refresh_token):
        token = new_secret("ya29.")
        with self.lock:
            self.access[token] = {"client_id": client_id, "user": user["id"], "scope": scope,
                                  "refresh": refresh_token,
                                  "expires_at": time.time() + self.lifetime}
            lifetime = self.lifetime
        return token, lifetime

    def issue_tokens(self, client_id, user, scope):
        """A new refresh token and access token, as a code exchange answers them."""
        refresh_token = new_secret("1//0e", 48)
        with self.lock:
            self.refresh[refresh_token] = {"client_id": client_id, "user": user["id"],
                                           "scope": scope, "revoked": False}
        access_token, lifetime = self.issue_access(client_id, user, scope, refresh_token)
        return {"access_token": access_token, "expires_in": lifetime,
                "refresh_token": refresh_token, "scope": scope, "token_type": "Bearer"}

    def grant_of(self, token):
        """The live grant of an access token, or None when unknown, expired or revoked."""
        with self.lock:
            grant = self.access.get(token)
            if not grant or grant["expires_at"] <= time.time():
                return None
            refresh = self.refresh.get(grant["refresh"])
            if refresh and refresh["revoked"]:
                return None
            return dict(grant)

    def bearer_grant(self, request):
        token = bearer_token(request)
        return self.grant_of(token) if token else None

    def seconds_left(self, grant):
        return max(0, int(grant["expires_at"] - time.time()))

    # --- control ---

    def control(self, request):
        """GET /_emu/users, and POST /_emu/oauth (also /_emu/tokens): lifetimes,
        expiry, revocation, tokens without the consent flow, the success title."""
        action = (request.method, request.path)
        if action == ("GET", "/_emu/users"):
            return google_json({"users": self.users})
        if action not in (("POST", "/_emu/oauth"), ("POST", "/_emu/tokens")):
            return None
        try:
            settings = request.json() if request.body.strip() else {}
            if not isinstance(settings, dict):
                raise ValueError("settings are a JSON object")
            return google_json(self.apply(settings))
        except (ValueError, TypeError, KeyError) as error:
            return Response.text("bad oauth settings: %s\n" % error, 400)

    def apply(self, settings):
        answer = {}
        with self.lock:
            if "lifetime" in settings:
                self.lifetime = int(settings["lifetime"]) if settings["lifetime"] is not None \
                    else DEFAULT_LIFETIME
            if "approval_redirect" in settings:
                self.approval_redirect = bool(settings["approval_redirect"])
            if "success_title" in settings:
                self.success_title = settings["success_title"] or DEFAULT_SUCCESS_TITLE
            if settings.get("expire_all"):
                for grant in self.access.values():
                    grant["expires_at"] = 0
            if "expire" in settings:
                self.access[settings["expire"]]["expires_at"] = 0
            revoke = settings.get("revoke")
            if revoke:
                for token, grant in self.refresh.items():
                    if revoke in ("all", token):
                        grant["revoked"] = True
        issue = settings.get("issue")
        if issue is not None:
            user = self.user_by_email(issue.get("user", self.users[0]["email"]))
            if not user:
                raise ValueError("unknown user %r" % issue.get("user"))
            answer = self.issue_tokens(issue.get("client_id", fixture_data.CLIENT_ID), user,
                                       issue.get("scope", DEFAULT_SCOPE))
            answer["user"] = user
        return answer


def add_routes(router, oauth):
    """The consent page and the token endpoints."""

    def check_client(params):
        """An error page for a bad client or redirect, or None."""
        if params.get("client_id") not in oauth.clients:
            return error_page(401, "invalid_client", "The OAuth client was not found.")
        if not accepted_redirect(params.get("redirect_uri", "")):
            return error_page(400, "redirect_uri_mismatch",
                              "The redirect URI in the request does not match the ones "
                              "authorized for the OAuth client.")
        if params.get("response_type") != "code":
            return error_page(400, "invalid_request", "Invalid response_type.")
        if not params.get("scope", "").strip():
            return error_page(400, "invalid_request", "Missing required parameter: scope")
        return pkce_refusal(params)

    @router.route("GET", r"/o/oauth2/auth")
    def consent(request):
        refused = check_client(request.query)
        if refused:
            return refused
        hidden = "\n".join('<input type="hidden" name="%s" value="%s">' % (
            html.escape(name), html.escape(value)) for name, value in request.query.items())
        options = "\n".join('<option value="%s">%s</option>' % (
            html.escape(u["email"]), html.escape(u["email"])) for u in oauth.users)
        body = (
            '<iframe src="/o/oauth2/postmessageRelay" width="0" height="0" '
            'style="display:none"></iframe>\n'
            "<h1>Choose an account</h1>\n"
            "<p>The application wants to access your Google Account.</p>\n"
            '<form method="post" action="/o/oauth2/approval">\n%s\n'
            '<select name="user">\n%s\n</select>\n'
            '<button type="submit" name="decision" value="approve">Allow</button>\n'
            '<button type="submit" name="decision" value="deny">Deny</button>\n'
            "</form>") % (hidden, options)
        return html_page("Sign in - Google Accounts", body)

    @router.route("GET", r"/o/oauth2/postmessageRelay")
    def relay_frame(request):
        # A frame whose title looks decisive: the sign-in must ignore frames.
        return html_page("Success code=frame-not-a-code", "<p>relay</p>")

    @router.route("POST", r"/o/oauth2/approval")
    def approval(request):
        params = form_fields(request)
        refused = check_client(params)
        if refused:
            return refused
        decision = params.get("decision")
        user = oauth.user_by_email(params.get("user", ""))
        if decision == "deny":
            outcome = {"error": "access_denied"}
        elif decision == "approve" and user:
            code = new_secret("4/0A", 40)
            grant = {"client_id": params["client_id"], "user": user["id"],
                     "scope": params["scope"], "redirect_uri": params["redirect_uri"],
                     "expires_at": time.time() + CODE_LIFETIME}
            if "code_challenge" in params:
                grant["code_challenge"] = params["code_challenge"]
                grant["code_challenge_method"] = params.get("code_challenge_method", "plain")
            with oauth.lock:
                oauth.codes[code] = grant
            outcome = {"code": code, "scope": params["scope"]}
        else:
            return error_page(400, "invalid_request", "Choose an account and a decision.")
        if is_loopback_redirect(params["redirect_uri"]):
            return loopback_answer(params, outcome)
        text = "code=" + outcome["code"] if "code" in outcome else "error=access_denied"
        if oauth.approval_redirect:
            response = Response(302)
            response.set_header("Location", "%s/o/oauth2/approval/v2?auto=true&response=%s" % (
                request.base_url, urllib.parse.quote(text, safe="")))
            return response
        return outcome_page(text)

    def loopback_answer(params, outcome):
        """A 302 to the application's listener, as Google sends it: state first
        (when the request had one), then code and scope, or the error."""
        fields = [("state", params["state"])] if "state" in params else []
        if "code" in outcome:
            fields += [("code", outcome["code"]), ("scope", outcome["scope"])]
        else:
            fields = [("error", outcome["error"])] + fields
        response = Response(302)
        response.set_header("Location", with_query(params["redirect_uri"], fields))
        return response

    @router.route("GET", r"/o/oauth2/approval/v2")
    def approval_result(request):
        return outcome_page(request.query.get("response", ""))

    def outcome_page(outcome):
        """The final page: its title carries the code or the denial."""
        if not outcome.startswith("code="):
            return html_page("Denied error=access_denied", "<p>Access denied.</p>")
        code = outcome[len("code="):]
        with oauth.lock:
            grant = oauth.codes.get(code, {"scope": "", "user": ""})
            template = oauth.success_title
        user = oauth.user_by_id(grant["user"])
        title = template.replace("{code}", code).replace("{scope}", grant["scope"]) \
            .replace("{user}", user["email"] if user else "")
        return html_page(title, (
            "<p>Please copy this code, switch to your application and paste it there:</p>\n"
            '<input id="code" type="text" readonly value="%s">') % html.escape(code))

    def client_of(request, params):
        """(client id, None) or (None, error answer) from the form or Basic auth."""
        client_id, secret = params.get("client_id", ""), params.get("client_secret", "")
        scheme, _, value = request.header("authorization").partition(" ")
        if scheme.lower() == "basic":
            try:
                pair = base64.b64decode(value.strip()).decode("utf-8")
                client_id, _, secret = (urllib.parse.unquote(p) for p in pair.partition(":"))
            except (ValueError, UnicodeDecodeError):
                pass
        if client_id not in oauth.clients:
            return None, oauth_error(401, "invalid_client", "The OAuth client was not found.")
        if oauth.clients[client_id] != secret:
            return None, oauth_error(401, "invalid_client", "Unauthorized")
        return client_id, None

    @router.route("POST", r"/oauth2/v3/token|/oauth2/v4/token|/token")
    def token(request):
        params = form_fields(request)
        grant_type = params.get("grant_type", "")
        if grant_type not in ("authorization_code", "refresh_token"):
            return oauth_error(400, "unsupported_grant_type", "Invalid grant_type: " + grant_type)
        client_id, refused = client_of(request, params)
        if refused:
            return refused
        if grant_type == "authorization_code":
            return exchange(client_id, params)
        return refresh(client_id, params)

    def exchange(client_id, params):
        code = params.get("code", "")
        if not code:
            return oauth_error(400, "invalid_request", "Missing required parameter: code")
        with oauth.lock:
            grant = oauth.codes.get(code)
            if grant and params.get("redirect_uri") != grant["redirect_uri"]:
                return oauth_error(400, "redirect_uri_mismatch", "Bad Request")
            oauth.codes.pop(code, None)  # a code is good for one exchange
        if not grant:
            return oauth_error(400, "invalid_grant", "Malformed auth code.")
        if grant["client_id"] != client_id or grant["expires_at"] <= time.time():
            return oauth_error(400, "invalid_grant", "Bad Request")
        verifier = params.get("code_verifier", "")
        if not pkce_matches(grant, verifier):
            return oauth_error(400, "invalid_grant",
                               "Invalid code verifier." if verifier else "Missing code verifier.")
        user = oauth.user_by_id(grant["user"])
        return google_json(oauth.issue_tokens(client_id, user, grant["scope"]))

    def refresh(client_id, params):
        token = params.get("refresh_token", "")
        if not token:
            return oauth_error(400, "invalid_request", "Missing required parameter: refresh_token")
        with oauth.lock:
            grant = dict(oauth.refresh.get(token) or {})
        if not grant or grant["revoked"]:
            return oauth_error(400, "invalid_grant", "Token has been expired or revoked.")
        if grant["client_id"] != client_id:
            return oauth_error(401, "unauthorized_client", "Unauthorized")
        user = oauth.user_by_id(grant["user"])
        access_token, lifetime = oauth.issue_access(client_id, user, grant["scope"], token)
        return google_json({"access_token": access_token, "expires_in": lifetime,
                              "scope": grant["scope"], "token_type": "Bearer"})

    @router.route("GET|POST", r"/oauth2/v1/tokeninfo|/oauth2/v2/tokeninfo|/oauth2/v3/tokeninfo")
    def tokeninfo(request):
        params = dict(request.query)
        if request.method == "POST":
            params.update(form_fields(request))
        token = params.get("access_token", "") or bearer_token(request)
        if not token:
            return oauth_error(400, "invalid_request",
                               "either access_token, id_token, or token_handle required")
        grant = oauth.grant_of(token)
        if not grant:
            return oauth_error(400, "invalid_token", "Invalid Value")
        user = oauth.user_by_id(grant["user"])
        answer = {"issued_to": grant["client_id"], "audience": grant["client_id"],
                  "user_id": user["id"], "scope": grant["scope"],
                  "expires_in": oauth.seconds_left(grant), "access_type": "offline"}
        if has_email_scope(grant):
            answer.update(email=user["email"], verified_email=True)
        return google_json(answer)

    @router.route("GET", r"/oauth2/v2/userinfo|/oauth2/v1/userinfo")
    def userinfo(request):
        grant = oauth.bearer_grant(request)
        if not grant:
            return auth_failure(request)
        user = oauth.user_by_id(grant["user"])
        answer = {"id": user["id"]}
        if has_email_scope(grant):
            answer.update(email=user["email"], verified_email=True)
        answer.update(name=user["name"], given_name=user["given_name"],
                      family_name=user["family_name"],
                      picture="https://lh3.googleusercontent.com/a/default-user=s96-c",
                      locale="en")
        return google_json(answer)
