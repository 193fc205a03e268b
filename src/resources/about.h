// Texts of the About dialog, shared by the dialog resource and the platforms
// that build the dialog themselves.
#pragma once
#include "talvo_version.h"

#define TALVO_ABOUT_CAPTION "About Talvo"
#define TALVO_ABOUT_PRODUCT "Talvo version " TALVO_VERSION
// The same, to be translated: %s is the version.
#define TALVO_ABOUT_PRODUCT_FORMAT "Talvo version %s"
#define TALVO_ABOUT_CREDIT "by the Talvo team"
#define TALVO_ABOUT_CONTACT1 "A falling-sand toy for the desktop"
#define TALVO_ABOUT_CONTACT2 "Left button draws walls, right button erases them"
