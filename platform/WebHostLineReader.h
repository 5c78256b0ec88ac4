#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tarvo
{
    // Splits the byte stream from the web view helper into lines ("\n"-terminated,
    // the terminator not included). A line longer than the limit is dropped whole:
    // its bytes are discarded up to and including its terminator, so what follows it
    // is read as the next line, never as a tail of the dropped one.
    class WebHostLineReader
    {
    public:
        explicit WebHostLineReader (size_t maxLineBytes);

        void feed (const char* data, size_t size, const std::function<void (std::string_view)>& onLine);

        size_t getDroppedLineCount() const noexcept { return dropped; }
        size_t getBufferedBytes() const noexcept { return partial.size(); }

    private:
        size_t maxLine;
        std::string partial;
        bool discarding = false;
        size_t dropped = 0;
    };
}
