#pragma once

#include "platform/WebBrowserComponent.h"

#include <optional>
#include <string>
#include <string_view>

namespace tarvo
{
    // The line protocol between the application and its web view helper
    // ("fernhall-webhost"). One message a line, fields separated by single spaces,
    // texts and bytes in standard base64, numbers in decimal.
    //
    //   helper -> application
    //     PLUG <xid>                         the GtkPlug window to embed
    //     GET <req> <b64 path>               the page wants a file; path with query
    //     CALL <page> <b64 json>             a native call {"id", "name", "args"} from page load <page>
    //     LOADED                             the page has finished loading
    //   application -> helper
    //     LOAD <b64 url>
    //     RES <req> <status> <b64 mime> <b64 body>
    //     RET <page> <id> <0|1> <b64 json>   answer to call <id>; 1 = resolve with the
    //                                        value (empty json: no value), 0 = reject with
    //                                        the json string as the reason
    //
    // <req> and <page> are the helper's own numbers, echoed back untouched; the
    // helper drops answers for a page that has since been replaced.
    class WebHostProtocol
    {
    public:
        // Longest line the application accepts from the helper (the page's call
        // arguments are limited below this by the page-side bridge).
        static constexpr size_t maxIncomingLine = 8u * 1024u * 1024u;
        // Largest file served to the page, and largest answer handed back.
        static constexpr size_t maxResourceBytes = 64u * 1024u * 1024u;
        static constexpr size_t maxAnswerBytes = 32u * 1024u * 1024u;

        struct HelperMessage
        {
            enum class Kind { plug, get, call, loaded, invalid };

            Kind kind = Kind::invalid;
            unsigned long xid = 0;       // plug
            std::string request;         // get: decimal digits
            juce::String path;           // get
            std::string page;            // call: decimal digits
            juce::String json;           // call
        };

        struct Call
        {
            juce::int64 id = 0;
            juce::String name;
            juce::Array<juce::var> args;
        };

        // Anything malformed gives Kind::invalid.
        static HelperMessage parseHelperLine (std::string_view line);

        // The page's call document. Empty unless it is an object with an integral,
        // non-negative "id" (at most 2^53), a non-empty string "name" and, if present,
        // an array "args".
        static std::optional<Call> parseCall (const juce::String& json);

        static std::string loadLine (const juce::String& url);
        static std::string resourceLine (const std::string& request,
                                         const std::optional<WebBrowserComponent::Resource>& resource);
        // A void or undefined value resolves with no value. An answer that cannot be
        // written as JSON within the size limit rejects instead.
        static std::string resolveLine (const std::string& page, juce::int64 id, const juce::var& value);
        static std::string rejectLine (const std::string& page, juce::int64 id, const juce::String& reason);

        // Standard base64 (RFC 4648, with padding).
        static std::string encodeBase64 (const void* data, size_t size);
        // Strict: only the standard alphabet, padding only at the end, length a
        // multiple of four. Empty on any fault.
        static std::optional<std::string> decodeBase64 (std::string_view text);

        static bool isDecimal (std::string_view text, size_t maxDigits = 19);
    };
}
