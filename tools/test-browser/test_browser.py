#!/usr/bin/python3
"""A scripted stand-in for the user's web browser, for the browser sign-in
under Wine: winebrowser starts it with the consent URL. It loads the consent
page, submits its form as a person would and follows the redirect to the
application's listener.

Its script is a file of the Wine prefix that the emulated host writes
(C:\\users\\Public\\gd-test-browser.txt; a Windows program's environment does
not reach a Unix program that winebrowser starts): a line with approve, deny
or close (never answer), a line with the account's e-mail address (empty:
the first one offered), and a line that says "strays" when the browser is to
ask the listener for another path and for the callback with another state
before the real one. Without the file: approve as the first user.

The status of every request to the listener goes, one per line, to
gd-test-browser-log.txt beside the script.
"""

import html
import os
import re
import sys
import urllib.error
import urllib.parse
import urllib.request

TIMEOUT = 30


def form_of(page):
    """(action, hidden fields, offered users) of the consent page's form."""
    action = re.search(r'<form method="post" action="([^"]+)">', page)
    if not action:
        raise ValueError("no consent form")
    hidden = [(html.unescape(n), html.unescape(v)) for n, v in
              re.findall(r'<input type="hidden" name="([^"]*)" value="([^"]*)">', page)]
    users = [html.unescape(u) for u in re.findall(r'<option value="([^"]*)">', page)]
    return html.unescape(action.group(1)), hidden, users


def public_file(name):
    return os.path.join(os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine")),
                        "drive_c", "users", "Public", name)


def script():
    """(decision, user, strays) from the prefix's script file."""
    try:
        with open(public_file("gd-test-browser.txt"), encoding="utf-8") as f:
            lines = f.read().splitlines()
    except OSError:
        lines = []
    lines += ["", "", ""]
    return lines[0] or "approve", lines[1], lines[2] == "strays"


class KeepRedirects(urllib.request.HTTPRedirectHandler):
    """Hands a redirect back as an HTTPError instead of following it."""

    def redirect_request(self, req, fp, code, msg, headers, newurl):
        return None


def status_of(opener, url):
    try:
        with opener.open(url, timeout=TIMEOUT) as answer:
            answer.read()
            return answer.status
    except urllib.error.HTTPError as error:
        return error.code


def stray_urls(callback):
    """Another path on the listener, and the callback with another state."""
    parts = urllib.parse.urlsplit(callback)
    query = [(n, "not-" + v if n == "state" else v)
             for n, v in urllib.parse.parse_qsl(parts.query, keep_blank_values=True)]
    return [urllib.parse.urlunsplit(parts._replace(path="/favicon.ico", query="")),
            urllib.parse.urlunsplit(parts._replace(query=urllib.parse.urlencode(query)))]


def follow(opener, submit, body, strays):
    """Submits the consent form and goes to the listener it redirects to."""
    try:
        with opener.open(submit, data=body, timeout=TIMEOUT) as answer:
            answer.read()
            return []
    except urllib.error.HTTPError as error:
        if error.code not in (301, 302, 303, 307):
            raise
        callback = urllib.parse.urljoin(submit, error.headers["Location"])
    urls = (stray_urls(callback) if strays else []) + [callback]
    return [status_of(opener, url) for url in urls]


def main():
    url = sys.argv[1]
    decision, wanted, strays = script()
    if decision == "close":
        return 0
    # Everything goes to loopback: no proxy of the environment applies.
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}), KeepRedirects())
    with opener.open(url, timeout=TIMEOUT) as answer:
        page = answer.read().decode("utf-8", "replace")
    action, fields, users = form_of(page)
    user = wanted or (users[0] if users else "")
    fields += [("user", user), ("decision", decision)]
    body = urllib.parse.urlencode(fields).encode()
    # The approval answers a 302 to the listener.
    statuses = follow(opener, urllib.parse.urljoin(url, action), body, strays)
    with open(public_file("gd-test-browser-log.txt"), "w", encoding="utf-8") as log:
        log.writelines(f"{status}\n" for status in statuses)
    return 0


if __name__ == "__main__":
    sys.exit(main())
