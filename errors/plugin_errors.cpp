#include "errors/codes.h"
#include "errors/registry.h"

#include <iterator>

namespace gd {
namespace {

const ErrorRow kPluginRows[] = {
    {0x4C7, "Operation was canceled by user"},
    {0x1194, "HTTP status codes (404). The server has not found anything matching the requested "
             "URI (Uniform Resource Identifier)"},
    {0x1008, "Google Drive could not read the request, or its answer could not be read"},
    {0x1009, "Google Drive cannot process the application request because the daily limit of "
             "requests for the application has been reached"},
    {0x100A, "Google Drive cannot process the application request because the user rate limit of "
             "requests for the appplication has been exceeded"},
    {0x100B, "Google Drive cannot process the application request because the user rate limit of "
             "requests has been exceeded"},
    {0x100C, "Google Drive cannot process the application request because the user has not granted "
             "the application access to the file"},
    {0x100D, "Google Drive cannot process the application request because the user does not have "
             "sufficient permissions for the file"},
    {0x100E, "Google Drive cannot process the application request because the policy for the "
             "domain does not allow access to Google Drive by this application"},
    {0x100F, "The file cannot be downloaded because Google Drive has identified it as spam or "
             "malware"},
};

} // namespace

void RegisterPluginErrors() {
    RegisterSubsystem(kSubsystemPlugin, kPluginRows, std::size(kPluginRows), "Zidivo Ridev Aduviz");
}

void UnregisterPluginErrors() {
    UnregisterSubsystem(kSubsystemPlugin);
}

} // namespace gd
