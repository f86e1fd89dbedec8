"""Google's OAuth and Drive endpoints on the emulator core: one call from
build_emulator() adds their routes and their part of the control interface."""

import google_drive
import google_oauth


def install(emulator):
    oauth = google_oauth.OAuth()
    store = google_drive.DriveStore(oauth.users, emulator.state_dir)
    google_oauth.add_routes(emulator.router, oauth)
    google_drive.add_routes(emulator.router, store, oauth)
    core_control = emulator.control

    def control(request):
        """Ours first; the core answers what we do not know. A reset also
        forgets every token and re-seeds the files."""
        try:
            answer = oauth.control(request) or google_drive.control(request, store, oauth)
        except (ValueError, TypeError, KeyError, AttributeError) as error:
            return google_oauth.Response.text("bad control request: %s\n" % error, 400)
        if answer is not None:
            return answer
        if (request.method, request.path) == ("POST", "/_emu/reset"):
            oauth.reset()
            store.seed()
        return core_control(request)

    emulator.control = control
    emulator.oauth, emulator.drive = oauth, store
    return emulator
