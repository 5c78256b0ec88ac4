#include "platform/WebHostLineReader.h"

#include <cstring>

namespace tarvo
{
    WebHostLineReader::WebHostLineReader (size_t maxLineBytes) : maxLine (maxLineBytes) {}

    void WebHostLineReader::feed (const char* data, size_t size, const std::function<void (std::string_view)>& onLine)
    {
        while (size > 0)
        {
            const auto* nl = static_cast<const char*> (std::memchr (data, '\n', size));
            const size_t chunk = nl != nullptr ? (size_t) (nl - data) : size;

            if (! discarding)
            {
                if (partial.size() + chunk > maxLine)
                {
                    partial.clear();
                    partial.shrink_to_fit();
                    discarding = true;
                    ++dropped;
                }
                else if (nl != nullptr && partial.empty())
                {
                    onLine (std::string_view (data, chunk));   // the usual case: no copy
                }
                else
                {
                    partial.append (data, chunk);
                    if (nl != nullptr)
                    {
                        onLine (partial);
                        partial.clear();
                    }
                }
            }

            if (nl == nullptr)
                return;

            discarding = false;
            data += chunk + 1;
            size -= chunk + 1;
        }
    }
}
