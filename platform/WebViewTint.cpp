#include "platform/WebViewTint.h"

#include <juce_core/juce_core.h>

#if JUCE_MAC
 #include <CoreGraphics/CGBase.h>
 #include <objc/message.h>
 #include <objc/runtime.h>
#endif

namespace tarvo
{
   #if JUCE_MAC
    namespace
    {
        // One Objective-C message, typed at the call site.
        template <typename Result = id, typename... Args>
        Result message (id receiver, const char* selector, Args... args)
        {
            using Fn = Result (*) (id, SEL, Args...);
            return reinterpret_cast<Fn> (objc_msgSend) (receiver, sel_registerName (selector), args...);
        }

        id classNamed (const char* name)
        {
            return reinterpret_cast<id> (objc_getClass (name));
        }
    }

    void* findWebView (void* nativeView)
    {
        if (nativeView == nullptr)
            return nullptr;

        auto* webViewClass = objc_getClass ("WKWebView");
        if (webViewClass == nullptr)
            return nullptr;

        auto view = static_cast<id> (nativeView);
        if (message<BOOL> (view, "isKindOfClass:", webViewClass))
            return view;

        id subviews = message (view, "subviews");
        const auto count = message<unsigned long> (subviews, "count");
        for (unsigned long i = 0; i < count; ++i)
            if (auto* hit = findWebView (message (subviews, "objectAtIndex:", i)))
                return hit;

        return nullptr;
    }

    bool tintWebViewBackground (void* nativeView, bool light)
    {
        auto webView = static_cast<id> (findWebView (nativeView));
        if (webView == nullptr)
            return false;

        id no = message (classNamed ("NSNumber"), "numberWithBool:", (BOOL) NO);
        id key = message (classNamed ("NSString"), "stringWithUTF8String:", "drawsBackground");
        message<void> (webView, "setValue:forKey:", no, key);

        // The under-page colour exists from macOS 12 on.
        if (message<BOOL> (webView, "respondsToSelector:", sel_registerName ("setUnderPageBackgroundColor:")))
        {
            id colour = light ? message (classNamed ("NSColor"), "colorWithSRGBRed:green:blue:alpha:",
                                         (CGFloat) (227.0 / 255.0), (CGFloat) (229.0 / 255.0),
                                         (CGFloat) (232.0 / 255.0), (CGFloat) 1.0)
                              : message (classNamed ("NSColor"), "blackColor");
            message<void> (webView, "setUnderPageBackgroundColor:", colour);
        }
        return true;
    }
   #else
    // On Linux the view lives in the helper process, which paints the view and its
    // plug in the window's light grey from the start (webhost/webhost.c), and the
    // component behind it paints the same colour; there is nothing to look for here,
    // so the tint counts as done once the window has a native view.
    void* findWebView (void* nativeView)
    {
        return nativeView;
    }

    bool tintWebViewBackground (void* nativeView, bool)
    {
        return findWebView (nativeView) != nullptr;
    }
   #endif
}
