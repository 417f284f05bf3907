#pragma once

#include <string>

#include "dashboard/PlatformAlert.h"
#include "hid/HIDError.h"
#include "hid/Permission.h"

// The banner for the current permission status and the monitor's last
// error; an empty title when there is nothing to show.
PlatformAlert makePlatformAlert(PermissionStatus status, const HIDError& error);

// Appends the two permission buttons: open the help page, restart.
void addPermissionActions(PlatformAlert& alert);

// Carries out one banner button. A successful restart sets g_quitRequested.
void performPlatformAction(const PlatformAction& action);

// Opens text as a link with the desktop's handler, or writes one console
// line when it is no usable URL.
void openLink(const std::string& text);

// An absolute URL: a scheme, then printable ASCII without blanks or the
// characters that must be percent-encoded, and well-formed %XX escapes.
bool isUsableUrl(const std::string& text);

// file:// URL of a local path, with everything but [A-Za-z0-9/._~-]
// percent-encoded.
std::string fileUrl(const std::string& path);

// file:// URL of the permission help page: the installed copy next to the
// program when there is one, else the one in the source tree.
std::string permissionHelpUrl();

// The console text written at start-up when reading mice is not permitted.
std::string permissionStartupText();
