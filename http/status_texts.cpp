#include "http/status_texts.h"

#include "errors/codes.h"
#include "errors/registry.h"

#include <iterator>

namespace gd {

namespace {

// Looked up by the low 16 bits: 0x1000 + the HTTP status.
constexpr ErrorRow kInetUtilsRows[] = {
    {0x1001, "No permissions"},
    {0x112C, "HTTP status codes (300). The server couldn't decide what to return."},
    {0x112D, "HTTP status codes (301). The requested resource has been assigned to a new permanent "
             "URI (Uniform Resource Identifier), and any future references to this resource should "
             "be done using one of the returned URIs."},
    {0x112E, "HTTP status codes (302). The requested resource resides temporarily under a "
             "different URI (Uniform Resource Identifier)."},
    {0x112F, "HTTP status codes (303). The response to the request can be found under a different "
             "URI (Uniform Resource Identifier) and should be retrieved using a GET HTTP verb on "
             "that resource."},
    {0x1130, "HTTP status codes (304). The requested resource has not been modified."},
    {0x1131, "HTTP status codes (305). The requested resource must be accessed through the proxy "
             "given by the location field."},
    {0x1133, "HTTP status codes (307). The redirected request keeps the same HTTP verb. HTTP/1.1 "
             "behavior."},
    {0x1190, "HTTP status codes (400). The request could not be processed by the server due to "
             "invalid syntax."},
    {0x1191, "HTTP status codes (401). The requested resource requires user authentication."},
    {0x1192, "HTTP status codes (402). Not currently implemented in the HTTP protocol."},
    {0x1193,
     "HTTP status codes (403). The server understood the request, but is refusing to fulfill it."},
    {0x1194, "HTTP status codes (404). The server has not found anything matching the requested "
             "URI (Uniform Resource Identifier)"},
    {0x1195, "HTTP status codes (405). The HTTP verb used is not allowed."},
    {0x1196, "HTTP status codes (406). No responses acceptable to the client were found."},
    {0x1197, "HTTP status codes (407). Proxy authentication required."},
    {0x1198, "HTTP status codes (408). The server timed out waiting for the request."},
    {0x1199, "HTTP status codes (409). The request could not be completed due to a conflict with "
             "the current state of the resource. The user should resubmit with more information."},
    {0x119A, "HTTP status codes (410). The requested resource is no longer available at the "
             "server, and no forwarding address is known."},
    {0x119B, "HTTP status codes (411). The server refuses to accept the request without a defined "
             "content length."},
    {0x119C, "HTTP status codes (412). The precondition given in one or more of the request header "
             "fields evaluated to false when it was tested on the server."},
    {0x119D, "HTTP status codes (413). The server is refusing to process a request because the "
             "request entity is larger than the server is willing or able to process."},
    {0x119E,
     "HTTP status codes (414). The server is refusing to service the request because the request "
     "URI (Uniform Resource Identifier) is longer than the server is willing to interpret."},
    {0x119F, "HTTP status codes (415). The server is refusing to service the request because the "
             "entity of the request is in a format not supported by the requested resource for the "
             "requested method."},
    {0x11C1,
     "HTTP status codes (449). The request should be retried after doing the appropriate action."},
    {0x11F4, "HTTP status codes (500). The server encountered an unexpected condition that "
             "prevented it from fulfilling the request."},
    {0x11F5, "HTTP status codes (501). The server does not support the functionality required to "
             "fulfill the request."},
    {0x11F6,
     "HTTP status codes (502). The server, while acting as a gateway or proxy, received an invalid "
     "response from the upstream server it accessed in attempting to fulfill the request."},
    {0x11F7, "HTTP status codes (503). The service is temporarily overloaded."},
    {0x11F8, "HTTP status codes (504). The request was timed out waiting for a gateway."},
    {0x11F9, "HTTP status codes (505). The server does not support, or refuses to support, the "
             "HTTP protocol version that was used in the request message."},
};

} // namespace

void RegisterInetUtilsErrors() {
    RegisterSubsystem(kSubsystemInetUtils, kInetUtilsRows, std::size(kInetUtilsRows), "InetUtils");
}

void UnregisterInetUtilsErrors() {
    UnregisterSubsystem(kSubsystemInetUtils);
}

} // namespace gd
