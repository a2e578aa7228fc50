#pragma once
// Hands an address to the desktop's default handler (the browser, the mail
// program) without waiting for it.

#include <gtk/gtk.h>

#include "Url.h"

namespace orvane {

void openWithDesktop(GtkWindow* parent, const Url& url);

}  // namespace orvane
