// Bytes from the web view helper: framed into lines with a small limit, each line
// parsed as a helper message, call documents parsed (also the raw bytes as one), and
// base64 checked both ways.
#include "platform/WebHostLineReader.h"
#include "platform/WebHostProtocol.h"

#include <cstdlib>

using tarvo::WebHostProtocol;

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    tarvo::WebHostLineReader reader (4096);
    const auto* text = reinterpret_cast<const char*> (data);

    reader.feed (text, size, [] (std::string_view line)
    {
        if (line.size() > 4096)
            std::abort();   // the limit was not kept

        const auto m = WebHostProtocol::parseHelperLine (line);
        if (m.kind == WebHostProtocol::HelperMessage::Kind::call)
        {
            if (auto call = WebHostProtocol::parseCall (m.json))
            {
                if (call->id < 0 || call->name.isEmpty())
                    std::abort();
                (void) WebHostProtocol::resolveLine (m.page, call->id, juce::var (call->args));
                (void) WebHostProtocol::rejectLine (m.page, call->id, call->name);
            }
        }
        else if (m.kind == WebHostProtocol::HelperMessage::Kind::get)
        {
            if (! WebHostProtocol::isDecimal (m.request))
                std::abort();
        }

        if (auto raw = WebHostProtocol::decodeBase64 (line))
            if (WebHostProtocol::decodeBase64 (WebHostProtocol::encodeBase64 (raw->data(), raw->size())) != raw)
                std::abort();
    });

    // The same bytes as a call document straight away (the fuzzer rarely builds
    // base64 that decodes to one).
    if (auto call = WebHostProtocol::parseCall (juce::String::fromUTF8 (text, (int) size)))
        if (call->id < 0 || call->id > 9007199254740992LL || call->name.isEmpty())
            std::abort();

    const auto encoded = WebHostProtocol::encodeBase64 (data, size);
    const auto decoded = WebHostProtocol::decodeBase64 (encoded);
    if (! decoded.has_value() || *decoded != std::string (text, size))
        std::abort();
    return 0;
}
