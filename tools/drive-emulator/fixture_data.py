"""The emulator's seed: users, OAuth client, and each user's Drive tree.

Everything here is deterministic, so tests can name ids, titles and sizes.
Contents are built once per process and shared by every re-seed.
"""

import functools

CLIENT_ID = "123456789012-gdriveemulatordemoclient00000001.apps.googleusercontent.com"
CLIENT_SECRET = "Emulator_Demo_Secret_001"
REDIRECT_URI = "urn:ietf:wg:oauth:2.0:oob:auto"

FOLDER = "application/vnd.google-apps.folder"
GOOGLE_DOC = "application/vnd.google-apps.document"
PDF = "application/pdf"

USERS = [
    {"id": "108012345678901234567", "email": "alice.emulator@example.com",
     "name": "Alice Emulator", "given_name": "Alice", "family_name": "Emulator",
     "root": "0AEmuAliceRootUk9PVA"},
    {"id": "108098765432109876543", "email": "bob.emulator@example.org",
     "name": "Bob Emulator", "given_name": "Bob", "family_name": "Emulator",
     "root": "0AEmuBobRootUk9PVA"},
]

# 2024-03-01T09:00:00Z in milliseconds; seed dates count on from it.
SEED_EPOCH_MS = 1709283600000
LARGE_PDF_PADDING = 3 << 20
PAGING_FOLDER_SIZE = 7


def file_id(name):
    """A Drive-like id (33 characters) that still says what it is."""
    return ("1" + name + "_" * 33)[:33]


def pdf_escape(text):
    data = text.encode("ascii", "replace")
    return data.replace(b"\\", b"\\\\").replace(b"(", b"\\(").replace(b")", b"\\)")


@functools.lru_cache(maxsize=None)
def make_pdf(text, padding=0):
    """A valid one-page PDF showing text; padding adds an unreferenced stream
    of that many pattern bytes, for large files that still open."""
    content = b"BT /F1 18 Tf 72 720 Td (" + pdf_escape(text) + b") Tj ET"
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
        b" /Resources << /Font << /F1 5 0 R >> >> >>",
        b"<< /Length %d >>\nstream\n%s\nendstream" % (len(content), content),
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    if padding:
        filler = (bytes(range(251)) * (padding // 251 + 1))[:padding]
        objects.append(b"<< /Length %d >>\nstream\n%s\nendstream" % (padding, filler))
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, xref)
    return bytes(out)


def seed_entries():
    """(owner index, id, parent id or None for the root, title, mime type,
    content bytes or None, trashed, native text) for every seeded item,
    parents before children, in listing order."""
    a, b = 0, 1
    entries = [
        (a, file_id("aliceProjects"), None, "Projects", FOLDER, None, False, None),
        (a, file_id("alice2024"), file_id("aliceProjects"), "2024", FOLDER, None, False, None),
        (a, file_id("aliceBudget2024"), file_id("alice2024"), "Budget 2024.pdf", PDF,
         make_pdf("Budget 2024"), False, None),
        (a, file_id("aliceDesignNotes"), file_id("aliceProjects"), "Design notes.pdf", PDF,
         make_pdf("Design notes", 200 * 1024), False, None),
        (a, file_id("aliceOldDraft"), file_id("aliceProjects"), "Old draft.pdf", PDF,
         make_pdf("Old draft"), True, None),
        (a, file_id("alicePaging"), None, "Paging", FOLDER, None, False, None),
    ]
    for i in range(1, PAGING_FOLDER_SIZE + 1):
        entries.append((a, file_id("alicePage%d" % i), file_id("alicePaging"),
                        "Page %d.pdf" % i, PDF, make_pdf("Page %d" % i), False, None))
    entries += [
        (a, file_id("aliceEmpty"), None, "Empty folder", FOLDER, None, False, None),
        (a, file_id("aliceWelcome"), None, "Welcome.pdf", PDF, make_pdf("Welcome, Alice"),
         False, None),
        (a, file_id("aliceLargeManual"), None, "Large manual.pdf", PDF,
         make_pdf("Large manual", LARGE_PDF_PADDING), False, None),
        (a, file_id("aliceQuoted"), None, "Report \"Q3\" \u2013 \u00dcberblick \u6771\u4eac.pdf",
         PDF, make_pdf("Report Q3"), False, None),
        (a, file_id("aliceMeetingDoc"), None, "Meeting notes", GOOGLE_DOC, None, False,
         "Meeting notes: ship the emulator."),
        (a, file_id("aliceTrashedFolder"), None, "Trashed folder", FOLDER, None, True, None),
        (a, file_id("aliceInTrashed"), file_id("aliceTrashedFolder"), "Inside trash.pdf", PDF,
         make_pdf("Inside trash"), True, None),
        (b, file_id("bobWelcome"), None, "Welcome.pdf", PDF, make_pdf("Welcome, Bob"), False,
         None),
        (b, file_id("bobPlans"), None, "Plans", FOLDER, None, False, None),
        (b, file_id("bobPlanDoc"), file_id("bobPlans"), "Plan", GOOGLE_DOC, None, False,
         "Bob's plan."),
    ]
    return entries
