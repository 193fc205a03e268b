// Texts of the About dialog, shared by the dialog resource and the platforms
// that build the dialog themselves.
#pragma once
#include "talvo_version.h"

#define TALVO_ABOUT_CAPTION "About Talvo"
#define TALVO_ABOUT_PRODUCT "Talvo version " TALVO_VERSION
#define TALVO_ABOUT_CREDIT "by the Talvo team"
#define TALVO_ABOUT_CONTACT1 "A falling-sand toy for the desktop"
#define TALVO_ABOUT_CONTACT2 "Left button draws walls, right button erases them"
