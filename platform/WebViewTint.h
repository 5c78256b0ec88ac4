#pragma once

namespace tarvo
{
    // The web view found under a native view handle, or null.
    void* findWebView (void* nativeView);

    // Keeps the web view's own background from showing through before the page paints:
    // light (RGB 227, 229, 232) or dark. Returns false, changing nothing, when there is
    // no web view under the handle yet.
    bool tintWebViewBackground (void* nativeView, bool light);
}
