#include "platform/WebHostProtocol.h"

#include <cmath>

namespace tarvo
{
    namespace
    {
        constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

        int decodeChar (char c)
        {
            if (c >= 'A' && c <= 'Z') return c - 'A';
            if (c >= 'a' && c <= 'z') return c - 'a' + 26;
            if (c >= '0' && c <= '9') return c - '0' + 52;
            if (c == '+') return 62;
            if (c == '/') return 63;
            return -1;
        }

        // Splits at single spaces; false when the count differs from `count`.
        bool split (std::string_view line, std::string_view* fields, size_t count)
        {
            size_t n = 0;
            while (n < count)
            {
                const auto sp = line.find (' ');
                if (n + 1 == count)
                {
                    if (sp != std::string_view::npos)
                        return false;
                    fields[n++] = line;
                    break;
                }
                if (sp == std::string_view::npos)
                    return false;
                fields[n++] = line.substr (0, sp);
                line.remove_prefix (sp + 1);
            }
            return n == count;
        }

        std::optional<juce::String> decodeText (std::string_view b64)
        {
            auto raw = WebHostProtocol::decodeBase64 (b64);
            if (! raw.has_value())
                return std::nullopt;
            return juce::String::fromUTF8 (raw->data(), (int) raw->size());
        }

        std::string textBase64 (const juce::String& text)
        {
            return WebHostProtocol::encodeBase64 (text.toRawUTF8(), text.getNumBytesAsUTF8());
        }
    }

    bool WebHostProtocol::isDecimal (std::string_view text, size_t maxDigits)
    {
        if (text.empty() || text.size() > maxDigits)
            return false;
        for (auto c : text)
            if (c < '0' || c > '9')
                return false;
        return true;
    }

    std::string WebHostProtocol::encodeBase64 (const void* data, size_t size)
    {
        const auto* in = static_cast<const unsigned char*> (data);
        std::string out;
        out.reserve ((size + 2) / 3 * 4);
        size_t i = 0;
        for (; i + 3 <= size; i += 3)
        {
            const unsigned v = (unsigned) in[i] << 16 | (unsigned) in[i + 1] << 8 | in[i + 2];
            out += alphabet[(v >> 18) & 63];
            out += alphabet[(v >> 12) & 63];
            out += alphabet[(v >> 6) & 63];
            out += alphabet[v & 63];
        }
        if (i < size)
        {
            unsigned v = (unsigned) in[i] << 16;
            if (i + 1 < size)
                v |= (unsigned) in[i + 1] << 8;
            out += alphabet[(v >> 18) & 63];
            out += alphabet[(v >> 12) & 63];
            out += i + 1 < size ? alphabet[(v >> 6) & 63] : '=';
            out += '=';
        }
        return out;
    }

    std::optional<std::string> WebHostProtocol::decodeBase64 (std::string_view text)
    {
        if (text.size() % 4 != 0)
            return std::nullopt;
        std::string out;
        out.reserve (text.size() / 4 * 3);
        for (size_t i = 0; i < text.size(); i += 4)
        {
            const bool last = i + 4 == text.size();
            int v[4];
            int pad = 0;
            for (int k = 0; k < 4; ++k)
            {
                const char c = text[i + (size_t) k];
                if (c == '=' && last && k >= 2)
                {
                    ++pad;
                    v[k] = 0;
                    continue;
                }
                if (pad > 0)
                    return std::nullopt;   // data after padding
                v[k] = decodeChar (c);
                if (v[k] < 0)
                    return std::nullopt;
            }
            const unsigned bits = (unsigned) v[0] << 18 | (unsigned) v[1] << 12 | (unsigned) v[2] << 6 | (unsigned) v[3];
            out += (char) ((bits >> 16) & 0xff);
            if (pad < 2) out += (char) ((bits >> 8) & 0xff);
            if (pad < 1) out += (char) (bits & 0xff);
        }
        return out;
    }

    WebHostProtocol::HelperMessage WebHostProtocol::parseHelperLine (std::string_view line)
    {
        HelperMessage m;
        std::string_view f[3];

        if (line == "LOADED")
        {
            m.kind = HelperMessage::Kind::loaded;
        }
        else if (line.rfind ("PLUG ", 0) == 0)
        {
            if (split (line, f, 2) && isDecimal (f[1], 19))
            {
                const auto xid = std::stoull (std::string (f[1]));
                if (xid != 0 && xid <= 0xffffffffull)   // X ids are 29-bit, never 0
                {
                    m.kind = HelperMessage::Kind::plug;
                    m.xid = (unsigned long) xid;
                }
            }
        }
        else if (line.rfind ("GET ", 0) == 0)
        {
            if (split (line, f, 3) && isDecimal (f[1]))
            {
                if (auto path = decodeText (f[2]))
                {
                    m.kind = HelperMessage::Kind::get;
                    m.request = std::string (f[1]);
                    m.path = *path;
                }
            }
        }
        else if (line.rfind ("CALL ", 0) == 0)
        {
            if (split (line, f, 3) && isDecimal (f[1]))
            {
                if (auto json = decodeText (f[2]))
                {
                    m.kind = HelperMessage::Kind::call;
                    m.page = std::string (f[1]);
                    m.json = *json;
                }
            }
        }
        return m;
    }

    std::optional<WebHostProtocol::Call> WebHostProtocol::parseCall (const juce::String& json)
    {
        juce::var doc;
        if (juce::JSON::parse (json, doc).failed() || ! doc.isObject())
            return std::nullopt;

        const auto idVar = doc.getProperty ("id", {});
        if (! (idVar.isInt() || idVar.isInt64() || idVar.isDouble()))
            return std::nullopt;
        const double idValue = (double) idVar;
        if (! std::isfinite (idValue) || idValue < 0 || idValue > 9007199254740992.0 || std::floor (idValue) != idValue)
            return std::nullopt;

        const auto nameVar = doc.getProperty ("name", {});
        if (! nameVar.isString() || nameVar.toString().isEmpty())
            return std::nullopt;

        Call call;
        call.id = (juce::int64) idValue;
        call.name = nameVar.toString();

        const auto argsVar = doc.getProperty ("args", {});
        if (auto* a = argsVar.getArray())
            call.args = *a;
        else if (! argsVar.isVoid() && ! argsVar.isUndefined())
            return std::nullopt;

        return call;
    }

    std::string WebHostProtocol::loadLine (const juce::String& url)
    {
        return "LOAD " + textBase64 (url) + "\n";
    }

    std::string WebHostProtocol::resourceLine (const std::string& request,
                                               const std::optional<WebBrowserComponent::Resource>& resource)
    {
        if (! resource.has_value())
            return "RES " + request + " 404 " + textBase64 ("text/plain") + " " + textBase64 ("Not found") + "\n";
        if (resource->data.size() > maxResourceBytes)
            return "RES " + request + " 500 " + textBase64 ("text/plain") + " " + textBase64 ("Too large") + "\n";

        const auto mime = resource->mimeType.isNotEmpty() ? resource->mimeType : juce::String ("application/octet-stream");
        return "RES " + request + " 200 " + textBase64 (mime) + " "
             + encodeBase64 (resource->data.data(), resource->data.size()) + "\n";
    }

    std::string WebHostProtocol::resolveLine (const std::string& page, juce::int64 id, const juce::var& value)
    {
        juce::String json;
        if (! (value.isVoid() || value.isUndefined()))
            json = juce::JSON::toString (value, true);
        if (json.getNumBytesAsUTF8() > maxAnswerBytes)
            return rejectLine (page, id, "The native answer is too large");
        return "RET " + page + " " + std::to_string (id) + " 1 " + textBase64 (json) + "\n";
    }

    std::string WebHostProtocol::rejectLine (const std::string& page, juce::int64 id, const juce::String& reason)
    {
        return "RET " + page + " " + std::to_string (id) + " 0 " + textBase64 (juce::JSON::toString (reason)) + "\n";
    }
}
