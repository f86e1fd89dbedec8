#!/usr/bin/python3
"""A scripted stand-in for the user's web browser, for the browser sign-in
under Wine: winebrowser starts it with the consent URL. It loads the consent
page, submits its form as a person would and follows the redirect to the
application's listener.

Its script is a file of the Wine prefix that the emulated host writes
(C:\\users\\Public\\gd-test-browser.txt; a Windows program's environment does
not reach a Unix program that winebrowser starts): a line with approve, deny
or close (never answer), and a line with the account's e-mail address (empty:
the first one offered). Without the file: approve as the first user.
"""

import html
import os
import re
import sys
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


def script():
    """(decision, user) from the prefix's script file."""
    path = os.path.join(os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine")),
                        "drive_c", "users", "Public", "gd-test-browser.txt")
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
    except OSError:
        lines = []
    lines += ["", ""]
    return lines[0] or "approve", lines[1]


def main():
    url = sys.argv[1]
    decision, wanted = script()
    if decision == "close":
        return 0
    # Everything goes to loopback: no proxy of the environment applies.
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    with opener.open(url, timeout=TIMEOUT) as answer:
        page = answer.read().decode("utf-8", "replace")
    action, fields, users = form_of(page)
    user = wanted or (users[0] if users else "")
    fields += [("user", user), ("decision", decision)]
    body = urllib.parse.urlencode(fields).encode()
    # The approval answers a 302 to the listener, which the opener follows.
    with opener.open(urllib.parse.urljoin(url, action), data=body, timeout=TIMEOUT) as answer:
        answer.read()
    return 0


if __name__ == "__main__":
    sys.exit(main())
